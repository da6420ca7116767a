#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "log/LogPoster.hpp"
#include "network/NetworkStatus.hpp"
#include "quorvane/Promise.hpp"
#include "rest/ConnectionInformation.hpp"
#include "rest/QuorvaneSession.hpp"

namespace quorvane {

/// Transport settings of the REST client that only tests change.
struct RestTransportOptions {
    double timeoutSeconds = 60;  ///< the longest a request may go without a byte sent or received
    std::string caFile;          ///< a CA file trusted instead of the system store
};

/// The client of the REST service. Every request carries the API key in "x-api-key", waits for
/// the network gate, runs on the shared HTTP session (never on the caller's thread), writes two or
/// three diagnostic lines to standard output when it completes (see completionLines), and settles
/// its promise with the decoded record or with the failure. A request outlives the client object
/// if need be.
class QuorvaneServices : public LogPoster, public std::enable_shared_from_this<QuorvaneServices> {
public:
    QuorvaneServices(std::string apiUrlBase, std::string apiKey, std::shared_ptr<NetworkStatus> networkStatus,
                     RestTransportOptions options = {});

    /// The gate each request waits on; the signaling client waits on it too.
    const std::shared_ptr<NetworkStatus>& networkStatus() const { return networkStatus_; }

    /// POST "/sessions".
    Promise<QuorvaneSession> createSupportSession();
    /// GET "/sessions/" + the PIN (percent-encoded; an empty PIN is refused).
    Promise<QuorvaneSession> getSupportSession(const std::string& pin);
    /// GET "/sessions".
    Promise<QuorvaneSessions> getAllSupportSessions();
    /// GET "/connection".
    Promise<ConnectionInformation> getConnectionInformation();
    /// POST "/logs/" + session id + "/" + role with the logs as the JSON body (text that is not
    /// UTF-8 replaced, so that no text stops it); the service's Boolean answer is dropped.
    Promise<void> postLogs(nlohmann::json logs, std::string sessionId, WebRtcClientRole role) override;

private:
    template <class T>
    using Decode = std::function<T(const nlohmann::json&)>;

    template <class T>
    Promise<T> networkRequest(Decode<T> decode, const std::optional<std::string>& path,
                              const std::string& operationTitle, std::optional<std::string> debugDescription,
                              const std::string& method = "GET", const nlohmann::json* parameters = nullptr);

    const std::string apiUrlBase_;
    const std::string apiKey_;
    const std::shared_ptr<NetworkStatus> networkStatus_;
    const RestTransportOptions options_;
};

}  // namespace quorvane
