#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "signaling/MqttTransport.hpp"

namespace quorvane::testing {

/// A scripted MQTT client for SignalClient, for the paths a real broker does not take. By default
/// it behaves like a willing broker: a connect is accepted, every subscription granted and every
/// publish acknowledged, each at once from the calling thread. Tests switch each answer to
/// manual or to a refusal, then answer by hand. It records every call.
///
/// Make the transports with factory(); the test keeps the FakeMqttTransport. The latest transport
/// made is the one scripted.
class FakeMqttTransport : public std::enable_shared_from_this<FakeMqttTransport> {
public:
    using Attempt = MqttTransport::Attempt;
    using PublishStatus = MqttTransport::PublishResult::Status;

    struct Publication {
        std::string topic;
        std::vector<std::uint8_t> payload;
        int messageId;
        std::string text() const { return std::string(payload.begin(), payload.end()); }
    };

    MqttTransportFactory factory();

    // What the transport answers.
    /// The CONNACK code sent at once (0 accepts), or nothing: the test answers by hand.
    void answerConnect(std::optional<int> returnCode);
    /// Whether connect() can start an attempt at all.
    void startConnects(bool start);
    /// Whether SUBACKs come at once (granted or refused), or nothing: the test answers by hand.
    void answerSubscribe(std::optional<bool> granted);
    /// Whether subscribe() is refused at once.
    void refuseSubscribe(bool refuse);
    /// How publish() answers; only `sent` is acknowledged at once, and only when `confirm`.
    void answerPublish(PublishStatus status, bool confirm = true);

    // Events by hand, as from the network thread.
    void acceptConnection(int returnCode = 0);
    /// Ends the current connection (or attempt) with `error`.
    void dropConnection(std::exception_ptr error = nullptr);
    void grantSubscription(int messageId, bool granted = true);
    void confirmPublish(int messageId);
    void deliver(const std::string& topic, const std::vector<std::uint8_t>& payload);
    void deliver(const std::string& topic, const std::string& text);

    /// Every call in order: "connect", "subscribe <topic>", "publish <topic>", "disconnect".
    std::vector<std::string> calls() const;
    std::vector<Publication> publications() const;
    /// Publications on `topic`, as text.
    std::vector<std::string> texts(const std::string& topic) const;
    std::vector<int> pendingSubscriptions() const;
    MqttTransport::State state() const;
    /// Whether the latest transport has been destroyed.
    bool destroyed() const;
    /// Grows with every call and event; for settling tests.
    std::uint64_t activity() const;

private:
    class Transport;
    friend class Transport;

    MqttTransport::Events events() const;

    mutable std::mutex mutex_;
    MqttTransport::Events events_;
    const Transport* current_ = nullptr;  ///< the latest transport made; it alone owns the events
    std::optional<int> connectAnswer_ = 0;
    bool startConnects_ = true;
    std::optional<bool> subscribeAnswer_ = true;
    bool refuseSubscribe_ = false;
    PublishStatus publishStatus_ = PublishStatus::sent;
    bool confirmPublish_ = true;

    std::vector<std::string> calls_;
    std::vector<Publication> publications_;
    std::vector<int> pendingSubscriptions_;
    MqttTransport::State state_ = MqttTransport::State::disconnected;
    Attempt attempt_ = 0;
    int nextMessageId_ = 1;
    bool destroyed_ = false;
    std::uint64_t activity_ = 0;
};

}  // namespace quorvane::testing
