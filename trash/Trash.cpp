#include "trash/Trash.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <limits>
#include <vector>

#include "util/Fd.h"
#include "util/Log.h"
#include "util/TimeText.h"

namespace vaultry::trash {
namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool needsUnlock(mode_t mode) { return (mode & S_IRWXU) != S_IRWXU; }

// Opens the folder `name` below parent without following a link; with Unlock::Yes a folder that
// its owner may not read, write or enter is given those rights first.
int openFolderAt(int parent, const char* name, const struct stat& st, Unlock unlock) {
    int fd = ::openat(parent, name, kDirFlags);
    if (fd < 0 && errno == EACCES && unlock == Unlock::Yes) {
        // The entry was a folder when looked at (not a link), so the change applies to it.
        if (::fchmodat(parent, name, (st.st_mode & 07777) | S_IRWXU, 0) == 0)
            fd = ::openat(parent, name, kDirFlags);
    }
    if (fd >= 0 && unlock == Unlock::Yes) {
        struct stat now {};
        if (::fstat(fd, &now) == 0 && needsUnlock(now.st_mode)) ::fchmod(fd, (now.st_mode & 07777) | S_IRWXU);
    }
    return fd;
}

void removeEntryAt(int parent, const char* name, Unlock unlock, RemoveReport& report);

void removeContentsOf(int folder, Unlock unlock, RemoveReport& report) {
    std::vector<std::string> names;
    {
        const int listFd = ::dup(folder);
        if (listFd < 0) {
            ++report.failed;
            return;
        }
        DIR* dir = ::fdopendir(listFd);
        if (!dir) {
            ::close(listFd);
            ++report.failed;
            return;
        }
        while (const dirent* e = ::readdir(dir)) {
            const std::string_view n = e->d_name;
            if (n != "." && n != "..") names.emplace_back(n);
        }
        ::closedir(dir);
    }
    for (const auto& n : names) removeEntryAt(folder, n.c_str(), unlock, report);
}

void removeEntryAt(int parent, const char* name, Unlock unlock, RemoveReport& report) {
    struct stat st {};
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) ++report.failed;
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        // A file system mounted inside is another volume's business: never entered.
        struct stat parentSt {};
        if (::fstat(parent, &parentSt) == 0 && parentSt.st_dev != st.st_dev) {
            ++report.failed;
            return;
        }
        Fd fd(openFolderAt(parent, name, st, unlock));
        if (fd.get() < 0) {
            ++report.failed;
            return;
        }
        removeContentsOf(fd.get(), unlock, report);
        if (::unlinkat(parent, name, AT_REMOVEDIR) == 0)
            ++report.removed;
        else
            ++report.failed;
        return;
    }
    // Files, links, sockets, pipes: the entry itself goes; a link's target is never reached.
    if (::unlinkat(parent, name, 0) == 0)
        ++report.removed;
    else if (errno != ENOENT)
        ++report.failed;
}

// The contents of the folder `name` below parent, which must be a real folder (not a link).
void removeContentsAt(int parent, const char* name, Unlock unlock, RemoveReport& report) {
    struct stat st {};
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) return;
    Fd fd(openFolderAt(parent, name, st, unlock));
    if (fd.get() < 0) {
        ++report.failed;
        return;
    }
    removeContentsOf(fd.get(), unlock, report);
}

}  // namespace

std::uint64_t parseDuOutput(std::string_view output) {
    const std::string_view first = output.substr(0, output.find(' '));
    constexpr std::uint64_t kMaxKb = std::numeric_limits<std::uint64_t>::max() / 1024;
    std::uint64_t kb = 0;
    bool any = false;
    for (const char c : first) {
        if (c < '0' || c > '9') break;
        any = true;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (kb > (kMaxKb - digit) / 10) return std::numeric_limits<std::uint64_t>::max();
        kb = kb * 10 + digit;
    }
    return any ? kb * 1024 : 0;
}

std::uint64_t fastFolderSizeAtFilePath(platform::Spawn& spawn, const std::filesystem::path& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status)) return 0;
    if (!std::filesystem::is_directory(status)) {
        const auto size = std::filesystem::file_size(path, ec);
        return ec ? 0 : static_cast<std::uint64_t>(size);
    }
    auto result = spawn.run(kDuProgram, {"-k", "-d", "0", path.string()});
    if (!result) {
        logLine("du failed: " + result.error().message);
        return 0;
    }
    return parseDuOutput(result->out);
}

std::uint64_t contentSize(platform::Spawn& spawn, const std::filesystem::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
    const std::uint64_t all = fastFolderSizeAtFilePath(spawn, folder);
    const auto own = static_cast<std::uint64_t>(st.st_blocks) * 512;
    return all > own ? all - own : 0;
}

RemoveReport removeContents(const std::filesystem::path& folder, Unlock unlock) {
    RemoveReport report;
    std::filesystem::path clean = folder.lexically_normal();
    if (clean.filename().empty() && clean.has_relative_path()) clean = clean.parent_path();
    if (clean.filename().empty() || clean.filename() == "." || clean.filename() == "..") {
        ++report.failed;  // a folder must be named: never "/" or a path ending in dots
        return report;
    }
    Fd parent(::open(clean.parent_path().empty() ? "." : clean.parent_path().c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) {
        if (errno != ENOENT) ++report.failed;
        return report;
    }
    removeContentsAt(parent.get(), clean.filename().c_str(), unlock, report);
    return report;
}

RemoveReport removeTree(const std::filesystem::path& path, Unlock unlock) {
    RemoveReport report;
    std::filesystem::path clean = path.lexically_normal();
    if (clean.filename().empty() && clean.has_relative_path()) clean = clean.parent_path();
    const std::filesystem::path name = clean.filename();
    if (name.empty() || name == "." || name == "..") {
        ++report.failed;  // never "/" nor a folder named by a trailing slash or dots
        return report;
    }
    Fd parent(::open(clean.parent_path().empty() ? "." : clean.parent_path().c_str(),
                     O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent.get() < 0) {
        if (errno != ENOENT) ++report.failed;
        return report;
    }
    removeEntryAt(parent.get(), name.c_str(), unlock, report);
    return report;
}

RemoveReport removeEntry(int parentFd, const char* name, Unlock unlock) {
    RemoveReport report;
    removeEntryAt(parentFd, name, unlock, report);
    return report;
}

RemoveReport emptyTrash(const std::filesystem::path& trash, Unlock unlock) {
    RemoveReport report;
    // A Trash folder that is itself a link is not ours to empty (a volume's ".Trash-UID" must be a
    // real folder); the folders above it are the user's setup (a home reached through a link).
    Fd root(::open(trash.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (root.get() < 0) {
        if (errno != ENOENT) ++report.failed;
        return report;  // no Trash yet: nothing to empty
    }
    removeContentsAt(root.get(), "files", unlock, report);
    removeContentsAt(root.get(), "info", unlock, report);
    if (::unlinkat(root.get(), "directorysizes", 0) == 0)
        ++report.removed;
    else if (errno != ENOENT)
        ++report.failed;
    return report;
}

std::optional<std::uint64_t> intervalOfTimeChoice(std::string_view title) {
    static constexpr std::array<std::pair<std::string_view, std::uint64_t>, 5> kChoices{{
        {"Daily", 86400},
        {"Every Week", 604800},
        {"Two Weeks", 1209600},
        {"Every Month", 2592000},
        {"Two Months", 5184000},
    }};
    for (const auto& [t, seconds] : kChoices)
        if (t == title) return seconds;
    return std::nullopt;
}

std::chrono::system_clock::time_point referenceDate() {
    return std::chrono::system_clock::time_point(std::chrono::seconds(978307200));
}

std::uint64_t secondsSince(std::optional<std::chrono::system_clock::time_point> last,
                           std::chrono::system_clock::time_point now) {
    const auto from = last.value_or(referenceDate());
    if (now <= from) return 0;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(now - from).count());
}

std::uint64_t storageThresholdForSlider(double value, double maximum) {
    if (!(maximum > 0) || !std::isfinite(value)) return 0;
    const float whole = static_cast<float>(static_cast<long long>(value));
    const float f = static_cast<float>(static_cast<double>(whole) / maximum);
    if (!(f > 0.0f)) return 0;
    const float factor = f <= 0.25f ? 3.0f : f <= 0.5f ? 6.0f : f <= 0.75f ? 9.0f : 10.0f;
    float t = f * 1000.0f;
    t *= 1000.0f;
    t *= 1000.0f;
    t *= factor;
    if (!(t < 18446744073709551616.0f)) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(t);
}

std::string lastCleanDateText(std::chrono::system_clock::time_point date) {
    return timeText(date, "(%Y-%m-%d)");
}

}  // namespace vaultry::trash
