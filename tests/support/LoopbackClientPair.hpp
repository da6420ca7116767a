#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "connection/TransportLayer.hpp"
#include "quorvane/Logger.hpp"
#include "quorvane/QuorvaneClient.hpp"

namespace quorvane::testing {

class MosquittoBroker;

/// The library's own transports (WebRtcClients), except that their signaling trusts `caFile`:
/// how tests and benchmarks put a real transport under a session client.
TransportLayerFactory webRtcTransports(std::string caFile);

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
