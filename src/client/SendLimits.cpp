#include "client/SendLimits.hpp"

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {
constexpr std::size_t maxMessageBytes = std::size_t{65535} * 15360;
// The message's id, timestamp, tables, vtables and alignment padding stay well below this.
constexpr std::size_t envelopeBytes = 256;
// Timers and delays take nothing longer.
constexpr double longestTimeout = 1e9;
}  // namespace

bool fitsInOneMessage(std::size_t tagBytes, std::size_t dataBytes) {
    constexpr std::size_t room = maxMessageBytes - envelopeBytes;
    return tagBytes <= room && dataBytes <= room - tagBytes;
}

std::optional<double> usableTimeout(double seconds) {
    if (std::isnan(seconds)) return std::nullopt;
    return std::clamp(seconds, 0.0, longestTimeout);
}

bool waitsForever(double wait) { return wait >= longestTimeout; }

}  // namespace quorvane
