#include "signaling/MosquittoTransport.hpp"

#include <mosquitto.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "model/PlatformError.hpp"

namespace quorvane {

namespace {

constexpr int keepAliveSeconds = 60;
constexpr int qos = 1;
constexpr int loopTimeoutMs = 50;
constexpr int goodbyeLoops = 20;  // network-loop turns allowed for a DISCONNECT to go out
constexpr int subscriptionRefused = 0x80;

/// The client library's failure `rc`, as the client reports it.
std::exception_ptr mosquittoError(int rc) {
    const std::string text = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
    return std::make_exception_ptr(PlatformError("mosquitto", rc, text));
}

void initialiseLibrary() {
    static const int initialised = mosquitto_lib_init();
    (void)initialised;
}

/// True when the socket `fd` has been closed or failed.
bool hungUp(int fd) {
    pollfd entry{fd, POLLOUT, 0};
    return fd >= 0 && poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLERR)) != 0;
}

MosquittoTransport& transportOf(void* self) { return *static_cast<MosquittoTransport*>(self); }

}  // namespace

MosquittoTransport::MosquittoTransport(MqttSettings settings, std::string caFile)
    : settings_(std::move(settings)), caFile_(std::move(caFile)) {
    initialiseLibrary();
    mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (mosq_ == nullptr) throw std::runtime_error("Cannot create an MQTT client");
    try {
        configure();
    } catch (...) {
        mosquitto_destroy(mosq_);
        throw;
    }
    thread_ = std::thread([this] { run(); });
}

MosquittoTransport::~MosquittoTransport() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        events_ = {};
    }
    wake_.notify_all();
    thread_.join();
    mosquitto_destroy(mosq_);
}

MqttTransportFactory MosquittoTransport::factory(std::string caFile) {
    return [caFile = std::move(caFile)](const MqttSettings& settings) {
        return std::make_unique<MosquittoTransport>(settings, caFile);
    };
}

void MosquittoTransport::configure() {
    auto check = [](int rc, const char* what) {
        if (rc != MOSQ_ERR_SUCCESS) {
            throw std::runtime_error(std::string("Cannot set up the MQTT client's ") + what + ": " +
                                     mosquitto_strerror(rc));
        }
    };
    check(mosquitto_threaded_set(mosq_, true), "threading");
    check(mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311), "protocol version");
    // Signals are small and each waits for the one before: never hold one back to fill a segment.
    check(mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1), "no-delay option");
    check(mosquitto_username_pw_set(mosq_, settings_.username.c_str(), settings_.password.c_str()), "login");
    if (caFile_.empty()) {
        check(mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1), "trust store");
    } else {
        check(mosquitto_tls_set(mosq_, caFile_.c_str(), nullptr, nullptr, nullptr, nullptr), "trust store");
    }
    mosquitto_connect_callback_set(mosq_, &MosquittoTransport::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &MosquittoTransport::onDisconnect);
    mosquitto_subscribe_callback_set(mosq_, &MosquittoTransport::onSubscribe);
    mosquitto_publish_callback_set(mosq_, &MosquittoTransport::onPublish);
    mosquitto_message_callback_set(mosq_, &MosquittoTransport::onMessage);
}

void MosquittoTransport::setEvents(Events events) {
    std::lock_guard lock(mutex_);
    events_ = std::move(events);
}

std::optional<MqttTransport::Attempt> MosquittoTransport::connect() {
    Attempt attempt = 0;
    {
        std::lock_guard lock(mutex_);
        if (stopping_ || unusable_) return std::nullopt;
        attempt = currentAttempt_ = ++lastAttempt_;
        connectRequest_ = attempt;
        state_ = State::connecting;
    }
    wake_.notify_all();
    return attempt;
}

void MosquittoTransport::disconnect() {
    {
        std::lock_guard lock(mutex_);
        currentAttempt_ = 0;
        connectRequest_.reset();
        disconnectRequest_ = true;
        state_ = State::disconnected;
    }
    wake_.notify_all();
}

std::optional<int> MosquittoTransport::subscribe(const std::string& topic) {
    std::lock_guard lock(handleMutex_);
    int mid = 0;
    if (mosquitto_subscribe(mosq_, &mid, topic.c_str(), qos) != MOSQ_ERR_SUCCESS) return std::nullopt;
    return mid;
}

MqttTransport::PublishResult MosquittoTransport::publish(const std::string& topic,
                                                         const std::vector<std::uint8_t>& payload) {
    std::lock_guard lock(handleMutex_);
    int mid = 0;
    const int rc = mosquitto_publish(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                                     qos, false);
    switch (rc) {
        case MOSQ_ERR_SUCCESS: return {PublishResult::Status::sent, mid, {}};
        // The message stays queued in the client: the next connection sends it.
        case MOSQ_ERR_NO_CONN: return {PublishResult::Status::notConnected, mid, {}};
        default: return {PublishResult::Status::refused, 0, mosquitto_strerror(rc)};
    }
}

void MosquittoTransport::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (disconnectRequest_ || connectRequest_) {
            const bool close = std::exchange(disconnectRequest_, false) || socketOpen_;
            const auto attempt = std::exchange(connectRequest_, std::nullopt);
            lock.unlock();
            if (close) closeConnection();
            if (attempt) startAttempt(*attempt);
            lock.lock();
            continue;
        }
        if (!socketOpen_) {
            wake_.wait(lock);
            continue;
        }
        lock.unlock();
        const int rc = mosquitto_loop(mosq_, loopTimeoutMs, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            connectionEnded(mosquittoError(rc));
        } else if (state_ == State::connecting && hungUp(mosquitto_socket(mosq_))) {
            // Over TLS the client does not notice a connection that could not be made.
            connectionEnded(std::make_exception_ptr(PlatformError("mosquitto", MOSQ_ERR_CONN_LOST,
                                                                  "Cannot reach the MQTT broker")));
        }
        lock.lock();
    }
}

void MosquittoTransport::startAttempt(Attempt attempt) {
    loopAttempt_ = attempt;
    endReported_ = false;
    // The client library sets its process-wide TLS state up in the first connection, without a
    // lock: two first connections at once would make it twice and leak one. Connections start one
    // at a time in the process.
    static std::mutex connecting;
    std::unique_lock connectingLock(connecting);
    const int rc = mosquitto_connect_async(mosq_, settings_.host.c_str(), settings_.port, keepAliveSeconds);
    connectingLock.unlock();
    if (rc == MOSQ_ERR_SUCCESS) {
        socketOpen_ = true;
    } else {
        connectionEnded(mosquittoError(rc));
    }
}

void MosquittoTransport::closeConnection() {
    if (socketOpen_ && mosquitto_disconnect(mosq_) == MOSQ_ERR_SUCCESS) {
        for (int i = 0; i < goodbyeLoops && mosquitto_loop(mosq_, loopTimeoutMs, 1) == MOSQ_ERR_SUCCESS; ++i) {}
    }
    socketOpen_ = false;
    // A fresh handle: the old socket is closed and messages still queued are never sent.
    std::lock_guard lock(handleMutex_);
    try {
        if (mosquitto_reinitialise(mosq_, settings_.clientId.c_str(), true, this) != MOSQ_ERR_SUCCESS) {
            throw std::runtime_error("Cannot reset the MQTT client");
        }
        configure();
    } catch (const std::exception&) {
        // Never connect with a handle whose settings (TLS among them) may be missing.
        std::lock_guard state(mutex_);
        unusable_ = true;
    }
}

void MosquittoTransport::connectionEnded(std::exception_ptr error) {
    socketOpen_ = false;
    if (std::exchange(endReported_, true)) return;
    auto report = handlerOf(&Events::disconnected, State::disconnected);
    if (report) report(loopAttempt_, std::move(error));
}

template <class Handler>
Handler MosquittoTransport::handlerOf(Handler Events::*handler, std::optional<State> newState) {
    std::lock_guard lock(mutex_);
    if (loopAttempt_ == 0 || loopAttempt_ != currentAttempt_) return {};
    if (newState) state_ = *newState;
    return events_.*handler;
}

void MosquittoTransport::onConnect(mosquitto*, void* self, int rc) {
    auto& transport = transportOf(self);
    auto report = transport.handlerOf(&Events::connectAck, rc == 0 ? State::connected : State::disconnected);
    if (report) report(transport.loopAttempt_, rc);
}

void MosquittoTransport::onDisconnect(mosquitto*, void* self, int rc) {
    transportOf(self).connectionEnded(rc == MOSQ_ERR_SUCCESS ? nullptr : mosquittoError(rc));
}

void MosquittoTransport::onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted) {
    auto report = transportOf(self).handlerOf(&Events::subscribed);
    if (report) report(mid, count > 0 && granted[0] != subscriptionRefused);
}

void MosquittoTransport::onPublish(mosquitto*, void* self, int mid) {
    auto report = transportOf(self).handlerOf(&Events::published);
    if (report) report(mid);
}

void MosquittoTransport::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    auto report = transportOf(self).handlerOf(&Events::received);
    if (!report) return;
    const auto* bytes = static_cast<const std::uint8_t*>(message->payload);
    report(message->topic, std::vector<std::uint8_t>(bytes, bytes + message->payloadlen));
}

}  // namespace quorvane
