#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "media/AbstractMediaStreamContainer.hpp"
#include "media/ScreenCaptureFactory.hpp"
#include "quorvane/ScreenCaptureController.hpp"
#include "quorvane/ScreenFormat.hpp"
#include "quorvane/VideoStreamConfiguration.hpp"

namespace quorvane {

/// The screen stream: records the screen with the factory's recorder into the track
/// "SCREEN_TRACK". The recorder is shared by the process: the container stops only a recording
/// it started itself, also when it is released.
class ScreenCaptureMediaStreamContainer final : public AbstractMediaStreamContainer {
public:
    static constexpr const char* screenKind = "SCREEN";
    static constexpr const char* screenTrackId = "SCREEN_TRACK";

    class Controller;

    /// The peer connection passes true for `isScreencast`.
    ScreenCaptureMediaStreamContainer(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> videoStreamConfiguration,
                                      std::shared_ptr<rtc::PeerConnectionFactory> factory,
                                      ScreenCaptureFactory videoCaptureFactory, bool isScreencast);
    ~ScreenCaptureMediaStreamContainer() override;

    /// A new controller of this stream.
    std::shared_ptr<Controller> createController();

    /// `handler` is called, on the recorder's thread, with why when a recording of this stream
    /// that had started ends by itself (its display went away); capture is stopped then.
    void setCaptureEndHandler(std::function<void(std::exception_ptr error)> handler);

private:
    std::shared_ptr<VideoRenderer> localRenderTarget() const override;
    void createCapturer(const std::shared_ptr<rtc::VideoSource>& source) override;
    Promise<void> beginCapture() override;
    void endCapture() override;
    void captureEnded(std::exception_ptr error);

    const std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> videoStreamConfiguration_;
    const ScreenCaptureFactory videoCaptureFactory_;
    /// The recording this container started last; used with the control lock held.
    std::optional<rtc::ScreenRecorder::RecordingId> recording_;
    std::mutex endMutex_;
    std::function<void(std::exception_ptr error)> endHandler_;
};

/// The host's handle on the screen stream.
class ScreenCaptureMediaStreamContainer::Controller final : public ScreenCaptureController {
public:
    explicit Controller(std::shared_ptr<ScreenCaptureMediaStreamContainer> container);

    FrameSize format() const override;
    void setFormat(FrameSize format) override;
    Promise<void> start() override;
    void stop() override;
    Promise<void> changeFormat(const FrameSize& format) override;

private:
    const std::shared_ptr<ScreenCaptureMediaStreamContainer> container_;
    mutable std::mutex mutex_;
    FrameSize format_;
};

}  // namespace quorvane
