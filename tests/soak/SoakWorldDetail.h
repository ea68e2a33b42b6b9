#pragma once
// Small helpers the soak world's files share: the marker in every item's bytes, file times, and
// list lookups.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

#include "soak/SoakWorld.h"

namespace vaultry::soak::detail {

// Written into every file of an item, so that its plaintext is found wherever it went.
inline std::string marker(int id) { return "<soak-item-" + std::to_string(id) + ">"; }

inline std::int64_t mtimeOf(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return -1;
    return std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

inline void backdate(const fs::path& p, std::chrono::seconds by) {
    struct timespec t[2];
    ::clock_gettime(CLOCK_REALTIME, &t[0]);
    t[0].tv_sec -= by.count();
    t[1] = t[0];
    ::utimensat(AT_FDCWD, p.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

inline bool contains(const Strings& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

}  // namespace vaultry::soak::detail
