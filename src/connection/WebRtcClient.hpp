#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "connection/TransportLayer.hpp"
#include "connection/TransportLayerDelegate.hpp"
#include "log/ClassLogger.hpp"
#include "media/CameraMediaStreamContainer.hpp"
#include "media/ScreenCaptureMediaStreamContainer.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "quorvane/Promise.hpp"
#include "rtc/PeerConnectionConfiguration.hpp"
#include "rtc/PeerConnectionObserver.hpp"
#include "signaling/MqttTransport.hpp"
#include "signaling/SignalClientDelegate.hpp"
#include "transport/ChunkAdapterDelegate.hpp"

namespace quorvane {

namespace rtc {
class PeerConnection;
class RtcDataChannel;
}  // namespace rtc

class RtcPeerConnectionDelegate;
class SignalClient;
class WebRtcChunkAdapter;

/// The transport of one support session: meets the peer through the session's MQTT broker
/// (SignalClient), negotiates a WebRTC peer connection as the offer or the answer side, carries
/// application messages over its data channel (WebRtcChunkAdapter), and resets and reconnects
/// when the channel's heartbeats stop.
///
/// Threads. Every field is read and written on the client's serial queue "WebRtcClient" only.
/// The public operations may be called from any thread and hop there; WebRTC, MQTT and
/// message-layer reports are copied and hop there too, in the order they came, and every report
/// to the delegate is made from there.
///
/// Generations. Every reset starts a new generation. A promise chain or a peer-connection report
/// that belongs to an older generation stops without effect, so nothing a reset overtook can
/// act on what came after it.
///
/// The end. A reset asked for by the host, the peer's disconnect signal and a failed reconnect
/// end the session for good: the message layer is shut down (every message still waiting to be
/// written, and every later send, is rejected with WebRTCError::channelClosed), nothing
/// reconnects, and a later connect is rejected ("The session has ended"): a new session needs a
/// new client.
///
/// Repeated signals. A peer that connects to the broker afresh while this side's offer waits for
/// its answer may have missed the offer: it is published again. An offer of the peer's heard
/// again on the same connection is answered once; the answer already made goes out again. On the
/// answer side, an offer of another peer connection of the peer's than the one negotiated with
/// starts the session afresh, as a heartbeat time-out does.
///
/// Media. Every camera or screen stream handed in gets a container at once, kept for the
/// client's life; its track goes on every new peer connection before the offer or answer is
/// made, and on the current one when it is handed in later. Capture starts each time the
/// current peer connection reports the connected state, and ends with the session: at a
/// terminal reset and when the client is released.
class WebRtcClient final : public TransportLayer,
                           public SignalClientDelegate,
                           public ChunkAdapterDelegate,
                           public std::enable_shared_from_this<WebRtcClient> {
public:
    /// A client for the session and broker of `configuration`, not connected yet. Null, after an
    /// error line stored whatever the log retention ("Signal server web socket port
    /// unavailable"), when the broker offers neither an `ssl` nor a `wss` port, or after an error
    /// line with the reason when its port is out of range. `makeTransport` replaces the MQTT
    /// client (tests and tools).
    static std::shared_ptr<WebRtcClient> create(const TransportLayerConfiguration& configuration,
                                                MqttTransportFactory makeTransport = {});

    /// Logs "WebRtcClient deinitialized", ends signaling and closes the peer connection and its
    /// data channel; no disconnect signal is sent.
    ~WebRtcClient() override;
    WebRtcClient(const WebRtcClient&) = delete;
    WebRtcClient& operator=(const WebRtcClient&) = delete;

    void setDelegate(std::weak_ptr<TransportLayerDelegate> delegate) override;

    /// Resets (making a fresh peer connection), connects to signaling, opens the data channel and
    /// publishes the offer once the peer has joined. Fulfilled once the offer is published. When
    /// it fails, the session has ended: sends are refused from then on.
    Promise<void> connectAsOffer() override;
    /// Resets (making a fresh peer connection) and connects to signaling; fulfilled once
    /// connected. The answer is made when the peer's offer arrives. When it fails, the session
    /// has ended: sends are refused from then on.
    Promise<void> connectAsAnswer() override;
    /// Ends the session's transport for good: sends are refused from the call on; with
    /// `sendDisconnect` and a peer connection the disconnect signal goes to the peer first; then
    /// the data channel and the peer connection are closed and signaling is reset, and no new
    /// peer connection is made. When the signal fails, or is not sent within the client's
    /// time-out, the reset happens all the same and the promise is then rejected with the
    /// signal's failure.
    Promise<void> resetState(bool sendDisconnect) override;
    /// Repeats the side's connect after a heartbeat time-out. Fulfilled once the new data channel
    /// is open; rejected when that does not happen within the client's time-out. A reconnect
    /// already under way is joined, not started again; after a terminal reset nothing is started
    /// and the promise is rejected with "Resetting connection".
    Promise<void> reconnect();

    Promise<void> sendMessage(std::vector<std::uint8_t> data, std::uint16_t category,
                              std::shared_ptr<SessionMetrics> metrics) override;
    bool isConnected() const override { return isConnected_; }

    /// Sets up a camera stream (its track joins the peer connection; capture starts once it is
    /// connected). Always true.
    bool addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) override;
    /// Sets up the screen stream as addVideoStream does a camera; false, and nothing else, when a
    /// screen stream was handed in before.
    bool addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) override;

    // Signaling reports, on "signalClientQueue".
    void signalClientDidReceiveOffer(const std::string& sdp) override;
    void signalClientDidReceiveAnswer(const std::string& sdp) override;
    void signalClientDidReceiveCandidate(const SignalIceCandidate& candidate) override;
    void signalClientDidReceiveDisconnect() override;
    void signalClientPeerDidRejoin() override;

    // Message-layer reports: the state change on the channel's thread, the rest on
    // "WebRtcChunkAdapter".
    void dataChannelDidChange(DataChannelState state) override;
    void dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t id) override;
    void dataChannelWillReceiveMessage(std::uint16_t id, std::uint16_t category, std::uint16_t numChunksReceived,
                                       std::uint16_t totalChunks) override;
    void dataChannelFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) override;
    void dataChannelFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) override;
    void dataChannelFiredHeartbeatTimeout() override;

private:
    friend class RtcPeerConnectionDelegate;
    friend struct WebRtcClientTesting;

    using Generation = std::uint64_t;

    WebRtcClient(const TransportLayerConfiguration& configuration, std::shared_ptr<SignalClient> signals);

    /// Runs `step` on the queue with the client held; its promise settles the result.
    template <class Step>
    Promise<void> onQueue(Step step);
    /// Runs `work` on the queue later, if the client is still alive then.
    template <class Work>
    void post(Work work);
    /// Runs `work` on the queue and waits for it (at once when already there).
    template <class Work>
    void runOnQueue(Work work);
    /// Makes one report to the delegate, if it is alive; on the queue.
    template <class Report>
    void report(Report report) const;

    // Connection life; on the queue.
    /// The host's connect: when it fails and no reset has taken over, the session ends (sends
    /// are refused from then on).
    Promise<void> firstConnect(bool asOffer);
    Promise<void> startConnect(bool asOffer);
    Promise<void> offerSteps();
    /// Publishes this side's offer of `generation`, unless a reset has overtaken it, and keeps it
    /// as the offer whose answer is due.
    Promise<void> publishOffer(Generation generation, const std::string& sdp);
    Promise<void> startReconnect();
    Promise<void> terminalReset(bool sendDisconnect);
    /// Starts a new generation: what belongs to the previous one stops.
    void beginGeneration();
    /// Rejects and renews the pending pairs, closes the peer connection and resets signaling.
    void tearDownConnection();
    /// Ends the session after the peer left or a reconnect failed: nothing reconnects afterwards.
    void endSession();
    void createRtcConnection();
    void closeRtcConnection();
    /// The client, when `generation` is still the current one; otherwise throws what the step of
    /// a chain overtaken by a reset fails with.
    static std::shared_ptr<WebRtcClient> current(const std::weak_ptr<WebRtcClient>& client, Generation generation);

    // Media; on the queue.
    void setupVideoStream(const std::shared_ptr<VideoStreamConfiguration<CameraFormat>>& configuration);
    void setupScreenShare(const std::shared_ptr<VideoStreamConfiguration<ScreenFormat>>& configuration);
    /// Keeps `container`, makes its track and, while there is a peer connection, adds it there;
    /// starts capture when that connection is connected.
    template <class Container>
    void setUpStream(std::vector<std::shared_ptr<Container>>& containers, std::shared_ptr<Container> container);
    /// Puts every stream's track on the peer connection just made.
    void attachMediaTracks();
    /// Adds the track of `container` to the current peer connection; a refusal is logged and
    /// reported as the stream's failure. Whether it was added.
    template <class Container>
    bool attachTrack(const std::shared_ptr<Container>& container);
    /// Starts capture on every stream whose track is on the current peer connection, the screen
    /// first; each outcome is reported.
    void startCapture();
    template <class Container>
    void startCaptureOf(const std::shared_ptr<Container>& container);
    /// Stops capture on every stream: the session is over.
    void stopCapture();
    /// Whether the current peer connection has reported the connected state and not left it.
    bool peerConnected() const { return peerConnection_ && connectedGeneration_ == generation_; }

    // Signaling events; on the queue.
    void handleOffer(const std::string& sdp);
    Promise<void> applyOffer(const std::shared_ptr<rtc::PeerConnection>& connection, const std::string& sdp);
    void handleAnswer(const std::string& sdp);
    void handleCandidate(const SignalIceCandidate& candidate);
    void handleDisconnect();
    /// Publishes the offer whose answer is due again: the peer has reconnected to signaling.
    void handlePeerRejoin();

    // Data-channel events; on the queue.
    void handleDataChannelState(DataChannelState state);
    void handleHeartbeatTimeout();
    /// Reports the reset and reconnects; the session ends when the reconnect fails.
    void startOver();

    // Peer-connection events of the connection made in `generation`; on the queue.
    void didChangeSignalingState(rtc::SignalingState state);
    void didAddReceiver(const std::vector<std::string>& codecNames);
    void didChangeConnectionState(Generation generation, rtc::PeerConnectionState state);
    void shouldNegotiate(Generation generation);
    /// Makes and publishes an offer when signaling is joined and the connection is stable.
    void negotiate(Generation generation);
    void didChangeIceConnectionState(Generation generation, rtc::IceConnectionState state);
    void didChangeIceGatheringState(rtc::IceGatheringState state);
    void didGenerateIceCandidate(Generation generation, const rtc::IceCandidate& candidate);
    void didRemoveIceCandidates();
    void didOpenDataChannel(Generation generation, std::shared_ptr<rtc::RtcDataChannel> channel);

    ClassLogger log_;
    const DispatchQueuePtr queue_;
    const WebRtcClientRole role_;
    /// Every peer connection's configuration, with the session's ICE servers.
    const rtc::PeerConnectionConfiguration configuration_;
    /// Bounds a reconnect and the disconnect signal, in seconds; no bound when not positive.
    const int timeout_;
    const std::shared_ptr<SignalClient> signals_;
    const std::shared_ptr<WebRtcChunkAdapter> dataChannelManager_;

    // On the queue only.
    std::weak_ptr<TransportLayerDelegate> delegate_;
    std::shared_ptr<rtc::PeerConnection> peerConnection_;
    std::shared_ptr<RtcPeerConnectionDelegate> peerConnectionEvents_;  ///< lives as long as the connection
    PendingPromise<std::shared_ptr<rtc::PeerConnection>> hasPeerConnection_;
    PendingPromise<void> receivedRemoteSession_;
    PendingPromise<void> connected_;
    int candidateIndex_ = 1;
    Generation generation_ = 0;
    bool terminated_ = false;                    ///< the session has ended for good
    std::optional<Promise<void>> reconnecting_;  ///< the reconnect under way
    bool makingOffer_ = false;                   ///< an offer of this side is being made
    int answeringOffers_ = 0;                    ///< offers of the peer being answered
    bool hasDataChannel_ = false;                ///< this generation's data channel is with the message layer
    std::optional<std::string> sentOffer_;       ///< this generation's latest offer handed to signaling
    std::optional<std::string> answeredOffer_;   ///< the peer's offer being answered or answered last
    std::optional<std::string> sentAnswer_;      ///< the answer made for answeredOffer_
    std::optional<std::string> peerFingerprint_; ///< of the peer connection whose offers this one answers
    std::optional<Generation> connectedGeneration_;  ///< whose connection reported connected last
    std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> screenCaptureInitializer_;  ///< the one accepted
    std::vector<std::shared_ptr<CameraMediaStreamContainer>> cameraContainers_;  ///< in order of set-up
    std::vector<std::shared_ptr<ScreenCaptureMediaStreamContainer>> screenContainers_;
    std::vector<const MediaStreamContainer*> attachedStreams_;  ///< whose track is on the current connection
    /// What new containers capture with: the machine's cameras and screen (tests replace them).
    CameraVideoCaptureFactory cameraCaptureFactory_;
    ScreenCaptureFactory screenCaptureFactory_;

    /// isConnected() for callers on other threads; written on the queue.
    std::atomic<bool> isConnected_{false};
};

}  // namespace quorvane
