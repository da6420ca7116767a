#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "quorvane/Promise.hpp"
#include "quorvane/WebRtcClientRole.hpp"

namespace quorvane {

/// Posts the log body of a session to the service ("/logs/" + session id + "/" + role). The REST
/// client implements it; the structured logger's upload calls it.
class LogPoster {
public:
    virtual ~LogPoster() = default;
    virtual Promise<void> postLogs(nlohmann::json logs, std::string sessionId, WebRtcClientRole role) = 0;
};

}  // namespace quorvane
