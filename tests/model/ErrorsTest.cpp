#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/FormatSeconds.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/WebRtcClientRole.hpp"

using namespace quorvane;

TEST(QuorvaneError, DescriptionsAndTitles) {
    auto init = QuorvaneError::failedToInitialize("Missing Needed Data", "The data transfer client was not created");
    EXPECT_EQ(init.title(), "Missing Needed Data");
    EXPECT_STREQ(init.what(), "Failed to initialize session with error: The data transfer client was not created");
    EXPECT_EQ(QuorvaneError::notImplemented("").errorDescription(), "Functionality needs to be implemented: ");
    EXPECT_EQ(QuorvaneError::notImplemented("").title(), "Functionality Not Implemented");
    EXPECT_EQ(QuorvaneError::networkRequestFailed("T", "").errorDescription(), "");
    EXPECT_EQ(QuorvaneError::failedToSend("query").errorDescription(), "Failed to send query");
    EXPECT_EQ(QuorvaneError::failedToSend("query").title(), "Failed to Send Message");
    EXPECT_EQ(QuorvaneError::invalidUsage().errorDescription(), "Invalid usage of the SDK");
    EXPECT_EQ(QuorvaneError::invalidUsage().title(), "Invalid Usage");
}

TEST(QuorvaneError, TimeOutsAreWrittenAsShortestPlainDecimals) {
    EXPECT_EQ(QuorvaneError::commandTimedOut(30).errorDescription(),
              "Timeout (30.0 seconds) hit before receiving a response to this command");
    EXPECT_EQ(QuorvaneError::queryTimedOut(0.5).errorDescription(),
              "Timeout (0.5 seconds) hit before receiving a response to this query");
    EXPECT_EQ(QuorvaneError::queryTimedOut(0.5).title(), "Sending Query Timed Out");
    EXPECT_EQ(QuorvaneError::commandTimedOut(1).title(), "Sending Command Timed Out");
    EXPECT_EQ(formatSeconds(5), "5.0");
    EXPECT_EQ(formatSeconds(2.5), "2.5");
    EXPECT_EQ(formatSeconds(100000), "100000.0");
    EXPECT_EQ(formatSeconds(0.1), "0.1");
}

TEST(WebRTCError, Descriptions) {
    EXPECT_EQ(WebRTCError::timeout("").errorDescription(), " timed out");
    EXPECT_EQ(WebRTCError::timeout("Sending chunked message").errorDescription(), "Sending chunked message timed out");
    EXPECT_STREQ(WebRTCError::notInitialized().what(), "WebRTC client is not initialized");
    EXPECT_STREQ(WebRTCError::connectionReset().what(), "Resetting connection");
    EXPECT_STREQ(WebRTCError::cannotFormData().what(), "Error trying to create data to send over data channel");
    EXPECT_STREQ(WebRTCError::channelClosed().what(), "The data channel is closed");
    EXPECT_STREQ(WebRTCError::failedToSendData().what(), "Could not send data over data channel");
    EXPECT_STREQ(WebRTCError::checksumFailed().what(),
                 "Checksum in header of received message does not match calculated checksum");
}

TEST(WebRtcClientRole, RawValuesMatchExactly) {
    EXPECT_EQ(rawValue(WebRtcClientRole::offer), "offer");
    EXPECT_EQ(rawValue(WebRtcClientRole::answer), "answer");
    EXPECT_EQ(webRtcClientRoleFromRawValue("answer"), WebRtcClientRole::answer);
    for (auto bad : {"Offer", "", " offer", "answer "}) EXPECT_FALSE(webRtcClientRoleFromRawValue(bad)) << bad;
}

TEST(WebRtcClientRole, EncodesAsAPlainJsonString) {
    nlohmann::json body{{"role", WebRtcClientRole::answer}};
    EXPECT_EQ(body.dump(), R"({"role":"answer"})");
    EXPECT_EQ(nlohmann::json(WebRtcClientRole::offer).dump(), R"("offer")");
}
