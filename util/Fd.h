#pragma once
#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <string_view>
#include <utility>

namespace vaultry {

// An open file descriptor, closed when its holder goes.
class Fd {
public:
    explicit Fd(int fd = -1) noexcept : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : fd_(other.release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    int release() noexcept { return std::exchange(fd_, -1); }
    void reset(int fd = -1) noexcept;

private:
    int fd_;
};

// Writes every byte, across short writes and interrupted calls; false on an error (errno says
// which).
bool writeAll(int fd, const void* data, std::size_t size);
inline bool writeAll(int fd, std::string_view bytes) { return writeAll(fd, bytes.data(), bytes.size()); }

// Reads up to `size` bytes, fewer only at the end of the file; -1 on an error.
ssize_t readFull(int fd, void* data, std::size_t size);

// Makes the entries of a folder (files created, renamed or removed in it) durable.
void syncFolder(const std::filesystem::path& folder);

}  // namespace vaultry
