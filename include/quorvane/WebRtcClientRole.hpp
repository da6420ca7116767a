#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace quorvane {

/// The side this device takes in a support session.
enum class WebRtcClientRole {
    offer,   ///< creates the session through the REST service and makes the WebRTC offer
    answer,  ///< joins a session by its PIN and answers the offer
};

/// "offer" or "answer".
std::string_view rawValue(WebRtcClientRole role);

/// The role whose raw text is exactly `raw`, else none.
std::optional<WebRtcClientRole> webRtcClientRoleFromRawValue(std::string_view raw);

/// JSON encoding: the raw text as a single string value ("offer" or "answer"). There is no
/// decoding.
void to_json(nlohmann::json& json, WebRtcClientRole role);

}  // namespace quorvane
