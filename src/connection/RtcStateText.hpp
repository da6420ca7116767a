#pragma once

#include <string_view>

#include "rtc/PeerConnectionObserver.hpp"

namespace quorvane {

// The texts under which the peer connection's states appear in the log.

/// "stable", "haveLocalOffer", "haveLocalPrAnswer", "haveRemoteOffer", "haveRemotePrAnswer",
/// "closed".
std::string_view stateText(rtc::SignalingState state);
/// "new", "connecting", "connected", "disconnected", "failed", "closed".
std::string_view stateText(rtc::PeerConnectionState state);
/// "new", "checking", "connected", "completed", "failed", "disconnected", "closed".
std::string_view stateText(rtc::IceConnectionState state);
/// "new", "gathering", "complete".
std::string_view stateText(rtc::IceGatheringState state);

}  // namespace quorvane
