#pragma once

// Two chunk adapters joined by an in-memory channel pair, in virtual time, with delegates that
// remember every report.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include "async/Clock.hpp"
#include "formats/MessageFrameView.hpp"
#include "log/ZephLogger.hpp"
#include "support/InMemoryDataChannel.hpp"
#include "support/Settle.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace quorvane::testing {

class RecordingAdapterDelegate : public ChunkAdapterDelegate {
public:
    struct Delivery {
        std::vector<std::uint8_t> data;
        std::uint16_t id;
    };
    struct Progress {
        std::uint16_t id, category, received, total;
    };

    void dataChannelDidChange(DataChannelState state) override { locked([&] { states.push_back(state); }); }
    void dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t id) override {
        locked([&] { delivered.push_back({data, id}); });
    }
    void dataChannelWillReceiveMessage(std::uint16_t id, std::uint16_t category, std::uint16_t received,
                                       std::uint16_t total) override {
        locked([&] { progress.push_back({id, category, received, total}); });
    }
    void dataChannelFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) override {
        locked([&] { failedToSend.push_back({data, id}); });
    }
    void dataChannelFailedToReceiveMessage(std::uint16_t id, std::uint16_t) override {
        locked([&] { failedToReceive.push_back(id); });
    }
    void dataChannelFiredHeartbeatTimeout() override { locked([&] { ++timeouts; }); }

    std::uint64_t events() {
        std::uint64_t count = 0;
        locked([&] {
            count = states.size() + delivered.size() + progress.size() + failedToSend.size() + failedToReceive.size() +
                    static_cast<std::uint64_t>(timeouts);
        });
        return count;
    }

    template <class F>
    void locked(F f) {
        std::lock_guard lock(mutex);
        f();
    }

    // Read them after settling, or through locked().
    std::mutex mutex;
    std::vector<DataChannelState> states;
    std::vector<Delivery> delivered;
    std::vector<Progress> progress;
    std::vector<Delivery> failedToSend;
    std::vector<std::uint16_t> failedToReceive;
    int timeouts = 0;
};

/// Keeps every frame it receives, parsed: the far end of a channel with no adapter behind it.
class RawPeer : public DataChannelObserver {
public:
    struct Frame {
        MessageTypes type = MessageTypes::NONE;
        MessagePayload payload = MessagePayload::NONE;
        std::uint16_t id = 0;
        std::uint16_t category = 0;
        std::vector<std::uint8_t> data;        // single message data or chunk data
        std::vector<std::uint16_t> positions;  // of a retry request
        std::uint16_t position = 0;
    };

    void dataChannelDidChangeState(DataChannelState) override {}
    void dataChannelDidChangeBufferedAmount(std::uint64_t) override {}
    void dataChannelDidReceive(std::vector<std::uint8_t> bytes, bool) override {
        Frame frame;
        auto view = parseMessageFrame(std::span<const std::uint8_t>(bytes));
        if (view) {
            frame.type = view->messageType();
            if (auto chunk = view->messageChunk()) {
                frame.payload = chunk->payloadType();
                frame.id = chunk->msgid();
                frame.category = chunk->category();
                if (auto single = chunk->singleMessageData()) frame.data.assign(single->begin(), single->end());
                if (auto chunked = chunk->chunkedMessageData()) {
                    frame.data.assign(chunked->data.begin(), chunked->data.end());
                    frame.position = chunked->position;
                }
                if (auto retry = chunk->chunkedMessageRetry()) frame.positions = *retry;
            }
        }
        std::lock_guard lock(mutex_);
        frames_.push_back(std::move(frame));
    }

    /// The frames received so far, heartbeats left out.
    std::vector<Frame> frames() const {
        std::lock_guard lock(mutex_);
        std::vector<Frame> found;
        for (const auto& frame : frames_) {
            if (frame.type != MessageTypes::Heartbeat) found.push_back(frame);
        }
        return found;
    }
    std::vector<Frame> frames(MessagePayload payload) const {
        std::vector<Frame> found;
        for (const auto& frame : frames()) {
            if (frame.payload == payload) found.push_back(frame);
        }
        return found;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Frame> frames_;
};

/// A byte pattern that differs from message to message.
inline std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 31 + seed + i / 7919);
    return bytes;
}

/// One adapter and the far end of its channel, and the log of the adapter's session.
class AdapterTest : public ::testing::Test {
protected:
    std::shared_ptr<WebRtcChunkAdapter> makeAdapter(WebRtcChunkAdapter::Settings settings = {}) {
        auto adapter = std::make_shared<WebRtcChunkAdapter>(logger, settings);
        adapters.push_back(adapter);
        return adapter;
    }

    /// Drains every queue until nothing moves any more.
    void settle() {
        std::vector<DispatchQueuePtr> queues;
        for (const auto& weak : adapters) {
            if (auto adapter = weak.lock()) queues.push_back(adapter->dispatchQueue());
        }
        for (const auto& channel : channels) queues.push_back(channel->callbackQueue());
        quorvane::testing::settle(queues, [&] {
            std::uint64_t progress = 0;
            for (const auto& channel : channels) progress += channel->framesSent() + channel->framesReceived();
            for (const auto& delegate : delegates) progress += delegate->events();
            return progress;
        });
    }

    /// Settles until `done` holds, for bulk work whose end is known (at most a minute).
    template <class Done>
    void settleUntil(Done done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        do {
            settle();
        } while (!done() && std::chrono::steady_clock::now() < deadline);
    }

    /// Moves virtual time on in steps, letting everything settle after each.
    void advance(double seconds, double step = 1.0) {
        for (double passed = 0; passed < seconds; passed += step) {
            clock->advance(std::min(step, seconds - passed));
            settle();
        }
    }

    std::pair<InMemoryDataChannel::Pointer, InMemoryDataChannel::Pointer> makePair(std::uint32_t seed = 1) {
        auto pair = InMemoryDataChannel::makePair(seed);
        channels.push_back(pair.first);
        channels.push_back(pair.second);
        return pair;
    }

    std::shared_ptr<RecordingAdapterDelegate> makeDelegate(const std::shared_ptr<WebRtcChunkAdapter>& adapter) {
        auto delegate = std::make_shared<RecordingAdapterDelegate>();
        adapter->setDelegate(delegate);
        delegates.push_back(delegate);
        return delegate;
    }

    std::vector<std::string> logged(const std::string& part) const {
        std::vector<std::string> found;
        for (const auto& entry : logger->getLogStore()) {
            if (entry.klass == "WebRtcChunkAdapter" && entry.message.find(part) != std::string::npos) {
                found.push_back(entry.message);
            }
        }
        return found;
    }

    ScopedVirtualClock clock;
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, true);
    std::vector<std::weak_ptr<WebRtcChunkAdapter>> adapters;
    std::vector<InMemoryDataChannel::Pointer> channels;
    std::vector<std::shared_ptr<RecordingAdapterDelegate>> delegates;
};

}  // namespace quorvane::testing
