#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <latch>
#include <limits>
#include <thread>

#include "async/Clock.hpp"
#include "support/Queues.hpp"
#include "util/BackgroundTimer.hpp"

using namespace quorvane;

namespace {

/// Records the monotonic time of each firing; fires on `queue`.
struct Firings {
    DispatchQueuePtr queue = DispatchQueue::create("timer.test");
    std::vector<double> times;
    std::function<void()> handler() {
        return [this] {
            EXPECT_TRUE(queue->isCurrent());
            times.push_back(Clock::current()->monotonic());
        };
    }
};

}  // namespace

TEST(BackgroundTimer, RepeatingTimerFirstFiresAfterTheWholeSecondsThenOnItsGrid) {
    struct Case {
        double interval;
        std::vector<double> expected;  // firings within 5.2 s
    };
    for (const auto& c : {Case{5.0, {5.0}}, Case{1.5, {1.0, 2.5, 4.0}}, Case{0.5, {0, 0.5, 1, 1.5, 2, 2.5, 3, 3.5, 4, 4.5, 5}}}) {
        SCOPED_TRACE(c.interval);
        ScopedVirtualClock clock;
        Firings firings;
        BackgroundTimer timer(firings.queue, c.interval, true, firings.handler());
        clock->advance(0);
        clock->advance(5.2);
        EXPECT_EQ(firings.times, c.expected);
    }
}

TEST(BackgroundTimer, OneShotFiresOnceWhateverSuspendAndResume) {
    ScopedVirtualClock clock;
    Firings firings;
    BackgroundTimer timer(firings.queue, 2.5, false, firings.handler());
    clock->advance(2.4);
    EXPECT_TRUE(firings.times.empty());
    clock->advance(0.1);
    EXPECT_EQ(firings.times, std::vector<double>{2.5});
    timer.resume();
    timer.suspend();
    timer.resume();
    clock->advance(10);
    EXPECT_EQ(firings.times.size(), 1u);
}

TEST(BackgroundTimer, SuspendAndResumeAreIdempotent) {
    ScopedVirtualClock clock;
    Firings firings;
    BackgroundTimer timer(firings.queue, 1.0, true, firings.handler());
    timer.resume();  // already running: nothing changes
    clock->advance(2);
    EXPECT_EQ(firings.times, (std::vector<double>{1, 2}));

    timer.suspend();
    timer.suspend();
    clock->advance(0.5);
    timer.resume();  // one resume undoes any number of suspends
    clock->advance(1);
    EXPECT_EQ(firings.times, (std::vector<double>{1, 2, 3}));
}

TEST(BackgroundTimer, ResumedTimerKeepsItsScheduleAndDeliversAMissedFiringOnce) {
    ScopedVirtualClock clock;
    Firings firings;
    BackgroundTimer timer(firings.queue, 2.0, true, firings.handler());
    clock->advance(1);
    timer.suspend();
    clock->advance(4.5);  // deadlines 2 and 4 fall due while suspended
    EXPECT_TRUE(firings.times.empty());
    timer.resume();
    clock->advance(0);
    EXPECT_EQ(firings.times, std::vector<double>{5.5});  // both missed firings as one
    clock->advance(3);
    EXPECT_EQ(firings.times, (std::vector<double>{5.5, 6, 8}));  // grid from construction

    // A one-shot suspended across its deadline fires once on resume, then never again.
    Firings once;
    BackgroundTimer oneShot(once.queue, 1.0, false, once.handler());
    oneShot.suspend();
    clock->advance(2);
    EXPECT_TRUE(once.times.empty());
    oneShot.resume();
    clock->advance(0);
    EXPECT_EQ(once.times.size(), 1u);
    oneShot.suspend();
    oneShot.resume();
    clock->advance(5);
    EXPECT_EQ(once.times.size(), 1u);
}

TEST(BackgroundTimer, NeverCallsAfterRelease) {
    ScopedVirtualClock clock;
    Firings firings;
    auto running = std::make_unique<BackgroundTimer>(firings.queue, 1.0, true, firings.handler());
    auto suspended = std::make_unique<BackgroundTimer>(firings.queue, 1.0, false, firings.handler());
    suspended->suspend();
    clock->advance(1.5);
    EXPECT_EQ(firings.times.size(), 1u);
    running.reset();
    suspended.reset();  // its firing is held back: released without ever running it
    clock->advance(10);
    EXPECT_EQ(firings.times.size(), 1u);
    EXPECT_EQ(clock->pendingCount(), 0u);

    // Released right at the deadline, from the timer's own queue before the clock gets there.
    auto atDeadline = std::make_unique<BackgroundTimer>(firings.queue, 2.0, false, firings.handler());
    clock->advance(1.999);
    firings.queue->sync([&] { atDeadline.reset(); });
    clock->advance(0.001);
    clock->advance(5);
    EXPECT_EQ(firings.times.size(), 1u);
}

TEST(BackgroundTimer, HandlerMayReleaseItsOwnTimer) {
    ScopedVirtualClock clock;
    auto queue = DispatchQueue::create("self.release");
    int calls = 0;
    std::unique_ptr<BackgroundTimer> timer;
    timer = std::make_unique<BackgroundTimer>(queue, 1.0, true, [&, guard = std::make_shared<int>(7)] {
        ++calls;
        timer.reset();
        EXPECT_EQ(*guard, 7);  // the running handler stays alive
    });
    clock->advance(5);
    EXPECT_EQ(calls, 1);
}

TEST(BackgroundTimer, ReleaseWaitsForAFiringRunningOnAnotherThread) {
    ScopedVirtualClock clock;
    auto queue = DispatchQueue::create("slow.handler");
    std::latch entered(1), release(1);
    std::atomic<bool> finished{false};
    auto timer = std::make_unique<BackgroundTimer>(queue, 1.0, false, [&] {
        entered.count_down();
        release.wait();
        finished = true;
    });
    std::thread advancer([&] { clock->advance(1); });
    entered.wait();
    std::thread releaser([&] {
        timer.reset();
        EXPECT_TRUE(finished);
    });
    release.count_down();
    releaser.join();
    advancer.join();
}

TEST(BackgroundTimer, TimerWithoutHandlerOrWithUnusableIntervalRunsNothing) {
    ScopedVirtualClock clock;
    Firings firings;
    BackgroundTimer noHandler(firings.queue, 1.0, true, nullptr);
    noHandler.suspend();
    noHandler.resume();
    BackgroundTimer forever(firings.queue, std::numeric_limits<double>::infinity(), false, firings.handler());
    BackgroundTimer zeroPeriod(firings.queue, 0, true, firings.handler());
    BackgroundTimer nanPeriod(firings.queue, std::nan(""), true, firings.handler());
    clock->advance(100);
    EXPECT_TRUE(firings.times.empty());

    // Without a queue it runs on a private one.
    std::atomic<int> calls{0};
    BackgroundTimer ownQueue(nullptr, 1.0, false, [&] { ++calls; });
    clock->advance(1);
    EXPECT_EQ(calls, 1);
}
