#include "util/AtomicFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/Fd.h"

namespace vaultry {

Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t newMode) {
    const std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    std::string temp = folder.string();
    temp.append("/.").append(path.filename().string()).append(".XXXXXX");
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return fail("cannot write " + path.string() + ": " + std::strerror(errno));
    struct stat st {};
    ::fchmod(fd, ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : newMode);
    const bool written = writeAll(fd, bytes) && ::fsync(fd) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        const int err = written ? errno : writeError;
        ::unlink(temp.c_str());
        return fail("cannot write " + path.string() + ": " + std::strerror(err));
    }
    syncFolder(folder);
    return {};
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
