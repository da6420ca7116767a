#include "rtc/VideoTrack.hpp"

#include <mutex>
#include <vector>

#include <api/media_stream_interface.h>
#include <api/video/video_frame.h>

#include "rtc/PeerConnectionFactory.hpp"

namespace quorvane::rtc {

namespace {

int degrees(webrtc::VideoRotation rotation) {
    switch (rotation) {
        case webrtc::kVideoRotation_0: return 0;
        case webrtc::kVideoRotation_90: return 90;
        case webrtc::kVideoRotation_180: return 180;
        case webrtc::kVideoRotation_270: return 270;
    }
    return 0;
}

}  // namespace

/// Hands each frame of the track to one renderer, in I420.
class RendererSink : public ::rtc::VideoSinkInterface<webrtc::VideoFrame> {
public:
    explicit RendererSink(std::weak_ptr<VideoRenderer> renderer) : renderer_(std::move(renderer)) {}

    void OnFrame(const webrtc::VideoFrame& frame) override {
        auto renderer = renderer_.lock();
        if (!renderer) return;
        auto i420 = frame.video_frame_buffer()->ToI420();
        if (!i420) return;
        const int chromaHeight = i420->ChromaHeight();
        VideoRenderer::Frame view{
            i420->width(),
            i420->height(),
            degrees(frame.rotation()),
            frame.timestamp_us() * 1000,
            {i420->DataY(), static_cast<std::size_t>(i420->StrideY()) * i420->height()},
            {i420->DataU(), static_cast<std::size_t>(i420->StrideU()) * chromaHeight},
            {i420->DataV(), static_cast<std::size_t>(i420->StrideV()) * chromaHeight},
            i420->StrideY(),
            i420->StrideU(),
            i420->StrideV(),
        };
        try {
            renderer->renderFrame(view);
        } catch (...) {
            // A renderer's failure has nowhere to go from the capture thread.
        }
    }

private:
    std::weak_ptr<VideoRenderer> renderer_;
};

struct VideoTrack::Impl {
    // Declared first, released last: WebRTC's threads outlive the track.
    std::shared_ptr<PeerConnectionFactory> factory;
    ::rtc::scoped_refptr<webrtc::VideoTrackInterface> track;
    std::mutex mutex;
    std::vector<std::unique_ptr<RendererSink>> sinks;

    ~Impl() {
        // Once removed, a sink is not called again: WebRTC removes it under the lock it
        // delivers frames with.
        for (auto& sink : sinks) track->RemoveSink(sink.get());
    }
};

VideoTrack::VideoTrack(std::shared_ptr<PeerConnectionFactory> factory, webrtc::VideoTrackInterface* track)
    : impl_(std::make_unique<Impl>()) {
    impl_->factory = std::move(factory);
    impl_->track = ::rtc::scoped_refptr<webrtc::VideoTrackInterface>(track);
}

VideoTrack::~VideoTrack() = default;

std::string VideoTrack::trackId() const { return impl_->track->id(); }

bool VideoTrack::isEnabled() const { return impl_->track->enabled(); }

void VideoTrack::setEnabled(bool enabled) { impl_->track->set_enabled(enabled); }

void VideoTrack::addRenderer(const std::shared_ptr<VideoRenderer>& renderer) {
    auto sink = std::make_unique<RendererSink>(renderer);
    impl_->track->AddOrUpdateSink(sink.get(), ::rtc::VideoSinkWants());
    std::lock_guard lock(impl_->mutex);
    impl_->sinks.push_back(std::move(sink));
}

webrtc::VideoTrackInterface* VideoTrack::native() const { return impl_->track.get(); }

}  // namespace quorvane::rtc
