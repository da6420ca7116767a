#pragma once

// A SignalClient over the scripted MQTT transport, on virtual time, with its log kept.

#include <gtest/gtest.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "async/Clock.hpp"
#include "log/ZephLogger.hpp"
#include "network/NetworkStatus.hpp"
#include "rest/QuorvaneServices.hpp"
#include "signaling/SignalClient.hpp"
#include "support/FakeMqttTransport.hpp"
#include "support/FakeReachabilitySource.hpp"
#include "support/RecordingSignalDelegate.hpp"
#include "support/Settle.hpp"

namespace quorvane::testing {

/// What a settled promise holds: "fulfilled", "pending", or the error's text.
template <class P>
std::string outcome(const P& promise) {
    if (promise.isPending()) return "pending";
    if (promise.isFulfilled()) return "fulfilled";
    try {
        std::rethrow_exception(promise.error());
    } catch (const std::exception& e) {
        return e.what();
    }
}

inline const std::string resetting = "MQTT client is resetting";

class SignalClientFixture : public ::testing::Test {
public:
    static constexpr const char* announceTopic = "session/announce";
    static constexpr const char* inbox = "session/offer";
    static constexpr const char* peerInbox = "session/answer";

    SignalClientFixture() { client->setDelegate(delegate); }

    std::shared_ptr<SignalClient> makeClient(MQTTPortSpecification ports = {.ssl = 8883}, int timeout = 10,
                                             std::string token = "token") {
        return SignalClient::create(services, MQTTConnectionInformation{"broker.example", ports}, "user",
                                    std::move(token), "A", "session", peerInbox, inbox, timeout, logger,
                                    mqtt->factory());
    }

    /// Lets every hop between the transport, the client's queue and the promises run out.
    void settle() {
        quorvane::testing::settle({client->dispatchQueue()},
                                  [this] { return mqtt->activity() + logger->getLogStore().size(); });
    }

    /// Connects over the willing transport.
    void connect() {
        auto connected = client->connect();
        settle();
        ASSERT_EQ(outcome(connected), "fulfilled");
    }

    void announce(const std::string& text) {
        mqtt->deliver(announceTopic, text);
        settle();
    }

    /// Every log line so far as "LEVEL operation: message".
    std::vector<std::string> log() const {
        std::vector<std::string> lines;
        for (const auto& entry : logger->getLogStore()) {
            lines.push_back(std::string(rawValue(entry.level)) + " " + entry.method + ": " + entry.message);
        }
        return lines;
    }

    bool logged(const std::string& line) const {
        const auto lines = log();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    /// The announcements this client published after its first, bare one.
    std::vector<std::string> reannouncements() const {
        auto texts = mqtt->texts(announceTopic);
        if (!texts.empty()) texts.erase(texts.begin());
        return texts;
    }

    ScopedVirtualClock clock;
    std::shared_ptr<FakeReachabilitySource> network =
        std::make_shared<FakeReachabilitySource>(FakeReachabilitySource::online);
    std::shared_ptr<QuorvaneServices> services = std::make_shared<QuorvaneServices>(
        "https://127.0.0.1:9", "key", NetworkStatus::create(Reachability::create(network, DispatchQueue::main())));
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, true);
    std::shared_ptr<FakeMqttTransport> mqtt = std::make_shared<FakeMqttTransport>();
    std::shared_ptr<RecordingSignalDelegate> delegate = std::make_shared<RecordingSignalDelegate>();
    std::shared_ptr<SignalClient> client = makeClient();
};

}  // namespace quorvane::testing
