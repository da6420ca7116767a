#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvane {

/// One support session as the REST service describes it.
struct QuorvaneSession {
    std::string topic;         ///< the session's MQTT topic root
    std::string pin;           ///< the PIN under which the session can be joined
    std::string sessionId;     ///< the service's id of the session (used in the log-upload path)
    std::string token;         ///< the secret presented to the MQTT broker
    std::string role;          ///< the role text the service reports, carried unchanged
    std::string offerClient;   ///< signaling client id of the offer side
    std::string answerClient;  ///< signaling client id of the answer side
    std::int64_t ttl = 0;      ///< time to live as the service reports it

    /// Reads a session object; throws DecodingError. `path` names the value in error messages.
    static QuorvaneSession fromJson(const nlohmann::json& value, const std::string& path = "");
    /// The object with the eight keys in declaration order.
    nlohmann::ordered_json toJson() const;

    bool operator==(const QuorvaneSession&) const = default;
};

/// The answer to the request for all sessions.
struct QuorvaneSessions {
    std::vector<QuorvaneSession> sessions;

    static QuorvaneSessions fromJson(const nlohmann::json& value, const std::string& path = "");
    nlohmann::ordered_json toJson() const;

    bool operator==(const QuorvaneSessions&) const = default;
};

}  // namespace quorvane
