#pragma once
#include <mutex>
#include <utility>

namespace vaultry {

// For records that workers build while the main thread reads them: every property is read and
// written under the record's one lock.
class LockedFields {
protected:
    template <typename T>
    T get(const T& field) const {
        std::lock_guard lock(mutex_);
        return field;
    }
    template <typename T>
    void put(T& field, T value) {
        std::lock_guard lock(mutex_);
        field = std::move(value);
    }

    mutable std::mutex mutex_;
};

}  // namespace vaultry
