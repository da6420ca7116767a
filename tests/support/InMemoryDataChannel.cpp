#include "support/InMemoryDataChannel.hpp"

#include <algorithm>

#include "async/Clock.hpp"

namespace quorvane::testing {

std::pair<InMemoryDataChannel::Pointer, InMemoryDataChannel::Pointer> InMemoryDataChannel::makePair(std::uint32_t seed) {
    Pointer first(new InMemoryDataChannel(seed));
    Pointer second(new InMemoryDataChannel(seed + 1));
    first->peer_ = second;
    second->peer_ = first;
    return {first, second};
}

InMemoryDataChannel::InMemoryDataChannel(std::uint32_t seed)
    : callbackQueue_(DispatchQueue::create("InMemoryDataChannel")), random_(seed) {}

DataChannelState InMemoryDataChannel::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

std::uint64_t InMemoryDataChannel::bufferedAmount() const {
    std::lock_guard lock(mutex_);
    return buffered_ + held_;
}

bool InMemoryDataChannel::send(std::span<const std::uint8_t> data, bool binary) {
    Frame frame{{data.begin(), data.end()}, binary};
    {
        std::lock_guard lock(mutex_);
        if (state_ != DataChannelState::open || refuse_) return false;
        buffered_ += data.size();
        ++framesSent_;
        if (recording_) sentFrames_.push_back(frame.data);
        if (holdTransmission_) {
            heldFrames_.push_back(std::move(frame));
            return true;
        }
        if (rate_ > 0) {
            const double now = Clock::current()->monotonic();
            linkFreeAt_ = std::max(linkFreeAt_, now) + static_cast<double>(data.size()) / rate_;
            Clock::current()->scheduleDetached(callbackQueue_, linkFreeAt_ - now,
                                               [self = shared_from_this(), frame = std::move(frame)]() mutable {
                                                   self->transmit(std::move(frame));
                                               });
            return true;
        }
    }
    callbackQueue_->async([self = shared_from_this(), frame = std::move(frame)]() mutable {
        self->transmit(std::move(frame));
    });
    return true;
}

void InMemoryDataChannel::setRate(double bytesPerSecond) {
    std::lock_guard lock(mutex_);
    rate_ = bytesPerSecond;
}

void InMemoryDataChannel::close() {
    auto closeEnd = [](const Pointer& end) {
        {
            std::lock_guard lock(end->mutex_);
            if (end->state_ == DataChannelState::closing || end->state_ == DataChannelState::closed) return;
            end->state_ = DataChannelState::closing;
        }
        end->callbackQueue_->async([end] {
            end->notifyState(DataChannelState::closing);
            end->setState(DataChannelState::closed);
        });
    };
    closeEnd(shared_from_this());
    if (auto peer = peer_.lock()) closeEnd(peer);
}

void InMemoryDataChannel::setObserver(std::weak_ptr<DataChannelObserver> observer) {
    std::lock_guard lock(mutex_);
    observer_ = std::move(observer);
}

void InMemoryDataChannel::open() {
    // Both ends are open before either reports it: a frame written on the first report finds the
    // other end open, as over a real transport.
    auto peer = peer_.lock();
    for (const auto& end : {shared_from_this(), peer}) {
        if (!end) continue;
        std::lock_guard lock(end->mutex_);
        end->state_ = DataChannelState::open;
    }
    for (const auto& end : {shared_from_this(), peer}) {
        if (end) end->callbackQueue_->async([end] { end->notifyState(DataChannelState::open); });
    }
}

void InMemoryDataChannel::setFaults(LinkFaults faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

void InMemoryDataChannel::holdBufferedAmount(std::uint64_t amount, bool report) {
    std::uint64_t previous;
    {
        std::lock_guard lock(mutex_);
        previous = buffered_ + held_;
        held_ = amount;
    }
    if (report) {
        callbackQueue_->async([self = shared_from_this(), previous] { self->reportBufferedAmount(previous); });
    }
}

void InMemoryDataChannel::refuseWrites(bool refuse) {
    std::lock_guard lock(mutex_);
    refuse_ = refuse;
}

void InMemoryDataChannel::holdTransmission(bool hold) {
    std::lock_guard lock(mutex_);  // held while posting, so that no later frame overtakes
    holdTransmission_ = hold;
    if (hold) return;
    for (auto& frame : heldFrames_) {
        callbackQueue_->async([self = shared_from_this(), frame = std::move(frame)]() mutable {
            self->transmit(std::move(frame));
        });
    }
    heldFrames_.clear();
}

std::uint64_t InMemoryDataChannel::framesSent() const {
    std::lock_guard lock(mutex_);
    return framesSent_;
}

std::uint64_t InMemoryDataChannel::framesReceived() const {
    std::lock_guard lock(mutex_);
    return framesReceived_;
}

void InMemoryDataChannel::recordSentFrames() {
    std::lock_guard lock(mutex_);
    recording_ = true;
}

std::vector<std::vector<std::uint8_t>> InMemoryDataChannel::sentFrames() const {
    std::lock_guard lock(mutex_);
    return sentFrames_;
}

std::shared_ptr<DataChannelObserver> InMemoryDataChannel::observer() const {
    std::lock_guard lock(mutex_);
    return observer_.lock();
}

void InMemoryDataChannel::setState(DataChannelState state) {
    {
        std::lock_guard lock(mutex_);
        state_ = state;
        if (state == DataChannelState::closed) buffered_ = 0;
    }
    callbackQueue_->async([self = shared_from_this(), state] { self->notifyState(state); });
}

void InMemoryDataChannel::notifyState(DataChannelState state) {
    if (auto observer = this->observer()) observer->dataChannelDidChangeState(state);
}

void InMemoryDataChannel::transmit(Frame frame) {
    std::uint64_t previous;
    LinkFaults faults;
    {
        std::lock_guard lock(mutex_);
        previous = buffered_ + held_;
        buffered_ -= std::min<std::uint64_t>(buffered_, frame.data.size());
        faults = faults_;
    }
    reportBufferedAmount(previous);
    auto peer = peer_.lock();
    if (!peer || draw() < faults.loss) return;
    const int copies = draw() < faults.duplication ? 2 : 1;
    const double delay = faults.delay + (draw() < faults.reordering ? faults.reorderDelay : 0.0);
    for (int copy = 0; copy < copies; ++copy) {
        auto deliver = [peer, frame] { peer->arrive(frame); };
        if (delay > 0) {
            Clock::current()->scheduleDetached(peer->callbackQueue_, delay, std::move(deliver));
        } else {
            peer->callbackQueue_->async(std::move(deliver));
        }
    }
}

void InMemoryDataChannel::arrive(Frame frame) {
    std::shared_ptr<DataChannelObserver> observer;
    {
        std::lock_guard lock(mutex_);
        if (state_ != DataChannelState::open) return;
        ++framesReceived_;
        observer = observer_.lock();
    }
    if (observer) observer->dataChannelDidReceive(std::move(frame.data), frame.binary);
}

void InMemoryDataChannel::reportBufferedAmount(std::uint64_t previous) {
    if (auto observer = this->observer()) observer->dataChannelDidChangeBufferedAmount(previous);
}

double InMemoryDataChannel::draw() {
    std::lock_guard lock(mutex_);
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_);
}

}  // namespace quorvane::testing
