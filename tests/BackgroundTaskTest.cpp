// The controllers' worker thread: hand-over to the main thread, restarts, cancelling.
#include "app/BackgroundTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "support/FakePorts.h"

namespace vaultry {
namespace {

TEST(BackgroundTask, HandsTheResultToTheMainThreadWithRunningAlreadyFalse) {
    test::FakeMainThread main;
    BackgroundTask task(main);
    EXPECT_FALSE(task.running());
    std::optional<int> got;
    bool runningInDone = true;
    const auto mainId = std::this_thread::get_id();
    std::thread::id doneOn;
    task.start([] { return 42; },
               [&](int v) {
                   got = v;
                   runningInDone = task.running();
                   doneOn = std::this_thread::get_id();
               });
    EXPECT_TRUE(task.running());
    ASSERT_TRUE(main.pumpUntil([&] { return got.has_value(); }));
    EXPECT_EQ(*got, 42);
    EXPECT_FALSE(runningInDone);
    EXPECT_FALSE(task.running());
    EXPECT_EQ(doneOn, mainId);
}

TEST(BackgroundTask, AVoidWorkCallsOnDoneWithoutAnArgument) {
    test::FakeMainThread main;
    BackgroundTask task(main);
    bool done = false;
    task.start([] {}, [&] { done = true; });
    ASSERT_TRUE(main.pumpUntil([&] { return done; }));
}

TEST(BackgroundTask, ARestartWaitsForThePreviousRunsThread) {
    test::FakeMainThread main;
    BackgroundTask task(main);
    std::promise<void> release;
    auto released = release.get_future().share();
    std::atomic<bool> firstEnded{false};
    task.run([released, &firstEnded] {
        released.wait();
        firstEnded = true;
    });
    std::thread releaser([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.set_value();
    });
    bool secondSawFirstEnded = false;
    task.run([&] { secondSawFirstEnded = firstEnded.load(); });
    task.join();
    releaser.join();
    EXPECT_TRUE(secondSawFirstEnded);
    EXPECT_FALSE(task.running());
}

TEST(BackgroundTask, ResultsArriveInTheOrderTheRunsWereStarted) {
    test::FakeMainThread main;
    BackgroundTask task(main);
    std::vector<int> got;
    for (int i = 0; i < 3; ++i) task.start([i] { return i; }, [&](int v) { got.push_back(v); });
    ASSERT_TRUE(main.pumpUntil([&] { return got.size() == 3; }));
    EXPECT_EQ(got, (std::vector<int>{0, 1, 2}));
}

TEST(BackgroundTask, AResultArrivingAfterTheOwnerWentIsDropped) {
    test::FakeMainThread main;
    bool delivered = false;
    {
        BackgroundTask task(main);
        task.start([] { return std::string("late"); }, [&](const std::string&) { delivered = true; });
        // The task goes before the main loop runs again: it waits for the worker, which has
        // queued its result by then.
    }
    main.pump();
    EXPECT_FALSE(delivered);
}

TEST(BackgroundTask, CancelDropsTheQueuedResultAndTheTaskCanStartAgain) {
    test::FakeMainThread main;
    BackgroundTask task(main);
    std::vector<int> got;
    task.start([] { return 1; }, [&](int v) { got.push_back(v); });
    task.cancel();
    EXPECT_FALSE(task.running());
    task.start([] { return 2; }, [&](int v) { got.push_back(v); });
    ASSERT_TRUE(main.pumpUntil([&] { return !task.running(); }));
    main.pump();
    EXPECT_EQ(got, (std::vector<int>{2}));
}

TEST(BackgroundTask, RunIsRunningUntilItsBodyReturns) {
    test::FakeMainThread main;
    BackgroundTask task(main);
    std::promise<void> release;
    auto released = release.get_future().share();
    bool handedBack = false;
    task.run([&, released] {
        released.wait();
        main.performAndWait([&] { handedBack = true; });
    });
    EXPECT_TRUE(task.running());
    release.set_value();
    ASSERT_TRUE(main.pumpUntil([&] { return handedBack; }));
    task.join();
    EXPECT_FALSE(task.running());
}

}  // namespace
}  // namespace vaultry
