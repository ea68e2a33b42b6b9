#include "vault/ArchiveManifest.h"

#include <fcntl.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "util/AtomicFile.h"
#include "util/Fd.h"
#include "util/Log.h"
#include "vault/KeyDerivation.h"
#include "vault/Rekey.h"
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

// PBKDF2 of the pass phrase with the manifest's salt, kept with the archives' keys so that a run
// of vault operations derives it once.
bool masterKey(std::string_view pass, const std::string& salt, std::uint32_t rounds, MacKey& out) {
    KeyId id{};
    unsigned int n = 0;
    std::string input = "manifest key:" + salt + std::to_string(rounds) + ":" + std::string(pass);
    const bool named = EVP_Digest(input.data(), input.size(), id.data(), &n, EVP_sha256(), nullptr) == 1;
    OPENSSL_cleanse(input.data(), input.size());
    if (!named) return false;
    KeyBytes bytes{};
    const bool ok = obtainDerivedKey(id, bytes, [&](KeyBytes& made) {
        return pbkdf2Sha256(pass, reinterpret_cast<const unsigned char*>(salt.data()), salt.size(), rounds,
                            made.data(), out.bytes.size());
    });
    if (ok) std::memcpy(out.bytes.data(), bytes.data(), out.bytes.size());
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return ok;
}

std::atomic<IntegrityKeeper*> installedKeeper{nullptr};

std::optional<std::string> readText(const fs::path& file, bool& unreadable) {
    unreadable = false;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::error_code ec;
        unreadable = fs::exists(file, ec);
        return std::nullopt;
    }
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool expectedHas(const std::vector<std::string>& expected, const std::string& id) {
    return std::find(expected.begin(), expected.end(), id) != expected.end();
}

}  // namespace

std::string unverifiedArchive(const std::string& archiveName) {
    return archiveName +
           " is not in the integrity record, so it is unverified; if Vaultry made it, check the archives "
           "and record them with vaultry-cli vault verify --reseal";
}

IntegrityKeeper* ArchiveManifest::useKeeper(IntegrityKeeper* keeper) {
    return installedKeeper.exchange(keeper);
}

IntegrityKeeper* ArchiveManifest::keeper() { return installedKeeper.load(); }

std::string ArchiveManifest::identityOf(std::string_view text) {
    std::string saltHex;
    {
        std::istringstream lines{std::string(text)};
        std::string magic, word, kdf, rounds;
        std::getline(lines, magic);
        lines >> word >> kdf >> rounds >> saltHex;
    }
    unsigned char digest[32];
    unsigned int n = 0;
    EVP_Digest(text.data(), text.size(), digest, &n, EVP_sha256(), nullptr);
    return saltHex + " " + hex(digest, sizeof digest);
}

std::vector<std::string> ArchiveManifest::names() const {
    std::vector<std::string> out;
    for (const auto& [name, e] : entries_) out.push_back(name);
    return out;
}

void ArchiveManifest::forgetKeys() { forgetDerivedKeys(); }

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
    IntegrityKeeper* const keeping = keeper();
    std::vector<std::string> expected = keeping ? keeping->expected() : std::vector<std::string>{};
    bool unreadable = false;
    const auto text = readText(storage / kFileName, unreadable);
    if (unreadable) return fail("cannot read " + (storage / kFileName).string());
    if (!text && !expected.empty() && !keeping->recorded()) {
        // The first manifest was announced and is not in place: its write was cut short, or
        // another process is writing it now. No manifest was ever there to be missed. The
        // announcement is dropped only under the storage folder's lock, where no write is under way.
        auto lock = StorageLock::take(storage);
        std::error_code ec;
        if (lock && !fs::exists(fs::symlink_status(storage / kFileName, ec)))
            if (auto st = keeping->reset(); !st) logLine("integrity record: " + st.error().message);
        expected.clear();
    }
    // Once an identity is recorded, the manifest must be there and be that one: one deleted or
    // put back from an older copy would let swapped or older archives pass.
    std::string id;
    if (!expected.empty()) {
        if (!text) return fail(kIntegrityReplaced);
        id = identityOf(*text);
        if (!expectedHas(expected, id)) return fail(kIntegrityReplaced);
    }
    if (!text) {
        auto m = fresh(pass);
        if (!m) return m;
        m->checked_ = keeping != nullptr;
        if (keeping) m->adoptEarlierArchives(storage, pass);
        return m;
    }
    const std::string& all = *text;
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
    m.checked_ = keeping != nullptr;
    if (keeping && expected.empty()) {
        m.adoptEarlierArchives(storage, pass);
    } else if (keeping && expected.front() != id) {
        // A write that announced this manifest was cut short before it could settle. It is settled
        // under the storage folder's lock, and only while the manifest is still this one: a
        // process that read it just before another replaced it would record an identity that is
        // gone, and every archive would then be refused.
        if (auto lock = StorageLock::take(storage)) {
            bool unreadableNow = false;
            const auto now = readText(storage / kFileName, unreadableNow);
            if (now && identityOf(*now) == id)
                if (auto st = keeping->settle(id); !st) logLine("integrity record: " + st.error().message);
        }
    }
    m.dropDiscarded(storage);
    return m;
}

Status ArchiveManifest::noteDiscarded(const fs::path& storage, const std::string& archiveName) {
    const fs::path file = storage / kDiscardedFile;
    const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return fail("cannot write " + file.string() + ": " + std::strerror(errno));
    const std::string line = hex(archiveName) + "\n";
    const bool ok = writeAll(fd, line) && ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok) return fail("cannot write " + file.string() + ": " + std::strerror(err));
    return {};
}

void ArchiveManifest::dropDiscarded(const fs::path& storage) {
    std::ifstream in(storage / kDiscardedFile);
    for (std::string line; std::getline(in, line);) {
        const auto name = unhex(line);
        std::error_code ec;
        if (!name || name->empty() || !entries_.count(*name) ||
            fs::symlink_status(storage / *name, ec).type() != fs::file_type::not_found)
            continue;
        erase(*name);
    }
}

// The first use under a keeper: archives of versions before the manifest (or written by one
// that did not keep every entry) are taken in once, each only when it opens completely, and the
// manifest's identity is recorded; the user is told. From then on an unknown archive is
// unverified.
void ArchiveManifest::adoptEarlierArchives(const fs::path& storage, std::string_view pass) {
    std::string adopted, unopened;
    for (const auto& archive : archivesIn(storage)) {
        const std::string name = archive.filename().string();
        if (find(name)) continue;
        Opening how;
        how.macKey = macKey_;
        auto opened = verifyArchive(archive, archiveKindOf(archive), pass, how);
        if (opened) {
            set(name, *opened);
            adopted += (adopted.empty() ? "" : ", ") + name;
        } else {
            unopened += (unopened.empty() ? "" : ", ") + name + " (" + opened.error().message + ")";
        }
    }
    std::error_code ec;
    if (!fs::is_directory(storage, ec)) return;  // recorded once there is a storage folder
    if (auto st = save(storage); !st) {
        logLine("integrity record: " + st.error().message);
        return;
    }
    if (IntegrityKeeper* k = keeper()) {
        if (!adopted.empty())
            k->tell(
                "archives made by an earlier version of Vaultry were checked and recorded in the "
                "integrity record: " +
                adopted);
        if (!unopened.empty()) k->tell("these archives did not open and stay unverified: " + unopened);
    }
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
    bool unreadable = false;
    if (const auto text = readText(file, unreadable)) {
        if (IntegrityKeeper* k = keeper()) {
            const auto expected = k->expected();
            if (!expected.empty() && !expectedHas(expected, identityOf(*text)))
                return fail(kIntegrityReplaced);
        }
        std::map<std::string, Entry> theirs;
        if (auto st = parse(*text, theirs, false); !st) return st;
        for (auto& [name, entry] : theirs)
            if (!touched_.count(name)) entries_[name] = entry;
        for (auto it = entries_.begin(); it != entries_.end();)
            if (!theirs.count(it->first) && !touched_.count(it->first))
                it = entries_.erase(it);
            else
                ++it;
    } else if (unreadable) {
        return fail("cannot read " + file.string());
    }
    if (auto st = writeSealed(storage); !st) return st;
    touched_.clear();
    // The note of discarded archives has done its work once none of them is recorded.
    std::ifstream in(storage / kDiscardedFile);
    bool done = static_cast<bool>(in);
    for (std::string line; done && std::getline(in, line);)
        if (const auto name = unhex(line); name && entries_.count(*name)) done = false;
    if (done) {
        std::error_code ec;
        fs::remove(storage / kDiscardedFile, ec);
    }
    return {};
}

Status ArchiveManifest::writeSealed(const fs::path& storage) const {
    const std::string text = serialize();
    IntegrityKeeper* const k = keeper();
    const std::string id = identityOf(text);
    if (k)
        if (auto st = k->stillUnlocked(); !st) return st;
    if (k)
        if (auto st = k->announce(id); !st) {
            // Before any identity is recorded there is nothing to keep in step (an earlier
            // version's vault); afterwards a manifest whose identity is unknown would be refused.
            if (!k->expected().empty())
                return fail("cannot record the integrity record: " + st.error().message);
            logLine("integrity record: " + st.error().message);
        }
    if (auto st = writeFileAtomically(storage / kFileName, text, 0600); !st) return st;
    if (k)
        if (auto st = k->settle(id); !st) logLine("integrity record: " + st.error().message);
    return {};
}

Status ArchiveManifest::saveAs(const fs::path& path) const {
    return writeFileAtomically(path, serialize(), 0600);
}

}  // namespace vaultry::vault
