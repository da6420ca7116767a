#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// Where and as whom one signaling connection logs in.
struct MqttSettings {
    std::string clientId;
    std::string host;
    std::uint16_t port = 0;
    std::string username;
    std::string password;
};

/// The MQTT 3.1.1 client under SignalClient: one connection to one broker, subscriptions and
/// publishes at QoS 1, clean session, keep-alive 60 s, TLS. It never reconnects by itself.
///
/// Events come on the transport's own thread, one at a time; a handler may subscribe and
/// publish, but not connect or disconnect. Once the transport is destroyed no event is delivered
/// any more.
class MqttTransport {
public:
    enum class State { disconnected, connecting, connected };

    /// Numbers the connection attempts of one transport; connection events name the attempt
    /// they belong to, so that a late event of an abandoned attempt can be told apart.
    using Attempt = std::uint64_t;

    struct PublishResult {
        enum class Status {
            sent,          ///< handed to the connection; `published` follows
            notConnected,  ///< the connection was gone, but the message stays queued in the client
                           ///< and may still go out after a reconnect: `published` may follow
            refused,       ///< the client refused the message; nothing is sent
        };
        Status status;
        int messageId = 0;
        std::string error;  ///< why it was refused
    };

    struct Events {
        /// The broker's CONNACK: 0 accepted, otherwise the refusal's return code.
        std::function<void(Attempt, int returnCode)> connectAck;
        /// The connection of an attempt is gone or could not be made; `error` is null when this
        /// side closed it.
        std::function<void(Attempt, std::exception_ptr error)> disconnected;
        /// The SUBACK of a subscription: whether the broker granted it.
        std::function<void(int messageId, bool granted)> subscribed;
        /// The broker acknowledged a published message.
        std::function<void(int messageId)> published;
        std::function<void(std::string topic, std::vector<std::uint8_t> payload)> received;
    };

    virtual ~MqttTransport() = default;

    /// Replaces the event handlers.
    virtual void setEvents(Events events) = 0;
    /// Starts a connection attempt (closing any connection first); nothing when none can start.
    virtual std::optional<Attempt> connect() = 0;
    /// Subscribes to `topic` at QoS 1; the message id of the SUBSCRIBE, or nothing when the
    /// client refused it at once.
    virtual std::optional<int> subscribe(const std::string& topic) = 0;
    /// Publishes `payload` on `topic` at QoS 1, not retained.
    virtual PublishResult publish(const std::string& topic, const std::vector<std::uint8_t>& payload) = 0;
    /// Closes the connection or abandons the attempt under way; no event of it follows, and
    /// messages still queued in the client are dropped.
    virtual void disconnect() = 0;
    virtual State state() const = 0;
};

/// Makes the transport of one signaling connection.
using MqttTransportFactory = std::function<std::unique_ptr<MqttTransport>(const MqttSettings&)>;

}  // namespace quorvane
