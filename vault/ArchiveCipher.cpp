#include "vault/ArchiveCipher.h"

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "util/Fd.h"
#include "vault/KeyDerivation.h"

namespace vaultry::vault {
namespace detail {
namespace {

const EVP_CIPHER* cipherFor(ArchiveKind kind) {
    return kind == ArchiveKind::File ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
}

bool pbkdf2(const EVP_CIPHER* cipher, std::uint32_t iterations, const unsigned char* salt,
            std::string_view pass, KeyIv& out) {
    KeyId id{};
    {
        const std::uint32_t keyLen = static_cast<std::uint32_t>(EVP_CIPHER_key_length(cipher));
        auto md = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
        unsigned int n = 0;
        if (!md || EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) != 1 ||
            EVP_DigestUpdate(md.get(), &iterations, sizeof iterations) != 1 ||
            EVP_DigestUpdate(md.get(), &keyLen, sizeof keyLen) != 1 ||
            EVP_DigestUpdate(md.get(), salt, 8) != 1 ||
            EVP_DigestUpdate(md.get(), pass.data(), pass.size()) != 1 ||
            EVP_DigestFinal_ex(md.get(), id.data(), &n) != 1)
            return false;
    }
    const auto keyLen = static_cast<std::size_t>(EVP_CIPHER_key_length(cipher)),
               ivLen = static_cast<std::size_t>(EVP_CIPHER_iv_length(cipher));
    KeyBytes both{};
    // As `openssl enc -pbkdf2` does: one output of key and IV together, 8-byte salt. Writing an
    // archive and reading it back, or the quick look and the full read, derive once.
    const bool ok = obtainDerivedKey(id, both, [&](KeyBytes& made) {
        return pbkdf2Sha256(pass, salt, 8, iterations, made.data(), keyLen + ivLen);
    });
    if (ok) {
        std::memcpy(out.key.data(), both.data(), keyLen);
        std::memcpy(out.iv.data(), both.data() + keyLen, ivLen);
    }
    OPENSSL_cleanse(both.data(), both.size());
    return ok;
}

}  // namespace

std::string why() { return std::strerror(errno); }

bool derive(ArchiveKind kind, Derivation how, const unsigned char* salt, std::string_view pass, KeyIv& out) {
    if (how.kdf == KeyDerivation::Pbkdf2Sha256)
        return how.iterations > 0 && pbkdf2(cipherFor(kind), how.iterations, salt, pass, out);
    const EVP_MD* md = how.kdf == KeyDerivation::Sha256 ? EVP_sha256() : EVP_md5();
    return EVP_BytesToKey(cipherFor(kind), md, salt, reinterpret_cast<const unsigned char*>(pass.data()),
                          static_cast<int>(pass.size()), 1, out.key.data(), out.iv.data()) > 0;
}

CipherCtx newCtx() { return CipherCtx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free); }

namespace {

// Every derivation an archive of ours may have, most likely first.
constexpr Derivation kAllDerivations[] = {
    kNewDerivation, {KeyDerivation::Sha256, 1}, {KeyDerivation::Md5, 1}};

// HMAC-SHA256 under a MacKey, over bytes as they are read.
MacCtx newMac(const MacKey& key) {
    MacCtx ctx(nullptr, &EVP_MAC_CTX_free);
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac) return ctx;
    ctx.reset(EVP_MAC_CTX_new(mac));
    EVP_MAC_free(mac);
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", digest, 0),
                                 OSSL_PARAM_construct_end()};
    if (ctx && EVP_MAC_init(ctx.get(), key.bytes.data(), key.bytes.size(), params) != 1) ctx.reset();
    return ctx;
}

using Salt = std::array<unsigned char, 8>;

// Salts of archives about to be written whose keys are being derived ahead; each is taken once.
struct PreparedSalts {
    std::mutex mutex;
    std::deque<std::pair<ArchiveKind, Salt>> salts;
};

PreparedSalts& preparedSalts() {
    static PreparedSalts p;
    return p;
}

bool takePreparedSalt(ArchiveKind kind, unsigned char* salt) {
    auto& p = preparedSalts();
    std::lock_guard lock(p.mutex);
    const auto it =
        std::find_if(p.salts.begin(), p.salts.end(), [kind](const auto& s) { return s.first == kind; });
    if (it == p.salts.end()) return false;
    std::memcpy(salt, it->second.data(), it->second.size());
    p.salts.erase(it);
    return true;
}

// A pass phrase kept by a job that runs later; wiped when the last job lets go of it.
struct KeptPass {
    std::string text;
    explicit KeptPass(std::string_view p) : text(p) {}
    ~KeptPass() { OPENSSL_cleanse(text.data(), text.size()); }
};

}  // namespace

Status CipherWriter::begin(int fd, ArchiveKind kind, std::string_view pass) {
    fd_ = fd;
    unsigned char header[16];
    std::memcpy(header, kMagic, 8);
    if (!takePreparedSalt(kind, header + 8) && RAND_bytes(header + 8, 8) != 1)
        return fail("no random salt available");
    KeyIv k;
    if (!derive(kind, kNewDerivation, header + 8, pass, k) || !ctx_ ||
        EVP_EncryptInit_ex(ctx_.get(), cipherFor(kind), nullptr, k.key.data(), k.iv.data()) != 1)
        return fail("cannot set up the cipher");
    if (!writeAll(fd_, header, sizeof header)) return ioError();
    return {};
}

Status CipherWriter::write(const void* data, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (n > 0) {
        const std::size_t take = std::min(n, kChunk);
        int outLen = 0;
        if (EVP_EncryptUpdate(ctx_.get(), out_.data(), &outLen, p, static_cast<int>(take)) != 1)
            return fail("encryption failed");
        if (!writeAll(fd_, out_.data(), static_cast<std::size_t>(outLen))) return ioError();
        p += take;
        n -= take;
        startWriteback(static_cast<std::size_t>(outLen));
    }
    return {};
}

Status CipherWriter::finish() {
    int outLen = 0;
    if (EVP_EncryptFinal_ex(ctx_.get(), out_.data(), &outLen) != 1) return fail("encryption failed");
    if (!writeAll(fd_, out_.data(), static_cast<std::size_t>(outLen))) return ioError();
    return {};
}

Status CipherWriter::ioError() { return fail(std::string("cannot write the archive: ") + why()); }

void CipherWriter::startWriteback(std::size_t n) {
    written_ += n;
    if (written_ - flushed_ < kWritebackStep) return;
    ::sync_file_range(fd_, static_cast<off64_t>(flushed_), static_cast<off64_t>(written_ - flushed_),
                      SYNC_FILE_RANGE_WRITE);
    flushed_ = written_;
}

Result<std::vector<Derivation>> candidateDerivations(int fd, ArchiveKind kind, std::string_view pass,
                                                     const std::optional<Derivation>& known) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return fail("cannot read the archive: " + why());
    unsigned char header[16];
    if (::pread(fd, header, 16, 0) != 16 || std::memcmp(header, kMagic, 8) != 0)
        return fail("not a vault archive");
    const auto bodySize = static_cast<std::uint64_t>(st.st_size) - 16;
    if (st.st_size < 32 || bodySize % kBlock != 0) return fail("the archive is damaged or cut short");
    unsigned char firstBlock[kBlock], lastTwo[2 * kBlock];
    if (::pread(fd, firstBlock, kBlock, 16) != static_cast<ssize_t>(kBlock))
        return fail("cannot read the archive");
    const bool single = bodySize == kBlock;
    if (!single &&
        ::pread(fd, lastTwo, 2 * kBlock, st.st_size - 2 * kBlock) != static_cast<ssize_t>(2 * kBlock))
        return fail("cannot read the archive");

    std::vector<Derivation> tries(std::begin(kAllDerivations), std::end(kAllDerivations));
    if (known) tries = {*known};
    std::vector<Derivation> out;
    for (const Derivation digest : tries) {
        KeyIv k;
        if (!derive(kind, digest, header + 8, pass, k)) continue;
        auto ctx = newCtx();
        unsigned char plain[2 * kBlock];
        int len = 0;
        // Last block: CBC needs only the block before it as the IV.
        const unsigned char* iv = single ? k.iv.data() : lastTwo;
        const unsigned char* last = single ? firstBlock : lastTwo + kBlock;
        if (EVP_DecryptInit_ex(ctx.get(), cipherFor(kind), nullptr, k.key.data(), iv) != 1) continue;
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
        if (EVP_DecryptUpdate(ctx.get(), plain, &len, last, kBlock) != 1 || len != kBlock) continue;
        const unsigned pad = plain[kBlock - 1];
        bool padOk = pad >= 1 && pad <= kBlock;
        for (unsigned i = 0; padOk && i < pad; ++i) padOk = plain[kBlock - 1 - i] == pad;
        if (!padOk) continue;
        if (kind == ArchiveKind::Folder) {
            if (EVP_DecryptInit_ex(ctx.get(), cipherFor(kind), nullptr, k.key.data(), k.iv.data()) != 1)
                continue;
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
            if (EVP_DecryptUpdate(ctx.get(), plain, &len, firstBlock, kBlock) != 1) continue;
            if (plain[0] != 0x1f || plain[1] != 0x8b || plain[2] != 8) continue;
        }
        out.push_back(digest);
    }
    if (out.empty()) return fail("the password does not open this archive, or it is damaged");
    return out;
}

Status CipherReader::begin(int fd, ArchiveKind kind, Derivation digest, std::string_view pass,
                           const std::optional<MacKey>& macKey) {
    fd_ = fd;
    unsigned char header[16];
    if (::lseek(fd, 0, SEEK_SET) != 0 || readFull(fd, header, 16) != 16 ||
        std::memcmp(header, kMagic, 8) != 0)
        return fail("not a vault archive");
    if (macKey) {
        mac_ = newMac(*macKey);
        if (!mac_ || EVP_MAC_update(mac_.get(), header, sizeof header) != 1)
            return fail("cannot set up the archive check");
    }
    KeyIv k;
    if (!derive(kind, digest, header + 8, pass, k) || !ctx_ ||
        EVP_DecryptInit_ex(ctx_.get(), cipherFor(kind), nullptr, k.key.data(), k.iv.data()) != 1)
        return fail("cannot set up the cipher");
    return {};
}

void CipherReader::reportTo(Progress& progress) {
    progress_ = &progress;
    progress.add(16);
}

Result<std::pair<const unsigned char*, std::size_t>> CipherReader::next() {
    while (!done_) {
        const ssize_t r = readFull(fd_, in_.data(), kChunk);
        if (r < 0) return fail("cannot read the archive: " + why());
        if (progress_) {
            progress_->add(static_cast<std::uint64_t>(r));
            if (progress_->cancelled()) return cancelledError();
        }
        if (mac_ && r > 0 && EVP_MAC_update(mac_.get(), in_.data(), static_cast<std::size_t>(r)) != 1)
            return fail("cannot compute the archive check");
        atEnd_ = r == 0;
        int len = 0;
        if (r == 0) {
            done_ = true;
            if (EVP_DecryptFinal_ex(ctx_.get(), out_.data(), &len) != 1)
                return fail("the password does not open this archive, or it is damaged");
        } else if (EVP_DecryptUpdate(ctx_.get(), out_.data(), &len, in_.data(), static_cast<int>(r)) != 1) {
            return fail("decryption failed");
        }
        if (len > 0)
            return std::pair<const unsigned char*, std::size_t>{out_.data(), static_cast<std::size_t>(len)};
    }
    return std::pair<const unsigned char*, std::size_t>{nullptr, 0};
}

void CipherReader::wipe() { OPENSSL_cleanse(out_.data(), out_.size()); }

CipherReader::~CipherReader() { wipe(); }

Result<std::optional<Mac>> CipherReader::mac() {
    if (!mac_) return std::optional<Mac>{};
    while (!atEnd_) {
        const ssize_t r = readFull(fd_, in_.data(), kChunk);
        if (r < 0) return fail("cannot read the archive: " + why());
        if (progress_) progress_->add(static_cast<std::uint64_t>(r));
        if (r > 0 && EVP_MAC_update(mac_.get(), in_.data(), static_cast<std::size_t>(r)) != 1)
            return fail("cannot compute the archive check");
        atEnd_ = r == 0;
    }
    Mac out{};
    std::size_t n = 0;
    if (EVP_MAC_final(mac_.get(), out.data(), &n, out.size()) != 1 || n != out.size())
        return fail("cannot compute the archive check");
    mac_.reset();
    return std::optional<Mac>{out};
}

Result<int> openArchive(const fs::path& archive) {
    const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("cannot open " + archive.filename().string() + ": " + why());
    return fd;
}

Result<Opened> settle(CipherReader& reader, const Opening& how, Derivation used, Status read) {
    if (!read && read.error().cancelled) return read.error();
    auto mac = reader.mac();
    if (!mac) return mac.error();
    if (!how.macs.empty() && (!*mac || std::find(how.macs.begin(), how.macs.end(), **mac) == how.macs.end()))
        return fail(kChangedOrDamaged);
    if (!read) return read.error();
    return Opened{used, *mac};
}

}  // namespace detail

using namespace detail;

std::string_view derivationName(KeyDerivation kdf) {
    switch (kdf) {
        case KeyDerivation::Pbkdf2Sha256:
            return "pbkdf2-sha256";
        case KeyDerivation::Sha256:
            return "sha256";
        case KeyDerivation::Md5:
            return "md5";
    }
    return "";
}

std::optional<KeyDerivation> derivationNamed(std::string_view name) {
    for (const auto kdf : {KeyDerivation::Pbkdf2Sha256, KeyDerivation::Sha256, KeyDerivation::Md5})
        if (derivationName(kdf) == name) return kdf;
    return std::nullopt;
}

MacKey::~MacKey() { OPENSSL_cleanse(bytes.data(), bytes.size()); }

void forgetDerivedKeys() { clearDerivedKeys(); }

void prepareKey(const fs::path& archive, std::string_view pass) {
    auto fd = openArchive(archive);
    if (!fd) return;
    Fd in(*fd);
    unsigned char header[16];
    if (::pread(in.get(), header, sizeof header, 0) != 16 || std::memcmp(header, kMagic, 8) != 0) return;
    KeyIv k;
    (void)derive(archiveKindOf(archive), kNewDerivation, header + 8, pass, k);
}

void deriveAheadToRead(KeysAhead& ahead, std::size_t step, const fs::path& archive, std::string_view pass) {
    ahead.add(step, [archive, kept = std::make_shared<KeptPass>(pass)] { prepareKey(archive, kept->text); });
}

void readAhead(KeysAhead& ahead, const std::vector<fs::path>& archives, std::string_view pass) {
    for (std::size_t i = 0; i < archives.size(); ++i) deriveAheadToRead(ahead, i, archives[i], pass);
    ahead.start();
}

void deriveAheadToWrite(KeysAhead& ahead, std::size_t step, ArchiveKind kind, std::string_view pass) {
    Salt salt{};
    if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) return;
    {
        auto& p = preparedSalts();
        std::lock_guard lock(p.mutex);
        p.salts.emplace_back(kind, salt);
    }
    ahead.add(step, [kind, salt, kept = std::make_shared<KeptPass>(pass)] {
        KeyIv k;
        (void)derive(kind, kNewDerivation, salt.data(), kept->text, k);
    });
    // A salt not taken by then is not taken later.
    ahead.atEnd([kind, salt] {
        auto& p = preparedSalts();
        std::lock_guard lock(p.mutex);
        std::erase(p.salts, std::pair{kind, salt});
    });
}

Result<Mac> archiveMac(const fs::path& archive, const MacKey& key, Progress& progress) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    MacCtx mac = newMac(key);
    if (!mac) return fail("cannot compute the archive check");
    std::vector<unsigned char> buf(kChunk);
    for (;;) {
        if (progress.cancelled()) return cancelledError();
        const ssize_t r = readFull(in.get(), buf.data(), buf.size());
        if (r < 0) return fail("cannot read the archive: " + why());
        if (r == 0) break;
        progress.add(static_cast<std::uint64_t>(r));
        if (EVP_MAC_update(mac.get(), buf.data(), static_cast<std::size_t>(r)) != 1)
            return fail("cannot compute the archive check");
    }
    Mac out{};
    std::size_t n = 0;
    if (EVP_MAC_final(mac.get(), out.data(), &n, out.size()) != 1 || n != out.size())
        return fail("cannot compute the archive check");
    return out;
}

}  // namespace vaultry::vault
