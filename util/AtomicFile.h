#pragma once
#include <sys/types.h>

#include <filesystem>
#include <string_view>

#include "util/Result.h"

namespace vaultry {

// Replaces path with bytes so that a crash at any moment leaves either the old file or the new
// one: a temporary file beside it, flushed, then renamed over it, then the folder flushed. A file
// that exists keeps its permission bits; a new one gets newMode.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t newMode = 0600);

// Creates path with bytes only where no file of that name is: the file appears whole or not at all
// (an unnamed file, linked to its name once it is on disk), and one that is there, or appears
// meanwhile, is never replaced. False when the name is taken.
Result<bool> createFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                                  mode_t mode = 0600);

// An exclusive advisory lock (flock) on a folder, held for the object's life: processes and
// threads that read, change and rewrite a file of the folder take it around the whole change, so
// that none loses another's. The folder itself carries the lock, so no lock file is left behind.
// locked() is false when the folder cannot be opened.
class FolderLock {
public:
    explicit FolderLock(const std::filesystem::path& folder);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool locked() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace vaultry
