#pragma once

// Reading of signaling messages. Every MQTT payload received from the peer goes through
// parseRtcHandshake before anything in it is read.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rtc_generated.h"

namespace quorvane {

/// An SDP type and text.
class SessionDescriptionView {
public:
    explicit SessionDescriptionView(const SessionDescription& description) : description_(&description) {}
    std::optional<std::string> type() const;
    std::optional<std::string> sdp() const;

private:
    const SessionDescription* description_;
};

/// One ICE candidate.
class IceCandidateView {
public:
    explicit IceCandidateView(const IceCandidate& candidate) : candidate_(&candidate) {}
    std::optional<std::string> candidate() const;
    /// 0 when absent.
    std::int32_t sdpMLineIndex() const { return candidate_->sdpMLineIndex(); }
    std::optional<std::string> sdpMid() const;
    std::optional<std::string> usernameFragment() const;

private:
    const IceCandidate* candidate_;
};

/// A verified RtcHandshake. It reads the received bytes in place: they must outlive the view and
/// every view taken from it. Each member reader gives nothing unless messageType() names that
/// member and the member is present.
class RtcHandshakeView {
public:
    explicit RtcHandshakeView(const RtcHandshake& handshake) : handshake_(&handshake) {}

    std::optional<std::string> token() const;
    /// Send time in whole seconds since 1970; 0 when absent.
    std::uint32_t timestamp() const { return handshake_->timestamp(); }
    /// NONE when absent or when the byte names no member.
    Message messageType() const;

    /// The session description of an Offer; nothing also when the Offer has none.
    std::optional<SessionDescriptionView> offer() const;
    /// The session description of an Answer; nothing also when the Answer has none.
    std::optional<SessionDescriptionView> answer() const;
    std::optional<IceCandidateView> iceCandidate() const;
    /// The client id of a Disconnect; nothing also when the Disconnect has none.
    std::optional<std::string> disconnect() const;

private:
    const RtcHandshake* handshake_;
};

/// Verifies `bytes` as one finished RtcHandshake and returns a view of it, or nothing when they
/// are not one (truncated, corrupted, offsets or lengths outside the bytes, no token). Nothing
/// outside `bytes` is ever read. `bytes` must start on a 4-byte boundary (std::invalid_argument
/// otherwise).
std::optional<RtcHandshakeView> parseRtcHandshake(std::span<const std::uint8_t> bytes);
/// The view would outlive a temporary buffer: keep the bytes in a variable.
std::optional<RtcHandshakeView> parseRtcHandshake(std::vector<std::uint8_t>&& bytes) = delete;

}  // namespace quorvane
