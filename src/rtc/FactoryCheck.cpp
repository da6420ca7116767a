#include "rtc/FactoryCheck.hpp"

#include <api/audio_codecs/builtin_audio_decoder_factory.h>
#include <api/audio_codecs/builtin_audio_encoder_factory.h>
#include <api/create_peerconnection_factory.h>
#include <api/video_codecs/builtin_video_decoder_factory.h>
#include <api/video_codecs/builtin_video_encoder_factory.h>
#include <rtc_base/thread.h>

namespace quorvane::rtc {

bool createAndDestroyFactory() {
    auto network = ::rtc::Thread::CreateWithSocketServer();
    auto worker = ::rtc::Thread::Create();
    auto signaling = ::rtc::Thread::Create();
    network->Start();
    worker->Start();
    signaling->Start();
    bool made = false;
    {
        auto factory = webrtc::CreatePeerConnectionFactory(
            network.get(), worker.get(), signaling.get(), nullptr,
            webrtc::CreateBuiltinAudioEncoderFactory(), webrtc::CreateBuiltinAudioDecoderFactory(),
            webrtc::CreateBuiltinVideoEncoderFactory(), webrtc::CreateBuiltinVideoDecoderFactory(),
            nullptr, nullptr);
        made = factory != nullptr;
    }
    signaling->Stop();
    worker->Stop();
    network->Stop();
    return made;
}

}  // namespace quorvane::rtc
