#pragma once
#include <QObject>
#include <QTimer>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "platform/MainThread.h"

namespace vaultry::qt {

// The Qt event loop as the core's main thread.
class QtMainThread final : public platform::MainThread {
public:
    explicit QtMainThread(QObject* context) : context_(context) {}
    void performAndWait(std::function<void()> fn) override;
    void post(std::function<void()> fn) override;
    TimerId startTimer(std::chrono::milliseconds interval, bool repeats, std::function<void()> fn) override;
    void stopTimer(TimerId id) override;
    // Called once the event loop has ended: workers waiting for a main-thread step give it up,
    // so that joining them cannot wait for a loop that no longer runs.
    void shutDown();

private:
    QObject* context_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool stopping_ = false;
    std::map<TimerId, std::unique_ptr<QTimer>> timers_;
    TimerId next_ = 1;
};

}  // namespace vaultry::qt
