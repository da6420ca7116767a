#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "rest/IceServer.hpp"

namespace quorvane {

/// The MQTT broker's ports by transport; any of them may be missing.
struct MQTTPortSpecification {
    std::optional<std::int64_t> ws;   ///< MQTT over web socket
    std::optional<std::int64_t> wss;  ///< MQTT over secure web socket
    std::optional<std::int64_t> tcp;  ///< MQTT over plain TCP
    std::optional<std::int64_t> ssl;  ///< MQTT over TLS

    static MQTTPortSpecification fromJson(const nlohmann::json& value, const std::string& path = "");
    nlohmann::ordered_json toJson() const;

    bool operator==(const MQTTPortSpecification&) const = default;
};

/// The MQTT broker used for signaling.
struct MQTTConnectionInformation {
    std::string server;  ///< the broker's host
    MQTTPortSpecification ports;

    static MQTTConnectionInformation fromJson(const nlohmann::json& value, const std::string& path = "");
    nlohmann::ordered_json toJson() const;

    bool operator==(const MQTTConnectionInformation&) const = default;
};

/// How to reach the peer of one session: the signaling broker and the ICE servers.
struct ConnectionInformation {
    MQTTConnectionInformation mqtt;
    std::vector<IceServer> iceServers;

    /// Reads a connection-information object; throws DecodingError.
    static ConnectionInformation fromJson(const nlohmann::json& value, const std::string& path = "");
    nlohmann::ordered_json toJson() const;

    bool operator==(const ConnectionInformation&) const = default;
};

}  // namespace quorvane
