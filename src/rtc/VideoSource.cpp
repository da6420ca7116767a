#include "rtc/VideoSource.hpp"

#include <api/make_ref_counted.h>
#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>
#include <libyuv/convert.h>
#include <media/base/adapted_video_track_source.h>

#include "rtc/PeerConnectionFactory.hpp"

namespace quorvane::rtc {

namespace {

/// A WebRTC track source that passes on what it is handed.
class TrackSource : public ::rtc::AdaptedVideoTrackSource {
public:
    explicit TrackSource(bool isScreencast) : isScreencast_(isScreencast) {}

    void deliver(const webrtc::VideoFrame& frame) { OnFrame(frame); }

    bool is_screencast() const override { return isScreencast_; }
    absl::optional<bool> needs_denoising() const override { return absl::nullopt; }
    SourceState state() const override { return kLive; }
    bool remote() const override { return false; }

private:
    const bool isScreencast_;
};

/// A frame buffer over a PixelBuffer, converted to I420 only when asked.
class PixelFrameBuffer : public webrtc::VideoFrameBuffer {
public:
    explicit PixelFrameBuffer(std::shared_ptr<const PixelBuffer> pixels) : pixels_(std::move(pixels)) {}

    Type type() const override { return Type::kNative; }
    int width() const override { return pixels_->width(); }
    int height() const override { return pixels_->height(); }

    ::rtc::scoped_refptr<webrtc::I420BufferInterface> ToI420() override {
        auto buffer = webrtc::I420Buffer::Create(width(), height());
        libyuv::ARGBToI420(pixels_->data(), pixels_->stride(), buffer->MutableDataY(), buffer->StrideY(),
                           buffer->MutableDataU(), buffer->StrideU(), buffer->MutableDataV(), buffer->StrideV(),
                           width(), height());
        return buffer;
    }

private:
    std::shared_ptr<const PixelBuffer> pixels_;
};

}  // namespace

struct VideoSource::Impl {
    // Declared first, released last: WebRTC's threads outlive the source.
    std::shared_ptr<PeerConnectionFactory> factory;
    ::rtc::scoped_refptr<TrackSource> source;
};

VideoSource::VideoSource(std::shared_ptr<PeerConnectionFactory> factory, bool isScreencast)
    : impl_(std::make_unique<Impl>()) {
    impl_->factory = std::move(factory);
    impl_->source = ::rtc::make_ref_counted<TrackSource>(isScreencast);
}

VideoSource::~VideoSource() = default;

void VideoSource::deliverFrame(std::shared_ptr<const PixelBuffer> pixels, std::int64_t timestampNs) {
    auto frame = webrtc::VideoFrame::Builder()
                     .set_video_frame_buffer(::rtc::make_ref_counted<PixelFrameBuffer>(std::move(pixels)))
                     .set_rotation(webrtc::kVideoRotation_0)
                     .set_timestamp_us(timestampNs / 1000)
                     .build();
    impl_->source->deliver(frame);
}

void VideoSource::deliverFrame(const webrtc::VideoFrame& frame) { impl_->source->deliver(frame); }

webrtc::VideoTrackSourceInterface* VideoSource::native() const { return impl_->source.get(); }

}  // namespace quorvane::rtc
