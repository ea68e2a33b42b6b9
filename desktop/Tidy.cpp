#include "desktop/Tidy.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <system_error>

#include "util/AtomicFile.h"
#include "vault/SafeRemoval.h"
#include "vault/VaultIdentity.h"

namespace vaultry::tidy {
namespace fs = std::filesystem;

namespace {

std::string errnoText(int err) { return std::generic_category().message(err); }

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Copies a regular file's bytes into a new file (never an existing one) and flushes it. Asked to
// cancel, it stops at the next buffer (the caller removes what was copied).
bool copyFileContent(const std::string& from, const std::string& to, mode_t mode, std::string& why,
                     Progress& progress) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0) return why = from + ": " + errnoText(errno), false;
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 07777);
    if (out < 0) {
        why = to + ": " + errnoText(errno);
        ::close(in);
        return false;
    }
    std::vector<char> buf(1 << 20);
    bool ok = true;
    for (;;) {
        progress.add(0);  // lets a watcher pass on a request to stop
        if (progress.cancelled()) {
            ok = false, why = from + ": cancelled";
            break;
        }
        const ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false, why = from + ": " + errnoText(errno);
            break;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buf.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                ok = false, why = to + ": " + errnoText(errno);
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    if (ok && ::fchmod(out, mode & 07777) != 0)
        ok = false, why = to + ": " + errnoText(errno);  // past the umask
    if (ok && ::fsync(out) != 0) ok = false, why = to + ": " + errnoText(errno);
    if (::close(out) != 0 && ok) ok = false, why = to + ": " + errnoText(errno);
    ::close(in);
    return ok;
}

bool sameContent(const std::string& a, const std::string& b) {
    const int fa = ::open(a.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    const int fb = ::open(b.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    bool same = fa >= 0 && fb >= 0;
    std::vector<char> ba(1 << 20), bb(1 << 20);
    while (same) {
        const ssize_t na = ::read(fa, ba.data(), ba.size());
        if (na < 0) {
            same = false;
            break;
        }
        ssize_t nb = 0;
        while (nb < na) {  // read exactly as much from the copy
            const ssize_t r = ::read(fb, bb.data() + nb, static_cast<size_t>(na - nb));
            if (r <= 0) break;
            nb += r;
        }
        if (nb != na || std::memcmp(ba.data(), bb.data(), static_cast<size_t>(na)) != 0) same = false;
        if (na == 0) {
            char extra;
            if (same && ::read(fb, &extra, 1) != 0) same = false;
            break;
        }
    }
    if (fa >= 0) ::close(fa);
    if (fb >= 0) ::close(fb);
    return same;
}

void copyTimes(const struct stat& st, const std::string& to) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

bool copyTree(const std::string& from, const std::string& to, std::string& why, Progress& progress) {
    if (progress.cancelled()) return why = from + ": cancelled", false;
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return why = from + ": " + errnoText(errno), false;
    if (S_ISLNK(st.st_mode)) {
        std::error_code ec;
        const auto target = fs::read_symlink(from, ec);
        if (!ec) fs::create_symlink(target, to, ec);
        if (ec) return why = from + ": " + ec.message(), false;
    } else if (S_ISREG(st.st_mode)) {
        if (!copyFileContent(from, to, st.st_mode, why, progress)) return false;
    } else if (S_ISDIR(st.st_mode)) {
        if (::mkdir(to.c_str(), 0700) != 0) return why = to + ": " + errnoText(errno), false;
        std::error_code ec;
        fs::directory_iterator it(from, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (!copyTree(from + "/" + name, to + "/" + name, why, progress)) return false;
        }
        if (ec) return why = from + ": " + ec.message(), false;
        ::chmod(to.c_str(), st.st_mode & 07777);
    } else {
        return why = from + ": a special file cannot be moved to another file system", false;
    }
    copyTimes(st, to);
    return true;
}

bool sameTree(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    if (::lstat(a.c_str(), &sa) != 0 || ::lstat(b.c_str(), &sb) != 0) return false;
    if ((sa.st_mode & S_IFMT) != (sb.st_mode & S_IFMT)) return false;
    std::error_code ea, eb;
    if (S_ISLNK(sa.st_mode)) return fs::read_symlink(a, ea) == fs::read_symlink(b, eb) && !ea && !eb;
    if (S_ISREG(sa.st_mode)) return sa.st_size == sb.st_size && sameContent(a, b);
    if (!S_ISDIR(sa.st_mode)) return false;
    std::set<std::string> na, nb;
    for (fs::directory_iterator it(a, ea), end; !ea && it != end; it.increment(ea))
        na.insert(it->path().filename().string());
    for (fs::directory_iterator it(b, eb), end; !eb && it != end; it.increment(eb))
        nb.insert(it->path().filename().string());
    if (ea || eb || na != nb) return false;
    for (const auto& name : na)
        if (!sameTree(a + "/" + name, b + "/" + name)) return false;
    return true;
}

std::string temporaryName(const std::string& to) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    const fs::path p(to);
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(rng()));
    return (p.parent_path() / (".vaultry-move-" + std::string(suffix))).string();
}

// Renames without replacing; false with errno set when it did not happen.
bool renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: check first (a small window remains).
    if (exists(to)) return errno = EEXIST, false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

std::string storageFolder(const std::string& storelocation) {
    if (storelocation.empty()) return {};
    return (fs::path(storelocation) / "com.Quenmark.sortello").string();
}

MoveResult moveItem(const std::string& from, const std::string& to, Progress& progress) {
    if (!exists(from)) return {MoveError::Vanished, from + ": no longer there"};
    if (exists(to)) return {MoveError::NameTaken, to + ": an item of that name is already there"};
    if (renameNoReplace(from, to)) return {};
    const int err = errno;
    if (err == EEXIST || err == ENOTEMPTY)
        return {MoveError::NameTaken, to + ": an item of that name is already there"};
    if (err == ENOENT && !exists(from)) return {MoveError::Vanished, from + ": no longer there"};
    if (err == EXDEV) return copyThenDelete(from, to, {}, progress);
    return {MoveError::Failed, from + ": " + errnoText(err)};
}

// Used when the destination lies on another file system: the original goes only after a
// complete, flushed copy has compared equal to it.
MoveResult copyThenDelete(const std::string& from, const std::string& to,
                          const std::function<void()>& afterCopy, Progress& progress) {
    const std::string temp = temporaryName(to);
    std::string why;
    std::error_code ec;
    // What the original looks like before the copy starts: it is deleted only if it still does.
    const auto before = vault::takeSnapshot(from);
    if (!before) return {MoveError::Failed, before.error().message};
    const auto cancelled = [&] {
        fs::remove_all(temp, ec);
        return MoveResult{MoveError::Cancelled, from + ": cancelled; it was left where it is"};
    };
    if (!copyTree(from, temp, why, progress)) {
        if (progress.cancelled()) return cancelled();
        fs::remove_all(temp, ec);
        return {MoveError::Failed, why};
    }
    if (progress.cancelled()) return cancelled();
    if (!sameTree(from, temp)) {
        fs::remove_all(temp, ec);
        return {MoveError::Failed, from + ": the copy did not match the original"};
    }
    if (!renameNoReplace(temp, to)) {
        const int err = errno;
        fs::remove_all(temp, ec);
        if (err == EEXIST || err == ENOTEMPTY)
            return {MoveError::NameTaken, to + ": an item of that name is already there"};
        return {MoveError::Failed, to + ": " + errnoText(err)};
    }
    if (afterCopy) afterCopy();
    std::optional<fs::path> leftover;
    if (auto st = vault::removeWhole(from, &*before, &leftover); !st) {
        // Changed while it was copied (a file written into it meanwhile), or not removable: the
        // original stays as it is and the copy, now incomplete or a duplicate, goes.
        fs::remove_all(to, ec);
        return {MoveError::Failed, st.error().message + "; it was left where it is"};
    }
    return {};
}

std::vector<std::string> visibleNames(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!name.empty() && name[0] != '.') names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

// The path with links, "." and ".." and trailing slashes resolved as far as it exists.
fs::path resolved(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) return {};
    if (!p.has_filename() && p != p.root_path()) p = p.parent_path();  // "/home/u/" → "/home/u"
    return p;
}

// True when `outer` is `inner` or one of its ancestors.
bool holds(const fs::path& outer, const fs::path& inner) {
    if (outer.empty() || inner.empty()) return false;
    const auto [end, rest] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
    return end == outer.end();
}

}  // namespace

std::string desktopRefusal(const std::string& desktop, const std::string& home,
                           const std::string& storelocation, const std::string& settingsFolder) {
    const fs::path d = resolved(desktop);
    if (d.empty()) return "the desktop folder " + desktop + " cannot be resolved";
    const std::string why = "the desktop folder " + desktop + " resolves to ";
    if (d == d.root_path()) return why + "the root folder; nothing was moved";
    if (!home.empty() && d == resolved(home)) return why + "the home folder; nothing was moved";
    if (!storelocation.empty() && holds(d, resolved(storelocation)))
        return why + d.string() + ", which holds the storage location " + storelocation +
               "; nothing was moved";
    if (!settingsFolder.empty() && holds(d, resolved(settingsFolder)))
        return why + d.string() + ", which holds the settings folder " + settingsFolder +
               "; nothing was moved";
    return {};
}

bool isExcluded(std::string_view name, const std::vector<std::string>& patterns) {
    const std::string n(name);
    for (const auto& p : patterns)
        if (!p.empty() && ::fnmatch(p.c_str(), n.c_str(), 0) == 0) return true;
    return false;
}

namespace {

// Names and paths in the log: "%", line breaks and carriage returns as %XX, nothing else.
std::string logEncode(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '%')
            out += "%25";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out += c;
    }
    return out;
}

std::string logDecode(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const std::string_view code = text.substr(i + 1, 2);
            if (code == "25" || code == "0A" || code == "0D") {
                out += code == "25" ? '%' : code == "0A" ? '\n' : '\r';
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

constexpr std::string_view kLogHeader = "vaultry-tidy-log 1";

std::optional<std::string> readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

constexpr std::string_view kJournalHeader = "vaultry-tidy-journal 1";

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// The journal of the tidy under way: opened at its first move, each entry on disk before the move
// it announces is made.
class Journal {
public:
    ~Journal() { close(); }
    bool isOpen() const { return fd_ >= 0; }
    Status open(const std::string& tidyFolder, const std::string& desktop) {
        const fs::path path = fs::path(tidyFolder) / kJournalName;
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0)
            return fail("the tidy journal " + path.string() + " cannot be created: " + errnoText(errno));
        const std::string head = std::string(kJournalHeader) + "\ndesktop=" + logEncode(desktop) + "\n";
        if (!writeAll(fd_, head) || ::fsync(fd_) != 0)
            return fail("the tidy journal " + path.string() + " cannot be written: " + errnoText(errno));
        // The journal's name must outlive a crash too.
        const int folder = ::open(tidyFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            ::fsync(folder);
            ::close(folder);
        }
        return {};
    }
    // One move to be made: the item's device and inode tell later whether it happened.
    Status add(const struct stat& st, const std::string& name) {
        const std::string line = "move " + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " +
                                 logEncode(name) + "\n";
        if (!writeAll(fd_, line) || ::fdatasync(fd_) != 0)
            return fail("the tidy journal cannot be written: " + errnoText(errno));
        return {};
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct JournalEntry {
    unsigned long long dev = 0, ino = 0;
    std::string name;
};

// The desktop and the entries of a journal; a line cut short by a crash (no line break yet) is
// an entry whose move never started.
std::optional<std::pair<std::string, std::vector<JournalEntry>>> parseJournal(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        if (eol == std::string_view::npos) break;
        lines.push_back(text.substr(0, eol));
        text = text.substr(eol + 1);
    }
    if (lines.size() < 2 || lines[0] != kJournalHeader || !lines[1].starts_with("desktop="))
        return std::nullopt;
    std::pair<std::string, std::vector<JournalEntry>> out{logDecode(lines[1].substr(8)), {}};
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (!line.starts_with("move ")) continue;
        line.remove_prefix(5);
        JournalEntry e;
        const auto number = [&](unsigned long long& v) {
            const auto sp = line.find(' ');
            if (sp == std::string_view::npos || sp == 0) return false;
            try {
                std::size_t used = 0;
                v = std::stoull(std::string(line.substr(0, sp)), &used);
                if (used != sp) return false;
            } catch (...) {
                return false;
            }
            line.remove_prefix(sp + 1);
            return true;
        };
        if (!number(e.dev) || !number(e.ino)) continue;
        e.name = logDecode(line);
        if (isPlainName(e.name)) out.second.push_back(std::move(e));
    }
    return out;
}

}  // namespace

Status recoverJournal(const std::string& tidyFolder) {
    const fs::path journalPath = fs::path(tidyFolder) / kJournalName;
    const auto text = readText(journalPath.string());
    if (!text) return {};
    const auto journal = parseJournal(*text);
    if (!journal) return fail("the tidy journal " + journalPath.string() + " cannot be read");
    const auto& [desktop, entries] = *journal;
    MoveLog log{desktop, {}};
    for (const auto& e : entries) {
        struct stat there {
        }, original{};
        if (::lstat((fs::path(tidyFolder) / e.name).c_str(), &there) != 0) continue;  // never arrived
        // The original still on the desktop: the move did not happen (or its copy was not
        // finished with), and what is in the tidy folder under that name is not this move's.
        if (::lstat((fs::path(desktop) / e.name).c_str(), &original) == 0 && original.st_dev == e.dev &&
            original.st_ino == e.ino)
            continue;
        if (std::find(log.names.begin(), log.names.end(), e.name) == log.names.end())
            log.names.push_back(e.name);
    }
    // The interrupted tidy is the last one when it moved something; else the one before stays.
    if (!log.names.empty())
        if (auto st = writeFileAtomically(fs::path(tidyFolder) / kMoveLogName, formatMoveLog(log)); !st)
            return st;
    if (::unlink(journalPath.c_str()) != 0 && errno != ENOENT)
        return fail("cannot remove " + journalPath.string() + ": " + errnoText(errno));
    return {};
}

std::string formatMoveLog(const MoveLog& log) {
    std::string out(kLogHeader);
    out += "\ndesktop=" + logEncode(log.desktop) + "\n";
    for (const auto& n : log.names) out += logEncode(n) + "\n";
    return out;
}

std::optional<MoveLog> parseMoveLog(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        lines.push_back(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    }
    if (lines.size() < 2 || lines[0] != kLogHeader || !lines[1].starts_with("desktop=")) return std::nullopt;
    MoveLog log;
    log.desktop = logDecode(lines[1].substr(8));
    if (log.desktop.empty()) return std::nullopt;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        std::string name = logDecode(lines[i]);
        if (isPlainName(name)) log.names.push_back(std::move(name));
    }
    return log;
}

namespace {

// A cancelled tidy: the items it moved go back to the desktop, last first. An item that cannot go
// back (its name was taken on the desktop meanwhile, or the move fails) is added to the move log,
// so that Undo Last Tidy finds it, and named in the error.
Result<TidyOutcome> putBack(const std::string& desktop, const std::string& tidyFolder,
                            const std::vector<std::string>& moved, Progress& progress) {
    progress.begin("Putting the Desktop back", moved.size(), Progress::Unit::items);
    std::vector<std::string> stayed, why;
    for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
        const MoveResult r =
            moveItem((fs::path(tidyFolder) / *it).string(), (fs::path(desktop) / *it).string());
        if (!r.ok() && r.error != MoveError::Vanished) {
            stayed.push_back(*it);
            why.push_back(r.message);
        }
        progress.add(1);
    }
    if (stayed.empty()) return cancelledError();
    const fs::path logPath = fs::path(tidyFolder) / kMoveLogName;
    MoveLog log{desktop, {}};
    if (const auto text = readText(logPath.string()))
        if (auto earlier = parseMoveLog(*text); earlier && earlier->desktop == desktop)
            log = std::move(*earlier);
    log.names.insert(log.names.end(), stayed.rbegin(), stayed.rend());
    std::string message = "the tidy was cancelled, but " + std::to_string(stayed.size()) +
                          (stayed.size() == 1 ? " item" : " items") +
                          " could not be moved back and stay in the tidy folder:";
    for (const auto& w : why) message += " " + w + ";";
    message.pop_back();
    if (auto st = writeFileAtomically(logPath, formatMoveLog(log)); !st)
        message += " (the move log could not be written: " + st.error().message + ")";
    return fail(message);
}

}  // namespace

Result<TidyOutcome> tidyDesktop(const std::string& desktop, const std::string& tidyFolder,
                                const TidyOptions& options, Progress& progress) {
    if (tidyFolder.empty()) return fail("no storage location is set");
    std::error_code ec;
    const bool hadFolder = fs::exists(tidyFolder, ec);
    if (!options.dryRun) {
        // Only the tidy folder itself is made: its location missing is a drive that is not there.
        if (!fs::is_directory(fs::path(tidyFolder).parent_path(), ec))
            return fail(vault::tidyFolderUnavailable(tidyFolder));
        if (!hadFolder) {
            fs::create_directory(tidyFolder, ec);
            fs::permissions(tidyFolder, fs::perms::owner_all, fs::perm_options::replace, ec);
        }
        if (!fs::is_directory(tidyFolder, ec))
            return fail("cannot create the tidy folder " + tidyFolder + ": " + ec.message());
        // A tidy killed half-way becomes the tidy before this one.
        if (auto st = recoverJournal(tidyFolder); !st) return fail(st.error().message);
    }
    // The storage location may lie on the desktop (or be the desktop): the entry holding the
    // tidy folder stays where it is.
    const fs::path target = fs::weakly_canonical(tidyFolder, ec);
    const auto holdsTarget = [&](const std::string& from) {
        std::error_code e;
        const fs::path p = fs::weakly_canonical(from, e);
        if (e || target.empty()) return false;
        const auto [end, rest] = std::mismatch(p.begin(), p.end(), target.begin(), target.end());
        return end == p.end();
    };
    TidyOutcome out;
    MoveLog log{desktop, {}};
    Journal journal;
    std::size_t intents = 0;
    const fs::path journalPath = fs::path(tidyFolder) / kJournalName;
    const std::vector<std::string> names = visibleNames(desktop);
    progress.begin("Tidying the Desktop", names.size(), Progress::Unit::items);
    for (const auto& name : names) {
        if (progress.cancelled()) break;
        const std::string from = (fs::path(desktop) / name).string();
        const std::string to = (fs::path(tidyFolder) / name).string();
        if (holdsTarget(from)) {
            progress.add(1);
            continue;
        }
        if (isExcluded(name, options.exclusions) ||
            std::find(options.keep.begin(), options.keep.end(), name) != options.keep.end()) {
            out.excluded.push_back(name);
            progress.add(1);
            continue;
        }
        if (options.dryRun) {
            if (exists(to))
                out.failed.push_back({name, to + ": an item of that name is already there"});
            else
                out.moved.push_back(to);
            progress.add(1);
            continue;
        }
        if (exists(to)) {
            out.failed.push_back({name, to + ": an item of that name is already there"});
            progress.add(1);
            continue;
        }
        struct stat st {};
        if (::lstat(from.c_str(), &st) != 0) {  // vanished meanwhile
            progress.add(1);
            continue;
        }
        // The entry is on disk before the move: a kill after it leaves a journal that says
        // exactly what may have moved.
        Status written = journal.isOpen() ? Status{} : journal.open(tidyFolder, desktop);
        if (written) written = journal.add(st, name);
        if (!written) {
            out.failed.push_back({name, written.error().message + "; the tidy stopped before moving it"});
            break;
        }
        if (options.onStep) options.onStep("intent", ++intents);
        const MoveResult r = moveItem(from, to, progress);
        if (r.ok()) {
            out.moved.push_back(to);
            log.names.push_back(name);
            if (options.onStep) options.onStep("moved", log.names.size());
        } else if (r.error == MoveError::Cancelled) {
            break;
        } else if (r.error != MoveError::Vanished) {
            out.failed.push_back({name, r.message});
        }
        progress.add(1);
    }
    if (progress.cancelled()) {
        if (options.dryRun) return cancelledError();
        auto back = putBack(desktop, tidyFolder, log.names, progress);
        // What could not go back is in the move log now; the journal has nothing more to say.
        journal.close();
        ::unlink(journalPath.c_str());
        if (!hadFolder) fs::remove(tidyFolder, ec);  // made by this run, and empty again
        return back;
    }
    if (options.dryRun) return out;
    journal.close();
    // A tidy that moved nothing keeps the log of the one before, which is still the last to undo.
    if (!log.names.empty())
        if (auto st = writeFileAtomically(fs::path(tidyFolder) / kMoveLogName, formatMoveLog(log)); !st) {
            // The journal stays: undo still finds every move in it.
            out.failed.push_back({kMoveLogName, "the move log could not be written: " + st.error().message});
            return out;
        }
    ::unlink(journalPath.c_str());
    return out;
}

Result<UndoOutcome> undoLastTidy(const std::string& tidyFolder) {
    if (tidyFolder.empty()) return fail("no storage location is set");
    if (auto st = recoverJournal(tidyFolder); !st) return fail(st.error().message);
    const std::string logPath = (fs::path(tidyFolder) / kMoveLogName).string();
    const auto text = readText(logPath);
    if (!text) return fail("there is no tidy to undo");
    const auto log = parseMoveLog(*text);
    if (!log) return fail("the move log " + logPath + " cannot be read");
    UndoOutcome out;
    MoveLog rest{log->desktop, {}};
    for (const auto& name : log->names) {
        const MoveResult r =
            moveItem((fs::path(tidyFolder) / name).string(), (fs::path(log->desktop) / name).string());
        if (r.ok()) {
            out.restored.push_back(name);
        } else if (r.error == MoveError::NameTaken) {
            out.taken.push_back(name);
        } else if (r.error == MoveError::Vanished) {
            out.missing.push_back(name);
        } else {
            out.failed.push_back({name, r.message});
            rest.names.push_back(name);
        }
    }
    std::error_code ec;
    if (rest.names.empty()) {
        fs::remove(logPath, ec);
        if (ec) return fail("cannot remove " + logPath + ": " + ec.message());
    } else if (auto st = writeFileAtomically(logPath, formatMoveLog(rest)); !st) {
        return fail(st.error().message);
    }
    return out;
}

std::optional<std::pair<int, int>> parseHourMinute(std::string_view text) {
    if (text.size() != 5 || text[2] != ':') return std::nullopt;
    const auto digit = [&](std::size_t i) { return text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -100; };
    const int h = digit(0) * 10 + digit(1), m = digit(3) * 10 + digit(4);
    if (h < 0 || h > 23 || m < 0 || m > 59) return std::nullopt;
    return std::pair{h, m};
}

std::chrono::system_clock::time_point lastScheduledMoment(std::chrono::system_clock::time_point now, int hour,
                                                          int minute) {
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm tm{};
    localtime_r(&t, &tm);
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = 0;
    tm.tm_isdst = -1;
    std::time_t at = std::mktime(&tm);
    if (at > t) {
        localtime_r(&t, &tm);
        tm.tm_mday -= 1;  // yesterday at the same wall-clock time, across month ends and DST
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = 0;
        tm.tm_isdst = -1;
        at = std::mktime(&tm);
    }
    return std::chrono::system_clock::from_time_t(at);
}

bool autoTidyDue(std::optional<std::chrono::system_clock::time_point> lastRun,
                 std::chrono::system_clock::time_point now, int hour, int minute) {
    return lastRun && *lastRun < lastScheduledMoment(now, hour, minute);
}

bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

bool nameContains(std::string_view name, std::string_view text) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return std::search(name.begin(), name.end(), text.begin(), text.end(),
                       [&](char a, char b) { return lower(a) == lower(b); }) != name.end();
}

FileNodes filterByName(const FileNodes& nodes, std::string_view text) {
    FileNodes out;
    for (const auto& n : nodes)
        if (nameContains(n->fileName(), text)) out.push_back(n);
    return out;
}

}  // namespace vaultry::tidy
