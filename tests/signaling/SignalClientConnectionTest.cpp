#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "model/PlatformError.hpp"
#include "signaling/SignalClientFixture.hpp"

namespace quorvane {

/// Reaches the client's own publish step.
struct SignalClientTesting {
    static Promise<void> mqttSend(const std::shared_ptr<SignalClient>& client, std::string topic,
                                  std::vector<std::uint8_t> payload, std::optional<std::string> text) {
        auto result = Promise<void>::pending();
        client->dispatchQueue_->async([client, topic, payload, text, r = result.resolver] {
            client->mqttSend(topic, payload, text).pipeTo(r);
        });
        return result.promise;
    }
};

}  // namespace quorvane

using namespace quorvane;
using quorvane::testing::FakeReachabilitySource;
using quorvane::testing::outcome;
using quorvane::testing::resetting;
using PublishStatus = MqttTransport::PublishResult::Status;

namespace {

class SignalClientConnection : public quorvane::testing::SignalClientFixture {
public:
    std::size_t count(const std::string& call) const {
        const auto calls = mqtt->calls();
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
    }
};

std::exception_ptr socketError() {
    return std::make_exception_ptr(PlatformError("mosquitto", 7, "The connection was lost."));
}

}  // namespace

TEST_F(SignalClientConnection, ConnectWaitsForTheNetworkThenConnectsSubscribesAndAnnouncesInOrder) {
    network->report(FakeReachabilitySource::offline);
    network->drain();
    mqtt->answerPublish(PublishStatus::sent, false);
    auto connected = client->connect();
    settle();
    EXPECT_TRUE(mqtt->calls().empty());

    network->report(FakeReachabilitySource::online);
    network->drain();
    // The gate lets its waiters go on a queue of its own, which a busy machine may run late.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (mqtt->calls().size() < 4 && std::chrono::steady_clock::now() < deadline) settle();
    EXPECT_EQ(mqtt->calls(), (std::vector<std::string>{"connect", "subscribe session/announce",
                                                        "subscribe session/offer", "publish session/announce"}));
    EXPECT_EQ(mqtt->texts(announceTopic), std::vector<std::string>{"A"});
    // Done only once the broker has the announcement.
    EXPECT_EQ(outcome(connected), "pending");
    mqtt->confirmPublish(mqtt->publications().back().messageId);
    settle();
    EXPECT_EQ(outcome(connected), "fulfilled");
    EXPECT_TRUE(client->isConnected());
    EXPECT_FALSE(client->hasJoined());

    // Connecting again while connected gives the same result and touches nothing.
    auto again = client->connect();
    settle();
    EXPECT_EQ(outcome(again), "fulfilled");
    EXPECT_EQ(mqtt->calls().size(), 4u);
}

TEST_F(SignalClientConnection, TextIsPublishedInsteadOfThePayload) {
    connect();
    auto sent = SignalClientTesting::mqttSend(client, "t", {1, 2, 3}, "text");
    auto bytes = SignalClientTesting::mqttSend(client, "t", {1, 2, 3}, std::nullopt);
    settle();
    EXPECT_EQ(outcome(sent), "fulfilled");
    EXPECT_EQ(outcome(bytes), "fulfilled");
    EXPECT_EQ(mqtt->texts("t"), (std::vector<std::string>{"text", "\x01\x02\x03"}));
}

TEST_F(SignalClientConnection, AFailingStepRejectsConnectAndLeavesNothingBehind) {
    using Fixture = SignalClientConnection;
    struct Case {
        const char* name;
        std::function<void(Fixture&)> before;  // sets the transport's answers
        std::function<void(Fixture&)> during;  // acts once connect() has started
        std::string error;
    };
    const auto nothing = [](Fixture&) {};
    const std::vector<Case> cases{
        {"CONNACK refused", [](Fixture& f) { f.mqtt->answerConnect(5); }, nothing,
         "Connection request rejected by MQTT client"},
        {"closed before the CONNACK", [](Fixture& f) { f.mqtt->answerConnect(std::nullopt); },
         [](Fixture& f) { f.mqtt->dropConnection(socketError()); }, "The connection was lost."},
        {"closed before the CONNACK, no error", [](Fixture& f) { f.mqtt->answerConnect(std::nullopt); },
         [](Fixture& f) { f.mqtt->dropConnection(); }, "Cannot connect to MQTT client"},
        {"closed before the SUBACK", [](Fixture& f) { f.mqtt->answerSubscribe(std::nullopt); },
         [](Fixture& f) { f.mqtt->dropConnection(); }, "Cannot connect to MQTT client"},
        {"attempt cannot start", [](Fixture& f) { f.mqtt->startConnects(false); }, nothing, "Cannot connect to MQTT"},
        {"SUBACK refused", [](Fixture& f) { f.mqtt->answerSubscribe(false); }, nothing,
         "Subscription refused by MQTT server"},
        {"subscription refused at once", [](Fixture& f) { f.mqtt->refuseSubscribe(true); }, nothing,
         "Subscription refused by MQTT client"},
        {"publish refused", [](Fixture& f) { f.mqtt->answerPublish(PublishStatus::refused); }, nothing,
         "Publish refused by MQTT client: refused by the script"},
        {"no CONNACK within the time-out", [](Fixture& f) { f.mqtt->answerConnect(std::nullopt); },
         [](Fixture& f) {
             f.clock->advance(9.9);
             f.settle();
             EXPECT_EQ(f.mqtt->state(), MqttTransport::State::connecting);
             f.clock->advance(0.1);
         },
         "Timed out connecting to MQTT server"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mqtt = std::make_shared<quorvane::testing::FakeMqttTransport>();
        client = makeClient();
        c.before(*this);
        auto connected = client->connect();
        settle();
        c.during(*this);
        settle();
        ASSERT_EQ(outcome(connected), c.error);
        try {
            std::rethrow_exception(connected.error());
        } catch (const PlatformError& error) {
            EXPECT_TRUE(error.domain() == "SignalClient" || error.domain() == "mosquitto");
        } catch (...) {
            ADD_FAILURE() << "not a PlatformError";
        }
        EXPECT_FALSE(client->isConnected());
        EXPECT_EQ(mqtt->state(), MqttTransport::State::disconnected);
        // What the client may still hold is dropped with the connection.
        if (c.error != "Cannot connect to MQTT") EXPECT_EQ(mqtt->calls().back(), "disconnect");
    }
    EXPECT_TRUE(logged("WARN mqttConnect: Connection request rejected by MQTT server"));
    EXPECT_TRUE(logged("WARN connect: Timed out connecting to MQTT server"));
}

TEST_F(SignalClientConnection, ASendWhileConnectingFailsAtOnceAndIsNeverSentLater) {
    mqtt->answerConnect(std::nullopt);
    auto connected = client->connect();
    settle();
    auto disconnect = client->sendDisconnect();
    settle();
    EXPECT_EQ(outcome(disconnect), "Not connected to MQTT server");
    mqtt->acceptConnection();
    settle();
    EXPECT_EQ(outcome(connected), "fulfilled");
    EXPECT_TRUE(mqtt->texts(peerInbox).empty());
}

TEST_F(SignalClientConnection, APublishTheClientQueuedWhileDisconnectedIsAwaitedNotRepeated) {
    connect();
    mqtt->answerPublish(PublishStatus::notConnected);
    auto disconnect = client->sendDisconnect();
    settle();
    EXPECT_EQ(outcome(disconnect), "pending");

    // The client sends it after the reconnect and reports it then.
    mqtt->dropConnection(socketError());
    settle();
    mqtt->answerPublish(PublishStatus::sent);
    clock->advance(1);
    settle();
    mqtt->confirmPublish(mqtt->publications().back().messageId);
    settle();
    EXPECT_EQ(outcome(disconnect), "fulfilled");
    EXPECT_EQ(mqtt->texts(peerInbox).size(), 1u);
}

TEST_F(SignalClientConnection, ResetDisconnectsOnlyWhatIsConnected) {
    client->reset();
    settle();
    EXPECT_TRUE(mqtt->calls().empty());
    EXPECT_TRUE(logged("DEBUG disconnect: Disconnecting MQTT client"));

    connect();
    announce("B");
    EXPECT_TRUE(client->hasJoined());
    client->reset();
    EXPECT_FALSE(client->hasJoined());
    EXPECT_FALSE(client->isConnected());
    settle();
    EXPECT_EQ(mqtt->calls().back(), "disconnect");

    // A new connect meets the peer afresh: the ids known before count no more.
    connect();
    EXPECT_FALSE(client->hasJoined());
    announce("B");
    EXPECT_TRUE(client->hasJoined());
    EXPECT_EQ(mqtt->texts(announceTopic), (std::vector<std::string>{"A", "A B", "A", "A B"}));
}

TEST_F(SignalClientConnection, ResetTearDownAndReleaseSettleEverythingThatWaits) {
    using Fixture = SignalClientConnection;
    const std::vector<std::pair<const char*, std::function<void(Fixture&)>>> endings{
        {"reset", [](Fixture& f) { f.client->reset(); }},
        {"tearDown", [](Fixture& f) { f.client->tearDown(); }},
        {"release", [](Fixture& f) { f.client.reset(); }},
    };
    for (const auto& [name, end] : endings) {
        SCOPED_TRACE(name);
        mqtt = std::make_shared<quorvane::testing::FakeMqttTransport>();
        client = makeClient();
        connect();
        mqtt->answerPublish(PublishStatus::sent, false);
        auto published = client->sendDisconnect();                   // waits for the broker
        auto offer = client->sendSessionDescription(SdpType::offer, "sdp");  // waits for the join
        settle();
        auto keep = client;  // the queue outlives a released client
        const auto queue = client->dispatchQueue();
        end(*this);
        keep.reset();
        quorvane::testing::settle({queue}, [this] { return mqtt->activity(); });
        EXPECT_EQ(outcome(published), resetting);
        EXPECT_EQ(outcome(offer), resetting);
    }

    // A connect under way is given up as well.
    mqtt = std::make_shared<quorvane::testing::FakeMqttTransport>();
    client = makeClient();
    mqtt->answerConnect(std::nullopt);
    auto connected = client->connect();
    settle();
    client->reset();
    settle();
    EXPECT_EQ(outcome(connected), resetting);
}

TEST_F(SignalClientConnection, AfterTearDownEveryMqttOperationFails) {
    connect();
    announce("B");
    client->tearDown();
    settle();
    EXPECT_TRUE(mqtt->destroyed());
    EXPECT_FALSE(client->isConnected());
    auto offer = client->sendSessionDescription(SdpType::offer, "sdp");
    auto connected = client->connect();
    settle();
    EXPECT_EQ(outcome(offer), "MQTT is not instantiated");
    EXPECT_EQ(outcome(connected), "MQTT is not instantiated");
    EXPECT_TRUE(logged("WARN mqttConnect: MQTT is not instantiated"));
}

TEST_F(SignalClientConnection, ALostConnectionIsRestoredWithGrowingPausesAndSubscribedAgain) {
    connect();
    mqtt->answerConnect(std::nullopt);
    mqtt->dropConnection(socketError());
    settle();
    EXPECT_FALSE(client->isConnected());
    for (double pause : {1, 2, 4, 8, 16, 32, 64, 128, 128}) {
        SCOPED_TRACE(pause);
        const auto attempts = count("connect");
        clock->advance(pause - 0.5);
        EXPECT_EQ(count("connect"), attempts);
        clock->advance(0.5);
        EXPECT_EQ(count("connect"), attempts + 1);
        mqtt->dropConnection(socketError());
        settle();
    }
    clock->advance(128);
    mqtt->acceptConnection();
    settle();
    EXPECT_TRUE(client->isConnected());
    EXPECT_EQ(count("subscribe session/announce"), 2u);
    EXPECT_EQ(count("subscribe session/offer"), 2u);
    EXPECT_TRUE(logged("DEBUG reconnect: Subscribed again to session/announce and session/offer"));

    // Once back, the next loss starts again at one second.
    mqtt->dropConnection(socketError());
    settle();
    const auto attempts = count("connect");
    clock->advance(1);
    EXPECT_EQ(count("connect"), attempts + 1);
}

TEST_F(SignalClientConnection, BrokerPortComesFromSslElseWssAndMustFitInSixteenBits) {
    EXPECT_EQ(SignalClient::brokerPort({.ws = 1, .wss = 2, .tcp = 3, .ssl = 4}), 4);
    EXPECT_EQ(SignalClient::brokerPort({.ws = 1, .wss = 2, .tcp = 3}), 2);
    EXPECT_EQ(SignalClient::brokerPort({.ws = 1, .tcp = 3}), std::nullopt);
    EXPECT_NO_THROW(makeClient({.ssl = 65535}));
    EXPECT_NO_THROW(makeClient({.wss = 1}));
    for (std::int64_t port : {0, -1, 65536, 1 << 20}) {
        EXPECT_THROW(makeClient({.ssl = port}), std::invalid_argument) << port;
    }
    EXPECT_THROW(makeClient({.ws = 80, .tcp = 1883}), std::invalid_argument);
}
