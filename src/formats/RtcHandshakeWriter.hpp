#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quorvane {

/// Builds the finished bytes of signaling messages, one RtcHandshake per call. Every message
/// carries the session token and its sending time in whole seconds since 1970; every string
/// passed is written (an empty text stays a present, empty string).
class RtcHandshakeWriter {
public:
    /// An Offer whose session description has the type `type` (normally "offer") and `sdp`.
    static std::vector<std::uint8_t> offer(std::string_view token, std::uint32_t timestamp, std::string_view type,
                                           std::string_view sdp);
    /// An Answer whose session description has the type `type` (normally "answer") and `sdp`.
    static std::vector<std::uint8_t> answer(std::string_view token, std::uint32_t timestamp, std::string_view type,
                                            std::string_view sdp);
    static std::vector<std::uint8_t> iceCandidate(std::string_view token, std::uint32_t timestamp,
                                                  std::string_view candidate, std::int32_t sdpMLineIndex,
                                                  std::string_view sdpMid, std::string_view usernameFragment);
    /// The notice that the peer with the client id `client` leaves.
    static std::vector<std::uint8_t> disconnect(std::string_view token, std::uint32_t timestamp,
                                                std::string_view client);
};

}  // namespace quorvane
