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

#include "util/AtomicFile.h"
#include "vault/Archive.h"
#include "vault/CopyManifest.h"
#include "vault/StorageLock.h"

namespace vaultry::vault {

namespace fs = std::filesystem;

Status ensurePrivateFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) return fail("cannot create " + folder.string());
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    return {};
}

Status giveFolderIcon(const fs::path& folder, platform::Spawn& spawn) {
    const fs::path entry = folder / ".directory";
    const std::string text = "[Desktop Entry]\nIcon=vaultry-foldericns\n";
    std::error_code ec;
    if (!fs::exists(entry, ec)) {
        if (auto st = writeFileAtomically(entry, text, 0600); !st) return st;
    } else if (fs::is_regular_file(fs::symlink_status(entry, ec))) {
        // Earlier versions wrote it readable by everyone; only our own entry is made private.
        std::ifstream in(entry, std::ios::binary);
        std::string there((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (there == text)
            fs::permissions(entry, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                            ec);
    }
    const auto r =
        spawn.run("gio", {"set", folder.string(), "metadata::custom-icon-name", "vaultry-foldericns"});
    if (!r) return fail("folder icon: " + r.error().message);
    if (r->exitCode != 0)
        return fail("folder icon: gio set " + folder.string() + " failed" +
                    (r->err.empty() ? "" : ": " + r->err));
    return {};
}

namespace {

constexpr const char* kMoveJournal = ".vaultry-move";
constexpr const char* kMoveMagic = "vaultry-move 1";

// Names that belong to a running operation, not to the vault: never carried to a new folder.
bool transient(const std::string& name) {
    for (const char* prefix : {".vaultry-lock", ".vaultry-rekey", ".vaultry-move", ".vaultry-unpack-",
                               ".vaultry-copy-", ".vaultry-copies.tmp", ".vaultry-temporaries"})
        if (name.rfind(prefix, 0) == 0) return true;
    if (name.rfind("..vaultry-", 0) == 0) return true;  // the temporary file of a journal's write
    return name == ".directory" || name.find(".part-") != std::string::npos ||
           fs::path(name).extension() == ".rekey";
}

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
    const bool ok =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool sameContent(const fs::path& a, const fs::path& b) {
    auto da = copyDigest(a), db = copyDigest(b);
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
        for (ssize_t done = 0; done < r;) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<std::size_t>(r - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                result = fail(std::strerror(errno));
                break;
            }
            done += w;
        }
        if (!result) break;
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
    const fs::path& from;
    const fs::path& to;
    const fs::path& staging;
    std::vector<fs::path> toCopy;   // relative names, not in the new folder yet
    std::vector<fs::path> toPlace;  // relative names, staged and verified
    std::vector<std::string> refused;
    bool cancelled = false;

    void items(const fs::path& rel) {
        std::error_code ec;
        std::vector<fs::path> names;
        for (const auto& e : fs::directory_iterator(from / rel, ec)) names.push_back(e.path().filename());
        if (ec) refused.push_back((rel.empty() ? from.string() : rel.string()) + " (" + ec.message() + ")");
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            if (transient(name.string())) continue;
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
            if (!sameContent(from / item, staging / item))
                refused.push_back(item.string() + " (the copy differs from the original)");
            else
                toPlace.push_back(item);
            progress.add(1);
        }
        if (progress.cancelled()) cancelled = true;
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
    finishStorageMove(to);
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
    std::string tmp = (to / ".vaultry-copy-XXXXXX").string();
    if (!::mkdtemp(tmp.data())) {
        rollBackStorageMove(from);
        return fail("cannot write in " + to.string());
    }
    const fs::path staging = tmp;
    Walk walk{from, to, staging, {}, {}, {}, false};
    walk.items({});
    if (walk.refused.empty()) walk.copy(progress);
    if (walk.cancelled) {
        rollBackStorageMove(from);
        return cancelledError();
    }
    if (!walk.refused.empty()) {
        std::string names;
        for (const auto& r : walk.refused) names += (names.empty() ? "" : ", ") + r;
        rollBackStorageMove(from);
        return fail("not every item could be copied: " + names);
    }
    for (const auto& item : walk.toPlace) {
        if (!appendJournal(from, "placed " + hex(item.string())) ||
            !renameNoReplace(staging / item, to / item)) {
            rollBackStorageMove(from);
            return fail("cannot move " + item.string() + " into " + to.string());
        }
    }
    fs::remove_all(staging, ec);
    StorageMove move;
    for (const auto& e : fs::directory_iterator(from, ec))
        if (!transient(e.path().filename().string())) move.leftInOld.push_back(e.path().filename().string());
    std::sort(move.leftInOld.begin(), move.leftInOld.end());
    return move;
}

void finishStorageMove(const fs::path& from) {
    std::error_code ec;
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
        // Only what this copy placed, and only while it still equals its original.
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("placed ", 0) != 0) continue;
            const fs::path item = unhex(line.substr(7));
            if (sameContent(from / item, to / item)) fs::remove_all(to / item, ec);
        }
        for (const auto& e : fs::directory_iterator(to, ec))
            if (e.path().filename().string().rfind(".vaultry-copy-", 0) == 0) fs::remove_all(e.path(), ec);
        if (created == "created") {
            // The folder the copy made goes too when nothing of anybody else's is in it.
            bool empty = true;
            for (const auto& e : fs::directory_iterator(to, ec)) {
                const std::string name = e.path().filename().string();
                if (name != ".directory" && name != StorageLock::kFileName) empty = false;
            }
            if (empty && !ec) fs::remove_all(to, ec);
        }
    }
    fs::remove(from / kMoveJournal, ec);
}

}  // namespace vaultry::vault
