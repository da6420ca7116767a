#include "rtc/PeerConnectionFactory.hpp"

#include "util/OpenSsl.hpp"

#include <api/audio_codecs/builtin_audio_decoder_factory.h>
#include <api/audio_codecs/builtin_audio_encoder_factory.h>
#include <api/create_peerconnection_factory.h>
#include <api/peer_connection_interface.h>
#include <api/video_codecs/builtin_video_decoder_factory.h>
#include <api/video_codecs/builtin_video_encoder_factory.h>
#include <modules/audio_device/include/fake_audio_device.h>
#include <rtc_base/network_constants.h>
#include <rtc_base/ssl_adapter.h>
#include <rtc_base/thread.h>

#include "rtc/PeerConnection.hpp"
#include "rtc/VideoSource.hpp"
#include "rtc/VideoTrack.hpp"
#include "rtc/WebRtcLog.hpp"

namespace quorvane::rtc {

namespace {

/// An audio device that does nothing, for the whole process: never destroyed, since WebRTC's
/// threads may use it until the process has ended (it is not reference counted).
webrtc::AudioDeviceModule* silentAudioDevice() {
    static auto* const device = new webrtc::FakeAudioDeviceModule();
    return device;
}

}  // namespace

struct PeerConnectionFactory::Impl {
    std::unique_ptr<::rtc::Thread> network = ::rtc::Thread::CreateWithSocketServer();
    std::unique_ptr<::rtc::Thread> worker = ::rtc::Thread::Create();
    std::unique_ptr<::rtc::Thread> signaling = ::rtc::Thread::Create();
    ::rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory;

    Impl() {
        WebRtcLog::install();
        // Connections may still be closing on the factory's threads while the process exits:
        // OpenSSL must not tear its state down under them.
        initializeOpenSsl();
        ::rtc::InitializeSSL();
        network->SetName("quorvane-rtc-network", nullptr);
        worker->SetName("quorvane-rtc-worker", nullptr);
        signaling->SetName("quorvane-rtc-signaling", nullptr);
        network->Start();
        worker->Start();
        signaling->Start();
        factory = webrtc::CreatePeerConnectionFactory(
            network.get(), worker.get(), signaling.get(),
            ::rtc::scoped_refptr<webrtc::AudioDeviceModule>(silentAudioDevice()),
            webrtc::CreateBuiltinAudioEncoderFactory(), webrtc::CreateBuiltinAudioDecoderFactory(),
            webrtc::CreateBuiltinVideoEncoderFactory(), webrtc::CreateBuiltinVideoDecoderFactory(),
            nullptr, nullptr);
    }

    ~Impl() {
        // The factory proxy is released on the signaling thread: it must still run.
        factory = nullptr;
        if (network->IsCurrent() || worker->IsCurrent() || signaling->IsCurrent()) {
            // Only at exit can the last owner let go on one of these threads (a report in flight
            // held the last connection). A thread cannot stop itself: they end with the process.
            network.release();
            worker.release();
            signaling.release();
            return;
        }
        signaling->Stop();
        worker->Stop();
        network->Stop();
    }
};

std::shared_ptr<PeerConnectionFactory> PeerConnectionFactory::shared() {
    // A function-local static is made exactly once, also under concurrent first use; it is
    // released at exit, after every connection and channel that still held it.
    static const std::shared_ptr<PeerConnectionFactory> factory(new PeerConnectionFactory());
    return factory;
}

PeerConnectionFactory::PeerConnectionFactory() : impl_(std::make_unique<Impl>()) {}

PeerConnectionFactory::~PeerConnectionFactory() = default;

void PeerConnectionFactory::setLoopbackOnly(bool loopbackOnly) {
    if (!impl_->factory) return;
    webrtc::PeerConnectionFactoryInterface::Options options;
    options.network_ignore_mask =
        loopbackOnly ? ~static_cast<int>(::rtc::ADAPTER_TYPE_LOOPBACK) : ::rtc::kDefaultNetworkIgnoreMask;
    impl_->factory->SetOptions(options);
}

void PeerConnectionFactory::postToSignalingThread(std::function<void()> task) {
    impl_->signaling->PostTask([task = std::move(task)] { task(); });
}

void PeerConnectionFactory::runOnSignalingThread(const std::function<void()>& task) {
    impl_->signaling->BlockingCall([&] { task(); });
}

std::shared_ptr<VideoSource> PeerConnectionFactory::createVideoSource(bool isScreencast) {
    return std::shared_ptr<VideoSource>(new VideoSource(shared_from_this(), isScreencast));
}

std::shared_ptr<VideoTrack> PeerConnectionFactory::createVideoTrack(const VideoSource& source,
                                                                    const std::string& trackId) {
    if (!impl_->factory) return nullptr;
    auto track = impl_->factory->CreateVideoTrack(trackId, source.native());
    if (!track) return nullptr;
    return std::shared_ptr<VideoTrack>(new VideoTrack(shared_from_this(), track.get()));
}

std::shared_ptr<PeerConnection> PeerConnectionFactory::createPeerConnection(
    const PeerConnectionConfiguration& configuration, std::weak_ptr<PeerConnectionObserver> observer,
    std::shared_ptr<ZephLogger> logger) {
    if (!impl_->factory) return nullptr;
    std::shared_ptr<PeerConnection> connection(new PeerConnection(shared_from_this(), std::move(logger)));
    if (!connection->open(*impl_->factory, configuration, connection, std::move(observer))) return nullptr;
    return connection;
}

}  // namespace quorvane::rtc
