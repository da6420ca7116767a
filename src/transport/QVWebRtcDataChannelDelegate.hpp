#pragma once

#include <cstdint>
#include <vector>

#include "transport/DataChannel.hpp"

namespace quorvane {

class DataChannelWrapper;

/// What a DataChannelWrapper reports to its owner. Each report names the wrapper it comes from,
/// so that the owner can ignore a wrapper it has already replaced.
class QVWebRtcDataChannelDelegate {
public:
    virtual ~QVWebRtcDataChannelDelegate() = default;

    /// The channel's state after a state change; on the channel's callback thread.
    virtual void dataChannelDidChange(DataChannelState state, DataChannelWrapper& channel) = 0;
    /// The bytes of one received buffer, unread; on the channel's callback thread.
    virtual void dataChannelDidReceive(std::vector<std::uint8_t> data) = 0;
    /// No buffer arrived for the receive time-out; on the wrapper's dispatch queue.
    virtual void dataChannelFiredHeartbeatTimeout(DataChannelWrapper& channel) = 0;
};

}  // namespace quorvane
