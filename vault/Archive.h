#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.h"

// Vault archives, in the format of `openssl enc` ("Salted__", an 8-byte salt, then CBC with PKCS#7
// padding; key and IV from EVP_BytesToKey, one round). A file becomes `name.enc` (AES-128-CBC); a
// folder becomes `name.tar.gz`, a gzip tar stream whose entries begin with the folder's name,
// encrypted with AES-256-CBC. Everything streams: memory stays flat whatever the size.
//
// New archives use SHA-256 for the key derivation, as `openssl enc` 3.x does; reading also tries
// MD5, which older openssl and LibreSSL builds used. The archive does not say which one it is.
namespace vaultry::vault {

namespace fs = std::filesystem;

enum class KeyDigest { Sha256, Md5 };
enum class ArchiveKind { File, Folder };

// Writes a new archive at `archive` (created 0600, never over an existing one; a failure leaves
// no file there). The data is flushed to disk before it returns. encryptFile takes the bytes as
// they are: with ArchiveKind::Folder it expects a gzip tar, as `openssl enc -aes256` would.
Status encryptFile(const fs::path& source, const fs::path& archive, std::string_view pass,
                   ArchiveKind kind = ArchiveKind::File);
Status packFolder(const fs::path& folder, const fs::path& archive, std::string_view pass);

// Decrypts a file archive to `out`, which must not exist yet; written atomically.
Result<KeyDigest> decryptFile(const fs::path& archive, const fs::path& out, std::string_view pass);

// Decrypts and unpacks a folder archive into `targetDir`. Entries are unpacked into a private
// folder inside `targetDir` first and moved into place only when the whole stream was sound;
// names that already exist in `targetDir` are refused, never overwritten. Absolute names, ".."
// and links that lead outside (also through other links) are refused. Of archives not written
// as GNU tar (Vaultry's own are), the AppleDouble "._name" members macOS tar adds beside "name"
// are skipped; every other member is kept.
// Returns the top-level names placed in `targetDir`.
Result<std::vector<std::string>> unpackFolder(const fs::path& archive, const fs::path& targetDir,
                                              std::string_view pass);

// Decrypts the whole archive without writing anything; for a folder the tar stream is read
// through too. Succeeds only when every byte opens with `pass`.
Status verifyArchive(const fs::path& archive, ArchiveKind kind, std::string_view pass);

// Writes a copy of `archive` under `newPass` to `out` (as encryptFile writes), without any
// plaintext reaching the disk.
Status reencryptArchive(const fs::path& archive, ArchiveKind kind, std::string_view oldPass,
                        std::string_view newPass, const fs::path& out);

// The kind a record or archive name stands for: ".gz" a folder, anything else a file.
ArchiveKind archiveKindOf(const fs::path& archive);

// Moves `from` to `to` unless `to` exists. False (errno set) when it could not.
bool renameNoReplace(const fs::path& from, const fs::path& to);

}  // namespace vaultry::vault
