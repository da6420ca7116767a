#include "quorvane/WebRtcClientRole.hpp"

#include <nlohmann/json.hpp>

namespace quorvane {

std::string_view rawValue(WebRtcClientRole role) {
    return role == WebRtcClientRole::offer ? "offer" : "answer";
}

std::optional<WebRtcClientRole> webRtcClientRoleFromRawValue(std::string_view raw) {
    if (raw == "offer") return WebRtcClientRole::offer;
    if (raw == "answer") return WebRtcClientRole::answer;
    return std::nullopt;
}

void to_json(nlohmann::json& json, WebRtcClientRole role) { json = std::string(rawValue(role)); }

}  // namespace quorvane
