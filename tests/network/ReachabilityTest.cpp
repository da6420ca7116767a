#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "quorvane/Reachability.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/Queues.hpp"

using namespace quorvane;
using quorvane::testing::FakeReachabilitySource;
using Connection = Reachability::Connection;
using F = ReachabilityFlags;

namespace {

struct Monitor {
    explicit Monitor(DispatchQueuePtr notificationQueue = nullptr, ReachabilityFlags initial = {})
        : source(std::make_shared<FakeReachabilitySource>(initial)),
          reachability(Reachability::create(source, std::move(notificationQueue))) {}

    Connection connectionFor(std::uint32_t bits) {
        source->report(ReachabilityFlags{bits});
        source->drain();
        return reachability->connection();
    }

    std::shared_ptr<FakeReachabilitySource> source;
    std::shared_ptr<Reachability> reachability;
};

}  // namespace

TEST(ReachabilityFlagsText, ShowsEachBitInItsPlace) {
    EXPECT_EQ(ReachabilityFlags{}.description(), "-- -------");
    EXPECT_EQ((ReachabilityFlags{F::isWWAN | F::reachable}).description(), "WR -------");
    EXPECT_EQ((ReachabilityFlags{F::reachable | F::connectionRequired | F::transientConnection |
                                 F::interventionRequired | F::connectionOnTraffic | F::connectionOnDemand |
                                 F::isLocalAddress | F::isDirect})
                  .description(),
              "-R ctiCDld");
}

TEST(Reachability, MapsFlagsToConnection) {
    Monitor m;
    m.reachability->startNotifier();
    EXPECT_EQ(m.connectionFor(F::reachable), Connection::wifi);
    EXPECT_EQ(m.connectionFor(F::reachable | F::connectionRequired), Connection::unavailable);
    EXPECT_EQ(m.connectionFor(F::reachable | F::connectionRequired | F::connectionOnDemand), Connection::wifi);
    EXPECT_EQ(m.connectionFor(F::reachable | F::connectionRequired | F::connectionOnTraffic | F::interventionRequired),
              Connection::unavailable);
    EXPECT_EQ(m.connectionFor(F::connectionOnDemand | F::isWWAN | F::isDirect), Connection::unavailable);
    EXPECT_EQ(m.connectionFor(F::reachable | F::isWWAN), Connection::cellular);
    EXPECT_EQ(m.connectionFor(F::reachable | F::isWWAN | F::connectionRequired), Connection::cellular);
    EXPECT_TRUE(m.reachability->isReachableViaWWAN());
    EXPECT_EQ(m.reachability->currentReachabilityString(), "Cellular");
    m.reachability->setAllowsCellularConnection(false);
    EXPECT_EQ(m.reachability->connection(), Connection::unavailable);
    EXPECT_EQ(m.reachability->currentReachabilityString(), "No Connection");
}

TEST(Reachability, DescriptionBeforeAndAfterTheFirstRead) {
    Monitor m(nullptr, ReachabilityFlags{F::reachable});
    EXPECT_EQ(m.reachability->description(), "unavailable flags");
    EXPECT_FALSE(m.reachability->flags().has_value());
    // Reading the connection reads the flags when none were ever read.
    EXPECT_TRUE(m.reachability->isReachableViaWiFi());
    EXPECT_EQ(m.reachability->description(), "-R -------");
}

TEST(Reachability, AnnouncesEachChangeOnceWithTheMatchingHandlerAndANotification) {
    auto main = DispatchQueue::create("notifications");
    Monitor m(main);
    std::vector<std::string> seen;  // touched on `main` only
    m.reachability->setWhenReachable([&](Reachability& r) {
        EXPECT_TRUE(main->isCurrent());
        seen.push_back("reachable " + r.description());
    });
    m.reachability->setWhenUnreachable([&](Reachability&) { seen.push_back("unreachable"); });
    auto center = std::make_shared<NotificationCenter>();
    m.reachability->setNotificationCenter(center);
    center->addObserver(std::string(reachabilityChanged), [&](const Notification& n) {
        auto poster = std::any_cast<std::shared_ptr<Reachability>>(n.object);
        seen.push_back(poster == m.reachability ? "posted" : "posted by another");
    });

    // Announcements read the connection when they run, so each change is let through alone.
    auto step = [&](std::uint32_t bits) {
        m.source->report(ReachabilityFlags{bits});
        m.source->drain();
        quorvane::testing::drain(main);
    };
    m.reachability->startNotifier();  // absent -> empty flags: one announcement
    quorvane::testing::drain(main);
    step(F::reachable);
    step(F::reachable);  // same bits: nothing
    step(F::reachable | F::isDirect);
    EXPECT_EQ(seen, (std::vector<std::string>{"unreachable", "posted", "reachable -R -------", "posted",
                                              "reachable -R ------d", "posted"}));
}

TEST(Reachability, WithoutNotificationQueueHandlersRunOnTheMonitorQueueAndMayReadIt) {
    Monitor m;
    std::atomic<int> calls{0};
    m.reachability->setWhenReachable([&](Reachability& r) {
        // Reading from inside the monitor's own queue must not wait for that queue.
        EXPECT_TRUE(r.isReachable());
        ++calls;
    });
    m.reachability->startNotifier();
    m.source->report(ReachabilityFlags{F::reachable});
    m.source->drain();  // the handler has run by the time the report's handling returned
    EXPECT_EQ(calls, 1);
}

TEST(Reachability, StartsOnceAndStopsCleanly) {
    Monitor m;
    m.reachability->stopNotifier();
    EXPECT_FALSE(m.reachability->notifierRunning());
    m.reachability->startNotifier();
    m.reachability->startNotifier();
    EXPECT_EQ(m.source->setCallbackCount(), 1);
    EXPECT_TRUE(m.reachability->notifierRunning());
    m.reachability->stopNotifier();
    EXPECT_FALSE(m.source->isWatching());
    EXPECT_TRUE(m.reachability->flags().has_value());  // the last flags are kept
    m.reachability->startNotifier();
    EXPECT_EQ(m.source->setCallbackCount(), 2);
    m.reachability.reset();
    EXPECT_FALSE(m.source->isWatching());
}

TEST(Reachability, FailuresToStartUndoTheRegistration) {
    Monitor callbackFails;
    callbackFails.source->failSetCallback(true);
    try {
        callbackFails.reachability->startNotifier();
        FAIL();
    } catch (const ReachabilityError& error) {
        EXPECT_EQ(error.kind(), ReachabilityError::Kind::unableToSetCallback);
        EXPECT_EQ(error.code(), 42);
    }
    EXPECT_FALSE(callbackFails.reachability->notifierRunning());

    Monitor readFails;
    readFails.source->failReads(true);
    EXPECT_THROW(readFails.reachability->startNotifier(), ReachabilityError);
    EXPECT_FALSE(readFails.reachability->notifierRunning());
    EXPECT_FALSE(readFails.source->isWatching());
    EXPECT_EQ(readFails.reachability->connection(), Connection::unavailable);  // swallowed
}

TEST(Reachability, ReadersOnManyThreadsSeeWholeValues) {
    Monitor m;
    m.reachability->startNotifier();
    std::atomic<bool> stop{false};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                auto text = m.reachability->description();
                EXPECT_TRUE(text == "-- -------" || text == "-R -------" || text == "WR -------") << text;
                m.reachability->connection();
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        m.source->report(ReachabilityFlags{i % 3 == 0 ? 0u : i % 3 == 1 ? F::reachable : F::reachable | F::isWWAN});
    }
    m.source->drain();
    stop = true;
    for (auto& reader : readers) reader.join();
}

TEST(Reachability, ReadsThisMachinesRoutingTable) {
    // The machine's own monitor starts and reads the flags without help.
    auto monitor = Reachability::create();
    monitor->startNotifier();
    EXPECT_TRUE(monitor->flags().has_value());
    EXPECT_EQ(monitor->description().size(), 10u);
    monitor->stopNotifier();
}
