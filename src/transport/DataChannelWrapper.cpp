#include "transport/DataChannelWrapper.hpp"

#include "formats/MessageFrameWriter.hpp"
#include "model/FormatSeconds.hpp"
#include "quorvane/Errors.hpp"
#include "transport/ErrorDescription.hpp"

namespace quorvane {

std::shared_ptr<DataChannelWrapper> DataChannelWrapper::create(std::shared_ptr<DataChannel> dataChannel,
                                                               std::shared_ptr<ZephLogger> logger,
                                                               DispatchQueuePtr dispatchQueue,
                                                               std::weak_ptr<QVWebRtcDataChannelDelegate> delegate) {
    std::shared_ptr<DataChannelWrapper> wrapper(
        new DataChannelWrapper(std::move(dataChannel), std::move(logger), std::move(dispatchQueue), std::move(delegate)));
    wrapper->dataChannel_->setObserver(wrapper);
    return wrapper;
}

DataChannelWrapper::DataChannelWrapper(std::shared_ptr<DataChannel> dataChannel, std::shared_ptr<ZephLogger> logger,
                                       DispatchQueuePtr dispatchQueue,
                                       std::weak_ptr<QVWebRtcDataChannelDelegate> delegate)
    : log_(std::move(logger), "WebRtcDataChannel"),
      dataChannel_(std::move(dataChannel)),
      dispatchQueue_(std::move(dispatchQueue)),
      qvDelegate_(std::move(delegate)) {}

DataChannelWrapper::~DataChannelWrapper() { log_.debug("Deinit", "WebRtcDataChannel deinitialized"); }

DataChannelState DataChannelWrapper::readyState() const { return dataChannel_->state(); }

void DataChannelWrapper::close() {
    dataChannel_->close();
    dispatchQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->closed_ = true;
            self->heartbeatTimer_.reset();
            self->releaseGate();
        }
    });
}

Promise<void> DataChannelWrapper::sendData(std::vector<std::uint8_t> buffer) {
    auto write = Promise<void>::pending();
    if (dispatchQueue_->isCurrent()) {
        passGate(std::move(buffer), write.resolver);
    } else {
        dispatchQueue_->async([self = shared_from_this(), buffer = std::move(buffer), resolver = write.resolver]() mutable {
            self->passGate(std::move(buffer), resolver);
        });
    }
    return write.promise;
}

void DataChannelWrapper::passGate(std::vector<std::uint8_t> buffer, const Resolver<void>& resolver) {
    // A stalled transport may stop reporting its buffered amount: look before every write.
    if (dataChannel_->bufferedAmount() >= gateCloseAmount) closeGate();
    if (!waitForBuffer_ && waitingWrites_ == 0) {
        // Open gate and no write ahead of this one: write at once.
        write(buffer, resolver);
        return;
    }
    // Behind the gate, or behind writes it has released and that are not written yet: in call order.
    ++waitingWrites_;
    Guarantee<void> gate = waitForBuffer_ ? waitForBuffer_->guarantee : Guarantee<void>::value();
    gate.done(
        [self = shared_from_this(), buffer = std::move(buffer), resolver] {
            --self->waitingWrites_;
            self->write(buffer, resolver);
        },
        dispatchQueue_);
}

void DataChannelWrapper::write(std::span<const std::uint8_t> buffer, const Resolver<void>& resolver) {
    if (dataChannel_->send(buffer, true)) {
        resolver.fulfill();
    } else {
        resolver.reject(WebRTCError::failedToSendData());
    }
}

void DataChannelWrapper::dataChannelDidChangeState(DataChannelState state) {
    if (state == DataChannelState::open) {
        checkForHeartbeat();
        sendHeartbeat();
    } else if (state == DataChannelState::closing || state == DataChannelState::closed) {
        dispatchQueue_->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->releaseGate();
        });
    }
    if (auto delegate = qvDelegate_.lock()) delegate->dataChannelDidChange(readyState(), *this);
}

void DataChannelWrapper::dataChannelDidReceive(std::vector<std::uint8_t> data, bool) {
    checkForHeartbeat();
    if (auto delegate = qvDelegate_.lock()) delegate->dataChannelDidReceive(std::move(data));
}

void DataChannelWrapper::dataChannelDidChangeBufferedAmount(std::uint64_t) {
    const std::uint64_t amount = dataChannel_->bufferedAmount();
    if (amount <= gateOpenAmount) {
        dispatchQueue_->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->openGate();
        });
    } else if (amount >= gateCloseAmount) {
        dispatchQueue_->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->closeGate();
        });
    }
}

void DataChannelWrapper::checkForHeartbeat() {
    dispatchQueue_->async([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || self->closed_) return;
        self->heartbeatTimer_ = std::make_unique<BackgroundTimer>(self->dispatchQueue_, heartbeatTimeout, false, [weak] {
            auto self = weak.lock();
            if (!self) return;
            self->log_.debug("checkForHeartbeat",
                             "Heartbeat not received in the last " + formatSeconds(heartbeatTimeout) + " seconds");
            if (auto delegate = self->qvDelegate_.lock()) delegate->dataChannelFiredHeartbeatTimeout(*self);
        });
    });
}

void DataChannelWrapper::sendHeartbeat() {
    dispatchQueue_->async([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) return;
        self->sendHeartbeatTimer_ = std::make_unique<BackgroundTimer>(self->dispatchQueue_, heartbeatInterval, false, [weak] {
            if (auto self = weak.lock()) self->heartbeatTick();
        });
    });
}

void DataChannelWrapper::heartbeatTick() {
    if (readyState() != DataChannelState::open) {
        log_.debug("sendHeartbeat", "Failed to create heartbeat");
        return;
    }
    sendData(MessageFrameWriter::heartbeat()).catchError([log = log_](const std::exception_ptr& error) {
        log.debug("sendHeartbeat", "Failed to send heartbeat: " + errorDescription(error));
    });
    sendHeartbeat();
}

void DataChannelWrapper::openGate() {
    if (waitForBuffer_) waitForBuffer_->resolver.fulfill();
    waitForBuffer_.reset();
}

void DataChannelWrapper::closeGate() {
    if (!waitForBuffer_ && !gateReleased_) waitForBuffer_ = Guarantee<void>::pending();
}

void DataChannelWrapper::releaseGate() {
    gateReleased_ = true;
    openGate();
}

}  // namespace quorvane
