#include "vault/StorageLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <mutex>

namespace vaultry::vault {
namespace {

namespace fs = std::filesystem;

// The locks this process holds, by folder: flock() conflicts between two descriptors of one
// process too, so a nested take shares the descriptor of the first.
struct Held {
    int fd = -1;
    int count = 0;
};
std::mutex heldMutex;
std::map<std::string, Held>& held() {
    static std::map<std::string, Held> map;
    return map;
}

}  // namespace

std::string movedAwayFrom(const fs::path& storage) {
    std::ifstream in(storage / kMovedMarker);
    if (!in) return {};
    std::string to;
    std::getline(in, to);
    return "the vault was moved to " + to + "; " + storage.string() + " is the copy left behind";
}

Result<StorageLock> StorageLock::take(const fs::path& storage) {
    StorageLock lock;
    std::error_code ec;
    if (storage.empty() || !fs::is_directory(storage, ec)) return lock;
    const std::string key = fs::weakly_canonical(storage, ec).string();
    if (ec) return lock;
    std::lock_guard guard(heldMutex);
    if (auto it = held().find(key); it != held().end()) {
        ++it->second.count;
        lock.key_ = key;
        return lock;
    }
    const int fd =
        ::open((fs::path(key) / kFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return lock;  // a read-only folder: nothing can change in it anyway
    int r;
    while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (r != 0) {
        ::close(fd);
        return fail(kStorageBusy);
    }
    if (const std::string why = movedAwayFrom(key); !why.empty()) {
        ::close(fd);
        return fail(why);
    }
    held().emplace(key, Held{fd, 1});
    lock.key_ = key;
    return lock;
}

StorageLock::StorageLock(StorageLock&& other) noexcept : key_(std::move(other.key_)) { other.key_.clear(); }

StorageLock& StorageLock::operator=(StorageLock&& other) noexcept {
    if (this != &other) {
        release();
        key_ = std::move(other.key_);
        other.key_.clear();
    }
    return *this;
}

StorageLock::~StorageLock() { release(); }

void StorageLock::release() {
    if (key_.empty()) return;
    std::lock_guard guard(heldMutex);
    if (auto it = held().find(key_); it != held().end() && --it->second.count == 0) {
        ::close(it->second.fd);  // closing releases the lock
        held().erase(it);
    }
    key_.clear();
}

}  // namespace vaultry::vault
