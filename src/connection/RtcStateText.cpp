#include "connection/RtcStateText.hpp"

namespace quorvane {

std::string_view stateText(rtc::SignalingState state) {
    using State = rtc::SignalingState;
    switch (state) {
        case State::stable: return "stable";
        case State::haveLocalOffer: return "haveLocalOffer";
        case State::haveLocalPrAnswer: return "haveLocalPrAnswer";
        case State::haveRemoteOffer: return "haveRemoteOffer";
        case State::haveRemotePrAnswer: return "haveRemotePrAnswer";
        case State::closed: return "closed";
    }
    return "unknown";
}

std::string_view stateText(rtc::PeerConnectionState state) {
    using State = rtc::PeerConnectionState;
    switch (state) {
        case State::initial: return "new";
        case State::connecting: return "connecting";
        case State::connected: return "connected";
        case State::disconnected: return "disconnected";
        case State::failed: return "failed";
        case State::closed: return "closed";
    }
    return "unknown";
}

std::string_view stateText(rtc::IceConnectionState state) {
    using State = rtc::IceConnectionState;
    switch (state) {
        case State::initial: return "new";
        case State::checking: return "checking";
        case State::connected: return "connected";
        case State::completed: return "completed";
        case State::failed: return "failed";
        case State::disconnected: return "disconnected";
        case State::closed: return "closed";
    }
    return "unknown";
}

std::string_view stateText(rtc::IceGatheringState state) {
    using State = rtc::IceGatheringState;
    switch (state) {
        case State::initial: return "new";
        case State::gathering: return "gathering";
        case State::complete: return "complete";
    }
    return "unknown";
}

}  // namespace quorvane
