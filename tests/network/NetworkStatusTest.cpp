#include <gtest/gtest.h>

#include <mutex>

#include "network/NetworkStatus.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/Queues.hpp"

using namespace quorvane;
using quorvane::testing::FakeReachabilitySource;

namespace {

struct Gate {
    explicit Gate(ReachabilityFlags initial)
        : source(std::make_shared<FakeReachabilitySource>(initial)),
          reachability(Reachability::create(source, DispatchQueue::main())),
          status(NetworkStatus::create(reachability)) {}

    /// Lets a report reach the monitor and its handler on the main queue; releasing happens
    /// after that on "reachableQueue", so tests wait for released waiters themselves.
    void report(ReachabilityFlags flags) {
        source->report(flags);
        source->drain();
        quorvane::testing::drain(DispatchQueue::main());
    }

    std::shared_ptr<FakeReachabilitySource> source;
    std::shared_ptr<Reachability> reachability;
    std::shared_ptr<NetworkStatus> status;
};

}  // namespace

TEST(NetworkStatus, OnlineAtTheCallResolvesBeforeReturning) {
    Gate gate(FakeReachabilitySource::online);
    EXPECT_TRUE(gate.status->waitForInternet().isFulfilled());
    gate.report(ReachabilityFlags{ReachabilityFlags::reachable | ReachabilityFlags::isWWAN});
    EXPECT_TRUE(gate.status->waitForInternet().isFulfilled());  // cellular is always allowed
}

TEST(NetworkStatus, ParkedWaitersAreReleasedInOrderByTheFirstReachableReport) {
    Gate gate(FakeReachabilitySource::offline);
    std::mutex mutex;
    std::vector<int> order;
    std::vector<Promise<void>> done;
    for (int i = 0; i < 3; ++i) {
        auto waiter = gate.status->waitForInternet();
        EXPECT_TRUE(waiter.isPending());
        done.push_back(waiter.done([&, i] {
            std::lock_guard lock(mutex);
            order.push_back(i);
        }));
    }
    gate.report(ReachabilityFlags{ReachabilityFlags::connectionRequired});
    gate.report(FakeReachabilitySource::offline);
    for (auto& d : done) EXPECT_TRUE(d.isPending());

    gate.report(FakeReachabilitySource::online);
    for (auto& d : done) d.wait();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(NetworkStatus, WaitersParkAgainWhenTheNetworkGoesAway) {
    Gate gate(FakeReachabilitySource::online);
    gate.report(FakeReachabilitySource::offline);
    auto waiter = gate.status->waitForInternet();
    gate.report(FakeReachabilitySource::offline);
    EXPECT_TRUE(waiter.isPending());
    gate.report(FakeReachabilitySource::online);
    waiter.wait();
}

TEST(NetworkStatus, AMonitorThatCannotStartLetsWaitersThrough) {
    auto source = std::make_shared<FakeReachabilitySource>(FakeReachabilitySource::offline);
    source->failSetCallback(true);
    ::testing::internal::CaptureStdout();
    auto status = NetworkStatus::create(Reachability::create(source, DispatchQueue::main()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unable to start notifier\n");
    EXPECT_TRUE(status->waitForInternet().isFulfilled());
}

TEST(NetworkStatus, ReleasingTheGateLetsParkedWaitersThrough) {
    Gate gate(FakeReachabilitySource::offline);
    auto waiter = gate.status->waitForInternet();
    gate.status.reset();  // the parking block holds the gate until it has run
    waiter.wait();
    EXPECT_FALSE(gate.source->isWatching());
}

TEST(NetworkStatus, MachineGateAnswers) {
    // The gate over this machine's own monitor starts; the test machine has a default route.
    auto status = NetworkStatus::create();
    status->waitForInternet().wait();
}
