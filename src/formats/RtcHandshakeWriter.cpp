#include "formats/RtcHandshakeWriter.hpp"

#include "formats/WireFormat.hpp"
#include "rtc_generated.h"

namespace quorvane {

namespace {

std::vector<std::uint8_t> finishHandshake(wire::MessageBuilder& builder,
                                          flatbuffers::Offset<flatbuffers::String> token, std::uint32_t timestamp,
                                          Message type, flatbuffers::Offset<void> member) {
    auto handshake = CreateRtcHandshake(builder, token, timestamp, type, member);
    return wire::finish(builder, handshake);
}

/// The token, then the session description's strings, then the tables inside out.
template <class Create>
std::vector<std::uint8_t> writeSessionDescription(std::string_view token, std::uint32_t timestamp, Message type,
                                                  std::string_view sdpType, std::string_view sdp, Create create) {
    wire::MessageBuilder builder;
    auto tokenString = wire::createString(builder, token);
    auto typeString = wire::createString(builder, sdpType);
    auto sdpString = wire::createString(builder, sdp);
    auto description = CreateSessionDescription(builder, typeString, sdpString);
    auto member = create(builder, description);
    return finishHandshake(builder, tokenString, timestamp, type, member.Union());
}

}  // namespace

std::vector<std::uint8_t> RtcHandshakeWriter::offer(std::string_view token, std::uint32_t timestamp,
                                                    std::string_view type, std::string_view sdp) {
    return writeSessionDescription(token, timestamp, Message::Offer, type, sdp,
                                   [](auto& builder, auto description) { return CreateOffer(builder, description); });
}

std::vector<std::uint8_t> RtcHandshakeWriter::answer(std::string_view token, std::uint32_t timestamp,
                                                     std::string_view type, std::string_view sdp) {
    return writeSessionDescription(token, timestamp, Message::Answer, type, sdp,
                                   [](auto& builder, auto description) { return CreateAnswer(builder, description); });
}

std::vector<std::uint8_t> RtcHandshakeWriter::iceCandidate(std::string_view token, std::uint32_t timestamp,
                                                           std::string_view candidate, std::int32_t sdpMLineIndex,
                                                           std::string_view sdpMid,
                                                           std::string_view usernameFragment) {
    wire::MessageBuilder builder;
    auto tokenString = wire::createString(builder, token);
    auto candidateString = wire::createString(builder, candidate);
    auto midString = wire::createString(builder, sdpMid);
    auto fragmentString = wire::createString(builder, usernameFragment);
    auto member = CreateIceCandidate(builder, candidateString, sdpMLineIndex, midString, fragmentString);
    return finishHandshake(builder, tokenString, timestamp, Message::IceCandidate, member.Union());
}

std::vector<std::uint8_t> RtcHandshakeWriter::disconnect(std::string_view token, std::uint32_t timestamp,
                                                         std::string_view client) {
    wire::MessageBuilder builder;
    auto tokenString = wire::createString(builder, token);
    auto clientString = wire::createString(builder, client);
    auto member = CreateDisconnect(builder, clientString);
    return finishHandshake(builder, tokenString, timestamp, Message::Disconnect, member.Union());
}

}  // namespace quorvane
