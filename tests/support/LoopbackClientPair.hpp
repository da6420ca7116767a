#pragma once

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "connection/TransportLayer.hpp"
#include "quorvane/Logger.hpp"
#include "quorvane/QuorvaneClient.hpp"

namespace quorvane::testing {

class MosquittoBroker;

/// The library's own transports (WebRtcClients), except that their signaling trusts `caFile`:
/// how tests and benchmarks put a real transport under a session client.
TransportLayerFactory webRtcTransports(std::string caFile);

/// One session client over a WebRtcClient whose signaling trusts `caFile`, with WebRTC held to
/// loopback and the network gate always open; the REST service at `apiUrlBase`. `console`
/// receives its log lines; null: printing off.
std::shared_ptr<QuorvaneClient> makeLoopbackClient(const std::string& apiUrlBase, const std::string& apiKey,
                                                   const std::string& caFile,
                                                   const std::shared_ptr<QuorvaneDelegate>& host,
                                                   std::shared_ptr<Logger> console = nullptr, bool retainLogs = true);

/// The value of `promise` once settled; throws its error, or std::runtime_error naming `what`
/// when `deadline` passes first.
template <class T>
T settled(const Promise<T>& promise, std::chrono::steady_clock::time_point deadline, const char* what) {
    while (promise.isPending()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error(std::string(what) + " did not settle in time");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return promise.wait();
}

/// Two session clients of this process in one session over WebRtcClients: the offer side creates
/// the session through the REST service at `apiUrlBase`, the answer side joins it by its PIN, and
/// they meet through `broker`, which must know the API key as its user and the service's session
/// token as its password. WebRTC is held to loopback and the network gate is always open.
class LoopbackClientPair {
public:
    /// Builds both clients; nothing is sent yet. `console` receives both clients' log lines;
    /// null: printing off.
    LoopbackClientPair(const std::string& apiUrlBase, const std::string& apiKey, const MosquittoBroker& broker,
                       const std::shared_ptr<QuorvaneDelegate>& offerHost,
                       const std::shared_ptr<QuorvaneDelegate>& answerHost, std::shared_ptr<Logger> console = nullptr,
                       bool retainLogs = true);

    /// Starts the session on both sides and waits until both data channels are open; returns the
    /// PIN. Throws the failure of a start-up, or std::runtime_error when `timeout` passes first.
    std::string connect(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    /// The two clients; a test may release one.
    std::shared_ptr<QuorvaneClient>& offer() { return offer_; }
    std::shared_ptr<QuorvaneClient>& answer() { return answer_; }

private:
    std::shared_ptr<QuorvaneClient> offer_;
    std::shared_ptr<QuorvaneClient> answer_;
};

}  // namespace quorvane::testing
