#include "platform/qt/QtMainThread.h"

#include <QCoreApplication>
#include <QThread>

namespace vaultry::qt {

void QtMainThread::performAndWait(std::function<void()> fn) {
    if (QThread::currentThread() == context_->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context_, std::move(fn), Qt::BlockingQueuedConnection);
}

void QtMainThread::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(context_, std::move(fn), Qt::QueuedConnection);
}

platform::MainThread::TimerId QtMainThread::startTimer(std::chrono::milliseconds interval, bool repeats,
                                                       std::function<void()> fn) {
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(interval);
    timer->setSingleShot(!repeats);
    QObject::connect(timer.get(), &QTimer::timeout, context_, std::move(fn));
    timer->start();
    timers_.emplace(next_, std::move(timer));
    return next_++;
}

void QtMainThread::stopTimer(TimerId id) { timers_.erase(id); }

}  // namespace vaultry::qt
