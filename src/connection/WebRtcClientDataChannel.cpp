// WebRtcClient: the message layer's reports, the channel's opening and the heartbeat time-out.

#include "connection/RtcStateText.hpp"
#include "connection/WebRtcClientSupport.hpp"
#include "util/ErrorDescription.hpp"

namespace quorvane {

void WebRtcClient::dataChannelDidChange(DataChannelState state) {
    post([state](WebRtcClient& self) { self.handleDataChannelState(state); });
}

void WebRtcClient::dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t id) {
    post([data = std::move(data), id](WebRtcClient& self) mutable {
        self.report([&](TransportLayerDelegate& delegate) { delegate.transportLayerDidReceive(std::move(data), id); });
    });
}

void WebRtcClient::dataChannelWillReceiveMessage(std::uint16_t id, std::uint16_t category,
                                                 std::uint16_t numChunksReceived, std::uint16_t totalChunks) {
    post([=](WebRtcClient& self) {
        self.report([&](TransportLayerDelegate& delegate) {
            delegate.transportLayerWillReceiveMessage(id, category, numChunksReceived, totalChunks);
        });
    });
}

void WebRtcClient::dataChannelFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) {
    post([data, id](WebRtcClient& self) {
        self.report([&](TransportLayerDelegate& delegate) { delegate.transportLayerFailedToSend(data, id); });
    });
}

void WebRtcClient::dataChannelFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) {
    post([id, category](WebRtcClient& self) {
        self.report([&](TransportLayerDelegate& delegate) { delegate.transportLayerFailedToReceiveMessage(id, category); });
    });
}

void WebRtcClient::dataChannelFiredHeartbeatTimeout() {
    post([](WebRtcClient& self) { self.handleHeartbeatTimeout(); });
}

void WebRtcClient::handleDataChannelState(DataChannelState state) {
    log_.debug("dataChannelDidChangeState", "dataChannel did change state: " + std::string(toString(state)));
    // Only the opening of this generation's channel counts, and only once.
    if (state != DataChannelState::open || !hasDataChannel_) return;
    if (!connected_.resolver.fulfill()) return;
    isConnected_ = true;
    report([](TransportLayerDelegate& delegate) { delegate.transportLayerEstablishedConnection(); });
}

void WebRtcClient::handleHeartbeatTimeout() {
    // A late time-out of a channel already left (every reset leaves it, a terminal one too), or
    // one while a reconnect runs, starts nothing.
    if (reconnecting_ || !hasDataChannel_) return;
    startOver();
}

void WebRtcClient::startOver() {
    report([](TransportLayerDelegate& delegate) { delegate.transportLayerWillResetConnection(); });
    auto reconnected = startReconnect();
    reconnected.catchError(
        [client = weak_from_this(), generation = generation_](const std::exception_ptr& error) {
            auto self = client.lock();
            // A reset since then has taken over.
            if (!self || self->generation_ != generation) return;
            self->log_.error("reconnect", "Unexpected disconnect from webRTC");
            self->log_.error("checkForHeartbeat", errorDescription(error));
            self->endSession();
            self->report([](TransportLayerDelegate& delegate) { delegate.transportLayerDidDisconnect(false); });
        },
        queue_);
}

}  // namespace quorvane
