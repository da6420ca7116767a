#include <gtest/gtest.h>

#include <thread>

#include "async/Clock.hpp"
#include "log/ClassLogger.hpp"
#include "log/ZephLogger.hpp"
#include "support/RecordingLogger.hpp"

using namespace quorvane;
using quorvane::testing::RecordingLogger;

namespace {

using Ordinary = void (ZephLogger::*)(bool, const std::string&, const std::string&, const std::string&,
                                      const std::string&, std::optional<LogData>);

struct Level {
    LogLevel level;
    Ordinary call;
    const char* printed;
};

const std::vector<Level> ordinaryLevels{
    {LogLevel::TRACE, &ZephLogger::trace, "TRACE"}, {LogLevel::DEBUG, &ZephLogger::debug, "DEBUG"},
    {LogLevel::INFO, &ZephLogger::info, "INFO"},    {LogLevel::WARN, &ZephLogger::warn, "WARN"},
    {LogLevel::ERROR, &ZephLogger::error, "ERROR"},
};

}  // namespace

TEST(ZephLogger, OrdinaryLevelsStoreByThresholdRetainAndFlagButAlwaysPrint) {
    ScopedVirtualClock clock;
    for (const auto& threshold : ordinaryLevels) {
        for (bool retain : {false, true}) {
            for (bool flag : {false, true}) {
                for (const auto& call : ordinaryLevels) {
                    SCOPED_TRACE(std::string("threshold ") + threshold.printed + " retain " + std::to_string(retain) +
                                 " flag " + std::to_string(flag) + " call " + call.printed);
                    auto console = std::make_shared<RecordingLogger>();
                    auto logger = std::make_shared<ZephLogger>(console, threshold.level, retain);
                    ((*logger).*call.call)(flag, "Quorvane", "Klass", "op", "message", std::nullopt);

                    bool passes = importance(call.level) >= importance(threshold.level);
                    auto store = logger->getLogStore();
                    ASSERT_EQ(store.size(), passes && (retain || flag) ? 1u : 0u);
                    if (!store.empty()) {
                        EXPECT_EQ(store[0].type, LogType::LOG);
                        EXPECT_EQ(store[0].level, call.level);
                    }
                    auto printed = console->calls();
                    ASSERT_EQ(printed.size(), 1u);
                    EXPECT_EQ(printed[0].level, call.printed);
                    EXPECT_EQ(printed[0].message, "message");
                    ASSERT_EQ(printed[0].data.size(), 1u);
                    EXPECT_FALSE(printed[0].data[0].has_value());
                }
            }
        }
    }
}

TEST(ZephLogger, SpecialKindsIgnoreTheThresholdAndNeverPrint) {
    ScopedVirtualClock clock;
    for (bool retain : {false, true}) {
        for (bool flag : {false, true}) {
            auto console = std::make_shared<RecordingLogger>();
            auto logger = std::make_shared<ZephLogger>(console, LogLevel::ERROR, retain);
            logger->sensitive(flag, "P", "K", "op", "secret", LogData{{"pin", "1234"}});
            logger->metric(flag, "P", "K", "op", "", "Num Messages", 3);
            logger->dataChannelMessage(flag, "P", "K", "op", "sent", "abc", 12);
            EXPECT_TRUE(console->calls().empty());
            auto store = logger->getLogStore();
            if (!retain && !flag) {
                EXPECT_TRUE(store.empty());
                continue;
            }
            ASSERT_EQ(store.size(), 3u);
            EXPECT_EQ(store[0].type, LogType::SENSITIVE);
            EXPECT_EQ(store[0].level, LogLevel::INFO);
            EXPECT_EQ(*store[0].data, (LogData{{"pin", "1234"}}));
            EXPECT_EQ(store[1].type, LogType::METRIC);
            EXPECT_EQ(store[1].level, LogLevel::DEBUG);
            EXPECT_EQ(*store[1].data, (LogData{{"Num Messages", 3}}));
            EXPECT_EQ(store[2].type, LogType::DATACHANNELMESSAGEINFO);
            EXPECT_EQ(store[2].level, LogLevel::INFO);
            EXPECT_EQ(*store[2].data, (LogData{{"messageId", "abc"}, {"messageLength", 12}}));
        }
    }
}

TEST(ZephLogger, EntriesAreStampedWhenMadeAndKeepTheirStamps) {
    ScopedVirtualClock clock(0.0025);  // 2.5 ms after the epoch
    auto logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, true);
    logger->info(false, "Quorvane", "QuorvaneClient", "start", "before");
    logger->setRole(WebRtcClientRole::answer);
    logger->setPin("4321");
    logger->setSessionId("session-9");
    clock->advance(1.5);
    logger->debug(false, "Quorvane", "QuorvaneClient", "start", "after", LogData{{"k", 1}});

    auto store = logger->getLogStore();
    ASSERT_EQ(store.size(), 2u);
    EXPECT_EQ(store[0].timeStamp, 2);  // truncated, not rounded
    EXPECT_EQ(store[0].sessionID, "not set");
    EXPECT_EQ(store[0].pin, "not set");
    EXPECT_FALSE(store[0].role.has_value());
    EXPECT_EQ(store[0].sdk, SDKType::SWIFT);
    EXPECT_EQ(store[1].timeStamp, 1502);
    EXPECT_EQ(store[1].sessionID, "session-9");
    EXPECT_EQ(store[1].pin, "4321");
    EXPECT_EQ(store[1].getMetaData()["role"], "answer");
    EXPECT_EQ(*store[1].data, (LogData{{"k", 1}}));
    EXPECT_EQ(store[1].pkg, "Quorvane");
    EXPECT_EQ(store[1].klass, "QuorvaneClient");
    EXPECT_EQ(store[1].method, "start");
    EXPECT_EQ(store[1].message, "after");

    logger->clearLogStore();
    EXPECT_TRUE(logger->getLogStore().empty());
}

TEST(ZephLogger, ConsoleLoggerCanBeReplacedOrAbsentAndReceivesTheData) {
    ScopedVirtualClock clock;
    auto first = std::make_shared<RecordingLogger>();
    auto second = std::make_shared<RecordingLogger>();
    auto logger = std::make_shared<ZephLogger>(first, LogLevel::TRACE, false);
    logger->warn(false, "P", "K", "op", "one", LogData{{"n", 1}});
    logger->setLogger(second);
    logger->error(true, "P", "K", "op", "two");
    logger->setLogger(nullptr);
    logger->info(true, "P", "K", "op", "three");

    ASSERT_EQ(first->calls().size(), 1u);
    EXPECT_EQ(first->calls()[0].data[0], (LogData{{"n", 1}}));
    ASSERT_EQ(second->calls().size(), 1u);
    EXPECT_EQ(second->calls()[0].message, "two");
    EXPECT_EQ(logger->getLogStore().size(), 2u);
}

namespace {

/// A console logger that logs again through the structured logger, as a host's might.
class EchoingLogger : public RecordingLogger {
public:
    std::weak_ptr<ZephLogger> target;
    void warn(const std::string& message, const DataList& data) override {
        RecordingLogger::warn(message, data);
        if (auto logger = target.lock()) logger->info(true, "Host", "Echo", "warn", "echo " + message);
    }
};

}  // namespace

TEST(ZephLogger, ConsoleLoggerThatLogsAgainDoesNotDeadlock) {
    ScopedVirtualClock clock;
    auto console = std::make_shared<EchoingLogger>();
    auto logger = std::make_shared<ZephLogger>(console, LogLevel::TRACE, false);
    console->target = logger;
    logger->warn(true, "P", "K", "op", "hi");
    ASSERT_EQ(logger->getLogStore().size(), 2u);
    EXPECT_EQ(logger->getLogStore()[1].message, "echo hi");
}

TEST(ZephLogger, ConcurrentCallersLoseNoEntry) {
    ScopedVirtualClock clock;
    auto console = std::make_shared<RecordingLogger>();
    auto logger = std::make_shared<ZephLogger>(console, LogLevel::TRACE, true);
    constexpr int threads = 8, perThread = 500;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            ClassLogger log(logger, "Worker" + std::to_string(t));
            for (int i = 0; i < perThread; ++i) log.debug("run", std::to_string(i));
        });
    }
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(logger->getLogStore().size(), std::size_t(threads * perThread));
    EXPECT_EQ(console->calls().size(), std::size_t(threads * perThread));
}

TEST(ClassLogger, LogsUnderItsPackageAndClassWithoutStoreFlagOrData) {
    ScopedVirtualClock clock;
    auto console = std::make_shared<RecordingLogger>();
    auto logger = std::make_shared<ZephLogger>(console, LogLevel::TRACE, true);
    ClassLogger metricsLog(logger, "SessionMetrics", "Quorvane.Util");
    metricsLog.trace("a", "1");
    metricsLog.error("b", "2");
    auto store = logger->getLogStore();
    ASSERT_EQ(store.size(), 2u);
    EXPECT_EQ(store[1].pkg, "Quorvane.Util");
    EXPECT_EQ(store[1].klass, "SessionMetrics");
    EXPECT_EQ(store[1].level, LogLevel::ERROR);
    EXPECT_FALSE(store[1].data.has_value());

    auto notRetained = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, false);
    ClassLogger(notRetained, "WebRtcClient").error("op", "not stored: no store flag");
    EXPECT_TRUE(notRetained->getLogStore().empty());
    ClassLogger(nullptr, "Nobody").warn("op", "no logger, no crash");
}

TEST(ZephLogger, StoreKeepsTheNewestEntriesWithinItsCapacity) {
    // Every kind of entry, flagged or retained, counts with its strings and its data as held.
    constexpr std::size_t capacity = 64 << 10;
    constexpr int logged = 1000;
    struct Case {
        const char* name;
        bool retain;
        std::size_t messageBytes;
        std::size_t dataBytes;  // a text of this length in the entry's data
        bool metric;
    };
    const std::vector<Case> cases{
        {"retained short lines", true, 0, 0, false},
        {"retained long lines", true, 1000, 0, false},
        {"flagged lines with long data", false, 0, 1000, false},
        {"flagged metrics with long names", false, 0, 1000, true},
    };
    ScopedVirtualClock clock;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, c.retain, capacity);
        for (int i = 0; i < logged; ++i) {
            auto message = std::to_string(i) + std::string(c.messageBytes, '.');
            if (c.metric) {
                logger->metric(true, "P", "K", "op", message, std::string(c.dataBytes, 'n'), i);
            } else {
                logger->info(!c.retain, "P", "K", "op", message, LogData{{"text", std::string(c.dataBytes, 'd')}});
            }
        }
        auto store = logger->getLogStore();
        ASSERT_FALSE(store.empty());
        ASSERT_LT(store.size(), std::size_t(logged));
        const auto first = logged - int(store.size());
        for (std::size_t i = 0; i < store.size(); ++i) {  // the newest, in order
            ASSERT_EQ(store[i].message, std::to_string(first + int(i)) + std::string(c.messageBytes, '.'));
        }
        // At least the entry itself and its texts count; the overhead counted beside is modest.
        const auto held = sizeof(LogEntry) + c.messageBytes + c.dataBytes;
        EXPECT_LE(store.size() * held, capacity);
        EXPECT_GE(store.size() * (held + 512), capacity);
    }
}
