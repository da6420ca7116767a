// What a WebRtcClient makes of its peer connection's reports: the state lines, the ICE restart and
// the numbering of its own candidates (fixture in WebRtcClientFixture.hpp).

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "connection/WebRtcClientFixture.hpp"
#include "formats/RtcHandshakeWriter.hpp"

namespace quorvane {
namespace {

using namespace testing;
using ::testing::ElementsAre;
using Connection = std::shared_ptr<rtc::PeerConnection>;

class WebRtcClientPeerEventsTest : public WebRtcClientFixture {
protected:
    /// Makes the client's current peer connection report through `events` (its observer by
    /// default), as WebRTC does from a thread of its own.
    void hear(const std::function<void(rtc::PeerConnectionObserver&, const Connection&)>& report,
              std::shared_ptr<rtc::PeerConnectionObserver> events = nullptr) {
        if (!events) events = WebRtcClientTesting::peerConnectionEvents(*client);
        report(*events, WebRtcClientTesting::peerConnection(*client));
        settle();
    }

    void gather(const std::string& candidate, std::shared_ptr<rtc::PeerConnectionObserver> events = nullptr) {
        hear([&](auto& observer, auto& connection) {
            observer.peerConnectionDidGenerateIceCandidate(connection, {"0", 0, candidate});
        }, std::move(events));
    }

    void reportIceState(rtc::IceConnectionState state) {
        hear([&](auto& observer, auto& connection) {
            observer.peerConnectionDidChangeIceConnectionState(connection, state);
        });
    }
};

TEST_F(WebRtcClientPeerEventsTest, EveryStateIsLoggedWithItsText) {
    using Report = std::function<void(rtc::PeerConnectionObserver&, const Connection&, int)>;
    struct Kind {
        std::string line;                ///< before the state's text
        std::vector<std::string> texts;  ///< by the state's value
        Report report;
        std::string warnedText = "";     ///< the state logged as a warning
    };
    const std::vector<Kind> kinds{
        {"peerConnection didChange: peerConnection new signaling state: ",
         {"stable", "haveLocalOffer", "haveLocalPrAnswer", "haveRemoteOffer", "haveRemotePrAnswer", "closed"},
         [](auto& observer, auto& connection, int value) {
             observer.peerConnectionDidChangeSignalingState(connection, rtc::SignalingState(value));
         }},
        {"peerConnection newState: Connection state changed to ",
         {"new", "connecting", "connected", "disconnected", "failed", "closed"},
         [](auto& observer, auto& connection, int value) {
             observer.peerConnectionDidChangeConnectionState(connection, rtc::PeerConnectionState(value));
         },
         "failed"},
        {"peerConnection newState: peerConnection new ice connection state: ",
         {"new", "checking", "connected", "completed", "failed", "disconnected", "closed"},
         [](auto& observer, auto& connection, int value) {
             observer.peerConnectionDidChangeIceConnectionState(connection, rtc::IceConnectionState(value));
         }},
        {"peerConnection newState: peerConnection new ice gathering state: ",
         {"new", "gathering", "complete"},
         [](auto& observer, auto& connection, int value) {
             observer.peerConnectionDidChangeIceGatheringState(connection, rtc::IceGatheringState(value));
         }},
    };
    connectAnswerSide();
    for (const auto& kind : kinds) {
        // One value past the framework's states stands for any value it does not have.
        for (std::size_t value = 0; value <= kind.texts.size(); ++value) {
            const bool known = value < kind.texts.size();
            hear([&](auto& observer, auto& connection) { kind.report(observer, connection, known ? int(value) : 42); });
            const std::string text = known ? kind.texts[value] : "unknown";
            const std::string line = (text == kind.warnedText ? "WARN " : "DEBUG ") + kind.line + text;
            EXPECT_TRUE(logged(line)) << line;
        }
    }
}

TEST_F(WebRtcClientPeerEventsTest, IceFailureRestartsIceWhileEveryOtherIceStateIsOnlyLogged) {
    connectOfferSide();
    ASSERT_TRUE(eventually([&] { return countOn(answerInbox, Message::Offer) == 1; }));
    // The peer answers, so that a restart can be negotiated at once.
    peer = rtc::PeerConnectionFactory::shared()->createPeerConnection({}, {});
    const auto offer = signalTexts(answerInbox, Message::Offer).front();
    peer->setRemoteDescription(rtc::SdpType::offer, offer).wait();
    const auto answer = peer->createAnswer(std::nullopt, std::nullopt).wait();
    deliver(offerInbox, RtcHandshakeWriter::answer("token", 0, "answer", answer));
    ASSERT_TRUE(eventually([&] { return signalingState() == rtc::SignalingState::stable; }));

    using State = rtc::IceConnectionState;
    for (const auto state : {State::initial, State::checking, State::connected, State::completed, State::disconnected,
                             State::closed}) {
        reportIceState(state);
    }
    std::this_thread::sleep_for(300ms);
    settle();
    EXPECT_EQ(countOn(answerInbox, Message::Offer), 1u);

    reportIceState(State::failed);
    // The restart needs new ICE credentials: a new offer carries them.
    EXPECT_TRUE(eventually([&] { return countOn(answerInbox, Message::Offer) == 2; }));
    EXPECT_FALSE(logged("ERROR"));
}

TEST_F(WebRtcClientPeerEventsTest, CandidatesAreNumberedFromOneAfterEveryResetAndAFailedSendKeepsItsNumber) {
    connectAnswerSide();
    gather("candidate:1");
    mqtt->answerPublish(FakeMqttTransport::PublishStatus::refused);
    gather("candidate:2");
    mqtt->answerPublish(FakeMqttTransport::PublishStatus::sent);
    gather("candidate:3");
    EXPECT_TRUE(logged("ERROR peerConnection didGenerate: Error sending ICE candidate to MQTT server: "
                       "Publish refused by MQTT client"));

    const auto left = WebRtcClientTesting::peerConnection(*client);
    const auto leftEvents = WebRtcClientTesting::peerConnectionEvents(*client);
    client->reconnect();
    ASSERT_TRUE(eventually([&] { return WebRtcClientTesting::peerConnection(*client) != left; }));
    ASSERT_TRUE(eventually([&] { return mqtt->texts(announceTopic).size() == 3; }));
    mqtt->deliver(announceTopic, "offer-client");
    ASSERT_TRUE(eventually([&] { return mqtt->texts(announceTopic).size() == 4; }));
    settle();
    gather("candidate:late", leftEvents);  // of the connection left behind: not sent
    gather("candidate:4");

    std::vector<std::string> numbers;
    for (const auto& line : log()) {
        const std::string generated = "DEBUG peerConnection didGenerate: peerConnection did generate candidate: ";
        if (line.starts_with(generated)) numbers.push_back(line.substr(generated.size()));
    }
    EXPECT_THAT(numbers, ElementsAre("1", "2", "3", "1"));
    EXPECT_THAT(signalTexts(offerInbox, Message::IceCandidate),
                ElementsAre("candidate:1", "candidate:3", "candidate:4"));
}

}  // namespace
}  // namespace quorvane
