#include "rtc/RtcDataChannel.hpp"

#include <atomic>
#include <mutex>

#include <api/data_channel_interface.h>

#include "rtc/PeerConnectionFactory.hpp"

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
    // Counts state reports and observer changes (guarded by mutex): a state report that an
    // observer was promised at setObserver is due only while this has not moved since.
    std::uint64_t stateEpoch = 0;
    // The channel's buffered amount as of its latest send, drain or state change. It changes
    // only on the signaling thread and only through those, so reading this spares a call there.
    std::atomic<std::uint64_t> bufferedAmount{0};

    Impl(webrtc::DataChannelInterface* channel, std::shared_ptr<PeerConnectionFactory> owner)
        : factory(std::move(owner)), native(channel) {}

    ~Impl() override {
        // Runs on WebRTC's signaling thread and waits for it: no report is under way afterwards.
        if (registered) native->UnregisterObserver();
        native = nullptr;
    }

    void OnStateChange() override {
        bufferedAmount = native->buffered_amount();  // closing drops what was queued
        std::shared_ptr<quorvane::DataChannelObserver> target;
        {
            std::lock_guard lock(mutex);
            ++stateEpoch;
            target = observer.lock();
        }
        deliver(target, [&](auto& listener) { listener.dataChannelDidChangeState(fromNative(native->state())); });
    }

    /// The state of a channel that a new observer took over, unless it is still connecting (its
    /// opening will be reported) or a state change or another observer came since `epoch`. On
    /// the signaling thread, where the state changes, so none can slip in between.
    void reportCurrentState(std::uint64_t epoch) {
        const auto state = fromNative(native->state());
        if (state == DataChannelState::connecting) return;
        std::shared_ptr<quorvane::DataChannelObserver> target;
        {
            std::lock_guard lock(mutex);
            if (stateEpoch != epoch) return;
            target = observer.lock();
        }
        deliver(target, [&](auto& listener) { listener.dataChannelDidChangeState(state); });
    }

    void OnMessage(const webrtc::DataBuffer& buffer) override {
        std::vector<std::uint8_t> copy(buffer.data.cdata(), buffer.data.cdata() + buffer.size());
        bool binary = buffer.binary;
        report([&](auto& target) { target.dataChannelDidReceive(std::move(copy), binary); });
    }

    void OnBufferedAmountChange(std::uint64_t sentDataSize) override {
        // WebRTC passes what left the buffer; the observer wants what was buffered before.
        const std::uint64_t amount = native->buffered_amount();
        bufferedAmount = amount;
        const std::uint64_t previous = amount + sentDataSize;
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
        deliver(target, call);
    }

    template <class Call>
    static void deliver(const std::shared_ptr<quorvane::DataChannelObserver>& target, Call call) {
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

std::uint64_t RtcDataChannel::bufferedAmount() const { return impl_->bufferedAmount; }

bool RtcDataChannel::send(std::span<const std::uint8_t> data, bool binary) {
    webrtc::DataBuffer buffer(::rtc::CopyOnWriteBuffer(data.data(), data.size()), binary);
    bool sent = false;
    // One trip to the signaling thread for the write and the amount it leaves buffered.
    impl_->factory->runOnSignalingThread([&] {
        sent = impl_->native->Send(buffer);
        impl_->bufferedAmount = impl_->native->buffered_amount();
    });
    return sent;
}

void RtcDataChannel::close() { impl_->native->Close(); }

void RtcDataChannel::setObserver(std::weak_ptr<quorvane::DataChannelObserver> observer) {
    bool first = false;
    std::uint64_t epoch = 0;
    {
        std::lock_guard lock(impl_->mutex);
        impl_->observer = std::move(observer);
        first = !impl_->registered;
        impl_->registered = true;
        epoch = ++impl_->stateEpoch;
    }
    // Registering hands over the messages WebRTC kept while nobody listened.
    if (first) impl_->native->RegisterObserver(impl_.get());
    // Reported later, like every report: the caller may hold locks that the observer takes.
    impl_->factory->postToSignalingThread([weak = weak_from_this(), epoch] {
        if (auto self = weak.lock()) self->impl_->reportCurrentState(epoch);
    });
}

std::string RtcDataChannel::label() const { return impl_->native->label(); }

bool RtcDataChannel::ordered() const { return impl_->native->ordered(); }

std::optional<int> RtcDataChannel::maxRetransmits() const {
    auto limit = impl_->native->maxRetransmitsOpt();
    return limit ? std::optional<int>(*limit) : std::nullopt;
}

}  // namespace quorvane::rtc
