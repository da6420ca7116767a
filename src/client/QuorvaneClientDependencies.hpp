#pragma once

#include <functional>
#include <memory>
#include <string>

#include "connection/TransportLayer.hpp"
#include "quorvane/QuorvaneClient.hpp"
#include "rest/QuorvaneServices.hpp"

namespace quorvane {

class NetworkStatus;

/// What a QuorvaneClient is built from besides the host's arguments. The library uses the
/// defaults; tests put in a fake transport, a network gate of their own and REST settings.
struct QuorvaneClientDependencies {
    TransportLayerFactory makeTransport = makeWebRtcClient;
    std::shared_ptr<NetworkStatus> networkStatus;  ///< null: a gate over the machine's own network
    RestTransportOptions restOptions;
    std::function<std::string()> makeMessageId;  ///< null: ten random characters; called on several threads
};

/// QuorvaneClient::create with the given dependencies.
std::shared_ptr<QuorvaneClient> makeQuorvaneClient(std::string apiUrlBase, std::string apiKey, bool retainLogs,
                                                   int timeout, std::shared_ptr<Logger> logger,
                                                   const std::shared_ptr<QuorvaneDelegate>& delegate,
                                                   const DispatchQueuePtr& dispatchQueue,
                                                   QuorvaneClientDependencies dependencies);

}  // namespace quorvane
