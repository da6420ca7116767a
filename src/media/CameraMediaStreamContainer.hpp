#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "media/AbstractMediaStreamContainer.hpp"
#include "media/CameraVideoCaptureFactory.hpp"
#include "quorvane/CameraFormat.hpp"
#include "quorvane/CameraStreamController.hpp"
#include "quorvane/VideoStreamConfiguration.hpp"

namespace quorvane {

/// A camera stream: captures the camera and format of its configuration's CameraFormat into
/// the track "CAMERA_TRACK".
class CameraMediaStreamContainer final : public AbstractMediaStreamContainer {
public:
    static constexpr const char* cameraKind = "CAMERA";
    static constexpr const char* cameraTrackId = "CAMERA_TRACK";

    class Controller;

    /// The peer connection passes false for `isScreencast`.
    CameraMediaStreamContainer(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> videoStreamConfiguration,
                               std::shared_ptr<rtc::PeerConnectionFactory> factory,
                               CameraVideoCaptureFactory videoCaptureFactory, bool isScreencast);

    /// A new controller of this stream.
    std::shared_ptr<Controller> createController();

private:
    /// For the controller: stops capture and, without waiting, starts it on the first camera of
    /// the last catalogue refresh named `cameraName`, with the capture format matching `format`,
    /// at its highest rate. Settles once both have been answered, with the start's outcome.
    Promise<void> restartCapture(const std::string& cameraName, const FrameFormat& format);

    std::shared_ptr<VideoRenderer> localRenderTarget() const override;
    void createCapturer(const std::shared_ptr<rtc::VideoSource>& source) override;
    Promise<void> beginCapture() override;
    void endCapture() override;

    /// Issues a start request (control lock held).
    Promise<void> requestStart(const CameraStore::Camera& camera, const rtc::CaptureFormat& format,
                               std::int64_t framesPerSecond);

    const std::shared_ptr<VideoStreamConfiguration<CameraFormat>> videoStreamConfiguration_;
    const CameraVideoCaptureFactory videoCaptureFactory_;
    /// Made by initialize(); used with the control lock held.
    std::shared_ptr<rtc::CameraCapturer> capturer_;
};

/// The host's handle on a camera stream. cameraName may be set by the host while a switch
/// completes; each read and write is whole.
class CameraMediaStreamContainer::Controller final : public CameraStreamController,
                                                     public std::enable_shared_from_this<Controller> {
public:
    explicit Controller(std::shared_ptr<CameraMediaStreamContainer> container);

    std::string cameraName() const override;
    void setCameraName(std::string name) override;
    Promise<void> start() override;
    void stop() override;
    Promise<void> switchCamera(const CameraFormat& cameraFormat) override;
    Promise<void> changeFormat(const FrameFormat& format) override;

private:
    const std::shared_ptr<CameraMediaStreamContainer> container_;
    mutable std::mutex mutex_;
    std::string cameraName_;
};

}  // namespace quorvane
