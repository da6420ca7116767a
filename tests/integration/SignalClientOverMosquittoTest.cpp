// SignalClients against a real mosquitto broker over TLS on 127.0.0.1, trusting the broker's
// throw-away CA. Everything runs in real time; waits are bounded.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <latch>
#include <mutex>
#include <thread>

#include "log/ZephLogger.hpp"
#include "network/NetworkStatus.hpp"
#include "rest/QuorvaneServices.hpp"
#include "signaling/MosquittoTransport.hpp"
#include "signaling/SignalClient.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/MosquittoBroker.hpp"
#include "support/RecordingSignalDelegate.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using quorvane::testing::FakeReachabilitySource;
using quorvane::testing::MosquittoBroker;
using quorvane::testing::RecordingSignalDelegate;

/// Waits up to `limit` for `condition`.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

template <class P>
std::string outcome(const P& promise) {
    if (!eventually([&] { return !promise.isPending(); })) return "pending";
    if (promise.isFulfilled()) return "fulfilled";
    try {
        std::rethrow_exception(promise.error());
    } catch (const std::exception& e) {
        return e.what();
    }
}

/// One side of a session: its client, what it heard and what it logged.
struct Side {
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, true);
    std::shared_ptr<RecordingSignalDelegate> delegate = std::make_shared<RecordingSignalDelegate>();
    std::shared_ptr<SignalClient> client;

    bool logged(const std::string& message) const {
        const auto entries = logger->getLogStore();
        return std::any_of(entries.begin(), entries.end(), [&](const auto& e) { return e.message == message; });
    }
    std::vector<std::string> signals() const { return delegate->signals(); }
};

/// Records what is published on one topic, as text, through a client of its own.
class Listener {
public:
    Listener(const MosquittoBroker& broker, const std::string& topic)
        : transport_({"listener-" + topic, broker.host(), broker.port(), broker.username(), broker.password()},
                     broker.caFile()) {
        MqttTransport::Events events;
        events.connectAck = [this, topic](MqttTransport::Attempt, int) { transport_.subscribe(topic); };
        events.subscribed = [this](int, bool) { subscribed_ = true; };
        events.received = [this](std::string, std::vector<std::uint8_t> payload) {
            std::lock_guard lock(mutex_);
            texts_.emplace_back(payload.begin(), payload.end());
        };
        transport_.setEvents(events);
        transport_.connect();
        EXPECT_TRUE(eventually([this] { return subscribed_.load(); }));
    }

    std::vector<std::string> texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }

private:
    MosquittoTransport transport_;
    std::atomic<bool> subscribed_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> texts_;
};

class SignalClientOverMosquitto : public ::testing::Test {
public:
    /// A side on the session `root`; the offer side reads "<root>/offer", the others "<root>/answer".
    Side side(const std::string& id, const std::string& root, bool offerSide, const std::string& password) {
        Side side;
        const std::string offerTopic = root + "/offer";
        const std::string answerTopic = root + "/answer";
        side.client = SignalClient::create(services, {broker.host(), {.ssl = broker.port()}}, broker.username(),
                                           password, id, root, offerSide ? answerTopic : offerTopic,
                                           offerSide ? offerTopic : answerTopic, 10, side.logger,
                                           MosquittoTransport::factory(broker.caFile()));
        side.client->setDelegate(side.delegate);
        return side;
    }
    Side offerSide(const std::string& root = "session") { return side("A", root, true, broker.password()); }
    Side answerSide(const std::string& root = "session") { return side("B", root, false, broker.password()); }

    static bool joined(const std::vector<Side*>& sides) {
        return eventually([&] {
            return std::all_of(sides.begin(), sides.end(), [](Side* s) { return s->client->hasJoined(); });
        });
    }

    MosquittoBroker broker;
    std::shared_ptr<FakeReachabilitySource> network =
        std::make_shared<FakeReachabilitySource>(FakeReachabilitySource::online);
    std::shared_ptr<QuorvaneServices> services = std::make_shared<QuorvaneServices>(
        "https://127.0.0.1:9", "key", NetworkStatus::create(Reachability::create(network, DispatchQueue::main())));
};

TEST_F(SignalClientOverMosquitto, TwoSidesMeetWhicheverConnectsFirst) {
    for (bool offerFirst : {true, false}) {
        SCOPED_TRACE(offerFirst ? "offer side first" : "answer side first");
        const std::string root = offerFirst ? "first" : "second";
        Listener announcements(broker, root + "/announce");
        auto a = offerSide(root);
        auto b = answerSide(root);
        Side& early = offerFirst ? a : b;
        Side& late = offerFirst ? b : a;
        ASSERT_EQ(outcome(early.client->connect()), "fulfilled");
        EXPECT_FALSE(early.client->hasJoined());
        ASSERT_EQ(outcome(late.client->connect()), "fulfilled");
        ASSERT_TRUE(joined({&a, &b}));

        // Each side announces its bare id and then, once, the id it heard.
        ASSERT_TRUE(eventually([&] { return announcements.texts().size() == 4; }));
        std::this_thread::sleep_for(200ms);
        auto texts = announcements.texts();
        std::sort(texts.begin(), texts.end());
        EXPECT_EQ(texts, (std::vector<std::string>{"A", "A B", "B", "B A"}));
    }
}

TEST_F(SignalClientOverMosquitto, ThreeSidesAllLearnEachOther) {
    Listener announcements(broker, "session/announce");
    auto a = offerSide();
    auto b = answerSide();
    auto c = side("C", "session", false, broker.password());
    for (auto* s : {&a, &b, &c}) ASSERT_EQ(outcome(s->client->connect()), "fulfilled");
    ASSERT_TRUE(joined({&a, &b, &c}));
    // Each side's last announcement names both others.
    for (const std::string id : {"A", "B", "C"}) {
        EXPECT_TRUE(eventually([&] {
            const auto texts = announcements.texts();
            return std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
                return text.rfind(id + " ", 0) == 0 && text.size() == 5;
            });
        })) << id;
    }
}

TEST_F(SignalClientOverMosquitto, SignalsArriveWithTheirFields) {
    auto a = offerSide();
    auto b = answerSide();
    ASSERT_EQ(outcome(a.client->connect()), "fulfilled");
    ASSERT_EQ(outcome(b.client->connect()), "fulfilled");
    ASSERT_TRUE(joined({&a, &b}));

    EXPECT_EQ(outcome(a.client->sendSessionDescription(SdpType::offer, "v=0\r\no=offer")), "fulfilled");
    EXPECT_EQ(outcome(b.client->sendSessionDescription(SdpType::answer, "v=0\r\no=answer")), "fulfilled");
    EXPECT_EQ(outcome(b.client->sendIceCandidate({"candidate:1 1 udp 9 127.0.0.1 5000 typ host", 1, "0"}, 1)),
              "fulfilled");
    EXPECT_EQ(outcome(b.client->sendIceCandidate({"candidate:2", 0, std::nullopt})), "fulfilled");
    EXPECT_EQ(outcome(b.client->sendDisconnect()), "fulfilled");

    EXPECT_TRUE(eventually([&] { return b.signals().size() == 1 && a.signals().size() == 4; }));
    EXPECT_EQ(b.signals(), std::vector<std::string>{"offer v=0\r\no=offer"});
    // A candidate sent without media id arrives with an empty one.
    EXPECT_EQ(a.signals(), (std::vector<std::string>{"answer v=0\r\no=answer",
                                                     "candidate candidate:1 1 udp 9 127.0.0.1 5000 typ host 1 0",
                                                     "candidate candidate:2 0 ", "disconnect"}));
    EXPECT_TRUE(a.logged("Got disconnect!"));
}

TEST_F(SignalClientOverMosquitto, OffersWaitForTheJoinButADisconnectGoesAtOnce) {
    Listener answerInbox(broker, "session/answer");
    auto a = offerSide();
    ASSERT_EQ(outcome(a.client->connect()), "fulfilled");
    auto offer = a.client->sendSessionDescription(SdpType::offer, "sdp");
    EXPECT_EQ(outcome(a.client->sendDisconnect()), "fulfilled");
    EXPECT_TRUE(eventually([&] { return answerInbox.texts().size() == 1; }));
    EXPECT_TRUE(offer.isPending());

    auto b = answerSide();
    ASSERT_EQ(outcome(b.client->connect()), "fulfilled");
    EXPECT_EQ(outcome(offer), "fulfilled");
    EXPECT_TRUE(eventually([&] { return b.signals() == std::vector<std::string>{"offer sdp"}; }));
    EXPECT_EQ(answerInbox.texts().size(), 2u);
}

// libmosquitto sets its TLS state up, without a lock, in the first connection of the process. The
// first connections of several transports made at once must not race there: a second set-up leaves
// the first one leaked (the address sanitizer reports it at exit).
TEST_F(SignalClientOverMosquitto, TheFirstConnectionsOfTheProcessMayStartAtOnce) {
    constexpr int count = 8;
    std::atomic<int> accepted{0};
    MqttTransport::Events events;
    events.connectAck = [&](MqttTransport::Attempt, int returnCode) { accepted += returnCode == 0; };
    std::vector<std::unique_ptr<MosquittoTransport>> transports;
    for (int i = 0; i < count; ++i) {
        transports.push_back(std::make_unique<MosquittoTransport>(
            MqttSettings{"first-" + std::to_string(i), broker.host(), broker.port(), broker.username(),
                         broker.password()},
            broker.caFile()));
        transports.back()->setEvents(events);
    }
    std::latch start(count);
    std::vector<std::jthread> connecting;
    for (auto& transport : transports) {
        connecting.emplace_back([&] {
            start.arrive_and_wait();
            transport->connect();
        });
    }
    EXPECT_TRUE(eventually([&] { return accepted == count; }));
}

TEST_F(SignalClientOverMosquitto, AWrongPasswordIsRefused) {
    auto a = side("A", "session", true, "not the token");
    EXPECT_EQ(outcome(a.client->connect()), "Connection request rejected by MQTT client");
    EXPECT_TRUE(a.logged("Connection request rejected by MQTT server"));
    EXPECT_FALSE(a.client->isConnected());
}

TEST_F(SignalClientOverMosquitto, TheSystemTrustStoreDoesNotKnowTheTestCa) {
    auto client = SignalClient::create(services, {broker.host(), {.ssl = broker.port()}}, broker.username(),
                                       broker.password(), "A", "session", "session/answer", "session/offer", 10,
                                       nullptr);
    EXPECT_EQ(outcome(client->connect()), "A TLS error occurred.");
}

TEST_F(SignalClientOverMosquitto, BothSidesComeBackAfterTheBrokerRestarts) {
    auto a = offerSide();
    auto b = answerSide();
    ASSERT_EQ(outcome(a.client->connect()), "fulfilled");
    ASSERT_EQ(outcome(b.client->connect()), "fulfilled");
    ASSERT_TRUE(joined({&a, &b}));

    broker.stop();
    ASSERT_TRUE(eventually([&] { return !a.client->isConnected() && !b.client->isConnected(); }));
    broker.start();
    const std::string again = "Subscribed again to session/announce and session/";
    ASSERT_TRUE(eventually([&] { return a.logged(again + "offer") && b.logged(again + "answer"); }, 30s));
    EXPECT_TRUE(a.client->isConnected());
    EXPECT_TRUE(a.client->hasJoined());

    EXPECT_EQ(outcome(a.client->sendSessionDescription(SdpType::offer, "after the restart")), "fulfilled");
    EXPECT_TRUE(eventually([&] { return b.signals() == std::vector<std::string>{"offer after the restart"}; }));
}

}  // namespace
}  // namespace quorvane
