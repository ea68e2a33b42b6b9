#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/MainThread.h"

namespace vaultry {

// One worker thread of a controller, and the hand-over of what it found to the main thread.
//
// A run starts only once the thread of the previous run has ended: a restart waits for it. The
// task is started, cancelled and destroyed on the main thread. Destroying it drops a result still
// queued for the main thread and waits for the worker to end, so the worker may use its owner
// until then: declare the task after what the worker uses.
class BackgroundTask {
public:
    explicit BackgroundTask(platform::MainThread& mainThread) : main_(mainThread) {}
    ~BackgroundTask() { cancel(); }
    BackgroundTask(const BackgroundTask&) = delete;
    BackgroundTask& operator=(const BackgroundTask&) = delete;

    // Runs work() on the worker; its result is queued to the main thread (the worker does not
    // wait for it), where onDone(result) runs with running() already false. A result that arrives
    // once the task was cancelled or destroyed is dropped. work returning void calls onDone().
    template <typename Work, typename Done>
    void start(Work work, Done onDone) {
        join();
        running_ = true;
        thread_ = std::thread([this, alive = alive_, work = std::move(work),
                               onDone = std::move(onDone)]() mutable {
            if constexpr (std::is_void_v<std::invoke_result_t<Work&>>) {
                work();
                main_.post([this, alive, onDone = std::move(onDone)]() mutable {
                    if (!*alive) return;
                    running_ = false;
                    onDone();
                });
            } else {
                auto result = work();
                main_.post([this, alive, onDone = std::move(onDone), result = std::move(result)]() mutable {
                    if (!*alive) return;
                    running_ = false;
                    onDone(std::move(result));
                });
            }
        });
    }

    // Runs body on the worker; the body hands over to the main thread by itself (with
    // MainThread::performAndWait, so its finishing step has run when it returns). running() is
    // true until the body has returned.
    void run(std::function<void()> body) {
        join();
        running_ = true;
        thread_ = std::thread([this, body = std::move(body)] {
            body();
            running_ = false;
        });
    }

    // True from a start until its result is handed over (start) or its body returned (run).
    bool running() const { return running_.load(); }

    // Waits for the worker's thread to end; a result it queued is still handed over.
    void join() {
        if (thread_.joinable()) thread_.join();
    }

    // Drops a result not handed over yet, then waits for the worker's thread to end.
    void cancel() {
        *alive_ = false;
        join();
        running_ = false;
        alive_ = std::make_shared<bool>(true);
    }

private:
    platform::MainThread& main_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    // Cleared by cancel: the worker's queued hand-over then does nothing. Main thread only.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vaultry
