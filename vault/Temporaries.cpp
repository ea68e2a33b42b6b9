#include "vault/Temporaries.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <openssl/rand.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>

#include "util/Fd.h"
#include "util/Log.h"
#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"
#include "vault/CopyManifest.h"
#include "vault/SafeRemoval.h"
#include "vault/VaultList.h"

namespace vaultry::vault {

namespace {

constexpr const char* kMagic = "vaultry-temporary 1";

const char* kindName(TempKind kind) {
    switch (kind) {
        case TempKind::File:
            return "file";
        case TempKind::Folder:
            return "folder";
        case TempKind::Aside:
            return "aside";
        case TempKind::Archive:
            return "archive";
        case TempKind::Copy:
            return "copy";
        case TempKind::Locking:
            return "locking";
        case TempKind::Restoring:
            return "restoring";
    }
    return "";
}

std::optional<TempKind> kindNamed(std::string_view name) {
    for (const auto k : {TempKind::File, TempKind::Folder, TempKind::Aside, TempKind::Archive, TempKind::Copy,
                         TempKind::Locking, TempKind::Restoring})
        if (name == kindName(k)) return k;
    return std::nullopt;
}

std::string toHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

std::optional<std::string> fromHex(std::string_view hex) {
    const auto value = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    if (hex.size() % 2) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = value(hex[i]), lo = value(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

char typeOf(mode_t mode) {
    if (S_ISREG(mode)) return 'f';
    if (S_ISDIR(mode)) return 'd';
    if (S_ISLNK(mode)) return 'l';
    return 'o';
}

// Paths are compared with their folder resolved, as the archive writer resolves its target.
fs::path normalized(const fs::path& p) {
    fs::path clean = p.lexically_normal();
    if (!clean.has_filename()) clean = clean.parent_path();
    std::error_code ec;
    const fs::path parent = fs::weakly_canonical(clean.parent_path(), ec);
    return ec ? clean : parent / clean.filename();
}

bool lockNow(int fd, bool wait) {
    int r;
    while ((r = ::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    return r == 0;
}

std::mutex registryMutex;
std::atomic<bool> unnamedAllowed{true};
thread_local fs::path currentJournal;

}  // namespace

struct Temporary::State {
    Fd fd;
    fs::path entry;
    fs::path path;
    std::optional<Identity> identity;
};

namespace {
std::vector<Temporary::State*>& registry() {
    static std::vector<Temporary::State*> list;
    return list;
}
}  // namespace

namespace {
Identity fromStat(const struct stat& st) {
    return Identity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                    typeOf(st.st_mode), 0};
}
std::uint64_t generationOf(int fd) {
    int generation = 0;
    return ::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0 ? static_cast<std::uint32_t>(generation) : 0;
}
}  // namespace

std::optional<Identity> identityOf(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    Identity id = fromStat(st);
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat again {};
        if (fd.valid() && ::fstat(fd.get(), &again) == 0 && again.st_ino == st.st_ino &&
            again.st_dev == st.st_dev)
            id.generation = generationOf(fd.get());
    }
    return id;
}

std::optional<Identity> identityOfOpen(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return std::nullopt;
    Identity id = fromStat(st);
    id.generation = generationOf(fd);
    return id;
}

std::string identityText(const Identity& id) {
    return std::to_string(id.dev) + ' ' + std::to_string(id.ino) + ' ' + id.type + ' ' +
           std::to_string(id.generation);
}

std::optional<Identity> identityFromText(std::string_view text) {
    std::istringstream in{std::string(text)};
    Identity id;
    std::string type;
    if (!(in >> id.dev >> id.ino >> type) || type.size() != 1) return std::nullopt;
    id.type = type[0];
    if (!(in >> id.generation)) id.generation = 0;
    return id;
}

std::string randomSuffix() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[6];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        for (auto& b : bytes) b = static_cast<unsigned char>(std::rand());
    std::string out;
    for (unsigned char b : bytes) out += kChars[b % (sizeof kChars - 1)];
    return out;
}

Temporary::Temporary() = default;
Temporary::Temporary(Temporary&&) noexcept = default;
Temporary& Temporary::operator=(Temporary&& other) noexcept {
    if (this != &other) {
        Temporary old(std::move(*this));  // its entry goes
        s_ = std::move(other.s_);
    }
    return *this;
}

Result<Temporary> Temporary::reserve(const fs::path& storage, TempKind kind, const fs::path& path,
                                     const std::string& record) {
    const fs::path folder = storage / kTemporariesFolder;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return fail("cannot write in " + storage.string() + ": " + std::strerror(errno));
    auto s = std::make_unique<State>();
    s->path = normalized(path);
    std::string text = std::string(kMagic) + "\nkind " + kindName(kind) + "\npath " +
                       toHex(s->path.string()) + "\nrecord " + toHex(record) + "\nend\n";
    for (;;) {
        std::string name = (folder / (randomSuffix() + ".entry")).string();
        Fd fd(::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd.valid()) {
            if (errno == EEXIST) continue;
            return fail("cannot write in " + folder.string() + ": " + std::strerror(errno));
        }
        if (!lockNow(fd.get(), true)) {
            const std::string why = std::strerror(errno);
            ::unlink(name.c_str());
            return fail("cannot lock " + name + ": " + why);
        }
        // A sweep may have taken the entry for a dead one before it was held: then another.
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || st.st_nlink == 0) continue;
        if (!writeAll(fd.get(), text) || ::fsync(fd.get()) != 0) {
            const std::string why = std::strerror(errno);
            ::unlink(name.c_str());
            return fail("cannot write in " + folder.string() + ": " + why);
        }
        syncFolder(folder);
        s->fd = std::move(fd);
        s->entry = name;
        break;
    }
    {
        std::lock_guard guard(registryMutex);
        registry().push_back(s.get());
    }
    Temporary t;
    t.s_ = std::move(s);
    return t;
}

Temporary::~Temporary() {
    if (!s_) return;
    {
        std::lock_guard guard(registryMutex);
        std::erase(registry(), s_.get());
    }
    if (s_->fd.valid()) {
        ::unlink(s_->entry.c_str());
        s_->fd.reset();  // closing lets go of the lock
    }
}

Status Temporary::made(const Identity& id, const std::string& digest) {
    if (!s_ || !s_->fd.valid()) return {};
    s_->identity = id;
    std::string line = "made " + identityText(id);
    if (!digest.empty()) line += " digest " + digest;
    line += '\n';
    if (::lseek(s_->fd.get(), 0, SEEK_END) < 0 || !writeAll(s_->fd.get(), line) || ::fsync(s_->fd.get()) != 0)
        return fail("cannot write " + s_->entry.string() + ": " + std::strerror(errno));
    return {};
}

Status Temporary::notePacked(const fs::path& original, const std::string& packedSum) {
    if (!s_ || !s_->fd.valid()) return {};
    const std::string line = "packed " + toHex(normalized(original).string()) + " " + packedSum + "\n";
    if (::lseek(s_->fd.get(), 0, SEEK_END) < 0 || !writeAll(s_->fd.get(), line) || ::fsync(s_->fd.get()) != 0)
        return fail("cannot write " + s_->entry.string() + ": " + std::strerror(errno));
    return {};
}

Status Temporary::markRecorded() {
    if (!s_ || !s_->fd.valid()) return {};
    if (::lseek(s_->fd.get(), 0, SEEK_END) < 0 || !writeAll(s_->fd.get(), "recorded\n") ||
        ::fsync(s_->fd.get()) != 0)
        return fail("cannot write " + s_->entry.string() + ": " + std::strerror(errno));
    return {};
}

void Temporary::keepForSweep() {
    if (!s_) return;
    {
        std::lock_guard guard(registryMutex);
        std::erase(registry(), s_.get());
    }
    s_->fd.reset();
}

bool Temporary::active() const { return s_ && s_->fd.valid(); }

const fs::path& Temporary::path() const {
    static const fs::path none;
    return s_ ? s_->path : none;
}

std::optional<Identity> Temporary::identity() const { return s_ ? s_->identity : std::nullopt; }

JournalScope::JournalScope(const fs::path& storage) : previous_(currentJournal) { currentJournal = storage; }
JournalScope::~JournalScope() { currentJournal = previous_; }
fs::path JournalScope::current() { return currentJournal; }

void notePlacing(const fs::path& path, const Identity& id) {
    const fs::path p = normalized(path);
    std::lock_guard guard(registryMutex);
    for (auto* s : registry())
        if (s->fd.valid() && s->path == p) {
            Temporary::State& state = *s;
            const std::string line = "made " + identityText(id) + '\n';
            if (::lseek(state.fd.get(), 0, SEEK_END) >= 0 && writeAll(state.fd.get(), line))
                ::fsync(state.fd.get());
            state.identity = id;
        }
}

void allowUnnamedFiles(bool allow) { unnamedAllowed = allow; }
bool unnamedFilesAllowed() { return unnamedAllowed; }

namespace detail {

namespace {
std::optional<Entry> parseEntry(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) return std::nullopt;
    Entry e;
    bool ended = false;
    while (std::getline(in, line)) {
        if (in.eof()) break;  // a last line without its line break was cut short
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "end") {
            ended = true;
        } else if (!ended && key == "kind") {
            std::string k;
            words >> k;
            auto kind = kindNamed(k);
            if (!kind) return std::nullopt;
            e.kind = *kind;
        } else if (!ended && (key == "path" || key == "record")) {
            std::string hex;
            words >> hex;
            auto value = fromHex(hex);
            if (!value) return std::nullopt;
            if (key == "path")
                e.path = *value;
            else
                e.record = *value;
        } else if (ended && key == "recorded") {
            e.recorded = true;
        } else if (ended && key == "packed") {
            std::string hex;
            words >> hex >> e.packed;
            if (auto original = fromHex(hex)) e.original = *original;
        } else if (ended && key == "made") {
            const std::string rest = line.substr(5);
            const auto at = rest.find(" digest ");
            if (auto id = identityFromText(rest.substr(0, at))) {
                e.made = id;
                e.digest = at == std::string::npos ? std::string() : rest.substr(at + 8);
            }
        }
    }
    if (!ended || e.path.empty() || !e.path.is_absolute()) return std::nullopt;
    return e;
}

std::string readEntryFile(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    return text;
}
}  // namespace

void forEachLeftEntry(const fs::path& storage, const std::function<bool(const Entry&)>& settle) {
    if (storage.empty()) return;
    const fs::path folder = storage / kTemporariesFolder;
    std::error_code ec;
    std::vector<fs::path> files;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec))
        if (it->path().extension() == ".entry") files.push_back(it->path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        Fd fd(::open(file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW));
        if (!fd.valid()) continue;
        struct stat st {};
        if (!lockNow(fd.get(), false) || ::fstat(fd.get(), &st) != 0 || st.st_nlink == 0 ||
            !S_ISREG(st.st_mode))
            continue;  // its owner is at work
        auto entry = parseEntry(readEntryFile(fd.get()));
        // Cut short before it was complete: its object was never made.
        bool drop = true;
        if (entry) {
            entry->file = file;
            drop = settle(*entry);
        }
        if (drop) ::unlink(file.c_str());
    }
    syncFolder(folder);
}

}  // namespace detail

std::vector<fs::path> journaledTemporaries(const fs::path& storage) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (auto it = fs::directory_iterator(storage / kTemporariesFolder, ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (it->path().extension() != ".entry") continue;
        Fd fd(::open(it->path().c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (!fd.valid()) continue;
        const auto e = detail::parseEntry(detail::readEntryFile(fd.get()));
        if (e && (e->kind == TempKind::File || e->kind == TempKind::Folder)) out.push_back(e->path);
    }
    return out;
}

namespace {

// An archive made by an encryption cut short goes, and its integrity entry with it once the pass
// phrase is at hand.
bool deleteCutShortArchive(const fs::path& storage, const detail::Entry& e) {
    if (::unlink(e.path.c_str()) != 0 && errno != ENOENT) {
        logLine("could not delete " + e.path.string() + ": " + std::strerror(errno));
        return false;
    }
    syncFolder(e.path.parent_path());
    if (auto st = ArchiveManifest::noteDiscarded(storage, e.path.filename().string()); !st)
        logLine(st.error().message);
    logLine("deleted the archive of an encryption that was cut short: " + e.path.string());
    return true;
}

// A recorded archive whose run died before the original was removed: the removal is finished
// when the original is still what was packed and the archive the one written; otherwise the
// original stays and the archive is withdrawn from the vault.
bool finishEncryption(const fs::path& storage, const detail::Entry& e, bool sameArchive,
                      const std::function<bool(const std::string&)>& withdraw,
                      std::vector<std::string>& reports) {
    std::error_code ec;
    if (fs::symlink_status(e.original, ec).type() == fs::file_type::not_found) return true;
    const auto now = takeSnapshot(e.original);
    if (sameArchive && now && snapshotSum(*now) == e.packed) {
        JournalScope scope(storage);
        std::optional<fs::path> leftover;
        if (auto st = removeWhole(e.original, &*now, &leftover); !st) {
            reports.push_back(e.original.string() +
                              " was encrypted, but its original could not be removed (" + st.error().message +
                              "); delete it once you have checked the encrypted item");
            return true;
        }
        logLine("finished encrypting " + e.original.string() + ": its original was removed");
        return true;
    }
    if (!withdraw(e.record)) {
        reports.push_back(e.original.string() +
                          " changed after it was encrypted, and the vault list could not be written to take "
                          "its older archive out; both were kept for now");
        return false;
    }
    if (sameArchive) deleteCutShortArchive(storage, e);
    reports.push_back(e.original.string() +
                      (sameArchive ? " changed after it was encrypted and before its original was removed"
                                   : "'s archive is not the one that was written") +
                      "; it was kept as it is and taken out of the vault");
    return true;
}

}  // namespace

std::vector<std::string> settleIntents(const fs::path& storage, const std::vector<std::string>& records,
                                       const std::vector<std::string>& decrypted,
                                       const std::function<bool(const std::string&)>& addDecrypted,
                                       const std::function<bool(const std::string&)>& removeDecrypted,
                                       const std::function<bool(const std::string&)>& withdraw) {
    std::vector<std::string> reports;
    const auto has = [](const std::vector<std::string>& list, const std::string& s) {
        return std::find(list.begin(), list.end(), s) != list.end();
    };
    detail::forEachLeftEntry(storage, [&](const detail::Entry& e) {
        const auto now = identityOf(e.path);
        const bool same = now && e.made && *now == *e.made;
        if (e.kind == TempKind::Archive) {
            if (has(records, e.record)) {
                if (e.original.empty()) return true;
                return finishEncryption(storage, e, same, withdraw, reports);
            }
            // Never recorded, the run died before its original was touched: the archive it made
            // goes, and encrypting the item works again. Recorded and no longer listed, the record
            // left the vault since.
            if (e.recorded || !same) return true;
            return deleteCutShortArchive(storage, e);
        }
        if (e.kind == TempKind::Locking) {
            // A lock cut short. Its copy in place (the sweep puts back a copy set aside for its
            // check), the item stays unlocked; its copy gone, the item is locked, as its archive
            // holds it, and its record leaves the decrypted list.
            if (now || !has(decrypted, e.record)) return true;
            if (!removeDecrypted(e.record)) return false;
            CopyManifest manifest = CopyManifest::load(storage);
            if (manifest.find(e.record)) {
                manifest.erase(e.record);
                if (auto st = manifest.save(storage); !st) logLine(st.error().message);
            }
            return true;
        }
        if (e.kind == TempKind::Restoring) {
            // A removal cut short after it moved an unlocked folder's copy home. Once the record
            // has left the vault the removal is done; while it is listed as unlocked, the copy goes
            // back into the storage folder, where the record's copy belongs.
            if (!has(records, e.record) || !same) return true;
            const auto copy = safePlaintextCopy(storage.string(), e.record);
            if (has(decrypted, e.record) && copy && renameNoReplace(e.path, *copy)) {
                syncFolder(e.path.parent_path());
                syncFolder(copy->parent_path());
                return true;
            }
            reports.push_back(e.path.string() + " was being taken out of the vault with " + e.record +
                              " when the work was cut short; it was left where it is");
            return true;
        }
        if (e.kind != TempKind::Copy) return false;  // the sweep's
        if (!now || (e.made && !same)) return true;  // no copy of ours stands there
        // The record left the vault: what stands there is the item itself, restored.
        if (!has(records, e.record)) return true;
        const bool listed = has(decrypted, e.record);
        if (same) {
            // The object we placed: a copy enters its place only whole and flushed, so it is the
            // item's unlocked copy, edited since or not.
            if (!listed && !addDecrypted(e.record)) {
                reports.push_back(e.path.string() + " is a decrypted copy of " + e.record +
                                  ", but the vault list could not be written to show it unlocked; it was "
                                  "left in place");
                return false;
            }
            // Its digest is kept only while the copy is still what was unpacked; without one,
            // locking packs the copy again.
            const bool unchanged = !e.digest.empty() && [&] {
                auto d = copyDigest(e.path);
                return d && *d == e.digest;
            }();
            CopyManifest manifest = CopyManifest::load(storage);
            const std::string* known = manifest.find(e.record);
            if (unchanged ? !known || *known != e.digest : known != nullptr) {
                if (unchanged) {
                    manifest.set(e.record, e.digest);
                    manifest.setIdentity(e.record, *e.made);
                } else {
                    manifest.erase(e.record);
                }
                if (auto st = manifest.save(storage); !st) logLine(st.error().message);
            }
            if (!unchanged && !listed)
                logLine("listed " + e.path.string() +
                        " as unlocked, left by a decryption cut short; locking packs it again");
            return true;
        }
        if (listed) return true;
        reports.push_back(e.path.string() + " may be a decrypted copy of " + e.record +
                          " that the vault does not list as unlocked; it was left in place: check it, then "
                          "delete it or encrypt it again");
        return false;
    });
    return reports;
}

}  // namespace vaultry::vault
