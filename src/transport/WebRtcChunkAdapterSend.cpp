// WebRtcChunkAdapter: sending, the outgoing record, resends and giving up.

#include "transport/WebRtcChunkAdapterSupport.hpp"

#include <limits>
#include <numeric>

#include "quorvane/Errors.hpp"

namespace quorvane {

namespace {

/// Every position of the message, to send it whole.
std::vector<std::uint16_t> allPositions(const Chunker& chunker) {
    std::vector<std::uint16_t> positions(chunker.chunkCount());
    std::iota(positions.begin(), positions.end(), std::uint16_t{0});
    return positions;
}

}  // namespace

Promise<void> WebRtcChunkAdapter::sendData(std::vector<std::uint8_t> data, std::uint16_t category,
                                           std::optional<std::uint16_t> retryId) {
    if (shutDown_) return Promise<void>::error(std::make_exception_ptr(WebRTCError::channelClosed()));
    auto sent = Promise<void>::pending();
    dispatchQueue_->async([self = shared_from_this(), data = std::move(data), category, retryId,
                           resolver = sent.resolver]() mutable {
        if (retryId) {
            self->resend(*retryId, nullptr, resolver);
        } else {
            self->sendNew(std::move(data), category, resolver);
        }
    });
    return sent.promise;
}

void WebRtcChunkAdapter::sendNew(std::vector<std::uint8_t> data, std::uint16_t category,
                                 const Resolver<void>& resolver) {
    if (shutDown_) {
        resolver.reject(WebRTCError::channelClosed());
        return;
    }
    if (data.size() > Chunker::maxMessageBytes) {
        log_.error(sendOperation, "Message of " + std::to_string(data.size()) + " bytes is too large to send");
        resolver.reject(WebRTCError::failedToSendData());
        return;
    }
    const auto id = nextMessageId();
    if (!id) {
        log_.error(sendOperation, "Every message id is held by an unacknowledged or retired message");
        resolver.reject(WebRTCError::failedToSendData());
        return;
    }
    auto chunker = std::make_shared<Chunker>(std::move(data), *id, category);
    outgoing_[*id] = Outgoing{chunker, {resolver}, 0, {}};
    chunkers_.set(*id, chunker);
    watchOutgoing(chunker);
    writeMessage(chunker, false);
}

void WebRtcChunkAdapter::resend(std::uint16_t id, const std::shared_ptr<Chunker>& expected,
                                std::optional<Resolver<void>> resolver) {
    auto chunker = chunkers_.get(id);
    auto* entry = chunker ? outgoing(*chunker) : nullptr;
    if (!entry || (expected && chunker != expected)) {
        // Acknowledged meanwhile: there is nothing left to send.
        if (resolver) resolver->fulfill();
        return;
    }
    if (resolver) entry->sends.push_back(*resolver);
    // A resent message does not wait behind the messages queued after it.
    writeMessage(chunker, chunker->isSingleChunk());
}

void WebRtcChunkAdapter::writeMessage(const std::shared_ptr<Chunker>& chunker, bool priority) {
    auto written = writeFrames(chunker, allPositions(*chunker), priority, false);
    written.done(
        [weak = weak_from_this(), chunker] {
            auto self = weak.lock();
            if (auto* entry = self ? self->outgoing(*chunker) : nullptr) settle(entry->sends, nullptr);
        },
        dispatchQueue_);
    written.catchError(
        [weak = weak_from_this(), chunker](const std::exception_ptr& error) {
            auto self = weak.lock();
            // A single-frame message is written again (on the next channel, or after its
            // time-out), so its sends wait for that; a multi-frame one with a frame missing
            // cannot arrive.
            if (self && !self->shutDown_ && !chunker->isSingleChunk()) self->outgoingFailed(chunker, error);
        },
        dispatchQueue_);
}

void WebRtcChunkAdapter::settle(std::vector<Resolver<void>>& sends, const std::exception_ptr& error) {
    for (const auto& send : std::exchange(sends, {})) {
        if (error) {
            send.reject(error);
        } else {
            send.fulfill();
        }
    }
}

std::optional<std::uint16_t> WebRtcChunkAdapter::nextMessageId() {
    // An id is retired only once its message is gone, so no id is counted twice. Counted rather
    // than searched: while every id is held, each further send is refused at once, not after a
    // walk over all of them that would hold up everything else on the queue.
    constexpr std::size_t ids = std::size_t{std::numeric_limits<std::uint16_t>::max()} + 1;
    if (outgoing_.size() + retiredIds_.size() >= ids) return std::nullopt;
    while (true) {
        const std::uint16_t id = messageId_++;
        if (!outgoing_.contains(id) && !retiredIds_.get(id)) return id;
    }
}

Promise<void> WebRtcChunkAdapter::writeFrames(const std::shared_ptr<Chunker>& chunker,
                                              const std::vector<std::uint16_t>& positions, bool priority, bool asked) {
    if (auto* entry = outgoing(*chunker)) {
        entry->framesInChannel += positions.size();
        if (entry->framesInChannel > 0) chunker->resetTimestamp(whileInChannel);
        if (asked) entry->askedPositions.insert(positions.begin(), positions.end());
    }
    std::vector<Promise<void>> writes;
    writes.reserve(positions.size());
    for (std::uint16_t position : positions) {
        auto left = [weak = weak_from_this(), chunker] {
            if (auto self = weak.lock()) self->frameLeftChannel(chunker);
        };
        // The frame is made when its turn comes: a message's frames never all exist at once. A
        // message acknowledged or given up meanwhile has no frame to write.
        auto frame = [weak = weak_from_this(), chunker, position] {
            auto self = weak.lock();
            auto* entry = self ? self->outgoing(*chunker) : nullptr;
            if (!entry) return SendQueue::Frame{};
            entry->onChannel = true;
            return chunker->frame(position);
        };
        auto write = queue_->enqueue(frame, priority, true, left);
        write.catchError([left](const std::exception_ptr&) { left(); }, dispatchQueue_);
        if (asked) {
            write.ensure(
                [weak = weak_from_this(), chunker, position] {
                    auto self = weak.lock();
                    if (auto* entry = self ? self->outgoing(*chunker) : nullptr) entry->askedPositions.erase(position);
                },
                dispatchQueue_);
        }
        writes.push_back(write);
    }
    return when(writes);
}

void WebRtcChunkAdapter::frameLeftChannel(const std::shared_ptr<Chunker>& chunker) {
    auto* entry = outgoing(*chunker);
    if (!entry || entry->framesInChannel == 0) return;
    if (--entry->framesInChannel == 0) chunker->resetTimestamp(now());
}

WebRtcChunkAdapter::Outgoing* WebRtcChunkAdapter::outgoing(const Chunker& chunker) {
    auto found = outgoing_.find(chunker.id());
    return found != outgoing_.end() && found->second.chunker.get() == &chunker ? &found->second : nullptr;
}

void WebRtcChunkAdapter::watchOutgoing(const std::shared_ptr<Chunker>& chunker) {
    chunker->completion().catchError(
        [weak = weak_from_this(), weakChunker = std::weak_ptr<Chunker>(chunker)](const std::exception_ptr& error) {
            auto self = weak.lock();
            auto chunker = weakChunker.lock();
            if (self && chunker) self->outgoingFailed(chunker, error);
        },
        dispatchQueue_);
}

void WebRtcChunkAdapter::outgoingFailed(const std::shared_ptr<Chunker>& chunker, const std::exception_ptr& error) {
    if (!outgoing(*chunker)) return;  // given up already
    const std::string id = std::to_string(chunker->id());
    if (!chunker->isSingleChunk()) {
        // Never resent: a peer keeps no record of the multi-frame messages it delivered, so a
        // frame sent again would open a new assembler there and deliver the message again.
        log_.error(sendOperation, "Failed to send large message with id " + id + ", timed out");
        giveUpOutgoing(chunker, error);
        return;
    }
    const bool retry = chunker->shouldRetry();
    log_.error(sendOperation, "Single chunk message with id " + id + " timed out. " +
                                  (retry ? "Resending message" : "Hit max retry limit, message will be dropped"));
    if (!retry) {
        giveUpOutgoing(chunker, error);
        return;
    }
    chunker->resetTimestamp(now());
    chunkers_.set(chunker->id(), chunker);
    watchOutgoing(chunker);  // the retry renewed its completion
    dispatchQueue_->async([weak = weak_from_this(), chunker] {
        if (auto self = weak.lock()) self->resend(chunker->id(), chunker, std::nullopt);
    });
}

void WebRtcChunkAdapter::giveUpOutgoing(const std::shared_ptr<Chunker>& chunker, const std::exception_ptr& error) {
    auto* entry = outgoing(*chunker);
    if (!entry) return;
    auto sends = std::move(entry->sends);
    outgoing_.erase(chunker->id());
    if (chunkers_.get(chunker->id()) == chunker) chunkers_.removeValue(chunker->id());
    if (!chunker->isSingleChunk()) retiredIds_.set(chunker->id(), std::make_shared<RetiredMessageId>());
    // The report first: a command or query hears why it failed before its hand-over fails.
    if (auto delegate = this->delegate()) delegate->dataChannelFailedToSend(chunker->data(), chunker->id());
    settle(sends, error);
}

void WebRtcChunkAdapter::endOutgoing() {
    const auto closed = std::make_exception_ptr(WebRTCError::channelClosed());
    for (auto& [id, entry] : outgoing_) settle(entry.sends, closed);
}

}  // namespace quorvane
