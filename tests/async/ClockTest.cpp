#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "async/Clock.hpp"
#include "support/Eventually.hpp"

using namespace quorvane;

TEST(VirtualClock, RunsDueTasksInDeadlineOrderOnTheirQueues) {
    ScopedVirtualClock clock;
    auto a = DispatchQueue::create("a");
    auto b = DispatchQueue::create("b");
    std::vector<std::string> seen;
    auto t3 = Clock::current()->schedule(a, 3, 0, [&] { seen.push_back(a->isCurrent() ? "a3" : "?"); });
    auto t1 = Clock::current()->schedule(b, 1, 0, [&] { seen.push_back(b->isCurrent() ? "b1" : "?"); });
    auto t2 = Clock::current()->schedule(a, 2, 0, [&] { seen.push_back("a2"); });
    clock->advance(1.5);
    EXPECT_EQ(seen, (std::vector<std::string>{"b1"}));
    clock->advance(10);
    EXPECT_EQ(seen, (std::vector<std::string>{"b1", "a2", "a3"}));
    EXPECT_DOUBLE_EQ(clock->monotonic(), 11.5);
}

TEST(VirtualClock, RepeatingTimerFiresOnAGridAndSeesTheClockAtEachDeadline) {
    ScopedVirtualClock clock;
    auto q = DispatchQueue::create("grid");
    std::vector<double> times;
    auto timer = Clock::current()->schedule(q, 1, 1, [&] { times.push_back(Clock::current()->monotonic()); });
    clock->advance(3.5);
    EXPECT_EQ(times, (std::vector<double>{1, 2, 3}));
    timer.reset();
    clock->advance(5);
    EXPECT_EQ(times.size(), 3u);
    EXPECT_EQ(clock->pendingCount(), 0u);
}

TEST(VirtualClock, TaskScheduledByATaskRunsInTheSameAdvance) {
    ScopedVirtualClock clock;
    auto q = DispatchQueue::create("chain");
    std::vector<int> seen;
    std::unique_ptr<Timer> second;
    auto first = Clock::current()->schedule(q, 1, 0, [&] {
        seen.push_back(1);
        second = Clock::current()->schedule(q, 1, 0, [&] { seen.push_back(2); });
    });
    clock->advance(2);
    EXPECT_EQ(seen, (std::vector<int>{1, 2}));
}

TEST(VirtualClock, TasksThatFellDueDuringAStallRunLateOnceAtTheNextAdvance) {
    ScopedVirtualClock clock;
    auto q = DispatchQueue::create("stall");
    std::vector<std::string> seen;
    const auto note = [&](const std::string& name) {
        seen.push_back(name + "@" + std::to_string(Clock::current()->monotonic()));
    };
    auto once = Clock::current()->schedule(q, 1, 0, [&] { note("once"); });
    auto grid = Clock::current()->schedule(q, 1, 1, [&] { note("grid"); });
    clock->stall(3.5);
    EXPECT_TRUE(seen.empty());
    clock->advance(1);
    EXPECT_EQ(seen, (std::vector<std::string>{"once@3.500000", "grid@3.500000", "grid@4.000000"}));
}

TEST(VirtualClock, WallClockStepLeavesMonotonicAlone) {
    ScopedVirtualClock clock(1000);
    clock->advance(2);
    clock->stepWallClock(-500);
    EXPECT_DOUBLE_EQ(clock->now(), 502);
    EXPECT_DOUBLE_EQ(clock->monotonic(), 2);
}

TEST(Timer, NeverRunsAfterReleaseEvenAtTheDeadline) {
    // The release races the deadline on another thread: once the handle is gone, nothing runs.
    auto q = DispatchQueue::create("race");
    for (int i = 0; i < 300; ++i) {
        auto clock = std::make_shared<VirtualClock>();
        std::atomic<bool> released{false};
        std::atomic<bool> ranAfterRelease{false};
        auto timer = clock->schedule(q, 1, 0, [&] {
            if (released) ranAfterRelease = true;
        });
        std::thread advancer([&] { clock->advance(1); });
        timer.reset();
        released = true;
        advancer.join();
        q->sync([] {});
        ASSERT_FALSE(ranAfterRelease) << "iteration " << i;
    }
}

TEST(Timer, TaskMayReleaseOrCancelItsOwnTimer) {
    for (bool release : {true, false}) {
        SCOPED_TRACE(release ? "release" : "cancel");
        ScopedVirtualClock clock;
        auto q = DispatchQueue::create("self");
        int runs = 0;
        bool capturesDestroyed = false, destroyedWhileRunning = true;
        std::shared_ptr<void> capture(nullptr, [&](void*) { capturesDestroyed = true; });
        std::unique_ptr<Timer> timer;
        timer = Clock::current()->schedule(q, 1, 1, [&, capture] {
            ++runs;
            release ? timer.reset() : timer->cancel();
            destroyedWhileRunning = capturesDestroyed;  // the running task and its captures live on
        });
        capture.reset();
        clock->advance(5);
        EXPECT_EQ(runs, 1);
        EXPECT_FALSE(destroyedWhileRunning);
        EXPECT_TRUE(capturesDestroyed);
        EXPECT_EQ(clock->pendingCount(), 0u);
    }
}

TEST(RealClock, RepeatingTaskWhoseQueueFellBehindRunsOnceForTheMissedPeriods) {
    auto clock = std::make_shared<RealClock>();
    auto q = DispatchQueue::create("behind");
    std::atomic<int> runs{0};
    std::promise<void> blocked, periodsPassed;
    std::promise<int> runsOnCatchingUp;
    q->async([&] {
        blocked.set_value();
        periodsPassed.get_future().wait();
        q->async([&] { runsOnCatchingUp.set_value(runs); });  // behind whatever the clock posted
    });
    blocked.get_future().wait();
    auto timer = clock->schedule(q, 0.01, 0.01, [&] { ++runs; });
    // The clock handles deadlines in order: when this one is handled, four periods have passed.
    auto sentinel = clock->schedule(DispatchQueue::create("sentinel"), 0.045, 0, [&] { periodsPassed.set_value(); });
    EXPECT_EQ(runsOnCatchingUp.get_future().get(), 1);
    // And it keeps firing after catching up.
    EXPECT_TRUE(quorvane::testing::eventually([&] { return runs >= 3; }, std::chrono::seconds(5))) << runs.load();
}

TEST(RealClock, OneShotAndRepeatingTimersFire) {
    auto clock = std::make_shared<RealClock>();
    auto q = DispatchQueue::create("real");
    std::atomic<int> once{0}, repeated{0};
    auto t1 = clock->schedule(q, 0.01, 0, [&] { ++once; });
    auto t2 = clock->schedule(q, 0.01, 0.01, [&] { ++repeated; });
    quorvane::testing::eventually([&] { return once > 0 && repeated >= 3; }, std::chrono::seconds(5));
    t2.reset();
    int afterRelease = repeated;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    q->sync([] {});
    EXPECT_EQ(once, 1);
    EXPECT_GE(afterRelease, 3);
    EXPECT_EQ(repeated, afterRelease);
    EXPECT_GT(clock->now(), 1.6e9);
}

TEST(RealClock, CancelledTimersAreLetGoOfLongBeforeTheirDeadline) {
    auto clock = std::make_shared<RealClock>();
    auto q = DispatchQueue::create("real");
    auto live = clock->schedule(q, 3600, 0, [] {});
    clock->schedule(q, 1, 0, [] {});  // cancelled; the clock's thread waits for its deadline meanwhile
    for (int i = 0; i < 100'000; ++i) clock->schedule(q, 3600, 0, [] {});  // each cancelled as it is released
    EXPECT_LE(clock->heldCount(), 1024u);
}
