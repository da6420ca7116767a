#include "support/FakeTransport.hpp"

#include <chrono>

#include "log/SessionMetrics.hpp"

namespace quorvane::testing {

std::pair<std::shared_ptr<FakeTransport>, std::shared_ptr<FakeTransport>> FakeTransport::pair() {
    std::shared_ptr<FakeTransport> a(new FakeTransport), b(new FakeTransport);
    a->peer_ = b;
    b->peer_ = a;
    return {a, b};
}

FakeTransport::FakeTransport() : queue_(DispatchQueue::create("FakeTransport")) {}

void FakeTransport::setDelegate(std::weak_ptr<TransportLayerDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<TransportLayerDelegate> FakeTransport::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void FakeTransport::record(std::string call, const void* stream) {
    std::lock_guard lock(mutex_);
    record_.calls.push_back(std::move(call));
    if (stream) record_.streams.push_back(stream);
}

Promise<void> FakeTransport::connectAsOffer() {
    record("connectAsOffer");
    std::lock_guard lock(mutex_);
    return connectResult_ ? *connectResult_ : Promise<void>::value();
}

Promise<void> FakeTransport::connectAsAnswer() {
    record("connectAsAnswer");
    std::lock_guard lock(mutex_);
    return connectResult_ ? *connectResult_ : Promise<void>::value();
}

Promise<void> FakeTransport::resetState(bool sendDisconnect) {
    record(sendDisconnect ? "resetState(true)" : "resetState(false)");
    const bool wasConnected = connected_.exchange(false);
    std::shared_ptr<FakeTransport> peer;
    {
        std::lock_guard lock(mutex_);
        peer = peer_.lock();
    }
    if (sendDisconnect && wasConnected && peer) {
        peer->connected_ = false;
        peer->raise([](TransportLayerDelegate& delegate) { delegate.transportLayerDidDisconnect(true); });
    }
    return Promise<void>::value();
}

Promise<void> FakeTransport::sendMessage(std::vector<std::uint8_t> data, std::uint16_t category,
                                         std::shared_ptr<SessionMetrics> metrics) {
    std::shared_ptr<FakeTransport> peer;
    std::exception_ptr error;
    bool giveUp;
    std::uint16_t id;
    {
        std::lock_guard lock(mutex_);
        record_.sent.push_back({data, category});
        sentChanged_.notify_all();
        if (holdSends_) return Promise<void>::pending().promise;
        peer = peer_.lock();
        error = sendError_;
        giveUp = giveUpSends_;
        id = nextId_++;
    }
    if (error) return Promise<void>::error(error);
    if (giveUp) {
        raise([data, id](TransportLayerDelegate& delegate) { delegate.transportLayerFailedToSend(data, id); });
    } else if (peer) {
        peer->inject(data, id);
    }
    if (metrics) metrics->updateMessageMetrics(data.size());
    return Promise<void>::value();
}

bool FakeTransport::addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) {
    record("addVideoStream", configuration.get());
    return true;
}

bool FakeTransport::addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) {
    record("addScreenSharing", configuration.get());
    std::lock_guard lock(mutex_);
    return !std::exchange(hasScreen_, true);
}

void FakeTransport::connect() {
    std::shared_ptr<FakeTransport> peer;
    {
        std::lock_guard lock(mutex_);
        peer = peer_.lock();
    }
    for (const auto& end : {shared_from_this(), peer}) {
        if (!end) continue;
        end->connected_ = true;
        end->raise([](TransportLayerDelegate& delegate) { delegate.transportLayerEstablishedConnection(); });
    }
}

void FakeTransport::raise(std::function<void(TransportLayerDelegate&)> report) {
    queue_->async([self = shared_from_this(), report = std::move(report)] {
        if (auto delegate = self->delegate()) report(*delegate);
    });
}

void FakeTransport::inject(std::vector<std::uint8_t> bytes, std::uint16_t id) {
    // Handed over, not copied, as the real transport does: the receiver then holds the only copy.
    raise([bytes = std::move(bytes), id](TransportLayerDelegate& delegate) mutable {
        delegate.transportLayerDidReceive(std::move(bytes), id);
    });
}

void FakeTransport::setConnectResult(Promise<void> result) {
    std::lock_guard lock(mutex_);
    connectResult_ = std::move(result);
}

void FakeTransport::failSends(std::exception_ptr error) {
    std::lock_guard lock(mutex_);
    sendError_ = std::move(error);
}

void FakeTransport::giveUpSends(bool giveUp) {
    std::lock_guard lock(mutex_);
    giveUpSends_ = giveUp;
}

void FakeTransport::holdSends(bool hold) {
    std::lock_guard lock(mutex_);
    holdSends_ = hold;
}

FakeTransport::Record FakeTransport::record() const {
    std::lock_guard lock(mutex_);
    return record_;
}

bool FakeTransport::waitForSent(std::size_t count) const {
    std::unique_lock lock(mutex_);
    return sentChanged_.wait_for(lock, std::chrono::seconds(20), [&] { return record_.sent.size() >= count; });
}

void FakeTransport::setConfiguration(TransportLayerConfiguration configuration) {
    std::lock_guard lock(mutex_);
    delegate_ = configuration.delegate;
    record_.configuration = std::move(configuration);
}

void FakeTransportFactory::add(std::shared_ptr<FakeTransport> end) {
    std::lock_guard lock(state_->mutex);
    state_->ends.push_back(std::move(end));
}

TransportLayerFactory FakeTransportFactory::factory() {
    return [state = state_](const TransportLayerConfiguration& configuration) -> std::shared_ptr<TransportLayer> {
        std::shared_ptr<FakeTransport> end;
        {
            std::lock_guard lock(state->mutex);
            if (state->next < state->ends.size()) end = state->ends[state->next];
            ++state->next;
        }
        if (end) end->setConfiguration(configuration);
        return end;
    };
}

std::size_t FakeTransportFactory::built() const {
    std::lock_guard lock(state_->mutex);
    return state_->next;
}

}  // namespace quorvane::testing
