#include "transport/SendQueue.hpp"

#include "quorvane/Errors.hpp"

namespace quorvane {

bool SendQueue::isDropped(const std::exception_ptr& error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const FrameDropped&) {
        return true;
    } catch (...) {
    }
    return false;
}

void SendQueue::Queues::push(Item item, bool priority, bool singleChunk) {
    if (item.kind != Kind::message) ++controlFrames_;
    auto& list = priority ? protocolMessages : (singleChunk ? singleChunks : multiChunks);
    list.push_back(std::move(item));
}

std::size_t SendQueue::Queues::count() const {
    return protocolMessages.size() + singleChunks.size() + multiChunks.size();
}

std::optional<SendQueue::Item> SendQueue::Queues::removeFirst() {
    for (auto* list : {&protocolMessages, &singleChunks, &multiChunks}) {
        if (list->empty()) continue;
        Item item = std::move(list->front());
        list->pop_front();
        if (item.kind != Kind::message) --controlFrames_;
        return item;
    }
    return std::nullopt;
}

std::optional<SendQueue::Item> SendQueue::Queues::removeOldestDroppable() {
    for (auto item = protocolMessages.begin(); item != protocolMessages.end(); ++item) {
        if (item->kind != Kind::droppable) continue;
        Item dropped = std::move(*item);
        protocolMessages.erase(item);
        --controlFrames_;
        return dropped;
    }
    return std::nullopt;
}

SendQueue::SendQueue(DispatchQueuePtr dispatchQueue)
    : dispatchQueue_(std::move(dispatchQueue)), connected_(Promise<void>::pending()) {}

void SendQueue::set(std::shared_ptr<DataChannelWrapper> dataChannel) {
    dispatchQueue_->async([self = shared_from_this(), dataChannel = std::move(dataChannel)]() mutable {
        self->dataChannel_ = std::move(dataChannel);
        if (self->connected_.promise.isFulfilled()) self->connected_ = Promise<void>::pending();
    });
}

void SendQueue::didConnect() {
    dispatchQueue_->async([self = shared_from_this()] { self->connected_.resolver.fulfill(); });
}

void SendQueue::didDisconnect() {
    dispatchQueue_->async([self = shared_from_this()] {
        self->connected_.resolver.reject(WebRTCError::connectionReset());
        self->connected_ = Promise<void>::pending();
    });
}

Promise<void> SendQueue::enqueue(Frame chunk, bool priority, bool singleChunk) {
    return enqueue([chunk = std::move(chunk)]() mutable { return std::move(chunk); }, priority, singleChunk);
}

Promise<void> SendQueue::enqueue(FrameSource chunk, bool priority, bool singleChunk, std::function<void()> passedOn) {
    auto pending = Promise<void>::pending();
    push(Item{pending.resolver, std::move(chunk), std::move(passedOn)}, priority, singleChunk);
    return pending.promise;
}

Promise<void> SendQueue::enqueueControl(FrameSource frame, bool droppable) {
    auto pending = Promise<void>::pending();
    push(Item{pending.resolver, std::move(frame), {}, droppable ? Kind::droppable : Kind::control}, true, true);
    return pending.promise;
}

void SendQueue::push(Item item, bool priority, bool singleChunk) {
    dispatchQueue_->async([self = shared_from_this(), item = std::move(item), priority, singleChunk]() mutable {
        if (self->shutDown_) {
            item.seal.reject(WebRTCError::channelClosed());
            return;
        }
        auto& queues = self->queues_;
        queues.push(std::move(item), priority, singleChunk);
        while (queues.waitingControlFrames() > maxWaitingControlFrames) {
            auto dropped = queues.removeOldestDroppable();
            if (!dropped) break;
            dropped->seal.reject(FrameDropped());
        }
        self->run();
    });
}

void SendQueue::shutDown() {
    dispatchQueue_->async([self = shared_from_this()] {
        self->shutDown_ = true;
        // The frame in flight waits for the connection, if for anything here.
        self->connected_.resolver.reject(WebRTCError::channelClosed());
        while (auto item = self->queues_.removeFirst()) item->seal.reject(WebRTCError::channelClosed());
    });
}

void SendQueue::run() {
    // A control frame the channel takes at once is settled in this turn, and the next frame follows
    // in it: a turn of the queue for each would write one per pass over all the work queued
    // meanwhile, and under a burst of received messages their acknowledgements would pile up far
    // faster than they go out. A frame of a message still takes a turn of its own: written back to
    // back, a transfer would only fill the channel's buffers, and the peer's queue, faster than
    // they empty.
    while (!inFlight_) {
        auto item = queues_.removeFirst();
        if (!item) return;
        const bool control = item->kind != Kind::message;
        auto sent = send(*item);
        sent.pipeTo(item->seal);
        if (control && !sent.isPending()) continue;
        inFlight_ = true;
        sent.ensure(
            [weak = weak_from_this()] {
                if (auto self = weak.lock()) {
                    self->inFlight_ = false;
                    self->run();
                }
            },
            dispatchQueue_);
    }
}

Promise<void> SendQueue::send(Item& item) {
    // Connected already: write in this turn of the queue rather than the next.
    if (connected_.promise.isFulfilled()) return write(item.chunk(), std::move(item.passedOn));
    return connected_.promise.then(
        [weak = weak_from_this(), chunk = std::move(item.chunk), passedOn = std::move(item.passedOn)]() mutable {
            auto self = weak.lock();
            if (!self) return Promise<void>::error(std::make_exception_ptr(WebRTCError::notInitialized()));
            return self->write(chunk(), std::move(passedOn));
        },
        dispatchQueue_);
}

Promise<void> SendQueue::write(Frame data, std::function<void()> passedOn) {
    if (data.empty()) return Promise<void>::value();  // no longer wanted
    if (!dataChannel_) return Promise<void>::error(std::make_exception_ptr(WebRTCError::notInitialized()));
    return dataChannel_->sendData(std::move(data), std::move(passedOn));
}

}  // namespace quorvane
