#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "signaling/MqttTransport.hpp"

struct mosquitto;
struct mosquitto_message;

namespace quorvane {

/// MqttTransport on libmosquitto. One network thread of its own runs the client's loop and makes
/// every connection attempt; the library's own loop thread is not used (it gives up after a TLS
/// connection ends). Publishes and subscriptions are made on the caller's thread.
class MosquittoTransport final : public MqttTransport {
public:
    /// Trusts the system's certificate store, or only `caFile` when one is given (tests and
    /// tools). Throws std::runtime_error when the client cannot be set up.
    explicit MosquittoTransport(MqttSettings settings, std::string caFile = {});
    /// Stops the network thread and drops the connection without a goodbye.
    ~MosquittoTransport() override;
    MosquittoTransport(const MosquittoTransport&) = delete;
    MosquittoTransport& operator=(const MosquittoTransport&) = delete;

    /// Makes MosquittoTransports that trust `caFile` (empty: the system's store).
    static MqttTransportFactory factory(std::string caFile = {});

    void setEvents(Events events) override;
    std::optional<Attempt> connect() override;
    std::optional<int> subscribe(const std::string& topic) override;
    PublishResult publish(const std::string& topic, const std::vector<std::uint8_t>& payload) override;
    void disconnect() override;
    State state() const override { return state_; }

private:
    /// Sets every option and callback on the (new or reinitialised) handle.
    void configure();
    void run();
    /// On the network thread: starts `attempt`'s connection.
    void startAttempt(Attempt attempt);
    /// On the network thread: says goodbye when connected, closes the socket and drops what is
    /// still queued in the client.
    void closeConnection();
    /// On the network thread: the connection of the running attempt is gone.
    void connectionEnded(std::exception_ptr error);
    /// The handler of an event of the network thread's connection, when that connection is the
    /// current attempt's (an abandoned one reports nothing); sets the state to `newState` then.
    template <class Handler>
    Handler handlerOf(Handler Events::*handler, std::optional<State> newState = std::nullopt);

    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onSubscribe(mosquitto*, void* self, int mid, int count, const int* granted);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);

    const MqttSettings settings_;
    const std::string caFile_;
    mosquitto* mosq_ = nullptr;
    std::mutex handleMutex_;  // publish and subscribe against the handle's reinitialisation

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    Events events_;
    std::atomic<State> state_{State::disconnected};
    Attempt lastAttempt_ = 0;     ///< the last number handed out
    Attempt currentAttempt_ = 0;  ///< the attempt events are reported for; 0 after disconnect()
    std::optional<Attempt> connectRequest_;
    bool disconnectRequest_ = false;
    bool stopping_ = false;
    bool unusable_ = false;  ///< the handle could not be set up again

    // The network thread's own.
    Attempt loopAttempt_ = 0;  ///< the attempt whose socket the loop serves
    bool socketOpen_ = false;
    bool endReported_ = false;  ///< the end of loopAttempt_'s connection has been reported

    std::thread thread_;
};

}  // namespace quorvane
