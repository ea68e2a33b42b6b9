#pragma once
#include <QObject>
#include <QTimer>
#include <map>
#include <memory>

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

private:
    QObject* context_;
    std::map<TimerId, std::unique_ptr<QTimer>> timers_;
    TimerId next_ = 1;
};

}  // namespace vaultry::qt
