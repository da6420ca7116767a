#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "async/Clock.hpp"
#include "log/SessionMetrics.hpp"
#include "log/ZephLogger.hpp"

using namespace quorvane;

namespace {

struct Fixture {
    explicit Fixture(double wallStart = 1'700'000'000.0) : clock(wallStart) {}

    ScopedVirtualClock clock;
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, false);
    SessionMetrics metrics{logger};

    void send(std::size_t size) { metrics.updateMessageMetrics(size); }

    /// {name, value} of each stored entry, in order.
    std::vector<std::pair<std::string, std::int64_t>> logged() const {
        std::vector<std::pair<std::string, std::int64_t>> out;
        for (const auto& entry : logger->getLogStore()) {
            EXPECT_EQ(entry.type, LogType::METRIC);
            EXPECT_EQ(entry.level, LogLevel::DEBUG);
            EXPECT_EQ(entry.pkg, "Quorvane.Util");
            EXPECT_EQ(entry.klass, "SessionMetrics");
            EXPECT_EQ(entry.method, "logMetrics");
            EXPECT_EQ(entry.message, "");
            EXPECT_EQ(entry.data->size(), 1u);
            auto item = entry.data->items().begin();
            EXPECT_TRUE(item.value().is_number_integer());
            out.emplace_back(item.key(), item.value().get<std::int64_t>());
        }
        return out;
    }
};

using Metrics = std::vector<std::pair<std::string, std::int64_t>>;

Metrics report(std::int64_t reconnects, std::int64_t messages, std::int64_t avg, std::int64_t max, std::int64_t duration) {
    return {{"Num Reconnects", reconnects},
            {"Num Messages", messages},
            {"Avg Message Size", avg},
            {"Max Message Size", max},
            {"Session Duration", duration}};
}

}  // namespace

TEST(SessionMetrics, LogsTheFiveMetricsInOrderAndStartsOver) {
    Fixture f;
    f.metrics.startCollection();
    f.send(100);
    f.send(200);
    f.send(301);
    f.metrics.incrementReconnects();
    f.clock->advance(5);
    f.metrics.endCollection();
    EXPECT_EQ(f.logged(), report(1, 3, 200, 301, 5000));  // stored although logs are not retained

    f.logger->clearLogStore();
    f.metrics.startCollection();
    f.metrics.endCollection();
    EXPECT_EQ(f.logged(), report(0, 0, 0, 0, 0));
}

TEST(SessionMetrics, AverageWorksFromTheTruncatedPreviousAverage) {
    Fixture f;
    f.send(1);
    f.send(2);
    f.metrics.startCollection();
    f.metrics.endCollection();
    EXPECT_EQ(f.logged()[2].second, 1);

    f.logger->clearLogStore();
    for (auto size : {3, 4, 4}) f.send(size);
    f.metrics.startCollection();
    f.metrics.endCollection();
    EXPECT_EQ(f.logged()[2].second, 3);

    f.logger->clearLogStore();
    f.send(0);
    f.metrics.startCollection();
    f.metrics.endCollection();
    EXPECT_EQ(f.logged(), report(0, 1, 0, 0, 0));
}

TEST(SessionMetrics, EndWithoutStartLogsNothingAndCountersCarryOver) {
    Fixture f;
    f.send(10);
    f.metrics.incrementReconnects();
    f.metrics.endCollection();
    EXPECT_TRUE(f.logger->getLogStore().empty());

    f.metrics.startCollection();
    f.send(30);
    f.clock->advance(1);
    f.metrics.endCollection();
    f.metrics.endCollection();  // only the first end after a start logs
    EXPECT_EQ(f.logged(), report(1, 2, 20, 30, 1000));
}

TEST(SessionMetrics, TimesAreRoundedHalfAwayFromZero) {
    Fixture f(0.0025);            // 2.5 ms after the epoch
    f.metrics.startCollection();  // start 3 (rounded)
    f.clock->advance(0.0014);     // 3.9 ms: end 4
    f.metrics.endCollection();
    EXPECT_EQ(f.logged()[4], (std::pair<std::string, std::int64_t>{"Session Duration", 1}));
}

TEST(SessionMetrics, ConcurrentUpdatesAreCountedExactly) {
    Fixture f;
    f.metrics.startCollection();
    constexpr int threads = 8, perThread = 1000;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < perThread; ++i) {
                f.send(50);
                if (i % 100 == 0) f.metrics.incrementReconnects();
            }
        });
    }
    for (auto& worker : workers) worker.join();
    f.metrics.endCollection();
    EXPECT_EQ(f.logged(), report(threads * 10, threads * perThread, 50, 50, 0));
}
