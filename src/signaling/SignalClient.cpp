#include "signaling/SignalClient.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "formats/RtcHandshakeView.hpp"
#include "formats/RtcHandshakeWriter.hpp"
#include "model/PlatformError.hpp"
#include "quorvane/QVError.hpp"
#include "rest/QuorvaneServices.hpp"
#include "signaling/MQTTError.hpp"
#include "signaling/MosquittoTransport.hpp"
#include "util/Utf8.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

namespace {

constexpr std::size_t maxAnnouncedIds = 16;
constexpr std::size_t maxLoggedAnnouncement = 256;  ///< bytes of an announcement text in a log line
constexpr double firstReconnectDelay = 1;
constexpr double maxReconnectDelay = 128;

std::exception_ptr signalError(const std::string& text) {
    return std::make_exception_ptr(PlatformError("SignalClient", 0, text));
}

std::exception_ptr resettingError() { return std::make_exception_ptr(MQTTError::resetting()); }

bool isResetting(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const MQTTError&) {
        return true;
    } catch (...) {
        return false;
    }
}

/// The ids of an announcement: its parts between single spaces, empty ones left out.
std::vector<std::string> idsOf(const std::string& announcement) {
    std::vector<std::string> ids;
    std::size_t start = 0;
    while (start <= announcement.size()) {
        const std::size_t end = std::min(announcement.find(' ', start), announcement.size());
        if (end > start) ids.push_back(announcement.substr(start, end - start));
        start = end + 1;
    }
    return ids;
}

/// `text` as a log line shows it: whole up to maxLoggedAnnouncement bytes, else cut there (on a
/// character boundary) and marked with what was left out. Anyone on the broker may announce.
std::string loggedAnnouncement(const std::string& text) {
    if (text.size() <= maxLoggedAnnouncement) return text;
    std::size_t cut = maxLoggedAnnouncement;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut) + "... [" + std::to_string(text.size() - cut) + " more bytes]";
}

std::uint16_t checkedPort(const MQTTPortSpecification& ports) {
    const auto port = SignalClient::brokerPort(ports);
    if (!port) throw std::invalid_argument("The MQTT broker has neither an ssl nor a wss port");
    if (*port < 1 || *port > 65535) {
        throw std::invalid_argument("The MQTT broker's port " + std::to_string(*port) + " lies outside 1-65535");
    }
    return static_cast<std::uint16_t>(*port);
}

using ClientWork = std::function<void(SignalClient&)>;

/// Runs `work` with the client on `queue`, unless the client is gone by then.
void runOnQueue(std::weak_ptr<SignalClient> client, const DispatchQueuePtr& queue, ClientWork work) {
    queue->async([client = std::move(client), work = std::move(work)] {
        if (auto self = client.lock()) work(*self);
    });
}

void rejectAll(std::map<int, Resolver<void>>& resolvers, const std::exception_ptr& error) {
    for (auto& [id, resolver] : resolvers) resolver.reject(error);
    resolvers.clear();
}

}  // namespace

/// One run of the connect sequence; its time-out is armed once the network is there.
struct SignalClient::ConnectAttempt {
    PendingPromise<void> result = Promise<void>::pending();
    std::unique_ptr<Timer> timer;
};

std::optional<std::int64_t> SignalClient::brokerPort(const MQTTPortSpecification& ports) {
    return ports.ssl ? ports.ssl : ports.wss;
}

std::shared_ptr<SignalClient> SignalClient::create(std::shared_ptr<QuorvaneServices> services,
                                                   const MQTTConnectionInformation& broker, std::string username,
                                                   std::string token, std::string clientId, std::string topicRoot,
                                                   std::string publishTopic, std::string subscribeTopic, int timeout,
                                                   std::shared_ptr<ZephLogger> logger,
                                                   MqttTransportFactory makeTransport) {
    std::shared_ptr<SignalClient> client(new SignalClient(
        std::move(services), broker, std::move(username), std::move(token), std::move(clientId),
        std::move(topicRoot), std::move(publishTopic), std::move(subscribeTopic), timeout, std::move(logger),
        makeTransport ? makeTransport : MosquittoTransport::factory()));

    // Every event moves to the client's queue and is dropped once the client is gone. The
    // network thread never holds the client itself.
    auto onQueue = [weak = std::weak_ptr<SignalClient>(client), queue = client->dispatchQueue_](ClientWork work) {
        runOnQueue(weak, queue, std::move(work));
    };
    MqttTransport::Events events;
    events.connectAck = [onQueue](MqttTransport::Attempt attempt, int returnCode) {
        onQueue([=](SignalClient& self) { self.didConnectAck(attempt, returnCode); });
    };
    events.disconnected = [onQueue](MqttTransport::Attempt attempt, std::exception_ptr error) {
        onQueue([=](SignalClient& self) { self.didDisconnect(attempt, error); });
    };
    events.subscribed = [onQueue](int messageId, bool granted) {
        onQueue([=](SignalClient& self) { self.didSubscribe(messageId, granted); });
    };
    events.published = [onQueue](int messageId) {
        onQueue([=](SignalClient& self) { self.didPublish(messageId); });
    };
    events.received = [onQueue](std::string topic, std::vector<std::uint8_t> payload) {
        onQueue([topic = std::move(topic), payload = std::move(payload)](SignalClient& self) {
            self.didReceive(topic, payload);
        });
    };
    client->mqtt_->setEvents(std::move(events));
    return client;
}

SignalClient::SignalClient(std::shared_ptr<QuorvaneServices> services, const MQTTConnectionInformation& broker,
                           std::string username, std::string token, std::string clientId, std::string topicRoot,
                           std::string publishTopic, std::string subscribeTopic, int timeout,
                           std::shared_ptr<ZephLogger> logger, const MqttTransportFactory& makeTransport)
    : dispatchQueue_(DispatchQueue::create("signalClientQueue")),
      log_(std::move(logger), "SignalClient"),
      services_(std::move(services)),
      timeout_(timeout),
      token_(std::move(token)),
      clientId_(std::move(clientId)),
      topics_(topicRoot, std::move(publishTopic), std::move(subscribeTopic)),
      hasConnected_(Promise<void>::pending()),
      hasJoined_(Promise<void>::pending()) {
    const std::uint16_t port = checkedPort(broker.ports);
    mqtt_ = makeTransport(MqttSettings{clientId_, broker.server, port, std::move(username), token_});
    log_.debug("init", "Building MQTT with ClientID: " + clientId_ + " on Host: " + broker.server +
                           " and Port: " + std::to_string(port));
}

SignalClient::~SignalClient() {
    log_.debug("Deinit", "SignalClient deinitialized");
    // No queued work can hold the client any more: settle what waits from here.
    endMqttWork();
}

void SignalClient::setDelegate(std::weak_ptr<SignalClientDelegate> delegate) {
    onQueue([delegate = std::move(delegate)](SignalClient& self) { self.delegate_ = delegate; });
}

bool SignalClient::isConnected() const { return connected_; }

bool SignalClient::hasJoined() const { return joined_; }

void SignalClient::onQueue(ClientWork work) { runOnQueue(weak_from_this(), dispatchQueue_, std::move(work)); }

template <class Work>
auto SignalClient::step(Work work) {
    return [weak = weak_from_this(), work = std::move(work)]() mutable -> Promise<void> {
        auto self = weak.lock();
        if (!self) return Promise<void>::error(resettingError());
        return work(*self);
    };
}

// --- Connecting -------------------------------------------------------------------------------

Promise<void> SignalClient::connect() {
    log_.debug("connect", "Attempting to connect to MQTT client. Client ID is " + clientId_);
    auto result = Promise<void>::pending();
    dispatchQueue_->async([weak = weak_from_this(), r = result.resolver] {
        auto self = weak.lock();
        if (!self) return void(r.reject(resettingError()));
        self->startConnect().pipeTo(r);
    });
    return result.promise;
}

Promise<void> SignalClient::startConnect() {
    if (connecting_) return connecting_->result.promise;
    if (autoReconnect_) return hasConnected_.promise;
    auto attempt = std::make_shared<ConnectAttempt>();
    connecting_ = attempt;
    // Each step goes on only while this attempt is the one under way.
    auto next = [this, attempt](auto work) {
        return step([attempt, work](SignalClient& self) {
            if (self.connecting_ != attempt) return Promise<void>::error(resettingError());
            return work(self);
        });
    };
    services_->networkStatus()
        ->waitForInternet()
        .then(next([attempt](SignalClient& self) {
                  self.armConnectTimeout(attempt);
                  return self.mqttConnect();
              }),
              dispatchQueue_)
        .then(next([](SignalClient& self) { return self.mqttSubscribe(self.topics_.announceTopic); }), dispatchQueue_)
        .then(next([](SignalClient& self) { return self.mqttSubscribe(self.topics_.subscribeTopic); }), dispatchQueue_)
        .then(next([](SignalClient& self) { return self.mqttSend(self.topics_.announceTopic, {}, self.clientId_); }),
              dispatchQueue_)
        .then(next([](SignalClient& self) {
                  std::exchange(self.connecting_, nullptr)->timer.reset();
                  self.autoReconnect_ = true;
                  self.hasConnected_.resolver.fulfill();
                  return Promise<void>::value();
              }),
              dispatchQueue_)
        .recover(
            [weak = weak_from_this(), attempt](const std::exception_ptr& error) {
                auto self = weak.lock();
                if (self && self->connecting_ == attempt) self->abandonConnection(error);
                return Promise<void>::error(error);
            },
            dispatchQueue_)
        .pipeTo(attempt->result.resolver);
    return attempt->result.promise;
}

void SignalClient::armConnectTimeout(const std::shared_ptr<ConnectAttempt>& attempt) {
    const double seconds = std::max(timeout_, 0);
    attempt->timer = Clock::current()->schedule(
        dispatchQueue_, seconds, 0, [weak = weak_from_this(), weakAttempt = std::weak_ptr<ConnectAttempt>(attempt)] {
            auto self = weak.lock();
            auto attempt = weakAttempt.lock();
            if (!self || !attempt || self->connecting_ != attempt) return;
            self->log_.warn("connect", "Timed out connecting to MQTT server");
            self->abandonConnection(signalError("Timed out connecting to MQTT server"));
        });
}

Promise<void> SignalClient::mqttConnect() {
    auto pending = Promise<void>::pending();
    if (!mqtt_) {
        log_.warn("mqttConnect", "MQTT is not instantiated");
        pending.resolver.reject(signalError("MQTT is not instantiated"));
        return pending.promise;
    }
    pendingConnectAck_ = pending.resolver;
    attempt_ = mqtt_->connect();
    if (attempt_) {
        log_.debug("mqttConnect", "Connected to MQTT Client");
    } else {
        log_.debug("mqttConnect", "Disconnected from MQTT server");
        pendingConnectAck_.reset();
        pending.resolver.reject(signalError("Cannot connect to MQTT"));
    }
    return pending.promise;
}

Promise<void> SignalClient::mqttSubscribe(const std::string& topic) {
    auto pending = Promise<void>::pending();
    if (!mqtt_) {
        pending.resolver.reject(signalError("MQTT is not instantiated"));
    } else if (auto messageId = mqtt_->subscribe(topic)) {
        pendingSubscriptions_.insert_or_assign(*messageId, pending.resolver);
    } else {
        pending.resolver.reject(signalError("Subscription refused by MQTT client"));
    }
    return pending.promise;
}

Promise<void> SignalClient::mqttSend(const std::string& topic, std::vector<std::uint8_t> payload,
                                     std::optional<std::string> string) {
    auto pending = Promise<void>::pending();
    if (!mqtt_) {
        pending.resolver.reject(signalError("MQTT is not instantiated"));
        return pending.promise;
    }
    if (mqtt_->state() != MqttTransport::State::connected) {
        pending.resolver.reject(signalError("Not connected to MQTT server"));
        return pending.promise;
    }
    if (string) payload.assign(string->begin(), string->end());
    const auto result = mqtt_->publish(topic, payload);
    if (result.status == MqttTransport::PublishResult::Status::refused) {
        pending.resolver.reject(signalError("Publish refused by MQTT client: " + result.error));
    } else {
        // Also when the connection has just gone: the client still holds the message and sends
        // it after a reconnect, so it is never published a second time from here.
        pendingMessagesSent_.insert_or_assign(result.messageId, pending.resolver);
    }
    return pending.promise;
}

// --- MQTT events ------------------------------------------------------------------------------

void SignalClient::didConnectAck(MqttTransport::Attempt attempt, int returnCode) {
    if (attempt != attempt_) return;
    if (returnCode == 0) {
        connected_ = true;
        if (pendingConnectAck_) {
            std::exchange(pendingConnectAck_, std::nullopt)->fulfill();
        } else if (autoReconnect_) {
            reconnectDelay_ = firstReconnectDelay;
            resubscribe();
        }
        return;
    }
    log_.warn("mqttConnect", "Connection request rejected by MQTT server");
    // The broker closes the connection next; a reconnection then simply tries again later.
    if (connecting_) abandonConnection(signalError("Connection request rejected by MQTT client"));
}

void SignalClient::didDisconnect(MqttTransport::Attempt attempt, std::exception_ptr error) {
    if (attempt != attempt_) return;
    connected_ = false;
    log_.debug("mqttConnect", "Disconnected from MQTT server");
    const auto reason = error ? error : signalError("Cannot connect to MQTT client");
    if (connecting_) {
        abandonConnection(reason);
    } else if (autoReconnect_) {
        rejectAll(pendingSubscriptions_, reason);
        scheduleReconnect();
    }
}

void SignalClient::didSubscribe(int messageId, bool granted) {
    const auto entry = pendingSubscriptions_.find(messageId);
    if (entry == pendingSubscriptions_.end()) return;
    if (granted) {
        entry->second.fulfill();
    } else {
        entry->second.reject(signalError("Subscription refused by MQTT server"));
    }
    pendingSubscriptions_.erase(entry);
}

void SignalClient::didPublish(int messageId) {
    const auto entry = pendingMessagesSent_.find(messageId);
    if (entry == pendingMessagesSent_.end()) return;
    entry->second.fulfill();
    pendingMessagesSent_.erase(entry);
}

void SignalClient::didReceive(const std::string& topic, const std::vector<std::uint8_t>& payload) {
    if (topic == topics_.announceTopic && isValidUtf8(payload)) {
        const std::string announcement(payload.begin(), payload.end());
        if (announcement == clientId_) return;
        log_.debug("mqtt didReceive", "Received announcement: " + loggedAnnouncement(announcement));
        didReceiveAnnouncement(announcement);
        return;
    }
    didReceiveSignal(payload);
}

void SignalClient::didReceiveSignal(const std::vector<std::uint8_t>& payload) {
    const auto invalid = [this] { log_.debug("mqtt didReceive", "Received invalid RTC message type"); };
    // Nothing of a buffer is read before it has been verified.
    const auto handshake = parseRtcHandshake(payload);
    if (!handshake) return invalid();
    // Peers may rely on a signal being handled whatever token it carries: note it, handle it.
    if (handshake->token() != token_) {
        log_.warn("mqtt didReceive", "Received a signal whose token is not this session's");
    }
    const auto delegate = delegate_.lock();
    switch (handshake->messageType()) {
        case Message::Offer:
        case Message::Answer: {
            const bool offer = handshake->messageType() == Message::Offer;
            const auto description = offer ? handshake->offer() : handshake->answer();
            const auto sdp = description ? description->sdp() : std::nullopt;
            if (!sdp) return invalid();
            if (!delegate) return;
            if (offer) {
                delegate->signalClientDidReceiveOffer(*sdp);
            } else {
                delegate->signalClientDidReceiveAnswer(*sdp);
            }
            return;
        }
        case Message::IceCandidate: {
            const auto candidate = handshake->iceCandidate();
            auto text = candidate ? candidate->candidate() : std::nullopt;
            if (!text) return invalid();
            if (delegate) {
                delegate->signalClientDidReceiveCandidate(
                    SignalIceCandidate{std::move(*text), candidate->sdpMLineIndex(), candidate->sdpMid()});
            }
            return;
        }
        case Message::Disconnect:
            log_.debug("mqtt didReceive", "Got disconnect!");
            if (delegate) delegate->signalClientDidReceiveDisconnect();
            return;
        default: return invalid();
    }
}

// --- Announcements ----------------------------------------------------------------------------

void SignalClient::didReceiveAnnouncement(const std::string& announcement) {
    // Held until this side's own connect sequence is done; a reset in between forgets it.
    hasConnected_.promise
        .then(step([announcement](SignalClient& self) {
                  self.processAnnouncement(announcement);
                  return Promise<void>::value();
              }),
              dispatchQueue_)
        .catchError(
            [weak = weak_from_this()](const std::exception_ptr& error) {
                if (auto self = weak.lock()) self->log_.error("didReceive(announcement:)", errorDescription(error));
            },
            dispatchQueue_);
}

void SignalClient::processAnnouncement(const std::string& announcement) {
    const auto ids = idsOf(announcement);
    bool heardPeer = false;
    bool learned = false;
    for (const auto& id : ids) {
        if (id == clientId_) continue;
        heardPeer = true;
        // Ids beyond the cap are dropped without a line of their own: the announcement's line says enough.
        if (announced_.size() >= maxAnnouncedIds ||
            std::find(announced_.begin(), announced_.end(), id) != announced_.end()) {
            continue;
        }
        announced_.push_back(id);
        learned = true;
    }
    if (!heardPeer) return;
    // A bare id is a side that has just (re)connected: it has to hear from this side again.
    const bool freshPeer = ids.size() == 1;
    if (learned || freshPeer) announce();
    const bool rejoined = freshPeer && hasJoined_.promise.isFulfilled();
    hasJoined_.resolver.fulfill();
    joined_ = true;
    if (!rejoined) return;
    if (const auto delegate = delegate_.lock()) delegate->signalClientPeerDidRejoin();
}

void SignalClient::announce() {
    std::string text = clientId_;
    for (const auto& id : announced_) text += " " + id;
    log_.debug("announce", "Publishing Announcement for ClientId: " + loggedAnnouncement(text) +
                               " and Topic: " + topics_.announceTopic);
    announcementDue_ = false;
    mqttSend(topics_.announceTopic, {}, text)
        .catchError(
            [weak = weak_from_this()](const std::exception_ptr& error) {
                auto self = weak.lock();
                if (!self || isResetting(error) || self->announced_.empty()) return;
                self->log_.warn("announce", "Failed to publish announcement: " + errorDescription(error));
                self->announcementDue_ = true;
            },
            dispatchQueue_);
}

// --- Automatic reconnection -------------------------------------------------------------------

void SignalClient::scheduleReconnect() {
    log_.debug("reconnect", "Reconnecting to MQTT server in " + std::to_string(static_cast<int>(reconnectDelay_)) +
                                " s");
    reconnectTimer_ = Clock::current()->schedule(dispatchQueue_, reconnectDelay_, 0, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->reconnect();
    });
    reconnectDelay_ = std::min(reconnectDelay_ * 2, maxReconnectDelay);
}

void SignalClient::reconnect() {
    if (!mqtt_ || !autoReconnect_) return;
    attempt_ = mqtt_->connect();
    if (!attempt_) scheduleReconnect();
}

void SignalClient::resubscribe() {
    const auto queue = dispatchQueue_;
    mqttSubscribe(topics_.announceTopic)
        .then(step([](SignalClient& self) { return self.mqttSubscribe(self.topics_.subscribeTopic); }), queue)
        .done(
            [weak = weak_from_this()] {
                auto self = weak.lock();
                if (!self) return;
                self->log_.debug("reconnect", "Subscribed again to " + self->topics_.announceTopic + " and " +
                                                  self->topics_.subscribeTopic);
                if (self->announcementDue_) self->announce();
            },
            queue)
        .catchError(
            [weak = weak_from_this()](const std::exception_ptr& error) {
                if (auto self = weak.lock()) self->log_.warn("reconnect", "Cannot subscribe again: " + errorDescription(error));
            },
            queue);
}

// --- Senders ----------------------------------------------------------------------------------

Promise<void> SignalClient::sendSessionDescription(SdpType type, std::string sdp) {
    switch (type) {
        case SdpType::offer:
            return sendWhenJoined(RtcHandshakeWriter::offer(token_, timestamp(), "offer", sdp), "sendOffer",
                                  "Sent offer over MQTT server");
        case SdpType::answer:
            return sendWhenJoined(RtcHandshakeWriter::answer(token_, timestamp(), "answer", sdp), "sendAnswer",
                                  "Sent answer over MQTT server");
        default:
            return Promise<void>::error(std::make_exception_ptr(
                QVError("Unhandled session description type: " + std::string(textValue(type)))));
    }
}

Promise<void> SignalClient::sendIceCandidate(const SignalIceCandidate& candidate, int index) {
    auto payload = RtcHandshakeWriter::iceCandidate(token_, timestamp(), candidate.candidate,
                                                    candidate.sdpMLineIndex, candidate.sdpMid.value_or(""), "");
    return sendWhenJoined(std::move(payload), "sendIceCandidate",
                          "Sent Candidate over MQTT Server " + (index > 0 ? ": " + std::to_string(index) : ""));
}

Promise<void> SignalClient::sendWhenJoined(std::vector<std::uint8_t> payload, std::string operation,
                                           std::string sent) {
    auto result = Promise<void>::pending();
    onQueueOrReject(result.resolver, [payload = std::move(payload), operation = std::move(operation),
                                      sent = std::move(sent), r = result.resolver](SignalClient& self) {
        const auto queue = self.dispatchQueue_;
        self.hasConnected_.promise
            .then(self.step([](SignalClient& self) { return self.hasJoined_.promise; }), queue)
            .then(self.step([payload](SignalClient& self) {
                      return self.mqttSend(self.topics_.publishTopic, payload);
                  }),
                  queue)
            .then(self.step([operation, sent](SignalClient& self) {
                      self.log_.debug(operation, sent);
                      return Promise<void>::value();
                  }),
                  queue)
            .pipeTo(r);
    });
    return result.promise;
}

Promise<void> SignalClient::sendDisconnect() {
    log_.debug("sendDisconnect", "Preparing to send disconnect");
    auto payload = RtcHandshakeWriter::disconnect(token_, timestamp(), clientId_);
    auto result = Promise<void>::pending();
    onQueueOrReject(result.resolver, [payload = std::move(payload), r = result.resolver](SignalClient& self) {
        // The line is written even when the owner lets the client go meanwhile.
        self.mqttSend(self.topics_.publishTopic, payload)
            .map([log = self.log_] { log.debug("sendDisconnect", "Sent Disconnect signal over MQTT Server"); },
                 self.dispatchQueue_)
            .pipeTo(r);
    });
    return result.promise;
}

void SignalClient::onQueueOrReject(const Resolver<void>& resolver, std::function<void(SignalClient&)> work) {
    dispatchQueue_->async([weak = weak_from_this(), resolver, work = std::move(work)] {
        if (auto self = weak.lock()) {
            work(*self);
        } else {
            resolver.reject(resettingError());
        }
    });
}

std::uint32_t SignalClient::timestamp() const {
    const double seconds = std::floor(Clock::current()->now());
    return static_cast<std::uint32_t>(std::clamp(seconds, 0.0, double(std::numeric_limits<std::uint32_t>::max())));
}

// --- Reset and tear-down ----------------------------------------------------------------------

void SignalClient::reset() {
    connected_ = false;
    joined_ = false;
    onQueue([](SignalClient& self) { self.doReset(); });
}

void SignalClient::doReset() {
    log_.debug("disconnect", "Disconnecting MQTT client");
    const auto resetting = resettingError();
    abandonConnection(resetting);
    hasJoined_.resolver.reject(resetting);
    hasJoined_ = Promise<void>::pending();
    hasConnected_.resolver.reject(resetting);
    hasConnected_ = Promise<void>::pending();
    announced_.clear();
    announcementDue_ = false;
    joined_ = false;
}

void SignalClient::tearDown() {
    connected_ = false;
    onQueue([](SignalClient& self) { self.endMqttWork(); });
}

void SignalClient::endMqttWork() {
    const auto resetting = resettingError();
    giveUpWaiting(resetting);
    hasJoined_.resolver.reject(resetting);
    hasConnected_.resolver.reject(resetting);
    attempt_.reset();
    connected_ = false;
    mqtt_.reset();
}

void SignalClient::giveUpWaiting(const std::exception_ptr& error) {
    if (auto attempt = std::exchange(connecting_, nullptr)) {
        attempt->timer.reset();
        attempt->result.resolver.reject(error);
    }
    if (auto ack = std::exchange(pendingConnectAck_, std::nullopt)) ack->reject(error);
    rejectAll(pendingSubscriptions_, error);
    rejectAll(pendingMessagesSent_, error);
    autoReconnect_ = false;
    reconnectTimer_.reset();
    reconnectDelay_ = firstReconnectDelay;
}

void SignalClient::abandonConnection(const std::exception_ptr& error) {
    giveUpWaiting(error);
    // Also after a lost connection: what the client still holds must not go out later.
    if (mqtt_ && attempt_) mqtt_->disconnect();
    attempt_.reset();
    connected_ = false;
}

}  // namespace quorvane
