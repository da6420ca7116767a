#pragma once

#include <cstdint>
#include <vector>

#include "transport/DataChannel.hpp"

namespace quorvane {

/// What WebRtcChunkAdapter reports to its owner (the peer connection). Every report but the state
/// change comes on the adapter's queue "WebRtcChunkAdapter".
class ChunkAdapterDelegate {
public:
    virtual ~ChunkAdapterDelegate() = default;

    /// The data channel's new state; on the channel's callback thread.
    virtual void dataChannelDidChange(DataChannelState state) = 0;
    /// A whole message arrived, once per message; its bytes are handed over.
    virtual void dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t id) = 0;
    /// A frame of a multi-frame message was taken in.
    virtual void dataChannelWillReceiveMessage(std::uint16_t id, std::uint16_t category,
                                               std::uint16_t numChunksReceived, std::uint16_t totalChunks) = 0;
    /// An outgoing message was given up: the bytes given to sendData and the message's id.
    virtual void dataChannelFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) = 0;
    /// An incoming multi-frame message was given up.
    virtual void dataChannelFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) = 0;
    /// Nothing arrived on the channel for the heartbeat time-out.
    virtual void dataChannelFiredHeartbeatTimeout() = 0;
};

}  // namespace quorvane
