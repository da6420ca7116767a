// WebRtcChunkAdapter: construction and the channel's hand-over: attaching, closing, its state reports.

#include "transport/WebRtcChunkAdapterSupport.hpp"

#include "quorvane/Errors.hpp"

namespace quorvane {

WebRtcChunkAdapter::WebRtcChunkAdapter(std::shared_ptr<ZephLogger> logger)
    : WebRtcChunkAdapter(std::move(logger), Settings{}) {}

WebRtcChunkAdapter::WebRtcChunkAdapter(std::shared_ptr<ZephLogger> logger, Settings settings)
    : log_(logger, "WebRtcChunkAdapter"),
      settings_(settings),
      dispatchQueue_(DispatchQueue::create("WebRtcChunkAdapter")),
      logger_(std::move(logger)),
      chunkers_(dispatchQueue_),
      unchunkers_(dispatchQueue_),
      singleChunks_(dispatchQueue_),
      finishedChunked_(dispatchQueue_),
      retiredIds_(dispatchQueue_),
      queue_(std::make_shared<SendQueue>(dispatchQueue_)) {}

WebRtcChunkAdapter::~WebRtcChunkAdapter() {
    log_.debug("Deinit", "WebRtcChunkAdapter deinitialized");
    // Released without shutDown: nothing waits for ever. No step of the queue can reach the
    // adapter any more, so its record is touched here.
    shutDown_ = true;
    queue_->shutDown();
    endOutgoing();
    closeDataChannel();
}

void WebRtcChunkAdapter::setDelegate(std::weak_ptr<ChunkAdapterDelegate> delegate) {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
}

std::shared_ptr<ChunkAdapterDelegate> WebRtcChunkAdapter::delegate() const {
    std::lock_guard lock(mutex_);
    return delegate_.lock();
}

void WebRtcChunkAdapter::set(std::shared_ptr<DataChannel> dataChannel) {
    auto wrapper = DataChannelWrapper::create(std::move(dataChannel), logger_, dispatchQueue_, weak_from_this());
    std::shared_ptr<DataChannelWrapper> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(dataChannel_, wrapper);
        dataChannelOpened_ = false;
        // Before the new channel can report: its open state then reaches the send queue after it.
        queue_->set(wrapper);
    }
    // Released outside the lock: releasing a channel may wait for its thread.
    if (previous) {
        previous->detach();
        previous.reset();
        onQueue(&WebRtcChunkAdapter::channelWentAway);
    }
    // Ahead of every frame of the new channel, which the attach below may hand over at once.
    onQueue(&WebRtcChunkAdapter::abandonIncoming);
    chunkers_.resume();
    unchunkers_.resume();
    singleChunks_.resume();
    finishedChunked_.resume();
    retiredIds_.resume();
    onQueue(&WebRtcChunkAdapter::holdMessagesInChannel);
    // Registering waits for the channel's thread, where the reports come from.
    wrapper->attach();
}

void WebRtcChunkAdapter::closeDataChannel() {
    std::shared_ptr<DataChannelWrapper> wrapper;
    {
        std::lock_guard lock(mutex_);
        wrapper = std::move(dataChannel_);
        dataChannel_.reset();
    }
    queue_->didDisconnect();
    chunkers_.pause();
    unchunkers_.pause();
    singleChunks_.pause();
    finishedChunked_.pause();
    retiredIds_.pause();
    onQueue(&WebRtcChunkAdapter::channelWentAway);
    if (wrapper) wrapper->close();
}

void WebRtcChunkAdapter::shutDown() {
    shutDown_ = true;
    // Before the close, whose disconnect would fail the frame waiting for the connection otherwise.
    queue_->shutDown();
    // Also before it: a transfer the close takes away ends with the session, not with a reset.
    onQueue(&WebRtcChunkAdapter::endOutgoing);
    closeDataChannel();
}

void WebRtcChunkAdapter::dataChannelDidChange(DataChannelState state, DataChannelWrapper& channel) {
    std::shared_ptr<ChunkAdapterDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        // A replaced or closed channel's reports must not disturb the current one.
        if (dataChannel_.get() != &channel) return;
        if (state == DataChannelState::open) {
            // The resends of a new channel are queued before the queue may write: they go ahead
            // of every frame that waited for the channel.
            if (!std::exchange(dataChannelOpened_, true)) onQueue(&WebRtcChunkAdapter::channelOpened);
            queue_->didConnect();
        } else {
            queue_->didDisconnect();
            if (state == DataChannelState::closing || state == DataChannelState::closed) {
                onQueue(&WebRtcChunkAdapter::channelWentAway);
            }
        }
        delegate = delegate_.lock();
    }
    if (delegate) delegate->dataChannelDidChange(state);
}

void WebRtcChunkAdapter::onQueue(void (WebRtcChunkAdapter::*step)()) {
    dispatchQueue_->async([weak = weak_from_this(), step] {
        if (auto self = weak.lock()) (self.get()->*step)();
    });
}

void WebRtcChunkAdapter::dataChannelFiredHeartbeatTimeout(DataChannelWrapper& channel) {
    std::shared_ptr<ChunkAdapterDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        if (dataChannel_.get() != &channel) return;
        delegate = delegate_.lock();
    }
    if (delegate) delegate->dataChannelFiredHeartbeatTimeout();
}

void WebRtcChunkAdapter::holdMessagesInChannel() {
    for (auto& [id, entry] : outgoing_) {
        if (entry.framesInChannel > 0) entry.chunker->resetTimestamp(whileInChannel);
    }
}

void WebRtcChunkAdapter::channelWentAway() {
    // At the session's end nothing is given up: a message not written whole was rejected as
    // closed, and one written whole waits for an acknowledgement that can no longer come, so
    // whoever waits for it ends by its own time-out.
    if (shutDown_) return;
    std::vector<std::shared_ptr<Chunker>> lost;
    for (auto& [id, entry] : outgoing_) {
        if (!std::exchange(entry.onChannel, false)) continue;
        if (entry.chunker->isSingleChunk()) {
            entry.resendOnOpen = true;
        } else {
            lost.push_back(entry.chunker);
        }
    }
    const auto reset = std::make_exception_ptr(WebRTCError::connectionReset());
    for (const auto& chunker : lost) outgoingFailed(chunker, reset);
}

void WebRtcChunkAdapter::channelOpened() {
    std::vector<std::shared_ptr<Chunker>> again;
    for (auto& [id, entry] : outgoing_) {
        // Not waiting in the queue: written to a channel that went away, or its write failed.
        const bool unqueued = std::exchange(entry.resendOnOpen, false) || entry.framesInChannel == 0;
        if (entry.chunker->isSingleChunk() && unqueued) again.push_back(entry.chunker);
    }
    if (again.empty()) return;
    log_.debug(sendOperation, "Resending " + std::to_string(again.size()) +
                                  " unacknowledged single chunk messages on the new channel");
    for (const auto& chunker : again) resend(chunker->id(), chunker, std::nullopt);
}

}  // namespace quorvane
