#include "quorvane/ReachabilityFlags.hpp"

namespace quorvane {

std::string ReachabilityFlags::description() const {
    std::string text;
    text += isOnWWANFlagSet() ? 'W' : '-';
    text += isReachableFlagSet() ? 'R' : '-';
    text += ' ';
    text += isConnectionRequiredFlagSet() ? 'c' : '-';
    text += isTransientConnectionFlagSet() ? 't' : '-';
    text += isInterventionRequiredFlagSet() ? 'i' : '-';
    text += isConnectionOnTrafficFlagSet() ? 'C' : '-';
    text += isConnectionOnDemandFlagSet() ? 'D' : '-';
    text += isLocalAddressFlagSet() ? 'l' : '-';
    text += isDirectFlagSet() ? 'd' : '-';
    return text;
}

}  // namespace quorvane
