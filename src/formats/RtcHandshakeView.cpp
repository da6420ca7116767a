#include "formats/RtcHandshakeView.hpp"

#include "formats/WireFormat.hpp"

namespace quorvane {

namespace {

std::optional<SessionDescriptionView> descriptionOf(const SessionDescription* description) {
    if (description == nullptr) return std::nullopt;
    return SessionDescriptionView(*description);
}

}  // namespace

std::optional<std::string> SessionDescriptionView::type() const { return wire::optionalString(description_->type()); }

std::optional<std::string> SessionDescriptionView::sdp() const { return wire::optionalString(description_->sdp()); }

std::optional<std::string> IceCandidateView::candidate() const { return wire::optionalString(candidate_->candidate()); }

std::optional<std::string> IceCandidateView::sdpMid() const { return wire::optionalString(candidate_->sdpMid()); }

std::optional<std::string> IceCandidateView::usernameFragment() const {
    return wire::optionalString(candidate_->usernameFragment());
}

std::optional<std::string> RtcHandshakeView::token() const { return wire::optionalString(handshake_->token()); }

Message RtcHandshakeView::messageType() const { return wire::knownOrFirst(handshake_->message_type()); }

std::optional<SessionDescriptionView> RtcHandshakeView::offer() const {
    const auto* offer = handshake_->message_as_Offer();
    return offer == nullptr ? std::nullopt : descriptionOf(offer->sessionDescription());
}

std::optional<SessionDescriptionView> RtcHandshakeView::answer() const {
    const auto* answer = handshake_->message_as_Answer();
    return answer == nullptr ? std::nullopt : descriptionOf(answer->sessionDescription());
}

std::optional<IceCandidateView> RtcHandshakeView::iceCandidate() const {
    const auto* candidate = handshake_->message_as_IceCandidate();
    if (candidate == nullptr) return std::nullopt;
    return IceCandidateView(*candidate);
}

std::optional<std::string> RtcHandshakeView::disconnect() const {
    const auto* disconnect = handshake_->message_as_Disconnect();
    return disconnect == nullptr ? std::nullopt : wire::optionalString(disconnect->client());
}

std::optional<RtcHandshakeView> parseRtcHandshake(std::span<const std::uint8_t> bytes) {
    const auto* handshake = wire::verifiedRoot<RtcHandshake>(bytes);
    if (handshake == nullptr) return std::nullopt;
    return RtcHandshakeView(*handshake);
}

}  // namespace quorvane
