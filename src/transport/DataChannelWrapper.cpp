#include "transport/DataChannelWrapper.hpp"

#include <algorithm>
#include <cmath>

#include "async/Clock.hpp"
#include "formats/MessageFrameWriter.hpp"
#include "model/FormatSeconds.hpp"
#include "quorvane/Errors.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

namespace {

// Samples closer together than this are one: the record of the last second stays short.
constexpr double sampleSpacing = 0.01;

}  // namespace

std::shared_ptr<DataChannelWrapper> DataChannelWrapper::create(std::shared_ptr<DataChannel> dataChannel,
                                                               std::shared_ptr<ZephLogger> logger,
                                                               DispatchQueuePtr dispatchQueue,
                                                               std::weak_ptr<QVWebRtcDataChannelDelegate> delegate) {
    return std::shared_ptr<DataChannelWrapper>(
        new DataChannelWrapper(std::move(dataChannel), std::move(logger), std::move(dispatchQueue), std::move(delegate)));
}

DataChannelWrapper::DataChannelWrapper(std::shared_ptr<DataChannel> dataChannel, std::shared_ptr<ZephLogger> logger,
                                       DispatchQueuePtr dispatchQueue,
                                       std::weak_ptr<QVWebRtcDataChannelDelegate> delegate)
    : log_(std::move(logger), "WebRtcDataChannel"),
      dataChannel_(std::move(dataChannel)),
      dispatchQueue_(std::move(dispatchQueue)),
      qvDelegate_(std::move(delegate)) {}

DataChannelWrapper::~DataChannelWrapper() {
    log_.debug("Deinit", "WebRtcDataChannel deinitialized");
    for (auto& wait : passedOnWaits_) dispatchQueue_->async(std::move(wait.passedOn));
}

void DataChannelWrapper::attach() { dataChannel_->setObserver(weak_from_this()); }

DataChannelState DataChannelWrapper::readyState() const { return dataChannel_->state(); }

void DataChannelWrapper::close() {
    dataChannel_->close();
    detach();
}

void DataChannelWrapper::detach() {
    dispatchQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->detached_ = true;  // no new time-out, no new heartbeat tick
            self->heartbeatTimer_.reset();
            self->releaseGate();
        }
    });
}

Promise<void> DataChannelWrapper::sendData(std::vector<std::uint8_t> buffer, std::function<void()> passedOn) {
    auto pending = Promise<void>::pending();
    Write write{std::move(buffer), pending.resolver, std::move(passedOn)};
    if (dispatchQueue_->isCurrent()) {
        passGate(std::move(write));
    } else {
        dispatchQueue_->async([self = shared_from_this(), write = std::move(write)]() mutable {
            self->passGate(std::move(write));
        });
    }
    return pending.promise;
}

void DataChannelWrapper::passGate(Write pending) {
    // A stalled transport may stop reporting its buffered amount: look before every write.
    if (dataChannel_->bufferedAmount() >= closeAmount()) closeGate();
    if (!waitForBuffer_ && waitingWrites_ == 0) {
        // Open gate and no write ahead of this one: write at once.
        write(std::move(pending));
        return;
    }
    // Behind the gate, or behind writes it has released and that are not written yet: in call order.
    ++waitingWrites_;
    Guarantee<void> gate = waitForBuffer_ ? waitForBuffer_->guarantee : Guarantee<void>::value();
    gate.done(
        [self = shared_from_this(), pending = std::move(pending)]() mutable {
            --self->waitingWrites_;
            self->write(std::move(pending));
        },
        dispatchQueue_);
}

void DataChannelWrapper::write(Write pending) {
    if (!dataChannel_->send(pending.buffer, true)) {
        pending.resolver.reject(WebRTCError::failedToSendData());
        return;
    }
    noteSent(Clock::current()->monotonic());
    bytesWritten_ += pending.buffer.size();
    pending.resolver.fulfill();
    if (!pending.passedOn) return;
    passedOnWaits_.push_back({bytesWritten_, std::move(pending.passedOn)});
    reportPassedOn();
}

void DataChannelWrapper::reportPassedOn() {
    const std::uint64_t buffered = dataChannel_->bufferedAmount();
    // Every write is made on this queue, so the amount and the count of written bytes agree.
    const std::uint64_t passed = bytesWritten_ > buffered ? bytesWritten_ - buffered : 0;
    while (!passedOnWaits_.empty() && (gateReleased_ || passedOnWaits_.front().written <= passed)) {
        auto passedOn = std::move(passedOnWaits_.front().passedOn);
        passedOnWaits_.pop_front();
        passedOn();
    }
}

void DataChannelWrapper::dataChannelDidChangeState(DataChannelState state) {
    if (state == DataChannelState::open) {
        // The peer's time-out counts from the open as well.
        dispatchQueue_->async([weak = weak_from_this(), opened = Clock::current()->monotonic()] {
            if (auto self = weak.lock()) self->peerHeard_ = std::max(self->peerHeard_, opened);
        });
        checkForHeartbeat();
        sendHeartbeat();
    } else if (state == DataChannelState::closing || state == DataChannelState::closed) {
        dispatchQueue_->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->releaseGate();
                self->closedUnasked();
            }
        });
    }
    if (auto delegate = qvDelegate_.lock()) delegate->dataChannelDidChange(readyState(), *this);
}

void DataChannelWrapper::dataChannelDidReceive(std::vector<std::uint8_t> data, bool) {
    checkForHeartbeat();
    if (auto delegate = qvDelegate_.lock()) delegate->dataChannelDidReceive(std::move(data));
}

void DataChannelWrapper::dataChannelDidChangeBufferedAmount(std::uint64_t previousAmount) {
    const std::uint64_t amount = dataChannel_->bufferedAmount();
    // What left the buffer went on towards the peer: while a slow link drains a full buffer and
    // the gate holds every write back, this is all the peer hears of this side.
    const bool fell = amount < previousAmount;
    dispatchQueue_->async([weak = weak_from_this(), amount, fell, at = Clock::current()->monotonic()] {
        if (auto self = weak.lock()) {
            if (fell) self->noteSent(at);
            self->bufferedAmountChanged(amount);
        }
    });
}

std::uint64_t DataChannelWrapper::closeAmount() {
    const double now = Clock::current()->monotonic();
    // Read here, where every write is made: the amount and the count of written bytes agree.
    const std::uint64_t bufferedNow = dataChannel_->bufferedAmount();
    const std::uint64_t passed = bytesWritten_ > bufferedNow ? bytesWritten_ - bufferedNow : 0;
    if (!passedSamples_.empty() && now - passedSamples_.back().time < sampleSpacing) {
        passedSamples_.back().passed = passed;
    } else {
        passedSamples_.push_back({now, passed});
    }
    while (passedSamples_.front().time <= now - 1.0) {
        passedSecondAgo_ = passedSamples_.front().passed;
        passedSamples_.pop_front();
    }
    const std::uint64_t lastSecond = passed - std::min(passed, passedSecondAgo_);
    const auto share = static_cast<std::uint64_t>(static_cast<double>(lastSecond) * gateCloseShare);
    return std::clamp(share, gateCloseFloor, gateCloseAmount);
}

void DataChannelWrapper::bufferedAmountChanged(std::uint64_t amount) {
    const std::uint64_t closeAt = closeAmount();  // also notes what has passed on
    if (amount <= gateOpenAmount) {
        openGate();
    } else if (amount >= closeAt) {
        closeGate();
    }
    reportPassedOn();
}

void DataChannelWrapper::checkForHeartbeat() {
    dispatchQueue_->async([weak = weak_from_this(), heard = Clock::current()->monotonic()] {
        auto self = weak.lock();
        if (!self || self->detached_ || self->judgeHoldUp(heard)) return;
        self->heard_.push_back(heard);
        while (self->heard_.size() > 1 && self->heard_[1] <= heard - heartbeatInterval) self->heard_.pop_front();
        // From when it was heard: a report that waited behind other work (a large message, say)
        // while this process was stopped does not put the time-out off for another five seconds.
        self->armReceiveTimeout(heard + heartbeatTimeout);
    });
}

void DataChannelWrapper::armReceiveTimeout(double deadline) {
    heartbeatDeadline_ = deadline;
    const double delay = std::max(0.0, deadline - Clock::current()->monotonic());
    heartbeatTimer_ = std::make_unique<BackgroundTimer>(dispatchQueue_, delay, false, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->receiveTimeoutFellDue();
    });
}

void DataChannelWrapper::receiveTimeoutFellDue() {
    if (judgeHoldUp(Clock::current()->monotonic())) return;
    // Fell due before this process had run a heartbeat interval since it woke: what the peer sent
    // meanwhile may still wait in the buffers of the open channel, behind this timer.
    const double graceEnd = wokeAt_ + heartbeatInterval;
    if (heartbeatDeadline_ < graceEnd && readyState() == DataChannelState::open) {
        log_.debug("checkForHeartbeat", "Heartbeat time-out fell due while this process was held up");
        armReceiveTimeout(graceEnd);
        return;
    }
    heartbeatTimedOut();
}

bool DataChannelWrapper::judgeHoldUp(double at) {
    // Not held up, or this hold-up was judged already.
    if (at - tickDeadline_ <= heartbeatInterval || wokeAt_ >= tickDeadline_) return false;
    wokeAt_ = at;
    if (!heartbeatTimer_ || heartbeatDeadline_ > at || at - peerHeard_ <= heartbeatTimeout) return false;
    log_.debug("checkForHeartbeat", "Woke " + formatSeconds(std::round((at - heartbeatDeadline_) * 1000) / 1000) +
                                        " seconds after the heartbeat time-out fell due, unheard by the peer for " +
                                        formatSeconds(std::round((at - peerHeard_) * 1000) / 1000) + " seconds");
    heartbeatTimedOut();
    return true;
}

void DataChannelWrapper::noteSent(double sent) {
    judgeHoldUp(sent);  // first: what drains on waking tells nothing of what the peer heard before
    peerHeard_ = std::max(peerHeard_, sent);
}

void DataChannelWrapper::closedUnasked() {
    // Closed by this side (detached), or the time-out has fired already.
    if (detached_ || !heartbeatTimer_) return;
    const double now = Clock::current()->monotonic();
    if (judgeHoldUp(now)) return;
    const auto before = std::find_if(heard_.rbegin(), heard_.rend(),
                                     [now](double heard) { return heard <= now - heartbeatInterval; });
    if (before == heard_.rend()) return;  // open for less than a heartbeat interval
    log_.debug("checkForHeartbeat", "Data channel closed; the heartbeat time-out counts from data heard " +
                                        formatSeconds(std::round((now - *before) * 1000) / 1000) + " seconds ago");
    if (*before + heartbeatTimeout <= now) {
        heartbeatTimedOut();
    } else {
        armReceiveTimeout(*before + heartbeatTimeout);
    }
}

void DataChannelWrapper::heartbeatTimedOut() {
    heartbeatTimer_.reset();  // from within its own handler, too
    log_.debug("checkForHeartbeat",
               "Heartbeat not received in the last " + formatSeconds(heartbeatTimeout) + " seconds");
    if (auto delegate = qvDelegate_.lock()) delegate->dataChannelFiredHeartbeatTimeout(*this);
}

void DataChannelWrapper::sendHeartbeat() {
    dispatchQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->armHeartbeatTick();
    });
}

void DataChannelWrapper::armHeartbeatTick() {
    if (detached_) return;
    tickDeadline_ = Clock::current()->monotonic() + heartbeatInterval;
    sendHeartbeatTimer_ = std::make_unique<BackgroundTimer>(dispatchQueue_, heartbeatInterval, false, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->heartbeatTick();
    });
}

void DataChannelWrapper::heartbeatTick() {
    judgeHoldUp(Clock::current()->monotonic());
    tickDeadline_ = std::numeric_limits<double>::infinity();
    if (readyState() != DataChannelState::open) {
        log_.debug("sendHeartbeat", "Failed to create heartbeat");
        return;
    }
    // One heartbeat waiting at a closed gate says all that more of them would.
    if (!heartbeatWaiting_) {
        heartbeatWaiting_ = true;
        auto written = sendData(MessageFrameWriter::heartbeat());
        written.ensure(
            [weak = weak_from_this()] {
                if (auto self = weak.lock()) self->heartbeatWaiting_ = false;
            },
            dispatchQueue_);
        written.catchError([log = log_](const std::exception_ptr& error) {
            log.debug("sendHeartbeat", "Failed to send heartbeat: " + errorDescription(error));
        });
    }
    armHeartbeatTick();
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
    reportPassedOn();
}

}  // namespace quorvane
