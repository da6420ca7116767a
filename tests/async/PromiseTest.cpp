#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "async/Clock.hpp"
#include "quorvane/Promise.hpp"
#include "support/Queues.hpp"

using namespace quorvane;
using quorvane::testing::drain;

namespace {

std::string messageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    }
}

}  // namespace

TEST(Promise, FirstSettlementWinsUnderARaceOfManyThreads) {
    for (int round = 0; round < 50; ++round) {
        auto p = Promise<int>::pending();
        std::atomic<int> winners{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 8; ++i) {
            threads.emplace_back([&, i] {
                bool won = (i % 2 == 0) ? p.resolver.fulfill(i)
                                        : p.resolver.reject(std::runtime_error("r" + std::to_string(i)));
                if (won) ++winners;
            });
        }
        for (auto& t : threads) t.join();
        ASSERT_EQ(winners, 1);
        ASSERT_FALSE(p.promise.isPending());
        ASSERT_FALSE(p.resolver.isPending());
    }
}

TEST(Promise, ContinuationsRunOnTheirQueueInRegistrationOrderEvenWhenAlreadySettled) {
    auto queue = DispatchQueue::create("continuations");
    auto p = Promise<int>::pending();
    std::vector<int> seen;
    bool onQueue = true;
    for (int i = 0; i < 5; ++i) {
        p.promise.done([&, i](int) { seen.push_back(i); onQueue = onQueue && queue->isCurrent(); }, queue);
    }
    p.resolver.fulfill(7);
    for (int i = 5; i < 10; ++i) {
        p.promise.done([&, i](int) { seen.push_back(i); onQueue = onQueue && queue->isCurrent(); }, queue);
    }
    drain(queue);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_TRUE(onQueue);
}

TEST(Promise, ContinuationOfASettledPromiseIsNotRunInline) {
    auto queue = DispatchQueue::create("not-inline");
    bool ran = false;
    queue->sync([&] {
        Promise<int>::value(1).done([&](int) { ran = true; }, queue);
        EXPECT_FALSE(ran);
    });
    drain(queue);
    EXPECT_TRUE(ran);
}

TEST(Promise, DefaultContinuationQueueIsMain) {
    bool onMain = false;
    Promise<void>::value().done([&] { onMain = DispatchQueue::main()->isCurrent(); }).wait();
    EXPECT_TRUE(onMain);
}

TEST(Promise, ThenMapAndDoneChainValues) {
    auto queue = DispatchQueue::create("chain");
    auto result = Promise<int>::value(2)
                      .then([](int v) { return Promise<std::string>::value(std::to_string(v * 10)); }, queue)
                      .map([](const std::string& s) { return s + "!"; }, queue)
                      .wait();
    EXPECT_EQ(result, "20!");
}

TEST(Promise, ThrowInsideThenRejectsEverythingDownstream) {
    auto queue = DispatchQueue::create("throw");
    bool mapRan = false;
    std::string caught;
    auto chain = Promise<int>::value(1)
                     .then([](int) -> Promise<int> { throw std::runtime_error("bad step"); }, queue)
                     .map([&](int v) { mapRan = true; return v; }, queue);
    chain.catchError([&](std::exception_ptr e) { caught = messageOf(e); }, queue).wait();
    EXPECT_FALSE(mapRan);
    EXPECT_EQ(caught, "bad step");
    EXPECT_THROW(chain.wait(), std::runtime_error);
}

TEST(Promise, CatchErrorDoesNotSeeCancellation) {
    auto queue = DispatchQueue::create("cancel");
    bool seen = false;
    Promise<void>::error(std::make_exception_ptr(PromiseCancelledError()))
        .catchError([&](std::exception_ptr) { seen = true; }, queue)
        .wait();
    EXPECT_FALSE(seen);
    Promise<void>::error(std::make_exception_ptr(std::runtime_error("x")))
        .catchError([&](std::exception_ptr) { seen = true; }, queue)
        .wait();
    EXPECT_TRUE(seen);
}

TEST(Promise, RecoverReplacesAnErrorAndEnsureAlwaysRuns) {
    auto queue = DispatchQueue::create("recover");
    int ensured = 0;
    auto value = Promise<int>::error(std::make_exception_ptr(std::runtime_error("lost")))
                     .recover([](std::exception_ptr) { return Promise<int>::value(42); }, queue)
                     .ensure([&] { ++ensured; }, queue)
                     .wait();
    EXPECT_EQ(value, 42);
    auto failed = Promise<int>::error(std::make_exception_ptr(std::runtime_error("kept")))
                      .ensure([&] { ++ensured; }, queue);
    EXPECT_THROW(failed.wait(), std::runtime_error);
    EXPECT_EQ(ensured, 2);
}

TEST(Promise, FirstlyTurnsAThrowIntoARejection) {
    auto rejected = firstly([]() -> Promise<int> { throw std::runtime_error("early"); });
    EXPECT_TRUE(rejected.isRejected());
    EXPECT_EQ(messageOf(rejected.error()), "early");
    EXPECT_EQ(firstly([] { return Promise<int>::value(3); }).wait(), 3);
}

TEST(Promise, WhenGathersInOrderAndFailsOnTheFirstRejection) {
    auto a = Promise<int>::pending();
    auto b = Promise<int>::pending();
    auto all = when(std::vector<Promise<int>>{a.promise, b.promise});
    b.resolver.fulfill(2);
    a.resolver.fulfill(1);
    EXPECT_EQ(all.wait(), (std::vector<int>{1, 2}));

    auto c = Promise<void>::pending();
    auto d = Promise<void>::pending();
    auto some = when(std::vector<Promise<void>>{c.promise, d.promise});
    d.resolver.reject(std::runtime_error("second failed"));
    EXPECT_TRUE(some.isRejected());
    c.resolver.fulfill();
    EXPECT_EQ(messageOf(some.error()), "second failed");

    EXPECT_TRUE(when(std::vector<Promise<int>>{}).wait().empty());
}

TEST(Promise, AfterFulfilsOnlyOnceTheClockReachesTheDelay) {
    ScopedVirtualClock clock;
    auto delay = after(5);
    clock->advance(4.9);
    EXPECT_TRUE(delay.isPending());
    clock->advance(0.1);
    delay.wait();
    EXPECT_TRUE(delay.isFulfilled());
}

TEST(Guarantee, IsFulfilledThroughItsResolver) {
    auto g = Guarantee<std::string>::pending();
    g.resolver.fulfill("ok");
    EXPECT_EQ(g.guarantee.wait(), "ok");
    EXPECT_EQ(Guarantee<int>::value(5).map([](int v) { return v + 1; }).wait(), 6);
}

TEST(Promise, APendingPromiseNobodyCanSettleIsReleasedWithItsContinuations) {
    auto sentinel = std::make_shared<int>(0);
    {
        auto p = Promise<int>::pending();
        p.promise.map([sentinel](int v) { return v; }).done([sentinel](int) {});
        EXPECT_GT(sentinel.use_count(), 1);
    }
    EXPECT_EQ(sentinel.use_count(), 1);
}
