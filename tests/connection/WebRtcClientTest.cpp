// The session logic of one WebRtcClient: reset, reconnect and negotiation (fixture in
// WebRtcClientFixture.hpp).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include "connection/WebRtcClientFixture.hpp"
#include "formats/RtcHandshakeWriter.hpp"

namespace quorvane {
namespace {

using namespace testing;
using ::testing::ElementsAre;
using ::testing::StartsWith;

class WebRtcClientTest : public WebRtcClientFixture {};

// --- Construction -------------------------------------------------------------------------------

TEST_F(WebRtcClientTest, BrokerWithoutSslOrWssPortGivesNoClient) {
    logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, false);
    auto settings = configuration(WebRtcClientRole::offer);
    settings.connectionInformation.mqtt.ports = {.ws = 1, .tcp = 3};
    EXPECT_EQ(make(settings), nullptr);
    // Stored although the logger keeps no lines of its own accord.
    EXPECT_THAT(log(), ElementsAre("ERROR init: Signal server web socket port unavailable"));
}

// --- Reset --------------------------------------------------------------------------------------

TEST_F(WebRtcClientTest, HostResetEndsTheSessionWithoutAFreshPeerConnection) {
    for (const bool sendDisconnect : {true, false}) {
        mqtt = std::make_shared<FakeMqttTransport>();
        connectAnswerSide();
        client->resetState(sendDisconnect).wait();
        settle();  // signaling is reset on its own queue
        EXPECT_EQ(WebRtcClientTesting::peerConnection(*client), nullptr);
        EXPECT_EQ(countOn(offerInbox, Message::Disconnect), sendDisconnect ? 1u : 0u);
        EXPECT_EQ(mqtt->calls().back(), "disconnect");
        EXPECT_FALSE(client->isConnected());
    }
    // Without a peer connection there is nobody to tell.
    client->resetState(true).wait();
    EXPECT_EQ(countOn(offerInbox, Message::Disconnect), 0u);
}

TEST_F(WebRtcClientTest, FailedDisconnectSignalStillEndsTheSession) {
    struct Case {
        FakeMqttTransport::PublishStatus status;
        bool confirmed;
        double wait;
        std::string error;
    };
    for (const auto& c : {Case{FakeMqttTransport::PublishStatus::refused, false, 0, "Publish refused by MQTT client"},
                          Case{FakeMqttTransport::PublishStatus::sent, false, timeout,
                               "Disconnect signal not sent within 10 seconds"}}) {
        mqtt = std::make_shared<FakeMqttTransport>();
        connectAnswerSide();
        mqtt->answerPublish(c.status, c.confirmed);
        auto reset = client->resetState(true);
        settle();
        advance(c.wait);
        EXPECT_THAT(outcome(reset), StartsWith(c.error));
        EXPECT_EQ(WebRtcClientTesting::peerConnection(*client), nullptr);
        EXPECT_EQ(mqtt->calls().back(), "disconnect");
        EXPECT_TRUE(logged("DEBUG resetState: State reset complete"));
    }
}

TEST_F(WebRtcClientTest, TerminalResetIsFinal) {
    for (const bool timeoutFirst : {true, false}) {
        mqtt = std::make_shared<FakeMqttTransport>();
        hears = std::make_shared<RecordingTransportDelegate>();
        connectOfferSide(false);
        if (timeoutFirst) client->dataChannelFiredHeartbeatTimeout();
        client->resetState(false);
        if (!timeoutFirst) client->dataChannelFiredHeartbeatTimeout();
        settle();
        advance(2 * timeout);

        EXPECT_EQ(hears->count("willReset"), timeoutFirst ? 1u : 0u);
        EXPECT_EQ(hears->count("disconnect unexpected"), 0u);
        EXPECT_EQ(WebRtcClientTesting::peerConnection(*client), nullptr);
        EXPECT_EQ(connectsSinceLastDisconnect(), 0u);
        auto reconnected = client->reconnect();
        settle();
        EXPECT_EQ(outcome(reconnected), "Resetting connection");
    }
}

TEST_F(WebRtcClientTest, TheSessionsEndRejectsWaitingAndLaterSendsAndLaterConnects) {
    struct Case {
        const char* end;
        std::function<void()> before, ends;
    };
    const std::vector<Case> cases{
        {"host's reset", [] {}, [&] { client->resetState(true); }},
        {"peer's disconnect signal", [] {},
         [&] { deliver(offerInbox, RtcHandshakeWriter::disconnect("token", 0, "answer-client")); }},
        {"failed reconnect",
         [&] {
             client->dataChannelFiredHeartbeatTimeout();
             settle();
         },
         [&] { advance(timeout); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.end);
        mqtt = std::make_shared<FakeMqttTransport>();
        connectOfferSide();
        c.before();
        // The channel never opens: both wait to be written.
        std::vector<Promise<void>> sends{client->sendMessage({1}, 0, nullptr), client->sendMessage({2}, 0, nullptr)};
        c.ends();
        sends.push_back(client->sendMessage({3}, 0, nullptr));
        auto connect = client->connectAsOffer();
        settle();
        for (const auto& sent : sends) {
            EXPECT_TRUE(eventually([&] { return !sent.isPending(); }));
            EXPECT_EQ(outcome(sent), "The data channel is closed");
        }
        EXPECT_EQ(outcome(connect), "The session has ended");
    }
}

TEST_F(WebRtcClientTest, AFailedConnectEndsTheSession) {
    for (const auto role : {WebRtcClientRole::offer, WebRtcClientRole::answer}) {
        SCOPED_TRACE(role == WebRtcClientRole::offer ? "offer" : "answer");
        mqtt = std::make_shared<FakeMqttTransport>();
        mqtt->answerConnect(5);  // the broker refuses
        client = make(configuration(role));
        auto waiting = client->sendMessage({1}, 0, nullptr);
        auto connect = role == WebRtcClientRole::offer ? client->connectAsOffer() : client->connectAsAnswer();
        ASSERT_TRUE(eventually([&] { return !connect.isPending() && !waiting.isPending(); }));
        EXPECT_EQ(outcome(connect), "Connection request rejected by MQTT client");
        EXPECT_TRUE(waiting.isRejected());
        auto later = client->sendMessage({2}, 0, nullptr);
        ASSERT_TRUE(eventually([&] { return !later.isPending(); }));
        EXPECT_EQ(outcome(later), "The data channel is closed");
    }
}

// --- Reconnect ----------------------------------------------------------------------------------

TEST_F(WebRtcClientTest, ReconnectThatDoesNotCompleteInTimeEndsTheSessionOnce) {
    connectOfferSide();
    client->dataChannelFiredHeartbeatTimeout();
    settle();
    client->dataChannelFiredHeartbeatTimeout();  // the reconnect under way is not started again
    settle();
    EXPECT_EQ(hears->count("willReset"), 1u);

    // Signaling connects again, but the peer is never heard: no offer, no channel.
    advance(timeout - 1);
    EXPECT_EQ(hears->count("disconnect unexpected"), 0u);
    advance(1);
    EXPECT_EQ(hears->count("disconnect unexpected"), 1u);
    EXPECT_THAT(log(), ::testing::IsSupersetOf(std::vector<std::string>{
                                  "ERROR reconnect: Unexpected disconnect from webRTC",
                                  "ERROR checkForHeartbeat: Reconnect did not complete within 10 seconds"}));
    EXPECT_EQ(WebRtcClientTesting::peerConnection(*client), nullptr);
    advance(5 * timeout);
    EXPECT_EQ(hears->count("disconnect unexpected"), 1u);
}

// --- Negotiation --------------------------------------------------------------------------------

TEST_F(WebRtcClientTest, NegotiationRequestDuringTheConnectsOwnOfferIsIgnored) {
    // The peer is heard before this side's connect completes, so that the channel's negotiation
    // request finds signaling connected and joined while the connect's offer is being made.
    mqtt->answerPublish(FakeMqttTransport::PublishStatus::sent, false);
    client = make(configuration(WebRtcClientRole::offer));
    client->connectAsOffer();
    ASSERT_TRUE(eventually([&] { return !mqtt->publications().empty(); }));
    // A request of WebRTC's that the client reads only after the peer has joined, but before the
    // connect's next step: the client's queue holds both until then.
    const auto events = WebRtcClientTesting::peerConnectionEvents(*client);
    const auto connection = WebRtcClientTesting::peerConnection(*client);
    std::promise<void> release;
    WebRtcClientTesting::queue(*client)->async([held = release.get_future().share()] { held.wait_for(10s); });
    events->peerConnectionShouldNegotiate(connection);
    mqtt->deliver(announceTopic, "answer-client");
    mqtt->answerPublish(FakeMqttTransport::PublishStatus::sent, true);
    mqtt->confirmPublish(mqtt->publications().front().messageId);
    ASSERT_TRUE(eventually([&] { return WebRtcClientTesting::signals(*client).hasJoined(); }));
    release.set_value();

    ASSERT_TRUE(eventually([&] { return countOn(answerInbox, Message::Offer) > 0; }));
    std::this_thread::sleep_for(300ms);
    settle();
    EXPECT_EQ(countOn(answerInbox, Message::Offer), 1u);
    EXPECT_FALSE(logged("ERROR")) << "no failed second offer either";
}

TEST_F(WebRtcClientTest, OfferSideKeepsItsOwnOfferWhenBothOffer) {
    connectOfferSide();
    deliver(offerInbox, RtcHandshakeWriter::offer("token", 0, "offer", peerOffer()));
    EXPECT_TRUE(logged("DEBUG signalClient(didReceiveOffer:): Keeping the own pending offer"));
    EXPECT_FALSE(logged("ERROR"));
    EXPECT_EQ(signalingState(), rtc::SignalingState::haveLocalOffer);
    EXPECT_EQ(countOn(answerInbox, Message::Answer), 0u);
}

TEST_F(WebRtcClientTest, AnswerSideWithdrawsItsOwnOfferWhenBothOffer) {
    connectAnswerSide();
    // A renegotiation of the answer side's own: its offer is out when the peer's arrives.
    WebRtcClientTesting::peerConnection(*client)->createDataChannel();
    ASSERT_TRUE(eventually([&] { return countOn(offerInbox, Message::Offer) == 1; }));
    ASSERT_EQ(signalingState(), rtc::SignalingState::haveLocalOffer);

    deliver(answerInbox, RtcHandshakeWriter::offer("token", 0, "offer", peerOffer()));
    ASSERT_TRUE(eventually([&] { return countOn(offerInbox, Message::Answer) == 1; }));
    EXPECT_TRUE(logged("DEBUG signalClient(didReceiveOffer:): Rolling back the own pending offer"));
    EXPECT_FALSE(logged("ERROR"));
    EXPECT_EQ(signalingState(), rtc::SignalingState::stable);
}

/// The SDP texts of the offers or answers published on `topic`, in order.
std::vector<std::string> descriptionsOn(const FakeMqttTransport& mqtt, const std::string& topic, Message kind) {
    std::vector<std::string> texts;
    for (const auto& publication : mqtt.publications()) {
        const auto view = publication.topic == topic ? parseRtcHandshake(publication.payload) : std::nullopt;
        if (!view || view->messageType() != kind) continue;
        const auto description = kind == Message::Offer ? view->offer() : view->answer();
        texts.push_back(description->sdp().value_or(""));
    }
    return texts;
}

TEST_F(WebRtcClientTest, OfferSideOffersAgainToAPeerThatAnnouncesItselfAnewOnlyWhileTheAnswerIsDue) {
    enum class Then { waitForTheAnswer, takeTheAnswer, openTheChannel };
    for (const auto then : {Then::waitForTheAnswer, Then::takeTheAnswer, Then::openTheChannel}) {
        SCOPED_TRACE(static_cast<int>(then));
        mqtt = std::make_shared<FakeMqttTransport>();
        connectOfferSide();
        ASSERT_TRUE(eventually([&] { return countOn(answerInbox, Message::Offer) == 1; }));
        const auto offer = descriptionsOn(*mqtt, answerInbox, Message::Offer).front();
        if (then == Then::takeTheAnswer) {
            peer = rtc::PeerConnectionFactory::shared()->createPeerConnection({}, {});
            peer->setRemoteDescription(rtc::SdpType::offer, offer).wait();
            deliver(offerInbox, RtcHandshakeWriter::answer("token", 0, "answer", peer->createAnswer(std::nullopt, std::nullopt).wait()));
            ASSERT_TRUE(eventually([&] { return signalingState() == rtc::SignalingState::stable; }));
        }
        if (then == Then::openTheChannel) client->dataChannelDidChange(DataChannelState::open);
        settle();

        mqtt->deliver(announceTopic, "answer-client");  // the peer connected to the broker afresh
        ASSERT_TRUE(eventually([&] { return mqtt->texts(announceTopic).size() == 3; }));
        settle();
        const auto offers = descriptionsOn(*mqtt, answerInbox, Message::Offer);
        if (then == Then::waitForTheAnswer) {
            EXPECT_EQ(offers, (std::vector<std::string>{offer, offer}));
        } else {
            EXPECT_EQ(offers, std::vector<std::string>{offer});
        }
    }
}

TEST_F(WebRtcClientTest, AnswerSideNeitherOffersToAPeerThatAnnouncesItselfAnewNorAnswersARepeatedOfferAnew) {
    connectAnswerSide();
    const auto offer = RtcHandshakeWriter::offer("token", 0, "offer", peerOffer());
    deliver(answerInbox, offer);
    ASSERT_TRUE(eventually([&] { return countOn(offerInbox, Message::Answer) == 1; }));
    mqtt->deliver(announceTopic, "offer-client");
    deliver(answerInbox, offer);
    ASSERT_TRUE(eventually([&] { return countOn(offerInbox, Message::Answer) == 2; }));
    settle();

    const auto answers = descriptionsOn(*mqtt, offerInbox, Message::Answer);
    EXPECT_EQ(answers.front(), answers.back()) << "the answer already made goes out again";
    EXPECT_EQ(countOn(offerInbox, Message::Offer), 0u);
    EXPECT_EQ(signalingState(), rtc::SignalingState::stable);
    EXPECT_FALSE(logged("ERROR"));
}

TEST_F(WebRtcClientTest, AnswerSideStartsAfreshOnAnOfferOfAnotherPeerConnectionOfThePeers) {
    connectAnswerSide();
    deliver(answerInbox, RtcHandshakeWriter::offer("token", 0, "offer", peerOffer()));
    ASSERT_TRUE(eventually([&] { return countOn(offerInbox, Message::Answer) == 1; }));
    const auto answered = WebRtcClientTesting::peerConnection(*client);

    deliver(answerInbox, RtcHandshakeWriter::offer("token", 0, "offer", peerOffer()));  // a new one of the peer's
    ASSERT_TRUE(eventually([&] { return WebRtcClientTesting::peerConnection(*client) != answered; }));
    settle();
    EXPECT_EQ(hears->count("willReset"), 1u);
    EXPECT_EQ(countOn(offerInbox, Message::Answer), 1u);
    EXPECT_EQ(connectsSinceLastDisconnect(), 1u);
    EXPECT_TRUE(logged("INFO signalClient(didReceiveOffer:): The peer's offer comes from a new peer connection"));
}

TEST_F(WebRtcClientTest, UnreadableOfferAndCandidateAreLoggedAndDropped) {
    connectAnswerSide();
    deliver(answerInbox, RtcHandshakeWriter::offer("token", 0, "offer", "not sdp"));
    ASSERT_TRUE(eventually([&] {
        return logged("ERROR signalClient(didReceiveOffer:): Failed to handle offer: Failed to parse session description");
    }));
    EXPECT_EQ(countOn(offerInbox, Message::Answer), 0u);

    deliver(answerInbox, RtcHandshakeWriter::offer("token", 0, "offer", peerOffer()));
    ASSERT_TRUE(eventually([&] { return countOn(offerInbox, Message::Answer) == 1; }));
    deliver(answerInbox, RtcHandshakeWriter::iceCandidate("token", 0, "candidate:nonsense", 0, "0", ""));
    EXPECT_TRUE(eventually([&] {
        return logged("ERROR signalClient(didReceiveCandidate:): Failed to handle candidate: Failed to parse ICE candidate");
    }));
}

TEST_F(WebRtcClientTest, PeersDisconnectSignalEndsTheSession) {
    connectAnswerSide();
    deliver(answerInbox, RtcHandshakeWriter::disconnect("token", 0, "offer-client"));
    EXPECT_THAT(hears->events(), ElementsAre("disconnect expected"));
    EXPECT_EQ(WebRtcClientTesting::peerConnection(*client), nullptr);
    EXPECT_EQ(mqtt->calls().back(), "disconnect");

    // Nothing that comes late brings the session back or reports it again.
    client->dataChannelFiredHeartbeatTimeout();
    client->signalClientDidReceiveDisconnect();
    settle();
    EXPECT_THAT(hears->events(), ElementsAre("disconnect expected"));
}

}  // namespace
}  // namespace quorvane
