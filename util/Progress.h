#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace vaultry {

// What a long piece of work has done so far, and whether its user asked it to stop.
//
// The work reports steps and units (bytes or items) from its own thread; a watcher (a progress
// window polling state(), a terminal line) reads them from another. Work that is asked to stop
// finishes at its next safe point, puts everything back as it was and returns
// `cancelledError()`; work past the point of no return finishes instead.
class Progress {
public:
    enum class Unit { bytes, items };
    struct State {
        std::string step;         // what is being done: "Encrypting Photos"
        std::uint64_t done = 0;   // units of this step done
        std::uint64_t total = 0;  // units of this step; 0 when not known
        Unit unit = Unit::bytes;
    };
    using Watcher = std::function<void(Progress&)>;

    Progress() = default;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Called on the working thread after every report; set before the work starts.
    void watch(Watcher watcher) { watcher_ = std::move(watcher); }

    // A new step, nothing of it done yet.
    void begin(std::string step, std::uint64_t total, Unit unit = Unit::bytes);
    void add(std::uint64_t units);       // more of this step done
    void addTotal(std::uint64_t units);  // the step turned out larger

    void cancel() noexcept;
    bool cancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }
    State state() const;

    // For callers with nobody to tell: reports go nowhere and nothing cancels it.
    static Progress& none();

private:
    explicit Progress(bool silent) : silent_(silent) {}
    void notify();

    mutable std::mutex mutex_;
    std::string step_;
    Unit unit_ = Unit::bytes;
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> total_{0};
    std::atomic<bool> cancelled_{false};
    Watcher watcher_;
    bool silent_ = false;
};

}  // namespace vaultry
