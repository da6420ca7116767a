// One WebRtcClient over the scripted MQTT transport, on virtual time. Its peer connections are
// real (held to loopback) but never connect; the peer is played by the test through signals
// delivered on the client's inbox, and by a bare peer connection where an SDP text is needed.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "async/Clock.hpp"
#include "connection/WebRtcClientTesting.hpp"
#include "formats/RtcHandshakeView.hpp"
#include "formats/RtcHandshakeWriter.hpp"
#include "log/ZephLogger.hpp"
#include "network/NetworkStatus.hpp"
#include "rest/QuorvaneServices.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "support/FakeMqttTransport.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/Settle.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using testing::FakeMqttTransport;
using testing::RecordingTransportDelegate;

constexpr const char* announceTopic = "session/announce";
constexpr const char* offerInbox = "session/offer";    // the offer side reads it
constexpr const char* answerInbox = "session/answer";  // the answer side reads it
constexpr int timeout = 10;

/// Waits in real time (WebRTC keeps real time) until `done` holds.
template <class Done>
bool eventually(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

/// What a settled promise holds: "fulfilled", "pending", or the error's text.
std::string outcome(const Promise<void>& promise) {
    if (promise.isPending()) return "pending";
    if (promise.isFulfilled()) return "fulfilled";
    try {
        std::rethrow_exception(promise.error());
    } catch (const std::exception& error) {
        return error.what();
    }
}

class WebRtcClientTest : public ::testing::Test {
protected:
    WebRtcClientTest() { rtc::PeerConnectionFactory::shared()->setLoopbackOnly(true); }

    ~WebRtcClientTest() override {
        client.reset();
        peer.reset();
    }

    TransportLayerConfiguration configuration(WebRtcClientRole role) {
        TransportLayerConfiguration configuration;
        configuration.delegate = hears;
        configuration.services = services;
        configuration.role = role;
        configuration.username = "user";
        configuration.session.topic = "session";
        configuration.session.token = "token";
        configuration.session.offerClient = "offer-client";
        configuration.session.answerClient = "answer-client";
        configuration.timeout = timeout;
        configuration.connectionInformation.mqtt = {"broker.example", {.ssl = 8883}};
        configuration.logger = logger;
        return configuration;
    }

    std::shared_ptr<WebRtcClient> make(const TransportLayerConfiguration& configuration) {
        return WebRtcClient::create(configuration, mqtt->factory());
    }

    /// The offer side, connected, its data channel made and its offer set; published once the
    /// peer has joined, when `join`.
    void connectOfferSide(bool join = true) {
        client = make(configuration(WebRtcClientRole::offer));
        client->connectAsOffer();
        if (join) {
            ASSERT_TRUE(eventually([&] { return !mqtt->texts(announceTopic).empty(); }));
            mqtt->deliver(announceTopic, "answer-client");
        }
        ASSERT_TRUE(eventually([&] { return signalingState() == rtc::SignalingState::haveLocalOffer; }));
        settle();
    }

    /// The answer side, connected and joined.
    void connectAnswerSide() {
        client = make(configuration(WebRtcClientRole::answer));
        client->connectAsAnswer().wait();
        mqtt->deliver(announceTopic, "offer-client");
        settle();
    }

    rtc::SignalingState signalingState() const {
        auto connection = WebRtcClientTesting::peerConnection(*client);
        return connection ? connection->signalingState() : rtc::SignalingState::closed;
    }

    /// An offer of a fresh peer connection of the test's, with a data channel.
    std::string peerOffer() {
        peer = rtc::PeerConnectionFactory::shared()->createPeerConnection({}, {});
        peer->createDataChannel();
        return peer->createOffer(std::nullopt, std::nullopt).wait();
    }

    void deliver(const std::string& inbox, const std::vector<std::uint8_t>& signal) {
        mqtt->deliver(inbox, signal);
        settle();
    }

    /// How many signals of `kind` were published on `topic`.
    std::size_t countOn(const std::string& topic, Message kind) const {
        std::size_t count = 0;
        for (auto publication : mqtt->publications()) {
            auto view = publication.topic == topic ? parseRtcHandshake(publication.payload) : std::nullopt;
            count += view && view->messageType() == kind;
        }
        return count;
    }

    /// MQTT connects made since the last disconnect.
    std::size_t connectsSinceLastDisconnect() const {
        const auto calls = mqtt->calls();
        const auto last = std::find(calls.rbegin(), calls.rend(), "disconnect");
        return static_cast<std::size_t>(std::count(calls.rbegin(), last, "connect"));
    }

    /// Lets the hops between the transport, the client's queue and the promises run out.
    void settle() {
        testing::settle({WebRtcClientTesting::queue(*client), WebRtcClientTesting::signals(*client).dispatchQueue()},
                        [&] { return mqtt->activity() + logger->getLogStore().size() + hears->events().size(); });
    }

    void advance(double seconds) {
        clock->advance(seconds);
        settle();
    }

    /// The WebRtcClient's log lines as "LEVEL operation: message".
    std::vector<std::string> log() const {
        std::vector<std::string> lines;
        for (const auto& entry : logger->getLogStore()) {
            if (entry.klass != "WebRtcClient") continue;
            lines.push_back(std::string(rawValue(entry.level)) + " " + entry.method + ": " + entry.message);
        }
        return lines;
    }
    bool logged(const std::string& prefix) const {
        const auto lines = log();
        return std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.starts_with(prefix); });
    }

    ScopedVirtualClock clock;
    std::shared_ptr<testing::FakeReachabilitySource> network =
        std::make_shared<testing::FakeReachabilitySource>(testing::FakeReachabilitySource::online);
    std::shared_ptr<QuorvaneServices> services = std::make_shared<QuorvaneServices>(
        "https://127.0.0.1:9", "key", NetworkStatus::create(Reachability::create(network, DispatchQueue::main())));
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, true);
    std::shared_ptr<FakeMqttTransport> mqtt = std::make_shared<FakeMqttTransport>();
    std::shared_ptr<RecordingTransportDelegate> hears = std::make_shared<RecordingTransportDelegate>();
    std::shared_ptr<rtc::PeerConnection> peer;
    std::shared_ptr<WebRtcClient> client;
};

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
    mqtt->deliver(announceTopic, "answer-client");
    mqtt->answerPublish(FakeMqttTransport::PublishStatus::sent, true);
    mqtt->confirmPublish(mqtt->publications().front().messageId);

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
