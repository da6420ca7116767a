#include "rtc/PeerConnection.hpp"

#include <api/jsep.h>
#include <api/make_ref_counted.h>
#include <api/peer_connection_interface.h>
#include <api/rtc_error.h>
#include <api/set_local_description_observer_interface.h>
#include <api/set_remote_description_observer_interface.h>

#include "quorvane/QVError.hpp"
#include "rtc/NativeConversions.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/RtcDataChannel.hpp"
#include "rtc/RtcError.hpp"
#include "rtc/VideoTrack.hpp"
#include "rtc/WebRtcLog.hpp"

namespace quorvane::rtc {

namespace {

constexpr const char* kDataChannelLabel = "quorvane";

std::exception_ptr toException(const webrtc::RTCError& error) {
    return std::make_exception_ptr(RtcError(webrtc::ToString(error.type()), error.message()));
}

/// Holds the resolver of one WebRTC operation. WebRTC drops an operation's observer without
/// calling it when the connection is closed or released first; the promise is then rejected
/// instead of staying pending for ever.
template <class T>
class Settlement {
public:
    explicit Settlement(Resolver<T> resolver) : resolver_(std::move(resolver)) {}
    ~Settlement() {
        resolver_.reject(RtcError(webrtc::ToString(webrtc::RTCErrorType::INVALID_STATE),
                                  "The peer connection was closed before the operation completed"));
    }
    Settlement(const Settlement&) = delete;
    Settlement& operator=(const Settlement&) = delete;

    const Resolver<T>& resolver() const { return resolver_; }

private:
    Resolver<T> resolver_;
};

/// Settles the promise of an offer or answer.
class CreateDescriptionObserver : public webrtc::CreateSessionDescriptionObserver {
public:
    CreateDescriptionObserver(Resolver<std::string> resolver, std::string missingText)
        : settlement_(std::move(resolver)), missingText_(std::move(missingText)) {}

    void OnSuccess(webrtc::SessionDescriptionInterface* description) override {
        std::unique_ptr<webrtc::SessionDescriptionInterface> owned(description);
        std::string sdp;
        if (!owned || !owned->ToString(&sdp)) {
            settlement_.resolver().reject(QVError(missingText_));
            return;
        }
        settlement_.resolver().fulfill(std::move(sdp));
    }

    void OnFailure(webrtc::RTCError error) override { settlement_.resolver().reject(toException(error)); }

private:
    Settlement<std::string> settlement_;
    std::string missingText_;
};

/// Settles the promise of a local or remote description once WebRTC has applied it.
class DescriptionSetting {
public:
    DescriptionSetting(Resolver<SessionDescription> resolver, SessionDescription description)
        : settlement_(std::move(resolver)), description_(std::move(description)) {}

    void complete(const webrtc::RTCError& error) {
        if (error.ok()) {
            settlement_.resolver().fulfill(description_);
        } else {
            settlement_.resolver().reject(toException(error));
        }
    }

private:
    Settlement<SessionDescription> settlement_;
    SessionDescription description_;
};

class SetLocalDescriptionObserver : public webrtc::SetLocalDescriptionObserverInterface {
public:
    SetLocalDescriptionObserver(Resolver<SessionDescription> resolver, SessionDescription description)
        : setting_(std::move(resolver), std::move(description)) {}
    void OnSetLocalDescriptionComplete(webrtc::RTCError error) override { setting_.complete(error); }

private:
    DescriptionSetting setting_;
};

class SetRemoteDescriptionObserver : public webrtc::SetRemoteDescriptionObserverInterface {
public:
    SetRemoteDescriptionObserver(Resolver<SessionDescription> resolver, SessionDescription description)
        : setting_(std::move(resolver), std::move(description)) {}
    void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override { setting_.complete(error); }

private:
    DescriptionSetting setting_;
};

/// Runs one report for the observer; nothing may be thrown back into WebRTC's thread.
template <class Report>
void deliver(Report report) noexcept {
    try {
        report();
    } catch (...) {
        // The observer's own failure has nowhere to go from WebRTC's thread.
    }
}

}  // namespace

/// Turns WebRTC's observer calls into calls of the PeerConnectionObserver, copying what they
/// hand over. It lives as long as the connection it reports for.
class PeerConnection::ObserverBridge : public webrtc::PeerConnectionObserver {
public:
    ObserverBridge(std::weak_ptr<PeerConnection> connection, std::weak_ptr<rtc::PeerConnectionObserver> observer,
                   std::shared_ptr<PeerConnectionFactory> factory)
        : connection_(std::move(connection)), observer_(std::move(observer)), factory_(std::move(factory)) {}

    void OnSignalingChange(NativeConnection::SignalingState state) override {
        report([&](auto& observer, auto& connection) {
            observer.peerConnectionDidChangeSignalingState(connection, fromNative(state));
        });
    }

    void OnAddTrack(::rtc::scoped_refptr<webrtc::RtpReceiverInterface> receiver,
                    const std::vector<::rtc::scoped_refptr<webrtc::MediaStreamInterface>>&) override {
        std::vector<std::string> codecNames;
        for (const auto& codec : receiver->GetParameters().codecs) codecNames.push_back(codec.name);
        report([&](auto& observer, auto& connection) {
            observer.peerConnectionDidAddReceiver(connection, std::move(codecNames));
        });
    }

    void OnConnectionChange(NativeConnection::PeerConnectionState state) override {
        report([&](auto& observer, auto& connection) {
            observer.peerConnectionDidChangeConnectionState(connection, fromNative(state));
        });
    }

    void OnRenegotiationNeeded() override {
        report([&](auto& observer, auto& connection) { observer.peerConnectionShouldNegotiate(connection); });
    }

    void OnIceConnectionChange(NativeConnection::IceConnectionState state) override {
        report([&](auto& observer, auto& connection) {
            observer.peerConnectionDidChangeIceConnectionState(connection, fromNative(state));
        });
    }

    void OnIceGatheringChange(NativeConnection::IceGatheringState state) override {
        report([&](auto& observer, auto& connection) {
            observer.peerConnectionDidChangeIceGatheringState(connection, fromNative(state));
        });
    }

    void OnIceCandidate(const webrtc::IceCandidateInterface* candidate) override {
        if (!candidate) return;
        auto copy = fromNative(*candidate);
        report([&](auto& observer, auto& connection) {
            observer.peerConnectionDidGenerateIceCandidate(connection, std::move(copy));
        });
    }

    void OnIceCandidatesRemoved(const std::vector<cricket::Candidate>& candidates) override {
        std::vector<IceCandidate> copies;
        for (const auto& candidate : candidates) {
            // Removed candidates name their transport but not their media section's index.
            auto native = webrtc::CreateIceCandidate(candidate.transport_name(), -1, candidate);
            copies.push_back(fromNative(*native));
        }
        report([&](auto& observer, auto& connection) {
            observer.peerConnectionDidRemoveIceCandidates(connection, std::move(copies));
        });
    }

    void OnDataChannel(::rtc::scoped_refptr<webrtc::DataChannelInterface> channel) override {
        auto wrapped = RtcDataChannel::wrap(channel.get(), factory_);
        report([&](auto& observer, auto& connection) {
            observer.peerConnectionDidOpenDataChannel(connection, std::move(wrapped));
        });
    }

private:
    /// Calls `call(observer, connection)` while both are alive. Nothing of the bridge is touched
    /// afterwards: the call may release the last reference to the connection, and the bridge
    /// with it.
    template <class Call>
    void report(Call call) {
        auto observer = observer_.lock();
        auto connection = connection_.lock();
        if (!observer || !connection) return;
        deliver([&] { call(*observer, connection); });
    }

    std::weak_ptr<PeerConnection> connection_;
    std::weak_ptr<rtc::PeerConnectionObserver> observer_;
    std::shared_ptr<PeerConnectionFactory> factory_;
};

struct PeerConnection::Impl {
    // Declared first, released last: the factory's threads outlive the connection's proxies.
    std::shared_ptr<PeerConnectionFactory> factory;
    std::unique_ptr<WebRtcLog> log;  // also for the lines of the closing
    std::unique_ptr<ObserverBridge> bridge;
    ::rtc::scoped_refptr<NativeConnection> native;

    ~Impl() {
        // After Close() returns WebRTC calls the bridge no more; only then may it go.
        if (native) native->Close();
        native = nullptr;
        bridge.reset();
    }
};

PeerConnection::PeerConnection(std::shared_ptr<PeerConnectionFactory> factory, std::shared_ptr<ZephLogger> logger)
    : impl_(std::make_unique<Impl>()) {
    impl_->factory = std::move(factory);
    impl_->log = std::make_unique<WebRtcLog>(std::move(logger));
}

PeerConnection::~PeerConnection() = default;

bool PeerConnection::open(webrtc::PeerConnectionFactoryInterface& factory,
                          const PeerConnectionConfiguration& configuration, std::weak_ptr<PeerConnection> self,
                          std::weak_ptr<PeerConnectionObserver> observer) {
    impl_->bridge = std::make_unique<ObserverBridge>(std::move(self), std::move(observer), impl_->factory);
    auto created = factory.CreatePeerConnectionOrError(toNative(configuration),
                                                       webrtc::PeerConnectionDependencies(impl_->bridge.get()));
    if (!created.ok()) return false;
    impl_->native = created.MoveValue();
    return true;
}

Promise<std::string> PeerConnection::createOffer(std::optional<Constraints> mandatoryConstraints,
                                                 std::optional<Constraints> optionalConstraints) {
    auto pending = Promise<std::string>::pending();
    auto observer = ::rtc::make_ref_counted<CreateDescriptionObserver>(pending.resolver,
                                                                      "Cannot create offer for connection");
    impl_->native->CreateOffer(observer.get(), toOptions(mandatoryConstraints, optionalConstraints));
    return pending.promise;
}

Promise<std::string> PeerConnection::createAnswer(std::optional<Constraints> mandatoryConstraints,
                                                  std::optional<Constraints> optionalConstraints) {
    auto pending = Promise<std::string>::pending();
    auto observer = ::rtc::make_ref_counted<CreateDescriptionObserver>(pending.resolver,
                                                                      "Cannot create answer for connection");
    impl_->native->CreateAnswer(observer.get(), toOptions(mandatoryConstraints, optionalConstraints));
    return pending.promise;
}

namespace {

/// Parses `sdp` as a description of `type`; on failure rejects `resolver` and returns null.
std::unique_ptr<webrtc::SessionDescriptionInterface> parseDescription(SdpType type, const std::string& sdp,
                                                                       const Resolver<SessionDescription>& resolver) {
    webrtc::SdpParseError error;
    auto parsed = webrtc::CreateSessionDescription(toNative(type), sdp, &error);
    if (!parsed) {
        resolver.reject(RtcError(webrtc::ToString(webrtc::RTCErrorType::SYNTAX_ERROR),
                                 "Failed to parse session description: " + error.description));
    }
    return parsed;
}

}  // namespace

Promise<SessionDescription> PeerConnection::setLocalDescription(SdpType type, std::string sdp) {
    auto pending = Promise<SessionDescription>::pending();
    auto parsed = parseDescription(type, sdp, pending.resolver);
    if (!parsed) return pending.promise;
    auto observer = ::rtc::make_ref_counted<SetLocalDescriptionObserver>(pending.resolver,
                                                                        SessionDescription{type, std::move(sdp)});
    impl_->native->SetLocalDescription(std::move(parsed), observer);
    return pending.promise;
}

Promise<SessionDescription> PeerConnection::setRemoteDescription(SdpType type, std::string sdp) {
    auto pending = Promise<SessionDescription>::pending();
    auto parsed = parseDescription(type, sdp, pending.resolver);
    if (!parsed) return pending.promise;
    auto observer = ::rtc::make_ref_counted<SetRemoteDescriptionObserver>(pending.resolver,
                                                                        SessionDescription{type, std::move(sdp)});
    impl_->native->SetRemoteDescription(std::move(parsed), observer);
    return pending.promise;
}

Promise<void> PeerConnection::addIceCandidate(const IceCandidate& candidate) {
    auto pending = Promise<void>::pending();
    webrtc::SdpParseError error;
    std::unique_ptr<webrtc::IceCandidateInterface> parsed(
        webrtc::CreateIceCandidate(candidate.sdpMid, candidate.sdpMLineIndex, candidate.sdp, &error));
    if (!parsed) {
        pending.resolver.reject(RtcError(webrtc::ToString(webrtc::RTCErrorType::SYNTAX_ERROR),
                                         "Failed to parse ICE candidate: " + error.description));
        return pending.promise;
    }
    auto settlement = std::make_shared<Settlement<void>>(pending.resolver);
    impl_->native->AddIceCandidate(std::move(parsed), [settlement](webrtc::RTCError result) {
        if (result.ok()) {
            settlement->resolver().fulfill();
        } else {
            settlement->resolver().reject(toException(result));
        }
    });
    return pending.promise;
}

std::shared_ptr<RtcDataChannel> PeerConnection::createDataChannel() {
    webrtc::DataChannelInit init;
    init.ordered = false;
    // No retransmission limit: under load the transport resends a lost chunk again and again
    // behind acknowledgements of older ones, and with a limit it gives the chunk up, which costs
    // the message layer a 15 s wait for its retry request.
    auto created = impl_->native->CreateDataChannelOrError(kDataChannelLabel, &init);
    if (!created.ok()) return nullptr;
    return RtcDataChannel::wrap(created.value().get(), impl_->factory);
}

bool PeerConnection::addTrack(const VideoTrack& track, const std::vector<std::string>& streamIds) {
    auto sender = impl_->native->AddTrack(::rtc::scoped_refptr<webrtc::MediaStreamTrackInterface>(track.native()),
                                          streamIds);
    return sender.ok();
}

std::vector<PeerConnection::RemoteVideoTrack> PeerConnection::remoteVideoTracks() const {
    std::vector<RemoteVideoTrack> tracks;
    for (const auto& transceiver : impl_->native->GetTransceivers()) {
        const auto direction = transceiver->current_direction();
        const bool receives = direction == webrtc::RtpTransceiverDirection::kSendRecv ||
                              direction == webrtc::RtpTransceiverDirection::kRecvOnly;
        if (transceiver->media_type() != cricket::MEDIA_TYPE_VIDEO || !receives) continue;
        const auto receiver = transceiver->receiver();
        auto* track = static_cast<webrtc::VideoTrackInterface*>(receiver->track().get());
        if (!track) continue;
        tracks.push_back({receiver->stream_ids(), std::shared_ptr<VideoTrack>(new VideoTrack(impl_->factory, track))});
    }
    return tracks;
}

bool PeerConnection::hasUnsentTracks() const {
    for (const auto& transceiver : impl_->native->GetTransceivers()) {
        if (transceiver->stopped() || !transceiver->sender()->track()) continue;
        const auto direction = transceiver->current_direction();
        if (direction != webrtc::RtpTransceiverDirection::kSendRecv &&
            direction != webrtc::RtpTransceiverDirection::kSendOnly) {
            return true;
        }
    }
    return false;
}

SignalingState PeerConnection::signalingState() const { return fromNative(impl_->native->signaling_state()); }

PeerConnectionConfiguration PeerConnection::configuration() const {
    return fromNative(impl_->native->GetConfiguration());
}

void PeerConnection::restartIce() { impl_->native->RestartIce(); }

void PeerConnection::close() { impl_->native->Close(); }

}  // namespace quorvane::rtc
