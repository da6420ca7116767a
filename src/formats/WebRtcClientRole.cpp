#include "quorvane/WebRtcClientRole.hpp"

namespace quorvane {

std::string_view rawValue(WebRtcClientRole role) {
    return role == WebRtcClientRole::offer ? "offer" : "answer";
}

std::optional<WebRtcClientRole> webRtcClientRoleFromRawValue(std::string_view raw) {
    if (raw == "offer") return WebRtcClientRole::offer;
    if (raw == "answer") return WebRtcClientRole::answer;
    return std::nullopt;
}

}  // namespace quorvane
