#pragma once
#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "util/Progress.h"
#include "util/Result.h"
#include "vault/Archive.h"

// The cipher of vault archives: key and IV from the archive's salt and the pass phrase, the
// encrypting writer and decrypting reader of the `openssl enc` format, and the archive MACs.
// Used by Archive.cpp, ArchivePipeline.cpp and TarStream.cpp only.
namespace vaultry::vault::detail {

inline constexpr std::size_t kChunk = 256 * 1024;
// Written data is handed to the disk in steps of this much, so that the final flush has little
// left to wait for.
inline constexpr std::size_t kWritebackStep = 8 << 20;
inline constexpr std::size_t kBlock = 16;
inline constexpr char kMagic[] = "Salted__";

// The text of errno.
std::string why();

struct KeyIv {
    std::array<unsigned char, EVP_MAX_KEY_LENGTH> key{};
    std::array<unsigned char, EVP_MAX_IV_LENGTH> iv{};
    ~KeyIv() {
        OPENSSL_cleanse(key.data(), key.size());
        OPENSSL_cleanse(iv.data(), iv.size());
    }
};

// The key and IV of an archive of `kind` with the 8-byte `salt`, as `how` derives them.
bool derive(ArchiveKind kind, Derivation how, const unsigned char* salt, std::string_view pass, KeyIv& out);

using MacCtx = std::unique_ptr<EVP_MAC_CTX, decltype(&EVP_MAC_CTX_free)>;
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;
CipherCtx newCtx();

// Encrypts what is written to it into an open file, header first.
class CipherWriter {
public:
    Status begin(int fd, ArchiveKind kind, std::string_view pass);
    Status write(const void* data, std::size_t n);
    Status finish();

private:
    Status ioError();
    // Hands written data to the disk as it goes, so the final fsync has little left to wait for.
    void startWriteback(std::size_t n);
    std::size_t written_ = 0, flushed_ = 0;
    int fd_ = -1;
    CipherCtx ctx_ = newCtx();
    std::vector<unsigned char> out_ = std::vector<unsigned char>(kChunk + 2 * kBlock);
};

// The key derivations an archive may have been written with, most likely first. A derivation
// qualifies when the last block carries valid padding and, for a folder, the first block starts
// a gzip stream. Only two blocks are decrypted for this.
Result<std::vector<Derivation>> candidateDerivations(int fd, ArchiveKind kind, std::string_view pass,
                                                     const std::optional<Derivation>& known);

// Decrypts an archive as a stream, from its start.
class CipherReader {
public:
    // With a MAC key, every byte read from the file (the header too) goes into the archive's MAC.
    Status begin(int fd, ArchiveKind kind, Derivation digest, std::string_view pass,
                 const std::optional<MacKey>& macKey = std::nullopt);
    // From here on (the header begin() read counted too) bytes read from the file go to
    // `progress`, which may stop the read.
    void reportTo(Progress& progress);
    // The next piece of plaintext; empty at the end. An error when the file cannot be read or
    // the padding at its end is wrong.
    Result<std::pair<const unsigned char*, std::size_t>> next();
    void wipe();
    ~CipherReader();

    // The MAC of the whole file; what was not read yet is read for it. Nothing without a key.
    Result<std::optional<Mac>> mac();

private:
    int fd_ = -1;
    bool done_ = false;
    bool atEnd_ = false;
    Progress* progress_ = nullptr;
    MacCtx mac_{nullptr, &EVP_MAC_CTX_free};
    CipherCtx ctx_ = newCtx();
    std::vector<unsigned char> in_ = std::vector<unsigned char>(kChunk);
    std::vector<unsigned char> out_ = std::vector<unsigned char>(kChunk + 2 * kBlock);
};

// Ends a read: the archive's MAC is taken over the whole file and compared with the one expected.
// A mismatch is reported as a changed archive whatever else went wrong; otherwise the read's own
// outcome stands.
Result<Opened> settle(CipherReader& reader, const Opening& how, Derivation used, Status read);

Result<int> openArchive(const fs::path& archive);

}  // namespace vaultry::vault::detail
