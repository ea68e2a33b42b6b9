#include "util/Progress.h"

namespace vaultry {

void Progress::begin(std::string step, std::uint64_t total, Unit unit) {
    if (silent_) return;
    {
        std::lock_guard lock(mutex_);
        step_ = std::move(step);
        unit_ = unit;
        done_.store(0, std::memory_order_relaxed);
        total_.store(total, std::memory_order_relaxed);
    }
    notify();
}

void Progress::add(std::uint64_t units) {
    if (silent_) return;
    done_.fetch_add(units, std::memory_order_relaxed);
    notify();
}

void Progress::addTotal(std::uint64_t units) {
    if (silent_) return;
    total_.fetch_add(units, std::memory_order_relaxed);
    notify();
}

void Progress::cancel() noexcept {
    if (!silent_) cancelled_.store(true, std::memory_order_relaxed);
}

Progress::State Progress::state() const {
    std::lock_guard lock(mutex_);
    return State{step_, done_.load(std::memory_order_relaxed), total_.load(std::memory_order_relaxed), unit_};
}

void Progress::notify() {
    if (watcher_) watcher_(*this);
}

Progress& Progress::none() {
    // One per thread, so that no two pieces of work share its state.
    thread_local Progress silent(true);
    return silent;
}

}  // namespace vaultry
