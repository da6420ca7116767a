#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "quorvane/DispatchQueue.hpp"

using namespace quorvane;

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
    bool threw = false;
    queue->sync([&] {
        try {
            queue->sync([] {});
        } catch (const std::logic_error&) {
            threw = true;
        }
    });
    EXPECT_TRUE(threw);
}

TEST(DispatchQueue, SyncRunsOnTheQueueAndPassesExceptionsBack) {
    auto queue = DispatchQueue::create("sync");
    auto other = DispatchQueue::create("other");
    bool onQueue = false, onOther = true;
    queue->sync([&] {
        onQueue = queue->isCurrent();
        onOther = other->isCurrent();
        other->sync([] {});  // another queue is allowed
    });
    EXPECT_TRUE(onQueue);
    EXPECT_FALSE(onOther);
    EXPECT_FALSE(queue->isCurrent());
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("boom"); }), std::runtime_error);
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
