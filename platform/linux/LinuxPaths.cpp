#include "platform/linux/LinuxPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/Version.h"

namespace vaultry::platform {
namespace {

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

std::filesystem::path absoluteOr(const char* value, std::filesystem::path fallback) {
    if (value && value[0] == '/') return value;
    return fallback;
}

}  // namespace

std::filesystem::path LinuxPaths::home() const {
    if (const char* h = env("HOME")) return h;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string LinuxPaths::userName() const {
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_name) return pw->pw_name;
    if (const char* u = env("USER")) return u;
    return {};
}

std::filesystem::path LinuxPaths::configHome() const {
    return absoluteOr(env("XDG_CONFIG_HOME"), home() / ".config");
}

std::filesystem::path LinuxPaths::dataHome() const {
    return absoluteOr(env("XDG_DATA_HOME"), home() / ".local" / "share");
}

// The user-dirs file holds lines like XDG_DESKTOP_DIR="$HOME/Desktop"; the environment variable of
// the same name wins.
std::filesystem::path LinuxPaths::userDir(const char* name, const char* fallback) const {
    if (const char* v = env(name); v && v[0] == '/') return v;
    std::ifstream in(configHome() / "user-dirs.dirs");
    const std::string prefix = std::string(name) + "=\"";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 1 || line.back() != '"') continue;
        std::string value = line.substr(prefix.size(), line.size() - prefix.size() - 1);
        if (value.rfind("$HOME", 0) == 0) return home().string() + value.substr(5);
        if (!value.empty() && value[0] == '/') return value;
    }
    return home() / fallback;
}

std::filesystem::path LinuxPaths::desktop() const { return userDir("XDG_DESKTOP_DIR", "Desktop"); }
std::filesystem::path LinuxPaths::documents() const { return userDir("XDG_DOCUMENTS_DIR", "Documents"); }
std::filesystem::path LinuxPaths::downloads() const { return userDir("XDG_DOWNLOAD_DIR", "Downloads"); }

std::filesystem::path LinuxPaths::mountTable() const {
    const char* v = std::getenv("VAULTRY_MOUNTINFO");
    return v && *v ? std::filesystem::path(v) : std::filesystem::path("/proc/self/mountinfo");
}

std::filesystem::path LinuxPaths::installedDocs() const { return kInstalledDocDir; }

}  // namespace vaultry::platform
