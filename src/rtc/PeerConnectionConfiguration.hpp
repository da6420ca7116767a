#pragma once

#include <vector>

#include "rtc/IceServer.hpp"

namespace quorvane::rtc {

/// How a peer connection gathers candidates and bundles media. The defaults are those of every
/// session's peer connection; only the ICE servers differ from session to session.
struct PeerConnectionConfiguration {
    /// Which candidates ICE may use.
    enum class IceTransportPolicy { none, relay, noHost, all };
    /// How media sections share transports.
    enum class BundlePolicy { balanced, maxBundle, maxCompat };

    /// Candidates gathered before they are needed.
    int iceCandidatePoolSize = 4;
    bool disableIpv6 = true;
    IceTransportPolicy iceTransportPolicy = IceTransportPolicy::all;
    bool tcpCandidates = true;
    /// False: candidates on every network, not only on low-cost ones.
    bool lowCostNetworksOnly = false;
    /// True: keep gathering as networks change, not once.
    bool continualGathering = true;
    /// True: unified-plan SDP semantics.
    bool unifiedPlan = true;
    BundlePolicy bundlePolicy = BundlePolicy::maxCompat;
    std::vector<IceServer> iceServers;

    bool operator==(const PeerConnectionConfiguration&) const = default;
};

}  // namespace quorvane::rtc
