#include <gtest/gtest.h>

#include <functional>

#include "async/Clock.hpp"
#include "support/Queues.hpp"
#include "transport/ChunkCache.hpp"
#include "transport/SingleChunk.hpp"

using namespace quorvane;
using quorvane::testing::drain;

namespace {

/// An entry that counts what it hears and may run a handler when it times out.
class Entry : public ChunkHelper {
public:
    explicit Entry(double timeout) : ChunkHelper(timeout) {}
    void completed() override { ++completions; }
    void timedOut() override {
        ++timeouts;
        if (onTimeout) onTimeout();
    }
    int completions = 0;
    int timeouts = 0;
    std::function<void()> onTimeout;
};

/// A cache on its own queue whose sweep timer has started at the current virtual time.
template <class T>
struct Fixture {
    DispatchQueuePtr queue = DispatchQueue::create("chunkcache.test");
    std::shared_ptr<ChunkCache<T>> cache = std::make_shared<ChunkCache<T>>(queue);

    Fixture() { drain(queue); }
    void onQueue(const std::function<void()>& work) { queue->sync(work); }
    std::shared_ptr<T> get(std::uint16_t id) {
        std::shared_ptr<T> entry;
        onQueue([&] { entry = cache->get(id); });
        return entry;
    }
};

std::shared_ptr<Entry> entry(double timeout) { return std::make_shared<Entry>(timeout); }

}  // namespace

TEST(ChunkCache, ExpiresAnEntryBetweenItsTimeoutAndTheNextSweepAndTellsItOnce) {
    ScopedVirtualClock clock;
    Fixture<Entry> f;
    auto e = entry(15);
    f.onQueue([&] { f.cache->set(1, e); });

    clock->advance(15);  // sweeps at 5, 10, 15: the deadline equals the last sweep's time
    EXPECT_EQ(f.get(1), e);
    EXPECT_EQ(e->timeouts, 0);
    clock->advance(5);
    EXPECT_EQ(f.get(1), nullptr);
    EXPECT_EQ(e->timeouts, 1);
    clock->advance(30);
    EXPECT_EQ(e->timeouts, 1);
    EXPECT_EQ(e->completions, 0);
}

TEST(ChunkCache, RemovingOrReplacingCallsNothingAndOnlyTheStoredEntryIsJudged) {
    ScopedVirtualClock clock;
    Fixture<Entry> f;
    auto removed = entry(1), cleared = entry(1), replaced = entry(1), fresh = entry(1);
    f.onQueue([&] {
        f.cache->set(1, removed);
        f.cache->set(2, cleared);
        f.cache->set(3, replaced);
        EXPECT_EQ(f.cache->size(), 3u);
        EXPECT_EQ(f.cache->removeValue(1), removed);
        EXPECT_EQ(f.cache->removeValue(1), nullptr);
        f.cache->set(2, nullptr);
    });
    clock->advance(4);
    f.onQueue([&] {
        fresh->resetTimestamp(clock->monotonic());
        f.cache->set(3, fresh);
    });
    clock->advance(1);  // sweep at 5: the fresh entry's deadline is exactly now
    EXPECT_EQ(f.get(3), fresh);
    clock->advance(5);
    EXPECT_EQ(f.get(3), nullptr);
    EXPECT_EQ(fresh->timeouts, 1);
    for (const auto& e : {removed, cleared, replaced}) {
        EXPECT_EQ(e->timeouts, 0);
        EXPECT_EQ(e->completions, 0);
    }
}

TEST(ChunkCache, HandlersMayChangeTheCacheDuringASweep) {
    ScopedVirtualClock clock;
    Fixture<Entry> f;
    auto putBack = entry(1), removesNext = entry(1), victim = entry(1), replacedVictim = entry(1), newcomer = entry(1),
         refreshed = entry(1);
    f.onQueue([&] {
        f.cache->set(1, putBack);
        f.cache->set(2, removesNext);
        f.cache->set(3, victim);
        f.cache->set(4, replacedVictim);
        f.cache->set(5, refreshed);
    });
    // Each handler runs on the queue while the sweep is under way (ids are swept in ascending order).
    putBack->onTimeout = [&] {
        putBack->resetTimestamp(clock->monotonic());
        f.cache->set(1, putBack);
        refreshed->resetTimestamp(clock->monotonic());
    };
    removesNext->onTimeout = [&] {
        f.cache->removeValue(3);
        newcomer->resetTimestamp(clock->monotonic());
        f.cache->set(4, newcomer);
    };

    clock->advance(5);
    EXPECT_EQ(putBack->timeouts, 1);
    EXPECT_EQ(removesNext->timeouts, 1);
    EXPECT_EQ(victim->timeouts, 0);
    EXPECT_EQ(replacedVictim->timeouts, 0);
    EXPECT_EQ(newcomer->timeouts, 0);
    EXPECT_EQ(refreshed->timeouts, 0);
    EXPECT_EQ(f.get(1), putBack);
    EXPECT_EQ(f.get(5), refreshed);
    EXPECT_EQ(f.get(4), newcomer);

    putBack->onTimeout = nullptr;
    clock->advance(5);  // the re-inserted entries are judged by their own timestamps
    EXPECT_EQ(putBack->timeouts, 2);
    EXPECT_EQ(newcomer->timeouts, 1);
    EXPECT_EQ(refreshed->timeouts, 1);
    f.onQueue([&] { EXPECT_EQ(f.cache->size(), 0u); });
}

TEST(ChunkCache, NothingExpiresWhilePausedAndResumeGivesEveryEntryItsWholeTimeout) {
    ScopedVirtualClock clock;
    Fixture<Entry> f;
    auto e = entry(10);
    f.onQueue([&] { f.cache->set(1, e); });
    f.cache->pause();
    f.cache->pause();
    drain(f.queue);
    clock->advance(100);
    EXPECT_EQ(f.get(1), e);
    EXPECT_EQ(e->timeouts, 0);

    f.cache->resume();
    drain(f.queue);
    EXPECT_EQ(e->lastUpdated(), clock->monotonic());  // resumed at 100
    clock->advance(10);
    EXPECT_EQ(e->timeouts, 0);
    clock->advance(5);
    EXPECT_EQ(e->timeouts, 1);
}

TEST(ChunkCache, PauseRightAfterConstructionHoldsTheFirstSweep) {
    ScopedVirtualClock clock;
    auto queue = DispatchQueue::create("chunkcache.test");
    auto cache = std::make_shared<ChunkCache<Entry>>(queue);
    cache->pause();
    auto e = entry(1);
    queue->sync([&] { cache->set(1, e); });
    clock->advance(60);
    EXPECT_EQ(e->timeouts, 0);
}

TEST(ChunkCache, AgesOnTheMonotonicClockWhateverTheWallClockDoes) {
    ScopedVirtualClock clock;
    Fixture<Entry> f;
    auto e = entry(30);
    f.onQueue([&] { f.cache->set(1, e); });
    clock->stepWallClock(86400);
    clock->advance(5);
    EXPECT_EQ(e->timeouts, 0);
    clock->stepWallClock(-2 * 86400);
    clock->advance(30);
    EXPECT_EQ(e->timeouts, 1);
}

TEST(ChunkCache, AReleasedCacheStopsSweepingAndItsEntriesHearNothing) {
    ScopedVirtualClock clock;
    Fixture<Entry> f;
    auto e = entry(1);
    f.onQueue([&] { f.cache->set(1, e); });
    f.cache.reset();
    clock->advance(30);
    EXPECT_EQ(e->timeouts, 0);
    EXPECT_EQ(clock->pendingCount(), 0u);
}

TEST(ChunkCache, SingleChunkRecordsExpireSilently) {
    ScopedVirtualClock clock;
    Fixture<SingleChunk> f;
    f.onQueue([&] { f.cache->set(9, std::make_shared<SingleChunk>(9, std::vector<std::uint8_t>{1})); });
    clock->advance(SingleChunk::retentionTimeout);
    EXPECT_NE(f.get(9), nullptr);
    clock->advance(5);
    EXPECT_EQ(f.get(9), nullptr);
}
