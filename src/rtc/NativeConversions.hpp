#pragma once

// Conversions between the binding's own value types and WebRTC's native ones.

#include <api/jsep.h>
#include <api/peer_connection_interface.h>

#include <optional>
#include <vector>

#include "rtc/IceCandidate.hpp"
#include "rtc/IceServer.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionConfiguration.hpp"
#include "rtc/PeerConnectionObserver.hpp"
#include "rtc/SessionDescription.hpp"

namespace quorvane::rtc {

using NativeConfiguration = webrtc::PeerConnectionInterface::RTCConfiguration;
using NativeConnection = webrtc::PeerConnectionInterface;

webrtc::SdpType toNative(SdpType type);
SignalingState fromNative(NativeConnection::SignalingState state);
PeerConnectionState fromNative(NativeConnection::PeerConnectionState state);
IceConnectionState fromNative(NativeConnection::IceConnectionState state);
IceGatheringState fromNative(NativeConnection::IceGatheringState state);
IceCandidate fromNative(const webrtc::IceCandidateInterface& candidate);
NativeConnection::IceServers toNative(const std::vector<IceServer>& servers);
std::vector<IceServer> fromNative(const NativeConnection::IceServers& servers);
NativeConfiguration toNative(const PeerConnectionConfiguration& configuration);
PeerConnectionConfiguration fromNative(const NativeConfiguration& native);

/// Offer and answer options from optional mandatory and optional constraints.
NativeConnection::RTCOfferAnswerOptions toOptions(const std::optional<PeerConnection::Constraints>& mandatory,
                                                  const std::optional<PeerConnection::Constraints>& optional);

}  // namespace quorvane::rtc
