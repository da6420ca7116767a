#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace quorvane {

/// The life of a data channel.
enum class DataChannelState { connecting, open, closing, closed };

/// "connecting", "open", "closing" or "closed".
std::string_view toString(DataChannelState state);

/// What a data channel reports. Each call comes on the channel's own callback thread.
class DataChannelObserver {
public:
    virtual ~DataChannelObserver() = default;
    virtual void dataChannelDidChangeState(DataChannelState state) = 0;
    /// One received buffer, already copied out of the transport.
    virtual void dataChannelDidReceive(std::vector<std::uint8_t> data, bool binary) = 0;
    /// The buffered amount changed; `previousAmount` is what it was before.
    virtual void dataChannelDidChangeBufferedAmount(std::uint64_t previousAmount) = 0;
};

/// One message-oriented data channel: the WebRTC binding implements it, tests use an in-memory
/// pair.
class DataChannel {
public:
    virtual ~DataChannel() = default;

    virtual DataChannelState state() const = 0;
    /// Bytes queued for sending and not yet handed to the transport.
    virtual std::uint64_t bufferedAmount() const = 0;
    /// Queues one message; false when the channel refuses it (not open, or its buffer is full).
    virtual bool send(std::span<const std::uint8_t> data, bool binary) = 0;
    virtual void close() = 0;
    /// The observer is held weakly; reports stop once it is gone.
    virtual void setObserver(std::weak_ptr<DataChannelObserver> observer) = 0;
};

}  // namespace quorvane
