#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "async/Clock.hpp"
#include "log/ClassLogger.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "quorvane/Promise.hpp"
#include "rest/ConnectionInformation.hpp"
#include "signaling/MqttTransport.hpp"
#include "signaling/SdpType.hpp"
#include "signaling/SignalClientDelegate.hpp"
#include "signaling/SignalIceCandidate.hpp"
#include "signaling/SupportTopics.hpp"

namespace quorvane {

class QuorvaneServices;
class ZephLogger;

/// The signaling transport of one support session: one MQTT connection to the session's broker
/// over TLS (user name and the session token as password), the session's topics, the
/// announcements by which the two sides find each other, and the four signal messages.
///
/// Every MQTT event and every piece of the client's state is handled on its serial queue
/// "signalClientQueue"; the operations below may be called from any thread and keep their
/// calling order. Reports go to the delegate on that queue.
///
/// A lost connection is restored without any call from the owner: first retry 1 s after the
/// loss, then after twice the previous wait, at most 128 s; both topics are subscribed again.
///
/// Failures are PlatformError with domain "SignalClient" and code 0, MQTTError::resetting for
/// what reset(), tearDown() or the client's release gives up, and QVError for an unsupported
/// session description type.
class SignalClient : public std::enable_shared_from_this<SignalClient> {
public:
    /// The broker port to connect to: `ssl`, else `wss` (spoken to as MQTT over TLS as well: MQTT
    /// over web socket is not supported); nothing when neither is given.
    static std::optional<std::int64_t> brokerPort(const MQTTPortSpecification& ports);

    /// A client for the broker `broker` (its host and brokerPort()), not connected yet.
    /// `publishTopic` is the peer's inbox, `subscribeTopic` this side's; the announce topic is
    /// `topicRoot` + "/announce". `timeout` (seconds) bounds connect(). `makeTransport` replaces
    /// the libmosquitto client (tests). Throws std::invalid_argument when the broker has no
    /// usable port or its port lies outside 1-65535, std::runtime_error when the MQTT client
    /// cannot be set up.
    static std::shared_ptr<SignalClient> create(std::shared_ptr<QuorvaneServices> services,
                                                const MQTTConnectionInformation& broker, std::string username,
                                                std::string token, std::string clientId, std::string topicRoot,
                                                std::string publishTopic, std::string subscribeTopic, int timeout,
                                                std::shared_ptr<ZephLogger> logger,
                                                MqttTransportFactory makeTransport = {});

    /// Logs "SignalClient deinitialized"; what still waits is rejected with MQTTError::resetting.
    ~SignalClient();
    SignalClient(const SignalClient&) = delete;
    SignalClient& operator=(const SignalClient&) = delete;

    /// The receiver of incoming signals, held weakly.
    void setDelegate(std::weak_ptr<SignalClientDelegate> delegate);

    /// Waits for the network, connects to the broker, subscribes to the announce topic and then
    /// to this side's inbox, and announces this side's client id. Fulfilled when all of that is
    /// done; rejected by the first failing step, or when `timeout` seconds pass after the network
    /// wait. While a connect is under way or done (until reset()), returns that one's result.
    Promise<void> connect();

    /// Disconnects, gives up every waiting connect, send and publish (MQTTError::resetting),
    /// forgets the announced ids; afterwards connect() may be called again.
    void reset();

    /// Ends all MQTT work for good: the connection is dropped without a goodbye and every waiting
    /// connect, send and publish is rejected with MQTTError::resetting; later MQTT operations
    /// fail with "MQTT is not instantiated".
    void tearDown();

    /// True while the MQTT connection is up.
    bool isConnected() const;
    /// True once the peer's announcement has been heard since the last reset.
    bool hasJoined() const;

    /// Publishes an offer or an answer once connected and joined; any other type is refused with
    /// QVError "Unhandled session description type: " followed by the type.
    Promise<void> sendSessionDescription(SdpType type, std::string sdp);
    /// Publishes one local ICE candidate once connected and joined; `index` only numbers it in
    /// the log.
    Promise<void> sendIceCandidate(const SignalIceCandidate& candidate, int index = 0);
    /// Publishes this side's disconnect notice at once, joined or not.
    Promise<void> sendDisconnect();

    /// "signalClientQueue".
    const DispatchQueuePtr& dispatchQueue() const { return dispatchQueue_; }

private:
    struct ConnectAttempt;
    friend struct SignalClientTesting;

    SignalClient(std::shared_ptr<QuorvaneServices> services, const MQTTConnectionInformation& broker,
                 std::string username, std::string token, std::string clientId, std::string topicRoot,
                 std::string publishTopic, std::string subscribeTopic, int timeout,
                 std::shared_ptr<ZephLogger> logger, const MqttTransportFactory& makeTransport);

    /// Runs `work` on dispatchQueue_ unless the client is gone by then.
    void onQueue(std::function<void(SignalClient&)> work);
    /// The same, rejecting `resolver` with MQTTError::resetting when the client is gone.
    void onQueueOrReject(const Resolver<void>& resolver, std::function<void(SignalClient&)> work);
    /// A promise step that holds the client weakly: `work(client)`, or MQTTError::resetting
    /// once the client is gone.
    template <class Work>
    auto step(Work work);

    // Connect sequence and MQTT steps; on dispatchQueue_.
    Promise<void> startConnect();
    void armConnectTimeout(const std::shared_ptr<ConnectAttempt>& attempt);
    Promise<void> mqttConnect();
    Promise<void> mqttSubscribe(const std::string& topic);
    /// Publishes `string` when given, else `payload`; fulfilled when the broker has the message.
    Promise<void> mqttSend(const std::string& topic, std::vector<std::uint8_t> payload,
                           std::optional<std::string> string = std::nullopt);
    /// Publishes a signal on the peer's inbox once connected and joined.
    Promise<void> sendWhenJoined(std::vector<std::uint8_t> payload, std::string operation, std::string sent);

    // MQTT events; on dispatchQueue_.
    void didConnectAck(MqttTransport::Attempt attempt, int returnCode);
    void didDisconnect(MqttTransport::Attempt attempt, std::exception_ptr error);
    void didSubscribe(int messageId, bool granted);
    void didPublish(int messageId);
    void didReceive(const std::string& topic, const std::vector<std::uint8_t>& payload);
    void didReceiveSignal(const std::vector<std::uint8_t>& payload);

    // Announcements; on dispatchQueue_.
    void didReceiveAnnouncement(const std::string& announcement);
    void processAnnouncement(const std::string& announcement);
    void announce();

    // Automatic reconnection; on dispatchQueue_.
    void scheduleReconnect();
    void reconnect();
    void resubscribe();

    // Giving up; on dispatchQueue_ (endMqttWork also from the destructor).
    void doReset();
    void endMqttWork();
    /// Rejects with `error` the connect under way and every subscription and publish that waits,
    /// and stops reconnecting.
    void giveUpWaiting(const std::exception_ptr& error);
    /// giveUpWaiting, then closes the connection and drops what the MQTT client still holds.
    void abandonConnection(const std::exception_ptr& error);

    /// Now in whole seconds since 1970, within the unsigned 32-bit range.
    std::uint32_t timestamp() const;

    const DispatchQueuePtr dispatchQueue_;
    const ClassLogger log_;
    const std::shared_ptr<QuorvaneServices> services_;
    const int timeout_;
    const std::string token_;
    const std::string clientId_;
    const SupportTopics topics_;

    // Everything below is read and written on dispatchQueue_ only (and by the destructor).
    std::weak_ptr<SignalClientDelegate> delegate_;
    std::unique_ptr<MqttTransport> mqtt_;                  ///< null once torn down
    std::optional<MqttTransport::Attempt> attempt_;       ///< the connection events count for
    std::vector<std::string> announced_;                  ///< ids heard, at most 16
    PendingPromise<void> hasConnected_;
    PendingPromise<void> hasJoined_;
    std::map<int, Resolver<void>> pendingMessagesSent_;   ///< publishes waiting for the broker
    std::map<int, Resolver<void>> pendingSubscriptions_;  ///< subscriptions waiting for their SUBACK
    std::optional<Resolver<void>> pendingConnectAck_;
    std::shared_ptr<ConnectAttempt> connecting_;          ///< the connect sequence under way
    bool autoReconnect_ = false;                          ///< connected by connect(), not reset since
    double reconnectDelay_ = 1;
    std::unique_ptr<Timer> reconnectTimer_;
    bool announcementDue_ = false;                        ///< a failed announcement waits for the connection

    // Mirrors for readers on other threads.
    std::atomic<bool> connected_{false};
    std::atomic<bool> joined_{false};
};

}  // namespace quorvane
