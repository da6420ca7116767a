#pragma once

#include <memory>
#include <optional>
#include <string>

#include "transport/DataChannel.hpp"

namespace webrtc {
class DataChannelInterface;
}

namespace quorvane::rtc {

class PeerConnectionFactory;

/// A WebRTC data channel behind the library's data-channel interface. Observer calls come on
/// WebRTC's signaling thread; received buffers are copied before the observer sees them.
/// Messages that arrive before the first setObserver wait inside WebRTC and are delivered then.
/// A new observer of a channel that is already open (or closing, or closed) hears that state
/// once, unless a state change reaches it first: it would otherwise never learn that the
/// channel opened.
class RtcDataChannel final : public DataChannel, public std::enable_shared_from_this<RtcDataChannel> {
public:
    /// Wraps a channel of a peer connection made by `factory`. For the peer connection only.
    static std::shared_ptr<RtcDataChannel> wrap(webrtc::DataChannelInterface* channel,
                                                std::shared_ptr<PeerConnectionFactory> factory);

    ~RtcDataChannel() override;

    DataChannelState state() const override;
    std::uint64_t bufferedAmount() const override;
    bool send(std::span<const std::uint8_t> data, bool binary) override;
    void close() override;
    void setObserver(std::weak_ptr<DataChannelObserver> observer) override;

    std::string label() const;
    bool ordered() const;
    /// The retransmission limit of a message, absent for a fully reliable channel.
    std::optional<int> maxRetransmits() const;

private:
    struct Impl;
    explicit RtcDataChannel(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::rtc
