#include "vault/StorageFolder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "platform/linux/FolderHandler.h"
#include "util/AtomicFile.h"
#include "util/Fd.h"
#include "util/Log.h"
#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"
#include "vault/CopyManifest.h"
#include "vault/Rekey.h"
#include "vault/StorageLock.h"
#include "vault/Temporaries.h"
#include "vault/VaultIdentity.h"

namespace vaultry::vault {

namespace fs = std::filesystem;

Status ensurePrivateFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) return fail("cannot create " + folder.string());
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    return {};
}

namespace {

std::string readNote(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec))) return {};
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The icon's name in versions that did not install it.
constexpr const char* kFormerFolderIconName = "vaultry-foldericns";
constexpr const char* kFolderEntry = ".directory";

bool folderIconInstalled() {
    const auto dirs = platform::XdgDirs::fromEnvironment();
    std::vector<fs::path> roots{dirs.dataHome};
    roots.insert(roots.end(), dirs.dataDirs.begin(), dirs.dataDirs.end());
    std::error_code ec;
    for (const auto& root : roots)
        if (fs::is_regular_file(
                root / "icons/hicolor/scalable/places" / (std::string(kFolderIconName) + ".svg"), ec))
            return true;
    return false;
}

std::string ourFolderEntry() { return std::string("[Desktop Entry]\nIcon=") + kFolderIconName + "\n"; }

// Our entry of an earlier version with the icon's name of now, every other line (a file manager's
// view settings) kept.
std::string withCurrentIconName(const std::string& text) {
    std::istringstream in(text);
    std::string out, group;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() == '[') group = line;
        std::string key = line.substr(0, line.find('='));
        key.erase(key.find_last_not_of(" \t") + 1);
        if (group == "[Desktop Entry]" && key == "Icon" && line.find('=') != std::string::npos)
            line = std::string("Icon=") + kFolderIconName;
        out += line + "\n";
    }
    return out;
}

// The entry for Dolphin: made where none is, brought up to date where it is ours, and left as it
// is where it is the user's.
Status writeFolderEntry(const fs::path& folder) {
    const fs::path entry = folder / kFolderEntry;
    std::error_code ec;
    if (fs::symlink_status(entry, ec).type() == fs::file_type::not_found) {
        auto made = createFileAtomically(entry, ourFolderEntry(), 0600);
        if (!made) return fail("folder icon: " + made.error().message);
        return {};
    }
    if (!isOurFolderEntry(entry)) return {};
    if (platform::readDesktopEntry(entry, kFolderEntry)->icon != kFolderIconName)
        if (auto st = writeFileAtomically(entry, withCurrentIconName(readNote(entry)), 0600); !st)
            return fail("folder icon: " + st.error().message);
    // Earlier versions wrote it readable by everyone.
    fs::permissions(entry, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ec);
    return {};
}

// GVfs keeps file metadata where it runs, and its metadata namespace is writable then; elsewhere
// (no gio, no GVfs, no session bus) there is nothing to set the icon in.
bool gvfsKeepsMetadata(const fs::path& folder, platform::Spawn& spawn) {
    const auto info = spawn.run("gio", {"info", "--query-writable", folder.string()});
    if (!info || info->exitCode != 0) return false;
    std::istringstream lines(info->out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string name;
        if (words >> name && name == "metadata") return true;
    }
    return false;
}

}  // namespace

bool isOurFolderEntry(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(file, ec))) return false;
    const auto entry = platform::readDesktopEntry(file, kFolderEntry);
    return entry && (entry->icon == kFolderIconName || entry->icon == kFormerFolderIconName);
}

Status giveFolderIcon(const fs::path& folder, platform::Spawn& spawn) {
    if (!folderIconInstalled()) return {};
    Status result = writeFolderEntry(folder);
    if (!gvfsKeepsMetadata(folder, spawn)) return result;
    const auto r = spawn.run("gio", {"set", folder.string(), "metadata::custom-icon-name", kFolderIconName});
    std::string failure;
    if (!r)
        failure = r.error().message;
    else if (r->exitCode != 0)
        failure = "gio set " + folder.string() + " failed" + (r->err.empty() ? "" : ": " + r->err);
    if (failure.empty()) return result;
    return fail(result ? "folder icon: " + failure : result.error().message + "; " + failure);
}

namespace {

constexpr const char* kMoveJournal = ".vaultry-move";
constexpr const char* kMoveMagic = "vaultry-move 1";

// What in a storage folder belongs to a running or cut-short operation rather than to the vault,
// and so is never carried to a new folder: the folder's own bookkeeping files and their
// atomic-write temporaries, the temporary files and folders its journal names, and the new
// copies of a password change. Everything else is carried, whatever its name looks like.
class Bookkeeping {
public:
    explicit Bookkeeping(const fs::path& folder) {
        for (const char* name :
             {StorageLock::kFileName, kRekeyJournal, kMoveJournal, kMovedMarker, kTemporariesFolder})
            names_.insert(name);
        // Our icon entry is written anew in the new folder; a user's is the user's and goes along.
        if (isOurFolderEntry(folder / kFolderEntry)) names_.insert(kFolderEntry);
        std::error_code ec;
        const fs::path real = fs::weakly_canonical(folder, ec);
        for (const auto& p : journaledTemporaries(folder))
            if (fs::weakly_canonical(p.parent_path(), ec) == real) names_.insert(p.filename().string());
        for (const auto& archive : archivesIn(folder)) names_.insert(archive.filename().string() + ".rekey");
        names_.insert(std::string(ArchiveManifest::kFileName) + ".rekey");
    }
    bool has(const std::string& name) const {
        if (names_.count(name)) return true;
        // writeFileAtomically's temporary of one of our files: ".<name>.XXXXXX"
        for (const char* own : {CopyManifest::kFileName, ArchiveManifest::kFileName, kFolderMarker,
                                kRekeyJournal, kMoveJournal}) {
            const std::string prefix = std::string(".") + own + ".";
            if (name.size() == prefix.size() + 6 && name.rfind(prefix, 0) == 0) return true;
        }
        return false;
    }

private:
    std::set<std::string> names_;
};

std::string hex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string unhex(std::string_view text) {
    std::string out;
    const auto value = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out += static_cast<char>(value(text[i]) * 16 + value(text[i + 1]));
    return out;
}

// One line more in the journal, on disk before the step it announces.
bool appendJournal(const fs::path& from, const std::string& line) {
    const int fd = ::open((from / kMoveJournal).c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const std::string text = line + "\n";
    const bool ok = writeAll(fd, text) && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool sameContent(const fs::path& a, const fs::path& b) {
    auto da = contentSha256(a), db = contentSha256(b);
    return da && db && *da == *db;
}

// The bytes of the files in `item`, links not followed.
std::uint64_t bytesIn(const fs::path& item) {
    std::error_code ec;
    const auto status = fs::symlink_status(item, ec);
    if (ec) return 0;
    if (fs::is_regular_file(status)) {
        const auto size = fs::file_size(item, ec);
        return ec ? 0 : size;
    }
    std::uint64_t total = 0;
    if (fs::is_directory(status))
        for (auto it = fs::recursive_directory_iterator(item, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (it->is_regular_file(ec) && !it->is_symlink(ec)) total += it->file_size(ec);
    return total;
}

// Copies a file, a link or a folder with all it holds to `dst`, which must not exist, keeping
// permissions; file contents are flushed to disk. The bytes go to `progress`, which may stop it.
Status copyItem(const fs::path& src, const fs::path& dst, Progress& progress) {
    struct stat st {};
    if (::lstat(src.c_str(), &st) != 0) return fail(std::strerror(errno));
    const mode_t mode = st.st_mode & 07777;
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        fs::create_symlink(fs::read_symlink(src, ec), dst, ec);
        if (ec) return fail(ec.message());
        return {};
    }
    if (S_ISDIR(st.st_mode)) {
        if (::mkdir(dst.c_str(), 0700) != 0) return fail(std::strerror(errno));
        std::error_code ec;
        std::vector<fs::path> names;
        for (const auto& e : fs::directory_iterator(src, ec)) names.push_back(e.path().filename());
        if (ec) return fail(ec.message());
        for (const auto& name : names)
            if (auto r = copyItem(src / name, dst / name, progress); !r) return r;
        if (::chmod(dst.c_str(), mode) != 0) return fail(std::strerror(errno));
        return {};
    }
    if (!S_ISREG(st.st_mode)) return fail("neither a file nor a folder");
    const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return fail(std::strerror(errno));
    const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int e = errno;
        ::close(in);
        return fail(std::strerror(e));
    }
    std::vector<char> buf(256 * 1024);
    Status result;
    for (;;) {
        const ssize_t r = ::read(in, buf.data(), buf.size());
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            result = fail(std::strerror(errno));
            break;
        }
        if (r == 0) break;
        if (!writeAll(out, buf.data(), static_cast<std::size_t>(r))) {
            result = fail(std::strerror(errno));
            break;
        }
        progress.add(static_cast<std::uint64_t>(r));
        if (progress.cancelled()) {
            result = cancelledError();
            break;
        }
    }
    if (result && (::fchmod(out, mode) != 0 || ::fsync(out) != 0)) result = fail(std::strerror(errno));
    ::close(in);
    ::close(out);
    return result;
}

struct Walk {
    Walk(const fs::path& from, const fs::path& to, const fs::path& staging)
        : from(from), to(to), staging(staging), ours(from) {}
    const fs::path& from;
    const fs::path& to;
    const fs::path& staging;
    Bookkeeping ours;
    std::vector<fs::path> toCopy;             // relative names, not in the new folder yet
    std::map<fs::path, std::string> toPlace;  // relative names, staged and verified: digest
    std::vector<std::string> refused;
    bool cancelled = false;

    void items(const fs::path& rel) {
        std::error_code ec;
        std::vector<fs::path> names;
        for (const auto& e : fs::directory_iterator(from / rel, ec)) names.push_back(e.path().filename());
        if (ec) refused.push_back((rel.empty() ? from.string() : rel.string()) + " (" + ec.message() + ")");
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            if (rel.empty() && ours.has(name.string())) continue;
            const fs::path item = rel / name;
            if (fs::symlink_status(to / item, ec).type() != fs::file_type::not_found) {
                if (item == "libdata" && fs::is_directory(to / item, ec) && fs::is_directory(from / item, ec))
                    items(item);
                else if (!sameContent(from / item, to / item))
                    refused.push_back(item.string() + " (a different item of this name is there already)");
                continue;
            }
            toCopy.push_back(item);
        }
    }

    void copy(Progress& progress) {
        std::uint64_t bytes = 0;
        for (const auto& item : toCopy) bytes += bytesIn(from / item);
        progress.begin("Copying the vault", bytes);
        std::vector<fs::path> copied;
        for (const auto& item : toCopy) {
            std::error_code ec;
            fs::create_directories((staging / item).parent_path(), ec);
            if (auto st = copyItem(from / item, staging / item, progress); !st) {
                if (st.error().cancelled) {
                    cancelled = true;
                    return;
                }
                refused.push_back(item.string() + " (" + st.error().message + ")");
            } else {
                copied.push_back(item);
            }
        }
        progress.begin("Checking the copies", copied.size(), Progress::Unit::items);
        for (const auto& item : copied) {
            if (progress.cancelled()) {
                cancelled = true;
                return;
            }
            auto was = contentSha256(from / item), now = contentSha256(staging / item);
            if (!was || !now || *was != *now)
                refused.push_back(item.string() + " (the copy differs from the original)");
            else
                toPlace[item] = *now;
            progress.add(1);
        }
        if (progress.cancelled()) cancelled = true;
    }

    // A decrypted folder is a new object in its new place, and the copy manifest knows copies by
    // the object that was unpacked: the staged manifest is told the new objects before it is placed.
    Status renewCopyIdentities() {
        const auto staged = toPlace.find(CopyManifest::kFileName);
        if (staged == toPlace.end()) return {};
        std::ifstream in(staging / CopyManifest::kFileName, std::ios::binary);
        CopyManifest manifest = CopyManifest::parse(
            std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
        bool renewed = false;
        for (const auto& record : manifest.records()) {
            const Identity* was = manifest.identity(record);
            if (!was) continue;
            for (const auto& [item, digest] : toPlace) {
                if (item.has_parent_path() || identityOf(from / item) != *was) continue;
                if (const auto now = identityOf(staging / item)) {
                    manifest.setIdentity(record, *now);
                    renewed = true;
                }
            }
        }
        if (!renewed) return {};
        if (auto st = writeFileAtomically(staging / CopyManifest::kFileName, manifest.serialize(), 0600); !st)
            return st;
        auto digest = contentSha256(staging / CopyManifest::kFileName);
        if (!digest) return digest.error();
        staged->second = *digest;
        return {};
    }
};

}  // namespace

bool isWithin(const fs::path& inner, const fs::path& outer) {
    std::error_code ec;
    const fs::path in = fs::weakly_canonical(inner, ec), out = fs::weakly_canonical(outer, ec);
    auto i = in.begin();
    for (auto o = out.begin(); o != out.end(); ++o, ++i) {
        if (o->empty()) continue;  // a trailing separator
        if (i == in.end() || *i != *o) return false;
    }
    return true;
}

Result<StorageMove> copyStorageForMove(const fs::path& from, const fs::path& to, Progress& progress) {
    std::error_code ec;
    if (isWithin(to, from)) {
        if (fs::equivalent(from, to, ec)) return StorageMove{};
        return fail("the new storage folder " + to.string() + " is inside the current one, " + from.string());
    }
    rollBackStorageMove(from);
    // A journal in the new folder is left from a move out of it that was complete.
    fs::remove(to / kMoveJournal, ec);
    const bool created = fs::symlink_status(to, ec).type() == fs::file_type::not_found;
    if (auto st =
            writeFileAtomically(from / kMoveJournal, std::string(kMoveMagic) + "\n" + hex(to.string()) +
                                                         "\n" + (created ? "created" : "existed") + "\n");
        !st)
        return fail("cannot write in " + from.string() + ": " + st.error().message);
    if (auto st = ensurePrivateFolder(to); !st) {
        rollBackStorageMove(from);
        return st.error();
    }
    // The staging folder is written down with the object it is once made, so that a rollback
    // removes only that folder, never one of the same name that was there before.
    fs::path staging;
    for (;;) {
        staging = to / (".vaultry-copy-" + randomSuffix());
        if (::mkdir(staging.c_str(), 0700) == 0) break;
        if (errno != EEXIST) {
            rollBackStorageMove(from);
            return fail("cannot write in " + to.string());
        }
    }
    const auto made = identityOf(staging);
    if (!made || !appendJournal(from, "staging " + hex(staging.filename().string()) + " " +
                                          std::to_string(made->dev) + ":" + std::to_string(made->ino))) {
        ::rmdir(staging.c_str());
        rollBackStorageMove(from);
        return fail("cannot write in " + from.string());
    }
    Walk walk{from, to, staging};
    walk.items({});
    if (walk.refused.empty()) walk.copy(progress);
    if (walk.cancelled) {
        rollBackStorageMove(from);
        return cancelledError();
    }
    if (walk.refused.empty())
        if (auto st = walk.renewCopyIdentities(); !st)
            walk.refused.push_back(std::string(CopyManifest::kFileName) + " (" + st.error().message + ")");
    if (!walk.refused.empty()) {
        std::string names;
        for (const auto& r : walk.refused) names += (names.empty() ? "" : ", ") + r;
        rollBackStorageMove(from);
        return fail("not every item could be copied: " + names);
    }
    for (const auto& [item, digest] : walk.toPlace) {
        if (!appendJournal(from, "placed " + hex(item.string()) + " " + digest) ||
            !renameNoReplace(staging / item, to / item)) {
            rollBackStorageMove(from);
            return fail("cannot move " + item.string() + " into " + to.string());
        }
    }
    fs::remove_all(staging, ec);
    StorageMove move;
    for (const auto& e : fs::directory_iterator(from, ec))
        if (!walk.ours.has(e.path().filename().string()))
            move.leftInOld.push_back(e.path().filename().string());
    std::sort(move.leftInOld.begin(), move.leftInOld.end());
    return move;
}

void finishStorageMove(const fs::path& from, const fs::path& to) {
    if (auto st = writeFileAtomically(from / kMovedMarker, to.string() + "\n", 0600); !st)
        logLine("storage move: " + st.error().message);
    std::error_code ec;
    // Moved back into a folder it once left: the note that move wrote goes (a file of ours only
    // when it names a storage folder).
    const std::string note = readNote(to / kMovedMarker);
    if (note.size() > 13 && note.compare(note.size() - 13, 13, "vaultry.data\n") == 0)
        fs::remove(to / kMovedMarker, ec);
    fs::remove(from / kMoveJournal, ec);
}

void rollBackStorageMove(const fs::path& from) {
    std::ifstream in(from / kMoveJournal);
    if (!in) return;
    std::string magic, target, created;
    std::getline(in, magic);
    std::getline(in, target);
    std::getline(in, created);
    std::error_code ec;
    if (magic == kMoveMagic && !target.empty()) {
        const fs::path to = unhex(target);
        // Only what this copy placed, and only while it is still what was placed.
        for (std::string line; std::getline(in, line);) {
            std::istringstream words(line);
            std::string key, name, digest;
            words >> key >> name >> digest;
            const fs::path item = unhex(name);
            if (item.empty() || item.is_absolute() || item.filename() == "..") continue;
            if (key == "staging") {
                const auto now = identityOf(to / item);
                if (now && digest == std::to_string(now->dev) + ":" + std::to_string(now->ino))
                    fs::remove_all(to / item, ec);
            } else if (key == "placed") {
                const auto now = contentSha256(to / item);
                // Journals of earlier versions name no digest: the original then tells.
                if (now && (digest.empty() ? sameContent(from / item, to / item) : *now == digest))
                    fs::remove_all(to / item, ec);
            }
        }
        if (created == "created") {
            // The folder the copy made goes too when nothing of anybody else's is in it.
            bool empty = true;
            for (const auto& e : fs::directory_iterator(to, ec)) {
                const std::string name = e.path().filename().string();
                if (name != StorageLock::kFileName && !(name == kFolderEntry && isOurFolderEntry(e.path())))
                    empty = false;
            }
            if (empty && !ec) fs::remove_all(to, ec);
        }
    }
    fs::remove(from / kMoveJournal, ec);
}

}  // namespace vaultry::vault
