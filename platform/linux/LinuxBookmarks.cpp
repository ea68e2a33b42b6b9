#include "platform/linux/LinuxBookmarks.h"

#include <sys/stat.h>

#include <cstring>

namespace vaultry::platform {
namespace {

constexpr char kMagic[4] = {'V', 'B', 'M', '1'};
constexpr std::size_t kHeader = sizeof kMagic + 2 * sizeof(std::uint64_t);

void put64(Bytes& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint64_t get64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

std::optional<Bytes> LinuxBookmarks::create(const std::string& path) {
    struct stat st {};
    if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    Bytes out(kMagic, kMagic + sizeof kMagic);
    put64(out, static_cast<std::uint64_t>(st.st_dev));
    put64(out, static_cast<std::uint64_t>(st.st_ino));
    out.insert(out.end(), path.begin(), path.end());
    return out;
}

std::optional<Bookmarks::Resolved> LinuxBookmarks::resolve(const Bytes& data) {
    if (data.size() <= kHeader || std::memcmp(data.data(), kMagic, sizeof kMagic) != 0) return std::nullopt;
    Resolved r;
    r.path.assign(data.begin() + kHeader, data.end());
    if (r.path.find('\0') != std::string::npos || r.path[0] != '/') return std::nullopt;
    struct stat st {};
    r.stale = ::stat(r.path.c_str(), &st) != 0 ||
              static_cast<std::uint64_t>(st.st_dev) != get64(data.data() + sizeof kMagic) ||
              static_cast<std::uint64_t>(st.st_ino) != get64(data.data() + sizeof kMagic + 8);
    return r;
}

// Linux needs no grant beyond the file permissions; access holds while the path exists.
bool LinuxBookmarks::startAccessing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace vaultry::platform
