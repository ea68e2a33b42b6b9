#include "trash/TrashItems.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

#include "util/AtomicFile.h"
#include "util/Fd.h"

namespace vaultry::trash {
namespace fs = std::filesystem;

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr std::string_view kInfoSuffix = ".trashinfo";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<std::string> namesIn(int folder) {
    std::vector<std::string> names;
    const int listFd = ::dup(folder);
    if (listFd < 0) return names;
    DIR* dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return names;
    }
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view n = e->d_name;
        if (n != "." && n != "..") names.emplace_back(n);
    }
    ::closedir(dir);
    return names;
}

// A small file below an open folder, read whole (a .trashinfo is a few hundred bytes).
std::optional<std::string> readSmallAt(int folder, const char* name) {
    Fd fd(::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) return std::nullopt;
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        if (text.size() > 65536) return std::nullopt;  // not a .trashinfo
    }
    return text;
}

std::uint64_t usageAt(int parent, const char* name) {
    struct stat st {};
    if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    std::uint64_t total = static_cast<std::uint64_t>(st.st_blocks) * 512;
    if (!S_ISDIR(st.st_mode)) return total;
    Fd fd(::openat(parent, name, kDirFlags));
    if (fd.get() < 0) return total;
    for (const auto& n : namesIn(fd.get())) total += usageAt(fd.get(), n.c_str());
    return total;
}

// An item chosen for removal, with where it lives.
struct Chosen {
    std::size_t folder = 0;
    TrashItem item;
    TimePoint deletedAt;
    std::uint64_t bytes = 0;
};

// Drops the lines of removed names from a Trash's directorysizes cache (atomically).
void forgetDirectorySizes(const fs::path& trash, const std::set<std::string>& removed) {
    if (removed.empty()) return;
    const fs::path file = trash / "directorysizes";
    std::ifstream in(file, std::ios::binary);
    if (!in) return;
    std::string out, line;
    bool changed = false;
    while (std::getline(in, line)) {
        // "<size> <mtime> <percent-encoded name>"
        const auto first = line.find(' ');
        const auto second = first == std::string::npos ? first : line.find(' ', first + 1);
        if (second != std::string::npos && removed.contains(percentDecode(line.substr(second + 1)))) {
            changed = true;
            continue;
        }
        out += line;
        out += '\n';
    }
    in.close();
    if (changed) (void)writeFileAtomically(file, out);
}

// Removes the chosen items of one Trash folder: the file first, the .trashinfo only once the file
// is gone, so that an item never loses its record while any of it stays.
void removeChosen(const fs::path& trash, const std::vector<const TrashItem*>& items, Unlock unlock,
                  PartialReport& report, const std::vector<std::uint64_t>* bytes = nullptr) {
    Fd root(::open(trash.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW));
    if (root.get() < 0) {
        report.failed += items.size();
        return;
    }
    Fd files(::openat(root.get(), "files", kDirFlags));
    Fd info(::openat(root.get(), "info", kDirFlags));
    std::set<std::string> removed;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const TrashItem& item = *items[i];
        if (item.hasFile) {
            if (files.get() < 0 || !removeEntry(files.get(), item.name.c_str(), unlock).ok()) {
                ++report.failed;
                continue;
            }
        }
        const std::string infoName = item.name + std::string(kInfoSuffix);
        if (info.get() >= 0 && ::unlinkat(info.get(), infoName.c_str(), 0) != 0 && errno != ENOENT) {
            ++report.failed;
            continue;
        }
        ++report.removed;
        if (bytes) report.freed += (*bytes)[i];
        removed.insert(item.name);
    }
    forgetDirectorySizes(trash, removed);
}

std::string describe(const TrashItem& item) { return item.info ? item.info->path : item.name; }

}  // namespace

// ---- Volumes ---------------------------------------------------------------------------------

std::vector<fs::path> parseMountInfo(std::string_view text) {
    std::vector<fs::path> points;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        // "<id> <parent> <major:minor> <root> <mount point> ...": the fifth field.
        std::size_t pos = 0;
        for (int field = 0; field < 4 && pos != std::string_view::npos; ++field) {
            pos = line.find(' ', pos);
            if (pos != std::string_view::npos) ++pos;
        }
        if (pos == std::string_view::npos || pos >= line.size()) continue;
        const std::string_view raw = line.substr(pos, line.find(' ', pos) - pos);
        std::string point;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] >= '0' && raw[i + 1] <= '3' &&
                raw[i + 2] >= '0' && raw[i + 2] <= '7' && raw[i + 3] >= '0' && raw[i + 3] <= '7') {
                point +=
                    static_cast<char>((raw[i + 1] - '0') * 64 + (raw[i + 2] - '0') * 8 + (raw[i + 3] - '0'));
                i += 3;
            } else {
                point += raw[i];
            }
        }
        if (!point.empty() && point[0] == '/') points.emplace_back(point);
    }
    return points;
}

std::vector<TrashFolder> volumeTrashFolders(const fs::path& top, uid_t uid) {
    std::vector<TrashFolder> out;
    struct stat topSt {};
    if (::lstat(top.c_str(), &topSt) != 0 || !S_ISDIR(topSt.st_mode)) return out;
    const auto usable = [&](const fs::path& p) {
        struct stat st {};
        return ::lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_dev == topSt.st_dev &&
               st.st_uid == uid;
    };
    const fs::path shared = top / ".Trash";
    struct stat sharedSt {};
    if (::lstat(shared.c_str(), &sharedSt) == 0 && S_ISDIR(sharedSt.st_mode) &&
        (sharedSt.st_mode & S_ISVTX) && sharedSt.st_dev == topSt.st_dev) {
        const fs::path mine = shared / std::to_string(uid);
        if (usable(mine)) out.push_back({mine, top});
    }
    const fs::path own = top / (".Trash-" + std::to_string(uid));
    if (usable(own)) out.push_back({own, top});
    return out;
}

std::vector<TrashFolder> allTrashFolders(const fs::path& homeTrash, const fs::path& mountInfo, uid_t uid) {
    std::vector<TrashFolder> out{{homeTrash, {}}};
    std::set<std::pair<dev_t, ino_t>> seen;
    struct stat st {};
    if (::stat(homeTrash.c_str(), &st) == 0) seen.insert({st.st_dev, st.st_ino});
    std::ifstream in(mountInfo, std::ios::binary);
    if (!in) return out;
    std::stringstream text;
    text << in.rdbuf();
    for (const auto& top : parseMountInfo(text.str())) {
        for (auto& folder : volumeTrashFolders(top, uid)) {
            if (::stat(folder.path.c_str(), &st) != 0 || !seen.insert({st.st_dev, st.st_ino}).second)
                continue;
            out.push_back(std::move(folder));
        }
    }
    return out;
}

// ---- Items -----------------------------------------------------------------------------------

std::string percentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
            hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string percentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                          c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (keep) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::optional<TimePoint> parseDeletionDate(std::string_view text) {
    // YYYY-MM-DDThh:mm:ss
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
        text[16] != ':')
        return std::nullopt;
    const auto number = [&](std::size_t at, std::size_t len) {
        int n = 0;
        for (std::size_t i = at; i < at + len; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            n = n * 10 + (text[i] - '0');
        }
        return n;
    };
    std::tm tm{};
    tm.tm_year = number(0, 4) - 1900;
    tm.tm_mon = number(5, 2) - 1;
    tm.tm_mday = number(8, 2);
    tm.tm_hour = number(11, 2);
    tm.tm_min = number(14, 2);
    tm.tm_sec = number(17, 2);
    if (tm.tm_year < -1899 || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 ||
        tm.tm_hour < 0 || tm.tm_hour > 23 || tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 ||
        tm.tm_sec > 60)
        return std::nullopt;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1)) return std::nullopt;
    return std::chrono::system_clock::from_time_t(t);
}

std::optional<TrashInfo> parseTrashInfo(std::string_view text) {
    bool inGroup = false, sawGroup = false;
    std::optional<std::string> path;
    std::optional<TimePoint> date;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inGroup = line == "[Trash Info]";
            sawGroup = sawGroup || inGroup;
            continue;
        }
        if (!inGroup) continue;
        const auto eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
        while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
        while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
        if (key == "Path" && !path)
            path = percentDecode(value);
        else if (key == "DeletionDate" && !date)
            date = parseDeletionDate(value);
    }
    if (!sawGroup || !path) return std::nullopt;
    return TrashInfo{*path, date};
}

std::vector<TrashItem> listItems(const fs::path& trash) {
    std::vector<TrashItem> items;
    Fd root(::open(trash.c_str(), kDirFlags));
    if (root.get() < 0) return items;
    Fd files(::openat(root.get(), "files", kDirFlags));
    Fd info(::openat(root.get(), "info", kDirFlags));
    std::set<std::string> withFile;
    if (files.get() >= 0) {
        for (auto& name : namesIn(files.get())) {
            TrashItem item;
            item.name = std::move(name);
            if (info.get() >= 0)
                if (const auto text = readSmallAt(info.get(), (item.name + std::string(kInfoSuffix)).c_str()))
                    item.info = parseTrashInfo(*text);
            withFile.insert(item.name);
            items.push_back(std::move(item));
        }
    }
    if (info.get() >= 0) {
        for (const auto& infoName : namesIn(info.get())) {
            if (!infoName.ends_with(kInfoSuffix)) continue;
            std::string name = infoName.substr(0, infoName.size() - kInfoSuffix.size());
            if (withFile.contains(name)) continue;
            TrashItem item;
            item.name = std::move(name);
            item.hasFile = false;
            if (const auto text = readSmallAt(info.get(), infoName.c_str()))
                item.info = parseTrashInfo(*text);
            items.push_back(std::move(item));
        }
    }
    return items;
}

std::uint64_t diskUsage(const fs::path& path) {
    const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    Fd fd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return 0;
    return usageAt(fd.get(), path.filename().c_str());
}

std::uint64_t trashUsage(const fs::path& trash) { return diskUsage(trash); }

PartialReport& PartialReport::operator+=(const PartialReport& o) {
    removed += o.removed, failed += o.failed, unreadable += o.unreadable, freed += o.freed;
    chosen.insert(chosen.end(), o.chosen.begin(), o.chosen.end());
    chosenFrom.insert(chosenFrom.end(), o.chosenFrom.begin(), o.chosenFrom.end());
    return *this;
}

PartialReport emptyOlderThan(const fs::path& trash, TimePoint cutoff, Unlock unlock, bool dryRun) {
    PartialReport report;
    std::vector<TrashItem> items = listItems(trash);
    std::vector<const TrashItem*> chosen;
    for (const auto& item : items) {
        if (!item.info || !item.info->deletedAt) {
            ++report.unreadable;
            continue;
        }
        if (*item.info->deletedAt < cutoff) {
            chosen.push_back(&item);
            report.chosen.push_back(describe(item));
            report.chosenFrom.push_back(trash);
        }
    }
    if (!dryRun) removeChosen(trash, chosen, unlock, report);
    return report;
}

PartialReport emptyDownTo(const std::vector<fs::path>& trashes, std::uint64_t limit, Unlock unlock,
                          bool dryRun) {
    PartialReport report;
    std::vector<std::vector<TrashItem>> perFolder;
    std::vector<Chosen> candidates;
    std::uint64_t total = 0;
    for (std::size_t f = 0; f < trashes.size(); ++f) {
        total += trashUsage(trashes[f]);
        perFolder.push_back(listItems(trashes[f]));
        for (const auto& item : perFolder.back()) {
            if (!item.info || !item.info->deletedAt) {
                ++report.unreadable;
                continue;
            }
            candidates.push_back({f, item, *item.info->deletedAt, 0});
        }
    }
    if (total < limit) return report;
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Chosen& a, const Chosen& b) { return a.deletedAt < b.deletedAt; });
    std::vector<std::vector<const TrashItem*>> chosen(trashes.size());
    std::vector<std::vector<std::uint64_t>> bytes(trashes.size());
    for (auto& c : candidates) {
        if (total < limit) break;
        const fs::path base = trashes[c.folder];
        c.bytes = (c.item.hasFile ? diskUsage(base / "files" / c.item.name) : 0) +
                  diskUsage(base / "info" / (c.item.name + std::string(kInfoSuffix)));
        total -= std::min(total, c.bytes);
        chosen[c.folder].push_back(&c.item);
        bytes[c.folder].push_back(c.bytes);
        report.chosen.push_back(describe(c.item));
        report.chosenFrom.push_back(base);
        if (dryRun) report.freed += c.bytes;
    }
    if (!dryRun)
        for (std::size_t f = 0; f < trashes.size(); ++f)
            if (!chosen[f].empty()) removeChosen(trashes[f], chosen[f], unlock, report, &bytes[f]);
    return report;
}

// ---- Schedule rules --------------------------------------------------------------------------

std::optional<std::uint64_t> parseSize(std::string_view text) {
    std::size_t i = 0;
    double value = 0;
    bool digits = false, dot = false;
    double scale = 1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            if (dot) {
                scale /= 10;
                value += (c - '0') * scale;
            } else {
                value = value * 10 + (c - '0');
            }
        } else if (c == '.' && !dot) {
            dot = true;
        } else {
            break;
        }
    }
    if (!digits) return std::nullopt;
    std::string unit;
    for (; i < text.size(); ++i)
        if (text[i] != ' ')
            unit += static_cast<char>(text[i] >= 'a' && text[i] <= 'z' ? text[i] - 32 : text[i]);
    static const std::pair<const char*, double> kUnits[] = {
        {"", 1},
        {"B", 1},
        {"KB", 1e3},
        {"MB", 1e6},
        {"GB", 1e9},
        {"TB", 1e12},
        {"K", 1024.0},
        {"M", 1048576.0},
        {"G", 1073741824.0},
        {"T", 1099511627776.0},
        {"KIB", 1024.0},
        {"MIB", 1048576.0},
        {"GIB", 1073741824.0},
        {"TIB", 1099511627776.0},
    };
    for (const auto& [name, factor] : kUnits) {
        if (unit != name) continue;
        const double bytes = std::floor(value * factor);
        if (!(bytes < 18446744073709551616.0)) return std::nullopt;
        return static_cast<std::uint64_t>(bytes);
    }
    return std::nullopt;
}

}  // namespace vaultry::trash
