#include <gtest/gtest.h>

#include "log/LogEntry.hpp"
#include "util/Utf8.hpp"

using namespace quorvane;

namespace {

LogEntry entry() {
    return LogEntry{std::nullopt, SDKType::SWIFT, "s-1", "1234", 1700000000123, LogType::LOG, LogLevel::WARN,
                    "Quorvane", "WebRtcClient", "connect", "hello", std::nullopt};
}

}  // namespace

TEST(LogLevel, RawValuesAreExactAndImportanceRunsOppositeToDeclaration) {
    EXPECT_EQ(logLevelFromRawValue("TRACE"), LogLevel::TRACE);
    EXPECT_EQ(logLevelFromRawValue("trace"), std::nullopt);
    EXPECT_EQ(logLevelFromRawValue("Trace"), std::nullopt);
    EXPECT_GT(importance(LogLevel::ERROR), importance(LogLevel::WARN));
    EXPECT_GT(importance(LogLevel::WARN), importance(LogLevel::INFO));
    EXPECT_GT(importance(LogLevel::INFO), importance(LogLevel::DEBUG));
    EXPECT_GT(importance(LogLevel::DEBUG), importance(LogLevel::TRACE));
    EXPECT_EQ(importance(LogLevel::ERROR), 4);
    EXPECT_EQ(importance(LogLevel::TRACE), 0);
    EXPECT_EQ(logTypeFromRawValue("DATACHANNELMESSAGEINFO"), LogType::DATACHANNELMESSAGEINFO);
    EXPECT_EQ(sdkTypeFromRawValue("SWIFT"), SDKType::SWIFT);
    EXPECT_EQ(sdkTypeFromRawValue("swift"), std::nullopt);
}

TEST(LogEntry, MetaDataHasTheServiceKeysWithNumbersAsNumbers) {
    auto e = entry();
    auto meta = e.getMetaData();
    EXPECT_EQ(meta, (nlohmann::json{{"sessionId", "s-1"}, {"type", "LOG"}, {"level", "WARN"}, {"sdk", "SWIFT"},
                                    {"package", "Quorvane"}, {"class", "WebRtcClient"}, {"method", "connect"},
                                    {"timestamp", 1700000000123}, {"message", "hello"}, {"pin", "1234"}}));
    EXPECT_TRUE(meta["timestamp"].is_number_integer());

    e.role = WebRtcClientRole::answer;
    e.setLogMetric("Num Messages", 3);
    meta = e.getMetaData();
    EXPECT_EQ(meta.size(), 12u);
    EXPECT_EQ(meta["role"], "answer");
    EXPECT_EQ(meta["data"], (nlohmann::json{{"Num Messages", 3}}));
    EXPECT_TRUE(meta["data"]["Num Messages"].is_number_integer());
}

TEST(LogEntry, DataSettersReplaceWhateverDataHeld) {
    auto e = entry();
    e.data = LogData{{"old", 1}, {"other", "x"}};
    e.setLogDataChannelMessageInfo("abc", 12);
    EXPECT_EQ(*e.data, (nlohmann::json{{"messageId", "abc"}, {"messageLength", 12}}));
    e.setLogMetric("Max Message Size", 301);
    EXPECT_EQ(*e.data, (nlohmann::json{{"Max Message Size", 301}}));

    e.data = LogData::object();
    auto meta = e.getMetaData();
    ASSERT_TRUE(meta.contains("data"));
    EXPECT_TRUE(meta["data"].is_object());
    EXPECT_TRUE(meta["data"].empty());
}

TEST(LogEntry, MetaDataOfInvalidUtf8AlwaysSerialises) {
    auto e = entry();
    e.message = "bad \xC3\x28 and \xFF end";
    e.klass = "K\xE2\x82";
    e.data = LogData{{"peer\xFE", "x\xED\xA0\x80y"}, {"list", {"ok", "\xC0\xAF"}}};
    std::string text;
    ASSERT_NO_THROW(text = e.getMetaData().dump());
    auto back = nlohmann::json::parse(text);
    EXPECT_EQ(back["message"], "bad \xEF\xBF\xBD( and \xEF\xBF\xBD end");
    EXPECT_EQ(back["class"], "K\xEF\xBF\xBD");
    EXPECT_EQ(back["data"]["peer\xEF\xBF\xBD"], "x\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDy");
    EXPECT_EQ(back["data"]["list"][1], "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Utf8, KeepsWellFormedTextAndReplacesEachIllFormedSubpart) {
    std::string good = "plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF";
    EXPECT_EQ(validUtf8(good), good);
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(validUtf8("\xF0\x9F\x98"), r);                    // truncated sequence: one replacement
    EXPECT_EQ(validUtf8("\xF0\x9F\x98" "A"), r + "A");
    EXPECT_EQ(validUtf8("\xE0\x80\x80"), r + r + r);            // overlong
    EXPECT_EQ(validUtf8("\xF4\x90\x80\x80"), r + r + r + r);    // above U+10FFFF
    EXPECT_EQ(validUtf8("\x80"), r);
    EXPECT_EQ(validUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}
