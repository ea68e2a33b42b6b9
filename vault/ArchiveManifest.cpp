#include "vault/ArchiveManifest.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <fstream>
#include <mutex>
#include <sstream>

#include "util/AtomicFile.h"
#include "vault/StorageLock.h"

namespace vaultry::vault {
namespace {

constexpr const char* kMagic = "vaultry-integrity 1";
constexpr std::size_t kSaltBytes = 16;

std::string hex(const unsigned char* p, std::size_t n) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}
std::string hex(std::string_view s) {
    return hex(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

std::optional<std::string> unhex(std::string_view h) {
    if (h.size() % 2) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < h.size(); i += 2) {
        int v = 0;
        for (char c : h.substr(i, 2)) {
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= c - '0';
            else if (c >= 'a' && c <= 'f')
                v |= c - 'a' + 10;
            else
                return std::nullopt;
        }
        out += static_cast<char>(v);
    }
    return out;
}

std::optional<Mac> macFromHex(std::string_view h) {
    auto raw = unhex(h);
    if (!raw || raw->size() != Mac{}.size()) return std::nullopt;
    Mac m{};
    std::copy(raw->begin(), raw->end(), m.begin());
    return m;
}

Mac hmac(const MacKey& key, std::string_view data) {
    Mac out{};
    unsigned int n = 0;
    HMAC(EVP_sha256(), key.bytes.data(), static_cast<int>(key.bytes.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), out.data(), &n);
    return out;
}

// HKDF-Expand (RFC 5869) of one block: T(1) = HMAC(PRK, info || 0x01).
MacKey expand(const MacKey& prk, std::string_view info) {
    std::string input(info);
    input += '\x01';
    MacKey k;
    const Mac m = hmac(prk, input);
    std::copy(m.begin(), m.end(), k.bytes.begin());
    return k;
}

bool sameMac(const Mac& a, const Mac& b) { return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0; }

constexpr std::string_view kCheckLabel = "vaultry pass phrase check";

// PBKDF2 of the pass phrase with the manifest's salt. The last result is kept, keyed by a digest
// of its inputs, so that a run of vault operations derives it once.
std::mutex cacheMutex;
Mac lastId{};
MacKey last;
bool have = false;

bool masterKey(std::string_view pass, const std::string& salt, std::uint32_t rounds, MacKey& out) {
    auto& mutex = cacheMutex;
    Mac id{};
    unsigned int n = 0;
    const std::string input = salt + std::to_string(rounds) + ":" + std::string(pass);
    EVP_Digest(input.data(), input.size(), id.data(), &n, EVP_sha256(), nullptr);
    std::string wipe = input;
    OPENSSL_cleanse(wipe.data(), wipe.size());
    std::lock_guard lock(mutex);
    if (have && sameMac(id, lastId)) {
        out = last;
        return true;
    }
    if (PKCS5_PBKDF2_HMAC(pass.data(), static_cast<int>(pass.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                          static_cast<int>(rounds), EVP_sha256(), static_cast<int>(out.bytes.size()),
                          out.bytes.data()) != 1)
        return false;
    last = out;
    lastId = id;
    have = true;
    return true;
}

}  // namespace

void ArchiveManifest::forgetKeys() {
    std::lock_guard lock(cacheMutex);
    OPENSSL_cleanse(last.bytes.data(), last.bytes.size());
    have = false;
    forgetDerivedKeys();
}

Result<ArchiveManifest> ArchiveManifest::fresh(std::string_view pass) {
    ArchiveManifest m;
    m.salt_.resize(kSaltBytes);
    if (RAND_bytes(reinterpret_cast<unsigned char*>(m.salt_.data()), static_cast<int>(kSaltBytes)) != 1)
        return fail("no random salt available");
    MacKey master;
    if (!masterKey(pass, m.salt_, m.rounds_, master)) return fail("cannot derive the archive check key");
    m.macKey_ = expand(master, "vaultry archive mac");
    m.sealKey_ = expand(master, "vaultry manifest seal");
    return m;
}

Result<ArchiveManifest> ArchiveManifest::open(const fs::path& storage, std::string_view pass) {
    std::ifstream in(storage / kFileName, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (fs::exists(storage / kFileName, ec)) return fail("cannot read " + (storage / kFileName).string());
        return fresh(pass);
    }
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    // The key line comes first: its salt and rounds say how to derive the keys.
    std::istringstream lines(all);
    std::string magic, keyLine;
    if (!std::getline(lines, magic) || magic != kMagic || !std::getline(lines, keyLine))
        return fail(kManifestChanged);
    std::istringstream k(keyLine);
    std::string word, kdf, saltHex, checkHex;
    std::uint64_t rounds = 0;
    if (!(k >> word >> kdf >> rounds >> saltHex >> checkHex) || word != "key" || kdf != "pbkdf2-sha256" ||
        rounds == 0 || rounds > 100'000'000)
        return fail(kManifestChanged);
    auto salt = unhex(saltHex);
    auto check = macFromHex(checkHex);
    if (!salt || salt->size() != kSaltBytes || !check) return fail(kManifestChanged);

    ArchiveManifest m;
    m.salt_ = *salt;
    m.rounds_ = static_cast<std::uint32_t>(rounds);
    MacKey master;
    if (!masterKey(pass, m.salt_, m.rounds_, master)) return fail("cannot derive the archive check key");
    m.macKey_ = expand(master, "vaultry archive mac");
    m.sealKey_ = expand(master, "vaultry manifest seal");
    if (!sameMac(hmac(m.sealKey_, kCheckLabel), *check)) return fail(kWrongPassForManifest);
    if (auto st = m.parse(all, m.entries_, true); !st) return st.error();
    return m;
}

Status ArchiveManifest::parse(std::string_view textView, std::map<std::string, Entry>& into,
                              bool checkKeyLine) const {
    const std::string text(textView);
    const auto sealAt = text.rfind("seal ");
    if (sealAt == std::string::npos || (sealAt > 0 && text[sealAt - 1] != '\n'))
        return fail(kManifestChanged);
    std::string sealHex = text.substr(sealAt + 5);
    while (!sealHex.empty() && sealHex.back() == '\n') sealHex.pop_back();
    const auto seal = macFromHex(sealHex);
    const std::string body = text.substr(0, sealAt);
    if (!seal || !sameMac(hmac(sealKey_, body), *seal)) return fail(kManifestChanged);

    std::istringstream lines(body);
    std::string line;
    std::getline(lines, line);  // magic
    std::getline(lines, line);  // key line
    if (checkKeyLine) {
        std::istringstream k(line);
        std::string word, kdf, saltHex;
        std::uint64_t rounds = 0;
        k >> word >> kdf >> rounds >> saltHex;
        if (unhex(saltHex) != salt_ || rounds != rounds_) return fail(kManifestChanged);
    } else {
        std::istringstream k(line);
        std::string word, kdf, saltHex;
        k >> word >> kdf >> saltHex >> saltHex;
        if (unhex(saltHex) != salt_) return fail("the vault password was changed by another process");
    }
    std::map<std::string, Entry> out;
    while (std::getline(lines, line)) {
        std::istringstream e(line);
        std::string word, macHex, kdfName, nameHex, pendingHex;
        std::uint64_t rounds = 0;
        if (!(e >> word >> macHex >> kdfName >> rounds >> nameHex) || word != "archive")
            return fail(kManifestChanged);
        e >> pendingHex;
        const auto mac = macFromHex(macHex);
        const auto kdf = derivationNamed(kdfName);
        const auto name = unhex(nameHex);
        if (!mac || !kdf || !name || rounds == 0 || rounds > 100'000'000) return fail(kManifestChanged);
        Entry entry{{*kdf, static_cast<std::uint32_t>(rounds)}, *mac, std::nullopt};
        if (!pendingHex.empty()) {
            entry.pending = macFromHex(pendingHex);
            if (!entry.pending) return fail(kManifestChanged);
        }
        out[*name] = entry;
    }
    into = std::move(out);
    return {};
}

std::string ArchiveManifest::serialize() const {
    std::string text = std::string(kMagic) + "\n";
    const Mac check = hmac(sealKey_, kCheckLabel);
    text += "key pbkdf2-sha256 " + std::to_string(rounds_) + " " + hex(salt_) + " " +
            hex(check.data(), check.size()) + "\n";
    for (const auto& [name, e] : entries_) {
        text += "archive " + hex(e.mac.data(), e.mac.size()) + " " +
                std::string(derivationName(e.derivation.kdf)) + " " +
                std::to_string(e.derivation.iterations) + " " + hex(name);
        if (e.pending) text += " " + hex(e.pending->data(), e.pending->size());
        text += "\n";
    }
    const Mac seal = hmac(sealKey_, text);
    return text + "seal " + hex(seal.data(), seal.size()) + "\n";
}

const ArchiveManifest::Entry* ArchiveManifest::find(const std::string& archiveName) const {
    const auto it = entries_.find(archiveName);
    return it == entries_.end() ? nullptr : &it->second;
}

Opening ArchiveManifest::openingFor(const std::string& archiveName) const {
    Opening how;
    how.macKey = macKey_;
    if (const Entry* e = find(archiveName)) {
        how.derivation = e->derivation;
        how.macs.push_back(e->mac);
        if (e->pending) how.macs.push_back(*e->pending);
    }
    return how;
}

void ArchiveManifest::set(const std::string& archiveName, const Opened& opened) {
    if (!opened.mac) return;
    entries_[archiveName] = Entry{opened.derivation, *opened.mac, std::nullopt};
    touched_[archiveName] = true;
}

void ArchiveManifest::setPending(const std::string& archiveName, const Mac& next) {
    const auto it = entries_.find(archiveName);
    if (it == entries_.end()) return;
    it->second.pending = next;
    touched_[archiveName] = true;
}

void ArchiveManifest::erase(const std::string& archiveName) {
    entries_.erase(archiveName);
    touched_[archiveName] = false;
}

Status ArchiveManifest::save(const fs::path& storage) {
    // Read, merged and written while no other process works in the storage folder (the operation
    // that saves usually holds it already; the lock is taken again within one process).
    auto lock = StorageLock::take(storage);
    if (!lock) return lock.error();
    const fs::path file = storage / kFileName;
    std::ifstream in(file, std::ios::binary);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        std::map<std::string, Entry> theirs;
        if (auto st = parse(text.str(), theirs, false); !st) return st;
        for (auto& [name, entry] : theirs)
            if (!touched_.count(name)) entries_[name] = entry;
        for (auto it = entries_.begin(); it != entries_.end();)
            if (!theirs.count(it->first) && !touched_.count(it->first))
                it = entries_.erase(it);
            else
                ++it;
    }
    std::error_code ec;
    for (auto it = entries_.begin(); it != entries_.end();)
        if (!fs::exists(storage / it->first, ec))
            it = entries_.erase(it);
        else
            ++it;
    if (auto st = writeFileAtomically(file, serialize(), 0600); !st) return st;
    touched_.clear();
    return {};
}

Status ArchiveManifest::saveAs(const fs::path& path) const {
    return writeFileAtomically(path, serialize(), 0600);
}

}  // namespace vaultry::vault
