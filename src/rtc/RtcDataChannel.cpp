#include "rtc/RtcDataChannel.hpp"

#include <mutex>

#include <api/data_channel_interface.h>

namespace quorvane::rtc {

namespace {

DataChannelState fromNative(webrtc::DataChannelInterface::DataState state) {
    switch (state) {
        case webrtc::DataChannelInterface::kConnecting: return DataChannelState::connecting;
        case webrtc::DataChannelInterface::kOpen: return DataChannelState::open;
        case webrtc::DataChannelInterface::kClosing: return DataChannelState::closing;
        case webrtc::DataChannelInterface::kClosed: return DataChannelState::closed;
    }
    return DataChannelState::closed;
}

}  // namespace

/// The channel's WebRTC observer: forwards each report to the current DataChannelObserver.
struct RtcDataChannel::Impl : webrtc::DataChannelObserver {
    // Declared first, released last: the factory's threads outlive the channel's proxy.
    std::shared_ptr<PeerConnectionFactory> factory;
    ::rtc::scoped_refptr<webrtc::DataChannelInterface> native;

    std::mutex mutex;
    std::weak_ptr<quorvane::DataChannelObserver> observer;  // guarded by mutex
    bool registered = false;                                // guarded by mutex

    Impl(webrtc::DataChannelInterface* channel, std::shared_ptr<PeerConnectionFactory> owner)
        : factory(std::move(owner)), native(channel) {}

    ~Impl() override {
        // Runs on WebRTC's signaling thread and waits for it: no report is under way afterwards.
        if (registered) native->UnregisterObserver();
        native = nullptr;
    }

    void OnStateChange() override {
        report([&](auto& target) { target.dataChannelDidChangeState(fromNative(native->state())); });
    }

    void OnMessage(const webrtc::DataBuffer& buffer) override {
        std::vector<std::uint8_t> copy(buffer.data.cdata(), buffer.data.cdata() + buffer.size());
        bool binary = buffer.binary;
        report([&](auto& target) { target.dataChannelDidReceive(std::move(copy), binary); });
    }

    void OnBufferedAmountChange(std::uint64_t sentDataSize) override {
        // WebRTC passes what left the buffer; the observer wants what was buffered before.
        std::uint64_t previous = native->buffered_amount() + sentDataSize;
        report([&](auto& target) { target.dataChannelDidChangeBufferedAmount(previous); });
    }

    /// Calls `call(observer)` while the observer lives. Nothing of Impl is touched afterwards: the
    /// call may release the channel.
    template <class Call>
    void report(Call call) {
        std::shared_ptr<quorvane::DataChannelObserver> target;
        {
            std::lock_guard lock(mutex);
            target = observer.lock();
        }
        if (!target) return;
        try {
            call(*target);
        } catch (...) {
            // The observer's own failure has nowhere to go from WebRTC's thread.
        }
    }
};

std::shared_ptr<RtcDataChannel> RtcDataChannel::wrap(webrtc::DataChannelInterface* channel,
                                                     std::shared_ptr<PeerConnectionFactory> factory) {
    return std::shared_ptr<RtcDataChannel>(new RtcDataChannel(std::make_unique<Impl>(channel, std::move(factory))));
}

RtcDataChannel::RtcDataChannel(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

RtcDataChannel::~RtcDataChannel() = default;

DataChannelState RtcDataChannel::state() const { return fromNative(impl_->native->state()); }

std::uint64_t RtcDataChannel::bufferedAmount() const { return impl_->native->buffered_amount(); }

bool RtcDataChannel::send(std::span<const std::uint8_t> data, bool binary) {
    return impl_->native->Send(webrtc::DataBuffer(::rtc::CopyOnWriteBuffer(data.data(), data.size()), binary));
}

void RtcDataChannel::close() { impl_->native->Close(); }

void RtcDataChannel::setObserver(std::weak_ptr<quorvane::DataChannelObserver> observer) {
    bool first = false;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->observer = std::move(observer);
        first = !impl_->registered;
        impl_->registered = true;
    }
    // Registering hands over the messages WebRTC kept while nobody listened.
    if (first) impl_->native->RegisterObserver(impl_.get());
}

std::string RtcDataChannel::label() const { return impl_->native->label(); }

bool RtcDataChannel::ordered() const { return impl_->native->ordered(); }

std::optional<int> RtcDataChannel::maxRetransmits() const {
    auto limit = impl_->native->maxRetransmitsOpt();
    return limit ? std::optional<int>(*limit) : std::nullopt;
}

}  // namespace quorvane::rtc
