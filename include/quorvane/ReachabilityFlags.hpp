#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

/// What the network monitor knows about the path to the network: a set of flag bits.
struct ReachabilityFlags {
    static constexpr std::uint32_t transientConnection = 0x1;
    static constexpr std::uint32_t reachable = 0x2;
    static constexpr std::uint32_t connectionRequired = 0x4;
    static constexpr std::uint32_t connectionOnTraffic = 0x8;
    static constexpr std::uint32_t interventionRequired = 0x10;
    static constexpr std::uint32_t connectionOnDemand = 0x20;
    static constexpr std::uint32_t isLocalAddress = 0x10000;
    static constexpr std::uint32_t isDirect = 0x20000;
    static constexpr std::uint32_t isWWAN = 0x40000;  ///< the path goes over a cellular link

    std::uint32_t bits = 0;

    bool isReachableFlagSet() const { return (bits & reachable) != 0; }
    bool isConnectionRequiredFlagSet() const { return (bits & connectionRequired) != 0; }
    bool isConnectionOnTrafficFlagSet() const { return (bits & connectionOnTraffic) != 0; }
    bool isInterventionRequiredFlagSet() const { return (bits & interventionRequired) != 0; }
    bool isConnectionOnDemandFlagSet() const { return (bits & connectionOnDemand) != 0; }
    bool isConnectionOnTrafficOrDemandFlagSet() const {
        return (bits & (connectionOnTraffic | connectionOnDemand)) != 0;
    }
    bool isTransientConnectionFlagSet() const { return (bits & transientConnection) != 0; }
    bool isLocalAddressFlagSet() const { return (bits & isLocalAddress) != 0; }
    bool isDirectFlagSet() const { return (bits & isDirect) != 0; }
    bool isOnWWANFlagSet() const { return (bits & isWWAN) != 0; }

    /// Ten characters: "W" (cellular), "R" (reachable), a blank, then "c" (connection required),
    /// "t" (transient), "i" (intervention required), "C" (on traffic), "D" (on demand),
    /// "l" (local address), "d" (direct); each a "-" when its bit is clear.
    std::string description() const;

    bool operator==(const ReachabilityFlags&) const = default;
};

}  // namespace quorvane
