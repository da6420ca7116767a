#include "support/ChannelEndpoint.hpp"

namespace quorvane::testing {

std::shared_ptr<ChannelEndpoint> ChannelEndpoint::attach(std::shared_ptr<DataChannel> channel, bool keepMessages,
                                                         Gate gate) {
    std::shared_ptr<ChannelEndpoint> endpoint(new ChannelEndpoint(channel, keepMessages, gate));
    channel->setObserver(endpoint);
    return endpoint;
}

ChannelEndpoint::ChannelEndpoint(std::shared_ptr<DataChannel> channel, bool keepMessages, Gate gate)
    : channel_(std::move(channel)), keepMessages_(keepMessages), gate_(gate) {}

bool ChannelEndpoint::send(std::span<const std::uint8_t> data) {
    if (gateClosed_) {
        // Woken by each drain report; the short time-out covers a drain reported between our
        // reading of the amount and our waiting.
        while (channel_->bufferedAmount() > gate_.openAt) {
            std::unique_lock lock(mutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(10), [this] { return drained_; });
            drained_ = false;
        }
        gateClosed_ = false;
    }
    bool sent = channel_->send(data, true);
    if (channel_->bufferedAmount() >= gate_.closeAt) gateClosed_ = true;
    return sent;
}

bool ChannelEndpoint::waitForMessages(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return messageCount_ >= count; });
}

bool ChannelEndpoint::waitForMessagesOrQuiet(std::size_t count, std::chrono::milliseconds quiet) {
    std::unique_lock lock(mutex_);
    while (messageCount_ < count) {
        auto seen = messageCount_;
        if (!changed_.wait_for(lock, quiet, [&] { return messageCount_ != seen; })) return false;
    }
    return true;
}

std::size_t ChannelEndpoint::messageCount() {
    std::lock_guard lock(mutex_);
    return messageCount_;
}

std::uint64_t ChannelEndpoint::receivedBytes() {
    std::lock_guard lock(mutex_);
    return receivedBytes_;
}

std::chrono::steady_clock::time_point ChannelEndpoint::lastArrival() {
    std::lock_guard lock(mutex_);
    return lastArrival_;
}

std::vector<std::vector<std::uint8_t>> ChannelEndpoint::takeMessages() {
    std::lock_guard lock(mutex_);
    return std::move(messages_);
}

std::vector<DataChannelState> ChannelEndpoint::states() {
    std::lock_guard lock(mutex_);
    return states_;
}

void ChannelEndpoint::dataChannelDidChangeState(DataChannelState state) {
    std::lock_guard lock(mutex_);
    states_.push_back(state);
    changed_.notify_all();
}

void ChannelEndpoint::dataChannelDidReceive(std::vector<std::uint8_t> data, bool) {
    std::lock_guard lock(mutex_);
    ++messageCount_;
    receivedBytes_ += data.size();
    lastArrival_ = std::chrono::steady_clock::now();
    if (keepMessages_) messages_.push_back(std::move(data));
    changed_.notify_all();
}

void ChannelEndpoint::dataChannelDidChangeBufferedAmount(std::uint64_t) {
    bool drained = channel_->bufferedAmount() <= gate_.openAt;
    std::lock_guard lock(mutex_);
    drained_ = drained;
    if (drained) changed_.notify_all();
}

}  // namespace quorvane::testing
