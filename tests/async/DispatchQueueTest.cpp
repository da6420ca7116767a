#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <iostream>
#include <latch>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "quorvane/DispatchQueue.hpp"

using namespace quorvane;

namespace {

/// Runs `scenario` on a thread of its own and aborts the test program when it has not finished
/// within a minute: threads left waiting in sync cannot be unwound.
void finishesOrAborts(const char* what, std::function<void()> scenario) {
    std::packaged_task<void()> task(std::move(scenario));
    auto finished = task.get_future();
    std::thread(std::move(task)).detach();
    if (finished.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
        std::cerr << what << " hung\n";
        std::abort();
    }
    finished.get();
}

}  // namespace

TEST(DispatchQueue, WorkPostedFromOneThreadRunsInOrderOneAtATime) {
    auto queue = DispatchQueue::create("order");
    std::vector<int> seen;
    std::atomic<int> running{0};
    bool overlapped = false;
    for (int i = 0; i < 10000; ++i) {
        queue->async([&, i] {
            if (running.fetch_add(1) != 0) overlapped = true;
            seen.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue->sync([] {});
    ASSERT_EQ(seen.size(), 10000u);
    for (int i = 0; i < 10000; ++i) ASSERT_EQ(seen[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(DispatchQueue, SeveralProducersKeepTheirOwnOrder) {
    auto queue = DispatchQueue::create("producers");
    std::vector<std::pair<int, int>> seen;
    std::vector<std::thread> producers;
    for (int p = 0; p < 4; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < 2000; ++i) queue->async([&, p, i] { seen.emplace_back(p, i); });
        });
    }
    for (auto& t : producers) t.join();
    queue->sync([] {});
    std::vector<int> last(4, -1);
    for (auto [p, i] : seen) {
        ASSERT_GT(i, last[p]);
        last[p] = i;
    }
    EXPECT_EQ(seen.size(), 8000u);
}

TEST(DispatchQueue, SyncFromItsOwnQueueIsRefusedInsteadOfDeadlocking) {
    auto queue = DispatchQueue::create("self");
    auto other = DispatchQueue::create("other");
    int refused = 0;
    auto syncBack = [&] {
        try {
            queue->sync([] {});
        } catch (const std::logic_error&) {
            ++refused;
        }
    };
    finishesOrAborts("sync back onto a waiting queue", [&] {
        queue->sync(syncBack);
        queue->sync([&] { other->sync(syncBack); });  // the queue still waits further out
    });
    EXPECT_EQ(refused, 2);
}

TEST(DispatchQueue, SyncRunsOnTheQueueAndPassesExceptionsBack) {
    auto queue = DispatchQueue::create("sync");
    auto other = DispatchQueue::create("other");
    bool onQueue = false, onOther = true, nestedOnOther = false, nestedOnQueue = true, backOnQueue = false;
    queue->sync([&] {
        onQueue = queue->isCurrent();
        onOther = other->isCurrent();
        other->sync([&] {  // another queue is allowed
            nestedOnOther = other->isCurrent();
            nestedOnQueue = queue->isCurrent();
        });
        backOnQueue = queue->isCurrent();
    });
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(onOther);
    EXPECT_TRUE(nestedOnOther);
    EXPECT_FALSE(nestedOnQueue);
    EXPECT_TRUE(backOnQueue);
    EXPECT_FALSE(queue->isCurrent());
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
}

TEST(DispatchQueue, SyncCompletesWhileEveryPoolThreadWaitsInSync) {
    // More queues than the shared pool has threads: the first batch takes every pool thread, then
    // all of them call sync onto one other queue at once while the rest wait for a thread.
    constexpr int callers = 64;
    auto target = DispatchQueue::create("target");
    std::vector<DispatchQueuePtr> queues;
    std::latch go(1);
    std::atomic<int> ranOnTarget{0};
    std::latch answered(callers);
    for (int i = 0; i < callers; ++i) {
        queues.push_back(DispatchQueue::create("caller"));
        queues.back()->async([&, caller = queues.back()] {
            go.wait();
            target->sync([&] {
                if (target->isCurrent() && !caller->isCurrent()) ++ranOnTarget;
            });
            answered.count_down();
        });
    }
    finishesOrAborts("sync from every pool thread at once", [&] {
        go.count_down();
        answered.wait();
    });
    EXPECT_EQ(ranOnTarget, callers);
}

TEST(DispatchQueue, QueuesThatAlwaysHaveWorkLeaveThePoolToOthers) {
    constexpr int busy = 64;  // more than the shared pool has threads
    std::atomic<bool> stop{false};
    std::vector<DispatchQueuePtr> queues;
    std::function<void(const DispatchQueuePtr&)> again = [&](const DispatchQueuePtr& queue) {
        if (!stop) queue->async([&, queue] { again(queue); });
    };
    for (int i = 0; i < busy; ++i) {
        queues.push_back(DispatchQueue::create("busy"));
        again(queues.back());
    }
    finishesOrAborts("a queue among busy ones", [] {
        std::promise<void> ran;
        DispatchQueue::create("quiet")->async([&] { ran.set_value(); });
        ran.get_future().wait();
    });
    stop = true;
    for (int pass = 0; pass < 2; ++pass) {  // the second catches work posted by work that was running
        for (auto& queue : queues) queue->sync([] {});
    }
}

TEST(DispatchQueue, ThrowingWorkDoesNotStopTheQueue) {
    auto queue = DispatchQueue::create("throwing");
    queue->async([] { throw std::runtime_error("ignored"); });
    bool ran = false;
    queue->sync([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(DispatchQueue, MainIsOneProcessWideQueue) {
    EXPECT_EQ(DispatchQueue::main(), DispatchQueue::main());
    EXPECT_EQ(DispatchQueue::main()->label(), "main");
    bool current = false;
    DispatchQueue::main()->sync([&] { current = DispatchQueue::main()->isCurrent(); });
    EXPECT_TRUE(current);
}
