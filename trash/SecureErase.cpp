#include "trash/SecureErase.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>

#include "util/Log.h"
#include "util/NoLinkPath.h"

namespace vaultry::trash {
namespace {

bool present(const std::filesystem::path& p) {
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0;
}

// A fresh random name of the same folder for path, or empty when none could be taken.
std::filesystem::path renameToRandom(const std::filesystem::path& path) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    for (int attempt = 0; attempt < 8; ++attempt) {
        char name[24];
        std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(rng()));
        const std::filesystem::path to = path.parent_path() / name;
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return to;
        if (errno != EEXIST) return {};
    }
    return {};
}

std::string readLine(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

EraseTool eraseToolForPasses(unsigned passes) {
    if (passes != 1) return defaultEraseTool();
    if (::access(kSrmProgram, X_OK) == 0) return {kSrmProgram, {"-l", "-l"}};
    return {kShredProgram, {"-u", "-n", "1", "-z"}};
}

std::string overwriteCaveat(const std::filesystem::path& path) {
    struct statfs fs {};
    if (::statfs(path.c_str(), &fs) == 0) {
        constexpr unsigned long kZfs = 0x2fc12fc1, kBcachefs = 0xca451a4e, kF2fs = 0xf2f52010;
        const auto type = static_cast<unsigned long>(fs.f_type);
        if (type == BTRFS_SUPER_MAGIC || type == kZfs || type == kBcachefs)
            return "it lies on a copy-on-write file system, which writes the new bytes elsewhere";
        if (type == kF2fs)
            return "it lies on a log-structured file system, which writes the new bytes elsewhere";
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    // /sys/dev/block/MAJ:MIN is the partition (or the whole disk); its disk says whether it spins.
    std::error_code ec;
    const std::filesystem::path dev = std::filesystem::canonical(
        "/sys/dev/block/" + std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev)), ec);
    if (ec) return {};
    for (const auto& disk : {dev, dev.parent_path()})
        if (const std::string r = readLine(disk / "queue" / "rotational"); !r.empty())
            return r == "0"
                       ? "it lies on a solid-state drive, whose controller writes the new bytes elsewhere"
                       : std::string();
    return {};
}

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
    // The name goes first, so that neither the tool's renames nor a failure leave it behind.
    std::filesystem::path target = renameToRandom(path);
    if (target.empty()) target = path;
    std::vector<std::string> args = tool.options;
    args.emplace_back("--");
    args.push_back(target.string());
    if (auto r = spawn.run(tool.program, args); !r) logLine("erase failed: " + r.error().message);
    if (present(target)) {
        ++report.failed;
        // Not erased: the file keeps its own name, so the user finds it where it was.
        if (target != path) ::renameat2(AT_FDCWD, target.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    } else {
        ++report.erased;
    }
    return report;
}

namespace {

dev_t deviceOfEntry(const DeviceOf& deviceOf, const std::filesystem::path& path, const struct stat& st) {
    return deviceOf ? deviceOf(path, st) : st.st_dev;
}

// The walk below a chosen folder that lies on file system `device`. Every entry but a folder goes
// to eraseFile (a regular file is overwritten, dot files too); a folder is walked and, with
// removeFolders, deleted once empty. Nothing on another file system is entered or deleted.
void eraseBelow(platform::Spawn& spawn, const EraseTool& tool, const std::filesystem::path& folder,
                dev_t device, const DeviceOf& deviceOf, bool removeFolders, Progress& progress,
                EraseReport& report) {
    std::error_code ec;
    std::vector<std::filesystem::path> entries;
    std::filesystem::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    if (ec) {
        // What cannot be listed cannot be overwritten: said, never passed over in silence.
        ++report.failed;
        report.refusals.push_back(folder.string() +
                                  ": not erased, the folder cannot be read: " + ec.message());
        return;
    }
    for (const auto& entry : entries) {
        struct stat st {};
        if (::lstat(entry.c_str(), &st) != 0) continue;
        if (deviceOfEntry(deviceOf, entry, st) != device) {
            logLine("erase: another file system is mounted at " + entry.string() + "; left alone");
            report.otherFileSystems.push_back(entry.string());
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            eraseBelow(spawn, tool, entry, device, deviceOf, removeFolders, progress, report);
            if (report.cancelled) break;
            if (!removeFolders) continue;
            if (::rmdir(entry.c_str()) == 0)
                ++report.removed;
            else if (errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT)
                ++report.failed;  // a folder that is not empty keeps what was counted already
            continue;
        }
        // Looked at before each file only: a folder whose files are all erased is finished.
        if (progress.cancelled()) {
            report.cancelled = true;
            break;
        }
        report += eraseFile(spawn, tool, entry);
        progress.add(1);
    }
}

std::size_t unitsBelow(const std::filesystem::path& folder, dev_t device, const DeviceOf& deviceOf) {
    std::size_t n = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || deviceOfEntry(deviceOf, it->path(), st) != device)
            continue;
        n += S_ISDIR(st.st_mode) ? unitsBelow(it->path(), device, deviceOf) : 1;
    }
    return n;
}

EraseReport refused(const Error& why) {
    logLine("erase: " + why.message);
    EraseReport report;
    report.failed = 1;
    report.refusals.push_back(why.message);
    return report;
}

}  // namespace

EraseReport EraseFileDirectoryPath(platform::Spawn& spawn, const EraseTool& tool,
                                   const std::filesystem::path& chosen, Progress& progress,
                                   const DeviceOf& deviceOf) {
    const auto folder = pathWithoutLinks(chosen.string());
    if (!folder) return refused(folder.error());
    EraseReport report;
    struct stat st {};
    if (::lstat(folder->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return report;
    eraseBelow(spawn, tool, *folder, deviceOfEntry(deviceOf, *folder, st), deviceOf, false, progress, report);
    return report;
}

std::size_t eraseUnits(const std::filesystem::path& chosen, const DeviceOf& deviceOf) {
    const auto path = pathWithoutLinks(chosen.string());
    struct stat st {};
    if (!path || ::lstat(path->c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return 1;
    return unitsBelow(*path, deviceOfEntry(deviceOf, *path, st), deviceOf);
}

EraseReport eraseItem(platform::Spawn& spawn, const EraseTool& tool, const std::filesystem::path& chosen,
                      Progress& progress, const DeviceOf& deviceOf) {
    const auto resolved = pathWithoutLinks(chosen.string());
    if (!resolved) return refused(resolved.error());
    const std::filesystem::path& path = *resolved;
    if (path == path.root_path()) {  // never the whole file system
        EraseReport report;
        report.failed = 1;
        return report;
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    if (progress.cancelled()) {
        EraseReport report;
        report.cancelled = true;
        return report;
    }
    if (!S_ISDIR(st.st_mode)) {
        EraseReport report = eraseFile(spawn, tool, path);
        progress.add(1);
        return report;
    }
    EraseReport report;
    eraseBelow(spawn, tool, path, deviceOfEntry(deviceOf, path, st), deviceOf, true, progress, report);
    if (report.cancelled) return report;  // the folder keeps what was not reached
    if (::rmdir(path.c_str()) == 0)
        ++report.removed;
    else if (errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT)
        ++report.failed;
    return report;
}

EraseRun eraseItems(platform::Spawn& spawn, const EraseTool& tool, const std::vector<std::string>& items,
                    Progress& progress, const DeviceOf& deviceOf) {
    std::size_t total = 0;
    std::vector<bool> there;
    for (const auto& item : items) {
        total += eraseUnits(item, deviceOf);
        there.push_back(present(withoutTrailingSlashes(item)));
    }
    progress.begin("Erasing", total, Progress::Unit::items);
    EraseRun run;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::filesystem::path path = withoutTrailingSlashes(items[i]);
        if (run.report.cancelled) {
            if (there[i]) run.left.push_back(items[i]);
            continue;
        }
        const std::size_t before = run.report.erased + run.report.removed;
        const EraseReport r = eraseItem(spawn, tool, items[i], progress, deviceOf);
        if (!r.ok()) run.failing.push_back(items[i]);
        run.report += r;
        if (!there[i]) continue;  // missing from the start: neither erased nor left
        if (present(path)) {
            run.left.push_back(items[i]);
            if (run.report.erased + run.report.removed > before) run.partial.push_back(items[i]);
        } else {
            run.gone.push_back(items[i]);
        }
    }
    return run;
}

}  // namespace vaultry::trash
