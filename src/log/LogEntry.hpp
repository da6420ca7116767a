#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "log/LogLevel.hpp"
#include "log/LogType.hpp"
#include "log/SDKType.hpp"
#include "quorvane/Logger.hpp"
#include "quorvane/WebRtcClientRole.hpp"

namespace quorvane {

/// One structured log entry, as kept by ZephLogger and posted to the service.
struct LogEntry {
    std::optional<WebRtcClientRole> role;  ///< absent until the logger knows the role
    SDKType sdk = SDKType::SWIFT;
    std::string sessionID;                 ///< the session id, or "not set"
    std::string pin;                       ///< the session PIN, or "not set"
    std::int64_t timeStamp = 0;            ///< milliseconds since 1970
    LogType type = LogType::LOG;
    LogLevel level = LogLevel::DEBUG;
    std::string pkg;                       ///< package, for example "Quorvane"
    std::string klass;                     ///< class, for example "WebRtcClient"
    std::string method;                    ///< operation, for example "logMetrics"
    std::string message;                   ///< free text, possibly empty
    std::optional<LogData> data;           ///< extra data: a JSON object

    /// Replaces `data` with the one entry `name` -> `value`.
    void setLogMetric(const std::string& name, nlohmann::json value);

    /// Replaces `data` with "messageId" -> `messageId` and "messageLength" -> `messageLength`.
    void setLogDataChannelMessageInfo(const std::string& messageId, std::int64_t messageLength);

    /// The entry as the service reads it: "sessionId", "type", "level", "sdk", "package", "class",
    /// "method", "timestamp" (a number), "message", "pin", and "role" and "data" when present.
    /// Every string in it is valid UTF-8 (ill-formed bytes replaced), so it always serialises.
    nlohmann::json getMetaData() const;

    /// What the entry holds on the heap beside its own object: the buffers of its longer strings
    /// and the whole of its data, each allocation with the allocator's bookkeeping. Takes time in
    /// proportion to the entry's data, not its own size.
    std::size_t heapBytes() const;
};

}  // namespace quorvane
