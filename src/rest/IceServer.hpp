#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvane {

/// One STUN or TURN server for the peer connection; every field may be missing.
struct IceServer {
    std::optional<std::string> credential;         ///< the TURN credential
    std::optional<std::string> username;           ///< the TURN user name
    std::optional<std::vector<std::string>> urls;  ///< the server's URLs

    /// Reads an ICE server object; throws DecodingError.
    static IceServer fromJson(const nlohmann::json& value, const std::string& path = "");
    /// The object with the fields that are present, absent ones left out.
    nlohmann::ordered_json toJson() const;

    bool operator==(const IceServer&) const = default;
};

}  // namespace quorvane
