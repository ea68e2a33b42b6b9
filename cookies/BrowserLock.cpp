#include "cookies/BrowserLock.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <optional>
#include <string_view>

namespace fs = std::filesystem;

namespace vaultry::cookies {
namespace {

// Another process holds a lock on file (a lock of our own would not show).
bool isHeldLock(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    const bool held = ::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

// Where the link at p points, or nothing when p is not a link.
std::optional<std::string> linkTarget(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) return std::nullopt;
    const fs::path target = fs::read_symlink(p, ec);
    return ec ? std::string() : target.string();
}

std::optional<pid_t> pidIn(std::string_view text) {
    long pid = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (ec != std::errc() || end != text.data() + text.size() || pid <= 0 || pid > INT_MAX)
        return std::nullopt;
    return static_cast<pid_t>(pid);
}

bool alive(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

// Firefox's link reads "<address>:<pid>", or "<address>:+<pid>" when `.parentlock` is locked
// as well; then the lock decides, as it does for Firefox.
bool firefoxLinkHeld(const std::string& target) {
    const auto colon = target.rfind(':');
    if (colon == std::string::npos) return true;
    std::string_view pid = std::string_view(target).substr(colon + 1);
    if (pid.starts_with('+')) return false;
    const auto number = pidIn(pid);
    return !number || alive(*number);
}

// Chromium's link reads "<host>-<pid>"; a profile in use on another computer counts as running.
bool chromiumLinkHeld(const std::string& target) {
    const auto dash = target.rfind('-');
    if (dash == std::string::npos) return true;
    const auto number = pidIn(std::string_view(target).substr(dash + 1));
    if (!number || target.substr(0, dash) != hostName()) return true;
    return alive(*number);
}

}  // namespace

bool browserRunning(const std::string& storePath) {
    const fs::path profile = fs::path(storePath).parent_path();
    if (isHeldLock(profile / ".parentlock")) return true;
    if (const auto link = linkTarget(profile / "lock"); link && firefoxLinkHeld(*link)) return true;
    // Chromium keeps SingletonLock in its user-data folder, above Default/ (and Default/Network/).
    fs::path dir = profile;
    for (int up = 0; up < 3 && !dir.empty(); ++up, dir = dir.parent_path()) {
        if (const auto link = linkTarget(dir / "SingletonLock"); link && chromiumLinkHeld(*link)) return true;
        if (dir == dir.parent_path()) break;
    }
    return false;
}

}  // namespace vaultry::cookies
