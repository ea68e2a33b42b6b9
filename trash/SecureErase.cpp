#include "trash/SecureErase.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/Log.h"
#include "trash/Trash.h"

namespace vaultry::trash {
namespace {

bool present(const std::filesystem::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

// "a/b///" → "a/b", "a/b/." → "a/b", so that lstat looks at b itself rather than through it; the
// root stays "/".
std::filesystem::path withoutTrailingSlashes(const std::filesystem::path& path) {
    std::string s = path.string();
    for (;;) {
        if (s.size() > 1 && s.back() == '/')
            s.pop_back();
        else if (s.size() > 2 && s.ends_with("/."))
            s.resize(s.size() - 2);
        else
            break;
    }
    return s;
}

}  // namespace

EraseTool defaultEraseTool() {
    if (::access(kSrmProgram, X_OK) == 0) return {kSrmProgram, {}};
    return {kShredProgram, {"-u", "-z", "-n", "3"}};
}

EraseReport eraseFile(platform::Spawn& spawn, const EraseTool& tool, const std::filesystem::path& path) {
    EraseReport report;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return report;
    if (S_ISDIR(st.st_mode)) {
        ++report.failed;
        return report;
    }
    if (!S_ISREG(st.st_mode)) {
        // A link goes as a link; a pipe would block the tool, a device must not be overwritten.
        if (::unlink(path.c_str()) == 0)
            ++report.removed;
        else
            ++report.failed;
        return report;
    }
    if (st.st_nlink > 1) {
        // Overwriting goes through every name of the file; its other names lie elsewhere.
        const std::string why = path.string() + ": not erased, the file has " + std::to_string(st.st_nlink) +
                                " hard links and overwriting it would empty the others too";
        logLine("erase: " + why);
        report.refusals.push_back(why);
        ++report.failed;
        return report;
    }
    std::vector<std::string> args = tool.options;
    args.emplace_back("--");
    args.push_back(path.string());
    if (auto r = spawn.run(tool.program, args); !r) logLine("erase failed: " + r.error().message);
    if (present(path))
        ++report.failed;
    else
        ++report.erased;
    return report;
}

EraseReport EraseFileDirectoryPath(platform::Spawn& spawn, const EraseTool& tool,
                                   const std::filesystem::path& folder) {
    EraseReport report;
    std::error_code ec;
    std::vector<std::filesystem::path> entries;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    for (const auto& entry : entries) {
        if (entry.filename().string().starts_with(".")) continue;
        struct stat st {};
        if (::lstat(entry.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            report += EraseFileDirectoryPath(spawn, tool, entry);
        else
            report += eraseFile(spawn, tool, entry);
    }
    return report;
}

EraseReport eraseItem(platform::Spawn& spawn, const EraseTool& tool, const std::filesystem::path& chosen) {
    const std::filesystem::path path = withoutTrailingSlashes(chosen);
    const std::filesystem::path clean = std::filesystem::absolute(path).lexically_normal();
    if (clean == clean.root_path()) return {0, 0, 1, {}};  // never the whole file system
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    if (!S_ISDIR(st.st_mode)) return eraseFile(spawn, tool, path);
    EraseReport report = EraseFileDirectoryPath(spawn, tool, path);
    const RemoveReport rest = removeTree(path, Unlock::No);
    report.removed += rest.removed;
    report.failed += rest.failed;
    return report;
}

}  // namespace vaultry::trash
