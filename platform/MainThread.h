#pragma once
#include <chrono>
#include <cstdint>
#include <functional>

namespace vaultry::platform {

// The main loop: where every step that touches the interface runs.
class MainThread {
public:
    using TimerId = std::uint64_t;
    virtual ~MainThread() = default;
    // Runs fn on the main thread and returns when it has finished. Called on the main thread
    // itself, it runs fn at once.
    virtual void performAndWait(std::function<void()> fn) = 0;
    // Queues fn to run on the main thread soon; returns at once.
    virtual void post(std::function<void()> fn) = 0;
    // A timer on the main loop; a repeating timer fires every interval until stopped.
    virtual TimerId startTimer(std::chrono::milliseconds interval, bool repeats,
                               std::function<void()> fn) = 0;
    virtual void stopTimer(TimerId id) = 0;
};

}  // namespace vaultry::platform
