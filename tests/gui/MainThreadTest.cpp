#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <thread>

#include "gui/GuiHarness.h"
#include "gui/QtMainThread.h"

namespace vaultry::test {
namespace {

TEST(QtMainThread, WorkersStepsRunOnTheLoopAndAreGivenUpAfterItEnds) {
    QApplication& app = guiApp();
    qt::QtMainThread mainThread(&app);
    std::atomic<bool> ran{false}, onMain{false};
    std::thread worker([&] {
        mainThread.performAndWait([&] {
            onMain = QThread::currentThread() == app.thread();
            ran = true;
        });
    });
    while (!ran) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    EXPECT_TRUE(onMain);

    // The loop has ended and the main thread joins a worker that still wants a step: quitting
    // must not hang, and the step never runs.
    std::atomic<bool> late{false};
    std::atomic<bool> started{false};
    std::thread stuck([&] {
        started = true;
        mainThread.performAndWait([&] { late = true; });
    });
    while (!started) std::this_thread::yield();
    mainThread.shutDown();
    stuck.join();
    QCoreApplication::processEvents();
    EXPECT_FALSE(late);
}

}  // namespace
}  // namespace vaultry::test
