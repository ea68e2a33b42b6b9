#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Progress.h"
#include "util/Result.h"
#include "vault/KeyDerivation.h"

// Vault archives, in the format of `openssl enc` ("Salted__", an 8-byte salt, then CBC with PKCS#7
// padding). A file becomes `name.enc` (AES-128-CBC); a folder becomes `name.tar.gz`, a gzip tar
// stream whose entries begin with the folder's name, encrypted with AES-256-CBC. Everything
// streams: memory stays flat whatever the size.
//
// New archives take key and IV from PBKDF2-HMAC-SHA256 with kPbkdf2Iterations rounds, as
// `openssl enc -pbkdf2 -iter N -md sha256` does. Older archives used EVP_BytesToKey with one round
// of SHA-256 (openssl 1.1 and later) or MD5 (older openssl, LibreSSL); they still open. The
// archive does not say which derivation it has: the storage folder's manifest records it
// (ArchiveManifest.h), together with a MAC over the archive's bytes.
namespace vaultry::vault {

namespace fs = std::filesystem;

class WrittenFiles;  // CopyDigest.h

enum class ArchiveKind { File, Folder };
enum class KeyDerivation { Pbkdf2Sha256, Sha256, Md5 };

// 600,000 rounds: OWASP's figure for PBKDF2-HMAC-SHA256. A file archive's key takes about 0.07 s
// of one core here, a folder archive's key and IV 0.14 s (KeyDerivation.h), against billions of
// guesses per second for the one round before.
#ifdef VAULTRY_FUZZ_BUILD
// Fuzz builds exercise the readers, not the key derivation: a round count that keeps them fast.
inline constexpr std::uint32_t kPbkdf2Iterations = 2;
#else
inline constexpr std::uint32_t kPbkdf2Iterations = 600000;
#endif

struct Derivation {
    KeyDerivation kdf = KeyDerivation::Pbkdf2Sha256;
    std::uint32_t iterations = kPbkdf2Iterations;  // 1 for the EVP_BytesToKey ones
    bool operator==(const Derivation&) const = default;
};
inline constexpr Derivation kNewDerivation{};

// "pbkdf2-sha256", "sha256", "md5", as the manifest stores them.
std::string_view derivationName(KeyDerivation kdf);
std::optional<KeyDerivation> derivationNamed(std::string_view name);

using Mac = std::array<unsigned char, 32>;  // HMAC-SHA256 over every byte of an archive file

// The key of the archive MACs; wiped when it goes.
struct MacKey {
    std::array<unsigned char, 32> bytes{};
    MacKey() = default;
    MacKey(const MacKey&) = default;
    MacKey& operator=(const MacKey&) = default;
    ~MacKey();
};

// What is known about an archive before it is read. With a derivation, only that one is used;
// with a key, the archive's MAC is computed while it is read; with MACs too, the archive must
// match one of them, or it is reported as changed (kChangedOrDamaged) and nothing is written
// from it. (Two while an archive is being replaced: the old one and the new one.)
struct Opening {
    std::optional<Derivation> derivation;
    std::optional<MacKey> macKey;
    std::vector<Mac> macs;
};

// How an archive opened: its derivation, and its MAC when a key was given.
struct Opened {
    Derivation derivation;
    std::optional<Mac> mac;
};

inline constexpr const char* kChangedOrDamaged = "this archive was changed or damaged";
inline constexpr const char* kOpensTwoWays =
    "this archive opens with more than one key derivation and nothing shows which reading is right";

// Writes a new archive at `archive` (created 0600, never over an existing one; a failure leaves
// no file there). The data is flushed to disk before it returns. encryptFile takes the bytes as
// they are: with ArchiveKind::Folder it expects a gzip tar, as `openssl enc -aes256` would.
//
// The functions that read or write a whole archive add to `progress` the bytes they read (of the
// item when packing, of the archive otherwise) and stop when it is cancelled: nothing they would
// have written is left, and they return cancelledError(). The caller begins the step.
Status encryptFile(const fs::path& source, const fs::path& archive, std::string_view pass,
                   ArchiveKind kind = ArchiveKind::File, Progress& progress = Progress::none());
Status packFolder(const fs::path& folder, const fs::path& archive, std::string_view pass,
                  Progress& progress = Progress::none());

// The derivations under which `pass` opens the archive as far as a quick look tells (the padding
// of the last block; for a folder the gzip magic of the first block too), new one first. More
// than one for a file archive means nothing tells which is right. An error when none fits.
Result<std::vector<Derivation>> derivationsThatOpen(const fs::path& archive, ArchiveKind kind,
                                                    std::string_view pass);

// Decrypts a file archive to `out`, which must not exist yet; written atomically. Without a
// derivation in `how`, one that fits is chosen, the new one first.
Result<Opened> decryptFile(const fs::path& archive, const fs::path& out, std::string_view pass,
                           const Opening& how = {}, Progress& progress = Progress::none(),
                           WrittenFiles* written = nullptr);

// Decrypts and unpacks a folder archive into `targetDir`. Entries are unpacked into a private
// folder inside `targetDir` first and moved into place only when the whole stream was sound and
// what was unpacked is on the disk (flushed, so the archive may be deleted once this returns);
// names that already exist in `targetDir` are refused, never overwritten. Absolute names, ".."
// and links that lead outside (also through other links) are refused. Of archives not written
// as GNU tar (Vaultry's own are), the AppleDouble "._name" members macOS tar adds beside "name"
// are skipped; every other member is kept.
// Returns the top-level names placed in `targetDir`. With `written`, decryptFile and unpackFolder
// hash the files' bytes as they write them (CopyDigest.h), by their names in the archive (a file
// archive's by the name of `out`).
Result<std::vector<std::string>> unpackFolder(const fs::path& archive, const fs::path& targetDir,
                                              std::string_view pass, const Opening& how = {},
                                              Opened* opened = nullptr, Progress& progress = Progress::none(),
                                              WrittenFiles* written = nullptr);

// Decrypts the whole archive without writing anything; for a folder the tar stream is read
// through too. Succeeds only when every byte opens with `pass`.
Result<Opened> verifyArchive(const fs::path& archive, ArchiveKind kind, std::string_view pass,
                             const Opening& how = {}, Progress& progress = Progress::none());

// The MAC of the archive file's bytes under `key`, reading nothing else of it.
Result<Mac> archiveMac(const fs::path& archive, const MacKey& key, Progress& progress = Progress::none());

// Writes a copy of `archive` under `newPass` to `out` (as encryptFile writes), without any
// plaintext reaching the disk. The old archive is read as `how` says; the new one is verified and,
// with `newKey`, its MAC returned. The old archive is read twice and the new one once: three
// times the archive's size goes to `progress`.
Result<Opened> reencryptArchive(const fs::path& archive, ArchiveKind kind, std::string_view oldPass,
                                std::string_view newPass, const fs::path& out, const Opening& how = {},
                                const std::optional<MacKey>& newKey = std::nullopt,
                                Progress& progress = Progress::none());

// Derives the current form's key of `archive` into the store of derived keys, so that a read
// that follows finds it; run on another thread while other keys are derived. Errors are ignored.
void prepareKey(const fs::path& archive, std::string_view pass);

// Work on many archives derives their keys ahead, on every core (KeyDerivation.h). To read
// `archive` at `step`: its current form's key. To write a new archive of `kind` at `step`: a salt
// is set aside and its key derived; the next archive of that kind written in this process takes
// the salt.
void deriveAheadToRead(KeysAhead& ahead, std::size_t step, const fs::path& archive, std::string_view pass);
void deriveAheadToWrite(KeysAhead& ahead, std::size_t step, ArchiveKind kind, std::string_view pass);
// The keys of `archives`, read one a step in that order from step 0; starts `ahead`.
void readAhead(KeysAhead& ahead, const std::vector<fs::path>& archives, std::string_view pass);

// Derived keys are kept for a moment so that writing an archive and reading it back derive once;
// this forgets them (when the pass phrase is forgotten).
void forgetDerivedKeys();

// The kind a record or archive name stands for: ".gz" a folder, anything else a file.
ArchiveKind archiveKindOf(const fs::path& archive);

// Moves `from` to `to` unless `to` exists. False (errno set) when it could not.
bool renameNoReplace(const fs::path& from, const fs::path& to);

}  // namespace vaultry::vault
