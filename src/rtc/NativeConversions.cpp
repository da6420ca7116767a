#include "rtc/NativeConversions.hpp"

#include <sdk/media_constraints.h>

namespace quorvane::rtc {

webrtc::SdpType toNative(SdpType type) {
    switch (type) {
        case SdpType::offer: return webrtc::SdpType::kOffer;
        case SdpType::prAnswer: return webrtc::SdpType::kPrAnswer;
        case SdpType::answer: return webrtc::SdpType::kAnswer;
        case SdpType::rollback: return webrtc::SdpType::kRollback;
    }
    return webrtc::SdpType::kOffer;
}

SignalingState fromNative(NativeConnection::SignalingState state) {
    switch (state) {
        case NativeConnection::kStable: return SignalingState::stable;
        case NativeConnection::kHaveLocalOffer: return SignalingState::haveLocalOffer;
        case NativeConnection::kHaveLocalPrAnswer: return SignalingState::haveLocalPrAnswer;
        case NativeConnection::kHaveRemoteOffer: return SignalingState::haveRemoteOffer;
        case NativeConnection::kHaveRemotePrAnswer: return SignalingState::haveRemotePrAnswer;
        case NativeConnection::kClosed: return SignalingState::closed;
    }
    return SignalingState::closed;
}

PeerConnectionState fromNative(NativeConnection::PeerConnectionState state) {
    using Native = NativeConnection::PeerConnectionState;
    switch (state) {
        case Native::kNew: return PeerConnectionState::initial;
        case Native::kConnecting: return PeerConnectionState::connecting;
        case Native::kConnected: return PeerConnectionState::connected;
        case Native::kDisconnected: return PeerConnectionState::disconnected;
        case Native::kFailed: return PeerConnectionState::failed;
        case Native::kClosed: return PeerConnectionState::closed;
    }
    return PeerConnectionState::closed;
}

IceConnectionState fromNative(NativeConnection::IceConnectionState state) {
    switch (state) {
        case NativeConnection::kIceConnectionNew: return IceConnectionState::initial;
        case NativeConnection::kIceConnectionChecking: return IceConnectionState::checking;
        case NativeConnection::kIceConnectionConnected: return IceConnectionState::connected;
        case NativeConnection::kIceConnectionCompleted: return IceConnectionState::completed;
        case NativeConnection::kIceConnectionFailed: return IceConnectionState::failed;
        case NativeConnection::kIceConnectionDisconnected: return IceConnectionState::disconnected;
        case NativeConnection::kIceConnectionClosed:
        case NativeConnection::kIceConnectionMax: return IceConnectionState::closed;
    }
    return IceConnectionState::closed;
}

IceGatheringState fromNative(NativeConnection::IceGatheringState state) {
    switch (state) {
        case NativeConnection::kIceGatheringNew: return IceGatheringState::initial;
        case NativeConnection::kIceGatheringGathering: return IceGatheringState::gathering;
        case NativeConnection::kIceGatheringComplete: return IceGatheringState::complete;
    }
    return IceGatheringState::complete;
}

IceCandidate fromNative(const webrtc::IceCandidateInterface& candidate) {
    IceCandidate copy{candidate.sdp_mid(), candidate.sdp_mline_index(), {}};
    candidate.ToString(&copy.sdp);
    return copy;
}

NativeConnection::IceServers toNative(const std::vector<IceServer>& servers) {
    NativeConnection::IceServers result;
    for (const auto& server : servers) {
        if (!server.urls) continue;
        NativeConnection::IceServer native;
        native.urls = *server.urls;
        if (server.username && server.credential) {
            native.username = *server.username;
            native.password = *server.credential;
        }
        result.push_back(std::move(native));
    }
    return result;
}

std::vector<IceServer> fromNative(const NativeConnection::IceServers& servers) {
    std::vector<IceServer> result;
    for (const auto& native : servers) {
        IceServer server{native.urls, std::nullopt, std::nullopt};
        if (!native.username.empty()) server.username = native.username;
        if (!native.password.empty()) server.credential = native.password;
        result.push_back(std::move(server));
    }
    return result;
}

NativeConfiguration toNative(const PeerConnectionConfiguration& configuration) {
    using Policy = PeerConnectionConfiguration::IceTransportPolicy;
    using Bundle = PeerConnectionConfiguration::BundlePolicy;
    NativeConfiguration native;
    native.ice_candidate_pool_size = configuration.iceCandidatePoolSize;
    native.disable_ipv6 = configuration.disableIpv6;
    switch (configuration.iceTransportPolicy) {
        case Policy::none: native.type = NativeConnection::kNone; break;
        case Policy::relay: native.type = NativeConnection::kRelay; break;
        case Policy::noHost: native.type = NativeConnection::kNoHost; break;
        case Policy::all: native.type = NativeConnection::kAll; break;
    }
    native.tcp_candidate_policy = configuration.tcpCandidates ? NativeConnection::kTcpCandidatePolicyEnabled
                                                              : NativeConnection::kTcpCandidatePolicyDisabled;
    native.candidate_network_policy = configuration.lowCostNetworksOnly
                                          ? NativeConnection::kCandidateNetworkPolicyLowCost
                                          : NativeConnection::kCandidateNetworkPolicyAll;
    native.continual_gathering_policy =
        configuration.continualGathering ? NativeConnection::GATHER_CONTINUALLY : NativeConnection::GATHER_ONCE;
    native.sdp_semantics =
        configuration.unifiedPlan ? webrtc::SdpSemantics::kUnifiedPlan : webrtc::SdpSemantics::kPlanB_DEPRECATED;
    switch (configuration.bundlePolicy) {
        case Bundle::balanced: native.bundle_policy = NativeConnection::kBundlePolicyBalanced; break;
        case Bundle::maxBundle: native.bundle_policy = NativeConnection::kBundlePolicyMaxBundle; break;
        case Bundle::maxCompat: native.bundle_policy = NativeConnection::kBundlePolicyMaxCompat; break;
    }
    native.servers = toNative(configuration.iceServers);
    return native;
}

PeerConnectionConfiguration fromNative(const NativeConfiguration& native) {
    using Policy = PeerConnectionConfiguration::IceTransportPolicy;
    using Bundle = PeerConnectionConfiguration::BundlePolicy;
    PeerConnectionConfiguration configuration;
    configuration.iceCandidatePoolSize = native.ice_candidate_pool_size;
    configuration.disableIpv6 = native.disable_ipv6;
    switch (native.type) {
        case NativeConnection::kNone: configuration.iceTransportPolicy = Policy::none; break;
        case NativeConnection::kRelay: configuration.iceTransportPolicy = Policy::relay; break;
        case NativeConnection::kNoHost: configuration.iceTransportPolicy = Policy::noHost; break;
        case NativeConnection::kAll: configuration.iceTransportPolicy = Policy::all; break;
    }
    configuration.tcpCandidates = native.tcp_candidate_policy == NativeConnection::kTcpCandidatePolicyEnabled;
    configuration.lowCostNetworksOnly =
        native.candidate_network_policy == NativeConnection::kCandidateNetworkPolicyLowCost;
    configuration.continualGathering = native.continual_gathering_policy == NativeConnection::GATHER_CONTINUALLY;
    configuration.unifiedPlan = native.sdp_semantics == webrtc::SdpSemantics::kUnifiedPlan;
    switch (native.bundle_policy) {
        case NativeConnection::kBundlePolicyBalanced: configuration.bundlePolicy = Bundle::balanced; break;
        case NativeConnection::kBundlePolicyMaxBundle: configuration.bundlePolicy = Bundle::maxBundle; break;
        case NativeConnection::kBundlePolicyMaxCompat: configuration.bundlePolicy = Bundle::maxCompat; break;
    }
    configuration.iceServers = fromNative(native.servers);
    return configuration;
}

webrtc::PeerConnectionInterface::RTCOfferAnswerOptions toOptions(
    const std::optional<PeerConnection::Constraints>& mandatory,
    const std::optional<PeerConnection::Constraints>& optional) {
    auto toNativeConstraints = [](const std::optional<PeerConnection::Constraints>& constraints) {
        webrtc::MediaConstraints::Constraints native;
        if (constraints) {
            for (const auto& [key, value] : *constraints) native.emplace_back(key, value);
        }
        return native;
    };
    webrtc::MediaConstraints constraints(toNativeConstraints(mandatory), toNativeConstraints(optional));
    webrtc::PeerConnectionInterface::RTCOfferAnswerOptions options;
    webrtc::CopyConstraintsIntoOfferAnswerOptions(&constraints, &options);
    return options;
}

}  // namespace quorvane::rtc
