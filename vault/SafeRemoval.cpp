#include "vault/SafeRemoval.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include <openssl/evp.h>

#include "trash/Trash.h"
#include "util/Fd.h"
#include "util/Log.h"
#include "vault/Archive.h"
#include "vault/Temporaries.h"

namespace vaultry::vault {
namespace {

std::string why() { return std::strerror(errno); }

char typeOf(mode_t mode) {
    if (S_ISREG(mode)) return 'f';
    if (S_ISDIR(mode)) return 'd';
    if (S_ISLNK(mode)) return 'l';
    return 'o';
}

std::int64_t mtimeNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool mayChange(const fs::path& p) { return ::faccessat(AT_FDCWD, p.c_str(), W_OK | X_OK, AT_EACCESS) == 0; }
bool mayList(const fs::path& p) { return ::faccessat(AT_FDCWD, p.c_str(), R_OK | X_OK, AT_EACCESS) == 0; }

// The folder holding an item moved aside, when its name has one of our prefixes.
fs::path normalizedFolder(const fs::path& folder) {
    std::error_code ec;
    const fs::path parent = fs::weakly_canonical(folder.parent_path(), ec);
    return ec ? folder : parent / folder.filename();
}

bool isAsideFolder(const fs::path& folder) {
    const std::string name = folder.filename().string();
    return name.rfind(kKeepPrefix, 0) == 0 || name.rfind(kRemovingPrefix, 0) == 0;
}

// The journal entries of the folders this process has set aside, by the folder's path: each goes
// once its folder is gone or put back, and stays for the next sweep otherwise.
std::mutex asideMutex;
std::map<std::string, Temporary>& asideEntries() {
    static std::map<std::string, Temporary> entries;
    return entries;
}

void settleAsideEntry(const fs::path& folder, bool gone) {
    std::lock_guard guard(asideMutex);
    auto it = asideEntries().find(folder.string());
    if (it == asideEntries().end()) return;
    if (!gone) it->second.keepForSweep();
    asideEntries().erase(it);
}

}  // namespace

Result<Snapshot> takeSnapshot(const fs::path& item) {
    Snapshot snap;
    struct Links {
        nlink_t count = 0;
        std::size_t seen = 0;
        std::string name;
    };
    std::map<std::pair<dev_t, ino_t>, Links> links;
    std::vector<std::pair<fs::path, std::string>> pending{{item, ""}};
    while (!pending.empty()) {
        auto [path, name] = std::move(pending.back());
        pending.pop_back();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return fail("cannot read " + path.string() + ": " + why());
        Snapshot::Entry e;
        e.name = name;
        e.type = typeOf(st.st_mode);
        if (e.type != 'd') {
            e.size = static_cast<std::uint64_t>(st.st_size);
            e.mtimeNs = mtimeNs(st);
            e.inode = static_cast<std::uint64_t>(st.st_ino);
        }
        if (e.type == 'l') {
            std::error_code ec;
            e.linkTarget = fs::read_symlink(path, ec).string();
        }
        if (e.type == 'f' && st.st_nlink > 1) {
            Links& l = links[{st.st_dev, st.st_ino}];
            l.count = st.st_nlink;
            if (++l.seen == 1) l.name = name.empty() ? path.filename().string() : name;
        }
        snap.entries.push_back(std::move(e));
        if (S_ISDIR(st.st_mode)) {
            std::error_code ec;
            for (auto it = fs::directory_iterator(path, ec); !ec && it != fs::directory_iterator();
                 it.increment(ec))
                pending.emplace_back(it->path(),
                                     (name.empty() ? "" : name + "/") + it->path().filename().string());
            if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
        }
    }
    std::sort(snap.entries.begin(), snap.entries.end(),
              [](const Snapshot::Entry& a, const Snapshot::Entry& b) { return a.name < b.name; });
    // Files whose every link lies inside the item are whole in it; the others are not.
    for (const auto& [key, l] : links)
        if (l.count > l.seen) snap.linkedElsewhere.push_back(l.name);
    return snap;
}

std::string snapshotSum(const Snapshot& snapshot) {
    std::string text;
    for (const auto& e : snapshot.entries) {
        text += e.name;
        text += '\0';
        text += e.type;
        text +=
            std::to_string(e.size) + ' ' + std::to_string(e.mtimeNs) + ' ' + std::to_string(e.inode) + ' ';
        text += e.linkTarget;
        text += '\0';
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr);
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

std::string firstDifference(const Snapshot& before, const Snapshot& now) {
    std::size_t i = 0;
    for (; i < before.entries.size() && i < now.entries.size(); ++i) {
        const auto& a = before.entries[i];
        const auto& b = now.entries[i];
        if (a.name != b.name) return (a.name < b.name ? a.name + " is gone" : b.name + " was added");
        if (!(a == b)) return (a.name.empty() ? std::string("the item") : a.name) + " was changed";
    }
    if (i < before.entries.size()) return before.entries[i].name + " is gone";
    if (i < now.entries.size()) return now.entries[i].name + " was added";
    return {};
}

Status checkRemovable(const fs::path& item) {
    const uid_t me = ::geteuid();
    std::vector<fs::path> pending{item};
    while (!pending.empty()) {
        const fs::path path = std::move(pending.back());
        pending.pop_back();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return fail("cannot read " + path.string() + ": " + why());
        if (!S_ISDIR(st.st_mode)) continue;
        const bool mine = st.st_uid == me;
        if (!mine && !(mayChange(path) && mayList(path)))
            return fail("cannot remove " + path.string() +
                        ": it belongs to another user and may not be changed");
        if (!mayList(path)) continue;  // ours: opened up when its turn comes
        std::error_code ec;
        for (auto it = fs::directory_iterator(path, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            if ((st.st_mode & S_ISVTX) && !mine) {
                struct stat child {};
                if (::lstat(it->path().c_str(), &child) == 0 && child.st_uid != me)
                    return fail("cannot remove " + it->path().string() +
                                ": it belongs to another user in a folder that keeps its owners' files");
            }
            pending.push_back(it->path());
        }
        if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
    }
    return {};
}

Result<fs::path> moveAside(const fs::path& item, const char* prefix) {
    fs::path clean = item.lexically_normal();
    if (!clean.has_filename()) clean = clean.parent_path();
    const fs::path parent = clean.parent_path();
    // Written down before it is made, so that the next start puts back or deletes only this folder.
    const fs::path journal = JournalScope::current();
    Temporary entry;
    std::string folder;
    for (;;) {
        folder = (parent / (std::string(prefix) + randomSuffix())).string();
        if (!journal.empty()) {
            auto t = Temporary::reserve(journal, TempKind::Aside, folder);
            if (!t) return t.error();
            entry = std::move(*t);
        }
        if (::mkdir(folder.c_str(), 0700) == 0) break;
        const int err = errno;
        entry = Temporary();
        if (err != EEXIST) return fail("cannot write in " + parent.string() + ": " + std::strerror(err));
    }
    if (auto id = identityOf(folder)) (void)entry.made(*id);
    const fs::path aside = fs::path(folder) / clean.filename();
    struct stat st {};
    const bool opened = ::lstat(clean.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
                        (st.st_mode & S_IWUSR) == 0 &&
                        ::chmod(clean.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
    if (::rename(clean.c_str(), aside.c_str()) != 0) {
        const std::string message = "cannot remove " + clean.string() + ": " + why();
        if (opened) ::chmod(clean.c_str(), st.st_mode & 07777);
        ::rmdir(folder.c_str());
        return fail(message);
    }
    if (opened) ::chmod(aside.c_str(), st.st_mode & 07777);
    syncFolder(parent);
    if (entry.active()) {
        std::lock_guard guard(asideMutex);
        asideEntries()[entry.path().string()] = std::move(entry);
    }
    return aside;
}

bool putBack(const fs::path& aside, const fs::path& item) {
    struct stat st {};
    const bool readOnlyFolder = ::lstat(aside.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                                (st.st_mode & S_IWUSR) == 0 && st.st_uid == ::geteuid();
    if (readOnlyFolder) ::chmod(aside.c_str(), (st.st_mode & 07777) | S_IWUSR);
    const bool moved = renameNoReplace(aside, item);
    if (readOnlyFolder) ::chmod((moved ? item : aside).c_str(), st.st_mode & 07777);
    if (!moved) return false;
    const bool emptied = ::rmdir(aside.parent_path().c_str()) == 0;
    syncFolder(item.parent_path());
    settleAsideEntry(normalizedFolder(aside.parent_path()), emptied);
    return true;
}

Result<fs::path> commitRemoval(const fs::path& aside) {
    const fs::path folder = aside.parent_path();
    std::string name = folder.filename().string();
    if (name.rfind(kKeepPrefix, 0) != 0) return aside;
    name.replace(0, std::strlen(kKeepPrefix), kRemovingPrefix);
    const fs::path renamed = folder.parent_path() / name;
    if (!renameNoReplace(folder, renamed)) return fail("cannot remove " + aside.string() + ": " + why());
    {
        // The same folder under its new name: the entry names both and knows it by its inode.
        std::lock_guard guard(asideMutex);
        auto it = asideEntries().find(normalizedFolder(folder).string());
        if (it != asideEntries().end()) {
            auto node = asideEntries().extract(it);
            node.key() = normalizedFolder(renamed).string();
            asideEntries().insert(std::move(node));
        }
    }
    return renamed / aside.filename();
}

std::optional<fs::path> deleteAside(const fs::path& aside) {
    const fs::path folder = aside.parent_path();
    if (!isAsideFolder(folder)) return aside;  // never anything but our own folder
    const auto report = trash::removeTree(folder, trash::Unlock::Yes);
    syncFolder(folder.parent_path());
    settleAsideEntry(normalizedFolder(folder), report.ok());
    if (report.ok()) return std::nullopt;
    return folder;
}

Status removeWhole(const fs::path& item, const Snapshot* expected, std::optional<fs::path>* leftover) {
    if (leftover) leftover->reset();
    if (auto st = checkRemovable(item); !st) return st;
    auto aside = moveAside(item, kKeepPrefix);
    if (!aside) return aside.error();
    if (expected) {
        auto now = takeSnapshot(*aside);
        const std::string difference = now ? firstDifference(*expected, *now) : now.error().message;
        if (!difference.empty()) {
            if (!putBack(*aside, item))
                return fail(item.string() + " was changed (" + difference +
                            ") and could not be put back: it is in " + aside->parent_path().string());
            return fail(item.string() + " was changed after it was checked (" + difference + ")");
        }
    }
    auto committed = commitRemoval(*aside);
    if (!committed) {
        putBack(*aside, item);
        return committed.error();
    }
    auto left = deleteAside(*committed);
    if (left) {
        logLine("could not delete all of " + left->string() + "; it is deleted again at the next start");
        if (leftover) *leftover = left;
    }
    return {};
}

Status removeOwnCopy(const fs::path& path, const Snapshot* expected) {
    std::optional<fs::path> leftover;
    auto st = removeWhole(path, expected, &leftover);
    if (st) return st;
    // On an error the copy is in its place as it was; one that changed is the user's now.
    if (expected)
        if (const auto now = takeSnapshot(path); !now || !(*now == *expected)) return st;
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) return fail("cannot delete " + path.string() + ": " + ec.message());
    return {};
}

std::vector<fs::path> sweepLeftovers(const fs::path& storage) {
    std::vector<fs::path> dealt;
    detail::forEachLeftEntry(storage, [&dealt](const detail::Entry& e) {
        if (e.kind != TempKind::File && e.kind != TempKind::Folder && e.kind != TempKind::Aside)
            return false;  // settled with the vault's lists
        // Only the object that was made, still there as it was made; anything else at the path
        // (or an object made but never noted) is left alone.
        if (!e.made) {
            if (identityOf(e.path))
                logLine("left in place: " + e.path.string() + " (not known to be Vaultry's)");
            return true;
        }
        fs::path folder = e.path;
        auto now = identityOf(folder);
        if (e.kind == TempKind::Aside && !(now && *now == *e.made)) {
            // Set aside and then taken to be deleted: the same folder under the removing name.
            std::string name = folder.filename().string();
            if (name.rfind(kKeepPrefix, 0) == 0) {
                name.replace(0, std::strlen(kKeepPrefix), kRemovingPrefix);
                folder = folder.parent_path() / name;
                now = identityOf(folder);
            }
        }
        if (!now || *now != *e.made) return true;  // gone, or another object took its place
        const std::string name = folder.filename().string();
        if (e.kind == TempKind::Aside && name.rfind(kKeepPrefix, 0) == 0) {
            // An item set aside for checking: it goes back where it was.
            std::error_code ec;
            std::vector<fs::path> inside;
            for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
                 it.increment(ec))
                inside.push_back(it->path());
            const fs::path home = folder.parent_path();
            if (inside.size() == 1 && putBack(inside.front(), home / inside.front().filename())) {
                dealt.push_back(home / inside.front().filename());
                return true;
            }
            if (inside.empty() && ::rmdir(folder.c_str()) == 0) {
                dealt.push_back(folder);
                return true;
            }
            logLine("left in place: " + folder.string() + " (its item's name is taken)");
            return false;
        }
        const auto report = trash::removeTree(folder, trash::Unlock::Yes);
        syncFolder(folder.parent_path());
        dealt.push_back(folder);
        if (report.ok()) return true;
        logLine("could not delete all of " + folder.string());
        return false;
    });
    return dealt;
}

}  // namespace vaultry::vault
