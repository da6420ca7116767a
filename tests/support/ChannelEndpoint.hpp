#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "transport/DataChannel.hpp"

namespace quorvane::testing {

/// Test observer of one data channel: counts (and optionally keeps) what arrives, and sends
/// behind a buffered-amount gate that closes once the channel buffers `closeAt` bytes or more
/// and opens again when it has drained to `openAt` or less.
class ChannelEndpoint : public DataChannelObserver {
public:
    struct Gate {
        std::uint64_t closeAt = 10485760;
        std::uint64_t openAt = 16384;
    };

    /// A new endpoint observing `channel`.
    static std::shared_ptr<ChannelEndpoint> attach(std::shared_ptr<DataChannel> channel, bool keepMessages,
                                                   Gate gate);
    static std::shared_ptr<ChannelEndpoint> attach(std::shared_ptr<DataChannel> channel, bool keepMessages = true) {
        return attach(std::move(channel), keepMessages, Gate{});
    }

    /// Sends one binary buffer once the gate is open; false when the channel refuses it.
    bool send(std::span<const std::uint8_t> data);

    /// Waits until `count` buffers have arrived in all; false when `timeout` passes first.
    bool waitForMessages(std::size_t count, std::chrono::milliseconds timeout);
    /// Waits until `count` buffers have arrived in all or none has arrived for `quiet`; true in
    /// the first case.
    bool waitForMessagesOrQuiet(std::size_t count, std::chrono::milliseconds quiet);
    std::size_t messageCount();
    std::uint64_t receivedBytes();
    /// When the latest buffer arrived.
    std::chrono::steady_clock::time_point lastArrival();
    /// The buffers kept so far, in arrival order; the endpoint keeps none of them afterwards.
    std::vector<std::vector<std::uint8_t>> takeMessages();
    std::vector<DataChannelState> states();

    void dataChannelDidChangeState(DataChannelState state) override;
    void dataChannelDidReceive(std::vector<std::uint8_t> data, bool binary) override;
    void dataChannelDidChangeBufferedAmount(std::uint64_t previousAmount) override;

private:
    ChannelEndpoint(std::shared_ptr<DataChannel> channel, bool keepMessages, Gate gate);

    std::shared_ptr<DataChannel> channel_;
    const bool keepMessages_;
    const Gate gate_;
    bool gateClosed_ = false;  // touched by the sending thread only

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::uint8_t>> messages_;
    std::size_t messageCount_ = 0;
    std::uint64_t receivedBytes_ = 0;
    std::chrono::steady_clock::time_point lastArrival_;
    std::vector<DataChannelState> states_;
    bool drained_ = false;
};

}  // namespace quorvane::testing
