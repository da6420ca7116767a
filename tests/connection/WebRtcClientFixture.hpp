#pragma once

// A fixture for one WebRtcClient over the scripted MQTT transport, on virtual time. Its peer
// connections are real (held to loopback) but never connect; the peer is played by the test
// through signals delivered on the client's inbox, and by a bare peer connection where an SDP
// text is needed.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "async/Clock.hpp"
#include "connection/WebRtcClientTesting.hpp"
#include "formats/RtcHandshakeView.hpp"
#include "log/ZephLogger.hpp"
#include "network/NetworkStatus.hpp"
#include "rest/QuorvaneServices.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "support/FakeMqttTransport.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/Settle.hpp"

namespace quorvane::testing {

using namespace std::chrono_literals;

constexpr const char* announceTopic = "session/announce";
constexpr const char* offerInbox = "session/offer";    // the offer side reads it
constexpr const char* answerInbox = "session/answer";  // the answer side reads it
constexpr int timeout = 10;

/// Waits in real time (WebRTC keeps real time) until `done` holds.
template <class Done>
inline bool eventually(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

/// What a settled promise holds: "fulfilled", "pending", or the error's text.
inline std::string outcome(const Promise<void>& promise) {
    if (promise.isPending()) return "pending";
    if (promise.isFulfilled()) return "fulfilled";
    try {
        std::rethrow_exception(promise.error());
    } catch (const std::exception& error) {
        return error.what();
    }
}

class WebRtcClientFixture : public ::testing::Test {
protected:
    WebRtcClientFixture() { rtc::PeerConnectionFactory::shared()->setLoopbackOnly(true); }

    ~WebRtcClientFixture() override {
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
        auto made = WebRtcClient::create(configuration, mqtt->factory());
        if (made) prepare(*made);
        return made;
    }

    /// What a test does with each new client before it connects.
    virtual void prepare(WebRtcClient&) {}

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

    /// The answer side, connected and joined: it has answered the peer's announcement with its
    /// own, naming the peer.
    void connectAnswerSide() {
        client = make(configuration(WebRtcClientRole::answer));
        client->connectAsAnswer().wait();
        mqtt->deliver(announceTopic, "offer-client");
        ASSERT_TRUE(eventually([&] { return mqtt->texts(announceTopic).size() == 2; }));
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

    /// What the signals of `kind` published on `topic` carry, in order: an offer's or an answer's
    /// SDP text, a candidate's line.
    std::vector<std::string> signalTexts(const std::string& topic, Message kind) const {
        std::vector<std::string> texts;
        for (const auto& publication : mqtt->publications()) {
            const auto view = publication.topic == topic ? parseRtcHandshake(publication.payload) : std::nullopt;
            if (!view || view->messageType() != kind) continue;
            if (kind == Message::IceCandidate) {
                texts.push_back(view->iceCandidate()->candidate().value_or(""));
            } else {
                const auto description = kind == Message::Offer ? view->offer() : view->answer();
                texts.push_back(description->sdp().value_or(""));
            }
        }
        return texts;
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

}  // namespace quorvane::testing
