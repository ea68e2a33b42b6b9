#pragma once
#include <string.h>  // explicit_bzero

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace vaultry {

// Bytes as stored and passed round: settings values, access grants, file contents.
using Bytes = std::vector<std::uint8_t>;

// Plaintext that is wiped before its memory goes back. Room that is added is not zeroed first:
// it is always written before it is read, and zeroing a megabyte per member cost more than the
// inflating did.
class SecureBuffer {
public:
    SecureBuffer() = default;
    explicit SecureBuffer(std::size_t n) { resize(n); }
    SecureBuffer(SecureBuffer&& o) noexcept : p_(std::move(o.p_)), size_(o.size_), room_(o.room_) {
        o.size_ = o.room_ = 0;
    }
    SecureBuffer& operator=(SecureBuffer&& o) noexcept {
        if (this != &o) {
            wipe();
            p_ = std::move(o.p_);
            size_ = o.size_;
            room_ = o.room_;
            o.size_ = o.room_ = 0;
        }
        return *this;
    }
    ~SecureBuffer() { wipe(); }
    unsigned char* data() { return p_.get(); }
    const unsigned char* data() const { return p_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Sizes to n bytes, keeping what was held; new bytes are undefined.
    void resize(std::size_t n) {
        reserve(n);
        size_ = n;
    }
    void reserve(std::size_t n) {
        if (n <= room_) return;
        auto bigger = std::make_unique_for_overwrite<unsigned char[]>(n);
        if (size_) std::memcpy(bigger.get(), p_.get(), size_);
        wipe();
        p_ = std::move(bigger);
        room_ = n;
    }
    void append(const unsigned char* p, std::size_t n) {
        if (size_ + n > room_) reserve(std::max(size_ + n, 2 * room_));
        std::memcpy(p_.get() + size_, p, n);
        size_ += n;
    }
    // Empty, keeping the room (and the bytes in it until they are overwritten or wiped).
    void clear() { size_ = 0; }

private:
    void wipe() {
        if (p_) ::explicit_bzero(p_.get(), room_);
    }
    std::unique_ptr<unsigned char[]> p_;
    std::size_t size_ = 0, room_ = 0;
};

}  // namespace vaultry
