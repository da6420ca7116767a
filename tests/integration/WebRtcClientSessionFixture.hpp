#pragma once

// Two WebRtcClients of this process, the offer and the answer side of one session, meeting
// through a real mosquitto broker over TLS on 127.0.0.1, with WebRTC held to loopback. Time is
// real: heartbeats go every second and a channel is given up after five silent seconds.

#include <gtest/gtest.h>

#include <chrono>

#include "connection/WebRtcClientTesting.hpp"
#include "log/ZephLogger.hpp"
#include "network/NetworkStatus.hpp"
#include "rest/QuorvaneServices.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "signaling/MosquittoTransport.hpp"
#include "support/Eventually.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/MosquittoBroker.hpp"

namespace quorvane::testing {

using namespace std::chrono_literals;

inline std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

class WebRtcClientSessionFixture : public ::testing::Test {
protected:
    WebRtcClientSessionFixture() { rtc::PeerConnectionFactory::shared()->setLoopbackOnly(true); }

    std::shared_ptr<WebRtcClient> makeClient(WebRtcClientRole role,
                                             const std::shared_ptr<RecordingTransportDelegate>& hears) {
        TransportLayerConfiguration configuration;
        configuration.delegate = hears;
        configuration.services = services;
        configuration.role = role;
        configuration.username = broker.username();
        configuration.session.topic = "quorvane/session";
        configuration.session.token = broker.password();
        configuration.session.offerClient = "offer-client";
        configuration.session.answerClient = "answer-client";
        configuration.timeout = 10;
        configuration.connectionInformation.mqtt = {broker.host(), {.ssl = broker.port()}};
        configuration.logger = logger;
        return WebRtcClient::create(configuration, MosquittoTransport::factory(broker.caFile()));
    }

    /// Starts both connects, the offer side's first when `offerFirst`, and waits until both
    /// channels are open.
    void connectBoth(bool offerFirst) {
        if (offerFirst) {
            offer->connectAsOffer();
            answer->connectAsAnswer();
        } else {
            answer->connectAsAnswer();
            offer->connectAsOffer();
        }
        ASSERT_TRUE(offerHears->waitFor("established"));
        ASSERT_TRUE(answerHears->waitFor("established"));
        EXPECT_TRUE(offer->isConnected());
        EXPECT_TRUE(answer->isConnected());
    }

    /// One message each way; both must arrive.
    void exchangeMessages(const std::string& tag) {
        offer->sendMessage(bytes("from offer " + tag), 1, nullptr).wait();
        answer->sendMessage(bytes("from answer " + tag), 1, nullptr).wait();
        EXPECT_TRUE(answerHears->waitFor("received from offer " + tag));
        EXPECT_TRUE(offerHears->waitFor("received from answer " + tag));
    }

    static bool signalingConnected(const WebRtcClient& client) {
        return WebRtcClientTesting::signals(client).isConnected();
    }

    MosquittoBroker broker;
    std::shared_ptr<FakeReachabilitySource> network =
        std::make_shared<FakeReachabilitySource>(FakeReachabilitySource::online);
    std::shared_ptr<QuorvaneServices> services = std::make_shared<QuorvaneServices>(
        "https://127.0.0.1:9", "key", NetworkStatus::create(Reachability::create(network, DispatchQueue::main())));
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::DEBUG, true);
    std::shared_ptr<RecordingTransportDelegate> offerHears = std::make_shared<RecordingTransportDelegate>();
    std::shared_ptr<RecordingTransportDelegate> answerHears = std::make_shared<RecordingTransportDelegate>();
    std::shared_ptr<WebRtcClient> offer = makeClient(WebRtcClientRole::offer, offerHears);
    std::shared_ptr<WebRtcClient> answer = makeClient(WebRtcClientRole::answer, answerHears);
};

}  // namespace quorvane::testing
