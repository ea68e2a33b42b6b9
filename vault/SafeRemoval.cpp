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
#include <set>
#include <utility>

#include "trash/Trash.h"
#include "util/Fd.h"
#include "util/Log.h"
#include "vault/Archive.h"

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
bool isAsideFolder(const fs::path& folder) {
    const std::string name = folder.filename().string();
    return name.rfind(kKeepPrefix, 0) == 0 || name.rfind(kRemovingPrefix, 0) == 0;
}

bool endsWithPartSuffix(const std::string& name) {
    // "<name>.part-XXXXXX", as the archive writer names its temporary files.
    constexpr std::size_t kSuffix = 12;  // ".part-" + 6
    if (name.size() <= kSuffix || name.compare(name.size() - kSuffix, 6, ".part-") != 0) return false;
    return std::all_of(name.end() - 6, name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
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
    std::string folder = (parent / (std::string(prefix) + "XXXXXX")).string();
    if (!::mkdtemp(folder.data())) return fail("cannot write in " + parent.string() + ": " + why());
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
    ::rmdir(aside.parent_path().c_str());
    syncFolder(item.parent_path());
    return true;
}

Result<fs::path> commitRemoval(const fs::path& aside) {
    const fs::path folder = aside.parent_path();
    std::string name = folder.filename().string();
    if (name.rfind(kKeepPrefix, 0) != 0) return aside;
    name.replace(0, std::strlen(kKeepPrefix), kRemovingPrefix);
    const fs::path renamed = folder.parent_path() / name;
    if (!renameNoReplace(folder, renamed)) return fail("cannot remove " + aside.string() + ": " + why());
    return renamed / aside.filename();
}

std::optional<fs::path> deleteAside(const fs::path& aside) {
    const fs::path folder = aside.parent_path();
    if (!isAsideFolder(folder)) return aside;  // never anything but our own folder
    const auto report = trash::removeTree(folder, trash::Unlock::Yes);
    syncFolder(folder.parent_path());
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

std::vector<fs::path> sweepLeftovers(const fs::path& storage, const std::vector<std::string>& records,
                                     std::chrono::seconds minAge) {
    std::set<fs::path> folders;
    if (!storage.empty()) folders.insert(storage);
    for (const auto& r : records) {
        const fs::path parent = fs::path(r).parent_path();
        if (parent.is_absolute()) folders.insert(parent);
    }
    const std::time_t now = std::time(nullptr);
    std::vector<fs::path> dealt;
    for (const auto& folder : folders) {
        std::error_code ec;
        std::vector<fs::path> found;
        for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator();
             it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const bool ours = name.rfind(".vaultry-unpack-", 0) == 0 || name.rfind(kKeepPrefix, 0) == 0 ||
                              name.rfind(kRemovingPrefix, 0) == 0 || endsWithPartSuffix(name) ||
                              (folder == storage && name.front() == '.' &&
                               (name.ends_with(".relock") || name == ".vaultry-copies.tmp"));
            if (ours) found.push_back(it->path());
        }
        for (const auto& path : found) {
            struct stat st {};
            if (::lstat(path.c_str(), &st) != 0) continue;
            if (now - st.st_mtim.tv_sec < minAge.count()) continue;
            const std::string name = path.filename().string();
            // Ours are folders (set aside, unpacking) or plain files (temporary); nothing else.
            const bool folderKind = name.rfind(".vaultry-", 0) == 0 && name.rfind(".vaultry-copies", 0) != 0;
            if (folderKind ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) continue;
            if (name.rfind(kKeepPrefix, 0) == 0 && S_ISDIR(st.st_mode)) {
                // An item set aside for checking: it goes back where it was.
                std::vector<fs::path> inside;
                for (auto it = fs::directory_iterator(path, ec); !ec && it != fs::directory_iterator();
                     it.increment(ec))
                    inside.push_back(it->path());
                if (inside.size() == 1 && putBack(inside.front(), folder / inside.front().filename())) {
                    dealt.push_back(folder / inside.front().filename());
                } else if (inside.empty()) {
                    ::rmdir(path.c_str());
                    dealt.push_back(path);
                } else {
                    logLine("left in place: " + path.string() + " (its item's name is taken)");
                }
                continue;
            }
            const auto report = trash::removeTree(path, trash::Unlock::Yes);
            if (!report.ok()) logLine("could not delete all of " + path.string());
            dealt.push_back(path);
        }
    }
    return dealt;
}

}  // namespace vaultry::vault
