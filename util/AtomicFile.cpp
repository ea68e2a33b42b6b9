#include "util/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "util/Fd.h"

namespace vaultry {

namespace {

// `pattern` ending in "XXXXXX", those six letters drawn at random.
std::string freeName(const std::string& pattern) {
    static const char* letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::string name = pattern;
    for (std::size_t i = name.size() - 6; i < name.size(); ++i) name[i] = letters[random() % 62];
    return name;
}

// The bytes go into an unnamed file (O_TMPFILE), which gets its temporary name only once it is
// whole and on disk, so that a process killed while writing leaves nothing behind. False when
// the file system cannot do that (the caller writes a named temporary file instead); `written`
// tells whether the bytes are in `temp`.
bool writeUnnamed(const std::filesystem::path& folder, std::string& temp, std::string_view bytes, mode_t mode,
                  bool& written) {
    written = false;
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    ::fchmod(fd, mode);
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return true;  // a write that failed fails the same way named
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int tries = 0; tries < 100; ++tries) {
        const std::string name = freeName(temp);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            temp = name;
            written = true;
            break;
        }
        if (errno != EEXIST) break;
    }
    ::close(fd);
    return written;
}

}  // namespace

Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t newMode) {
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    std::string temp = folder.string();
    temp.append("/.").append(path.filename().string()).append(".XXXXXX");
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : newMode;
    bool written = false;
    int writeError = 0;
    if (!writeUnnamed(folder, temp, bytes, mode, written)) {
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) return fail("cannot write " + path.string() + ": " + std::strerror(errno));
        ::fchmod(fd, mode);
        written = writeAll(fd, bytes) && ::fsync(fd) == 0;
        writeError = errno;
        ::close(fd);
    } else if (!written) {
        return fail("cannot write " + path.string() + ": " + std::strerror(errno));
    }
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = written ? errno : writeError;
        ::unlink(temp.c_str());
        return fail("cannot write " + path.string() + ": " + std::strerror(err));
    }
    syncFolder(folder);
    return {};
}

Result<bool> createFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t mode) {
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    const auto failed = [&path](int err) {
        return fail("cannot write " + path.string() + ": " + std::strerror(err));
    };
    // An unnamed file where the file system has them; a named temporary file elsewhere.
    std::string temp;
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) {
        temp = folder.string() + "/." + path.filename().string() + ".XXXXXX";
        fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0) return failed(errno);
    }
    ::fchmod(fd, mode);
    if (!writeAll(fd, bytes) || ::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        if (!temp.empty()) ::unlink(temp.c_str());
        return failed(err);
    }
    // A link, unlike a plain rename, never replaces what is there.
    int placed;
    if (temp.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        placed = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
    } else {
        placed = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
        if (placed == 0) {
            temp.clear();  // renamed: the name is no longer ours to delete
        } else if (errno == EINVAL || errno == ENOSYS) {
            placed = ::link(temp.c_str(), path.c_str());
        }
    }
    const int err = errno;
    ::close(fd);
    if (!temp.empty()) ::unlink(temp.c_str());  // the temporary file we made, still under its name
    if (placed != 0) {
        if (err == EEXIST) return false;
        return failed(err);
    }
    syncFolder(folder);
    return true;
}

FolderLock::FolderLock(const std::filesystem::path& folder) {
    fd_ = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0)
        if (errno != EINTR) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace vaultry
