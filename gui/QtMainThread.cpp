#include "gui/QtMainThread.h"

#include <QCoreApplication>
#include <QThread>

namespace vaultry::qt {

void QtMainThread::performAndWait(std::function<void()> fn) {
    if (QThread::currentThread() == context_->thread()) {
        fn();
        return;
    }
    auto finished = std::make_shared<bool>(false);
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
    }
    QMetaObject::invokeMethod(
        context_,
        [this, finished, fn = std::move(fn)] {
            {
                std::lock_guard lock(mutex_);
                if (stopping_) return;
            }
            fn();
            std::lock_guard lock(mutex_);
            *finished = true;
            done_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return *finished || stopping_; });
}

void QtMainThread::shutDown() {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    done_.notify_all();
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
