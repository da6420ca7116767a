#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "media/MediaStreamContainer.hpp"
#include "quorvane/VideoRenderer.hpp"

namespace quorvane {

namespace rtc {
class PeerConnectionFactory;
class VideoSource;
}  // namespace rtc

/// The work common to camera and screen streams: source, track, stream id and the state of
/// capture. Owned by std::shared_ptr.
///
/// Capture state follows the capturer, which carries out requests in the order they were issued:
/// isActive turns false when a stop completes or a start fails, and true when a start succeeds
/// that no stop was issued after. stopCapture() clears it at once.
class AbstractMediaStreamContainer : public MediaStreamContainer,
                                     public std::enable_shared_from_this<AbstractMediaStreamContainer> {
public:
    ~AbstractMediaStreamContainer() override;

    const std::string& kind() const override { return kind_; }
    const std::string& videoTrackId() const { return videoTrackId_; }
    /// The container's number within the process, from 0, across both kinds.
    std::int64_t streamId() const { return streamId_; }

    std::shared_ptr<rtc::VideoTrack> initialize() override;
    std::shared_ptr<rtc::VideoTrack> getVideoTrack() const override;
    bool addTrack(rtc::PeerConnection& connection) override;

    /// Whether the track is enabled; false before initialize().
    bool enabled() const;
    /// Enables or disables the track; nothing before initialize().
    void setEnabled(bool enabled);

    bool isActive() const;
    Promise<void> startCapture() final;
    void stopCapture() final;

    /// The next stream id of the process.
    static std::int64_t getNextStreamId();

protected:
    AbstractMediaStreamContainer(std::shared_ptr<rtc::PeerConnectionFactory> factory, bool isScreencast,
                                 std::string kind);

    /// Where the local preview goes; null for none.
    virtual std::shared_ptr<VideoRenderer> localRenderTarget() const = 0;
    /// Makes what captures into `source`; called once, by initialize().
    virtual void createCapturer(const std::shared_ptr<rtc::VideoSource>& source) = 0;
    /// Starts capture; called with capture stopped and the control lock held.
    virtual Promise<void> beginCapture() = 0;
    /// Stops capture; called with the control lock held.
    virtual void endCapture() = 0;

    /// Held while capture requests are issued, so that they reach the capturer in the order of
    /// their numbers.
    std::unique_lock<std::mutex> controlLock() { return std::unique_lock(controlMutex_); }
    /// Numbers a start request about to be issued (control lock held) and returns the completion
    /// to give the capturer: it records whether capture started and settles `resolver`.
    std::function<void(std::exception_ptr error)> issueStart(Resolver<void> resolver);
    /// Numbers a stop request about to be issued (control lock held) and returns the completion
    /// to give the capturer: it records that capture stopped and fulfils `resolver`.
    std::function<void()> issueStop(Resolver<void> resolver);
    /// The source made by initialize(); null before.
    std::shared_ptr<rtc::VideoSource> videoSource() const;
    /// Whether initialize() has run.
    bool isInitialized() const { return videoSource() != nullptr; }

private:
    /// The capturer's answer to request number `request`: capturing or not.
    void requestFinished(std::uint64_t request, bool capturing);

    const std::shared_ptr<rtc::PeerConnectionFactory> factory_;
    const bool isScreencast_;
    const std::string kind_;
    const std::string videoTrackId_;
    const std::int64_t streamId_;

    std::mutex controlMutex_;
    mutable std::mutex stateMutex_;
    std::shared_ptr<rtc::VideoSource> videoSource_;
    std::shared_ptr<rtc::VideoTrack> videoTrack_;
    bool isActive_ = false;
    std::uint64_t lastRequest_ = 0;
    std::uint64_t lastStopRequest_ = 0;
    std::optional<Promise<void>> starting_;
};

}  // namespace quorvane
