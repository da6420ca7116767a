// Two WebRtcClients meet, carry messages, end the session and reconnect (fixture in
// WebRtcClientSessionFixture.hpp).

#include <gtest/gtest.h>

#include "integration/WebRtcClientSessionFixture.hpp"

namespace quorvane {
namespace {

using namespace testing;

class WebRtcClientSessionTest : public WebRtcClientSessionFixture {};

/// Parameter: whether the offer side connects first.
class WebRtcClientStartOrderTest : public WebRtcClientSessionTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WebRtcClientStartOrderTest, ConnectsAndCarriesMessagesBothWays) {
    connectBoth(GetParam());
    exchangeMessages("one");
    exchangeMessages("two");
}

INSTANTIATE_TEST_SUITE_P(WebRtcClientSession, WebRtcClientStartOrderTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "OfferFirst" : "AnswerFirst"; });

TEST_F(WebRtcClientSessionTest, DisconnectSignalEndsTheSessionOnBothSides) {
    connectBoth(true);
    offer->resetState(true).wait();
    ASSERT_TRUE(answerHears->waitFor("disconnect expected"));

    EXPECT_FALSE(offer->isConnected());
    EXPECT_FALSE(answer->isConnected());
    EXPECT_EQ(WebRtcClientTesting::peerConnection(*offer), nullptr);
    EXPECT_EQ(WebRtcClientTesting::peerConnection(*answer), nullptr);
    EXPECT_TRUE(eventually([&] { return !signalingConnected(*answer); }));
    EXPECT_EQ(offerHears->count("disconnect expected") + offerHears->count("disconnect unexpected"), 0u)
        << "the host's own reset is not reported";
}

TEST_F(WebRtcClientSessionTest, SilentChannelResetsAndReconnectsBothSides) {
    connectBoth(true);
    // The offer side's connection stops without a word: no heartbeat reaches either side.
    WebRtcClientTesting::peerConnection(*offer)->close();

    ASSERT_TRUE(offerHears->waitFor("willReset"));
    ASSERT_TRUE(answerHears->waitFor("willReset"));
    ASSERT_TRUE(offerHears->waitFor("established", 2));
    ASSERT_TRUE(answerHears->waitFor("established", 2));
    exchangeMessages("after the reconnect");
    EXPECT_EQ(offerHears->count("disconnect unexpected") + answerHears->count("disconnect unexpected"), 0u);
}

TEST_F(WebRtcClientSessionTest, BrokerRestartDoesNotEndTheSession) {
    connectBoth(true);
    broker.stop();
    exchangeMessages("while the broker is down");
    broker.start();
    ASSERT_TRUE(eventually([&] { return signalingConnected(*offer) && signalingConnected(*answer); }));
    exchangeMessages("after the broker is back");

    // Signaling is whole again: the disconnect signal still reaches the peer.
    offer->resetState(true).wait();
    EXPECT_TRUE(answerHears->waitFor("disconnect expected"));
    EXPECT_EQ(offerHears->count("willReset") + answerHears->count("willReset"), 0u);
}

TEST_F(WebRtcClientSessionTest, DisconnectWhileTheBrokerIsDownStillEndsTheLocalSide) {
    connectBoth(true);
    broker.stop();

    EXPECT_ANY_THROW(offer->resetState(true).wait()) << "the peer was not told";
    EXPECT_FALSE(offer->isConnected());
    EXPECT_EQ(WebRtcClientTesting::peerConnection(*offer), nullptr);
    EXPECT_EQ(answerHears->count("disconnect expected"), 0u);
}

}  // namespace
}  // namespace quorvane
