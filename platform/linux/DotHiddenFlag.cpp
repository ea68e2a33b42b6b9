#include "platform/linux/DotHiddenFlag.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "util/AtomicFile.h"

namespace vaultry::platform {
namespace {

namespace fs = std::filesystem;

struct Split {
    fs::path folder;
    std::string name;
};

Split split(const std::string& path) {
    fs::path p = fs::path(path).lexically_normal();
    if (!p.has_filename()) p = p.parent_path();
    return {p.parent_path(), p.filename().string()};
}

bool readLines(const fs::path& file, std::vector<std::string>& lines) {
    std::error_code ec;
    if (!fs::exists(file, ec)) return !ec;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return true;
}

bool writeLines(const fs::path& file, const std::vector<std::string>& lines) {
    if (lines.empty() || std::all_of(lines.begin(), lines.end(), [](const auto& l) { return l.empty(); })) {
        std::error_code ec;
        fs::remove(file, ec);
        return !ec;
    }
    std::string text;
    for (const auto& l : lines) text += l + "\n";
    return writeFileAtomically(file, text, 0644).ok();
}

}  // namespace

bool DotHiddenFlag::isHidden(const std::string& path) {
    const auto [folder, name] = split(path);
    if (name.empty()) return false;
    if (name.front() == '.') return true;
    std::vector<std::string> lines;
    readLines(folder / ".hidden", lines);
    return std::find(lines.begin(), lines.end(), name) != lines.end();
}

bool DotHiddenFlag::setHidden(const std::string& path, bool hidden) {
    const auto [folder, name] = split(path);
    // A name with a line break cannot be listed in the file.
    if (name.empty() || name.find('\n') != std::string::npos) return false;
    std::error_code ec;
    if (hidden && fs::symlink_status(folder / name, ec).type() == fs::file_type::not_found) return false;
    const fs::path file = folder / ".hidden";
    // Another process (the GUI and the command line) may change the same file meanwhile: the
    // read, the change and the write happen under the folder's lock.
    const FolderLock lock(folder);
    if (!lock.locked()) return false;
    std::vector<std::string> lines;
    if (!readLines(file, lines)) return false;
    const bool listed = std::find(lines.begin(), lines.end(), name) != lines.end();
    if (hidden == listed) return true;
    if (hidden)
        lines.push_back(name);
    else
        std::erase(lines, name);
    return writeLines(file, lines);
}

}  // namespace vaultry::platform
