#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>

#include "quorvane/PrintLogger.hpp"

using namespace quorvane;

TEST(PrintLogger, WritesTheExactLines) {
    PrintLogger logger;
    ::testing::internal::CaptureStdout();
    logger.debug("word", {std::nullopt});
    logger.info("", {std::nullopt});
    logger.warn("w", {});
    logger.error("e", {LogData{{"k", 1}}, std::nullopt});
    logger.trace("t", {LogData{{"s", "bad\xFF"}}});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "DEBUG: word [nil]\n"
              "INFO:  [nil]\n"
              "WARN: w []\n"
              "ERROR: e [{\"k\":1}, nil]\n"
              "TRACE: t [{\"s\":\"bad\xEF\xBF\xBD\"}]\n");
}

TEST(PrintLogger, ConcurrentCallersWriteWholeLines) {
    PrintLogger logger;
    constexpr int threads = 8, perThread = 200;
    ::testing::internal::CaptureStdout();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            std::string message(100 + t, char('a' + t));
            for (int i = 0; i < perThread; ++i) logger.info(message, {std::nullopt});
        });
    }
    for (auto& worker : workers) worker.join();
    std::istringstream out(::testing::internal::GetCapturedStdout());
    std::set<std::string> expected;
    for (int t = 0; t < threads; ++t) expected.insert("INFO: " + std::string(100 + t, char('a' + t)) + " [nil]");
    int lines = 0;
    for (std::string line; std::getline(out, line); ++lines) ASSERT_TRUE(expected.count(line)) << line;
    EXPECT_EQ(lines, threads * perThread);
}
