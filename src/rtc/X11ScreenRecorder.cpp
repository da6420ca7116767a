#include "rtc/X11ScreenRecorder.hpp"

#include <poll.h>

#include <chrono>
#include <utility>
#include <vector>

#include <modules/desktop_capture/desktop_capture_options.h>
#include <modules/desktop_capture/desktop_capturer.h>
#include <modules/desktop_capture/desktop_frame.h>
#include <modules/desktop_capture/linux/x11/shared_x_display.h>
#include <rtc_base/time_utils.h>

#include "model/PlatformError.hpp"

// Last: Xlib's macros (None, Status, ...) would clash with names in the headers above.
#include <X11/Xlib.h>

namespace quorvane::rtc {

namespace {

constexpr std::chrono::milliseconds kFrameInterval(1000 / 30);

std::exception_ptr recorderError(const std::string& message) {
    return std::make_exception_ptr(PlatformError("X11ScreenRecorder", 0, message));
}

/// A captured frame as a PixelBuffer: WebRTC's desktop frames are blue, green, red, alpha.
class DesktopPixels final : public PixelBuffer {
public:
    explicit DesktopPixels(std::unique_ptr<webrtc::DesktopFrame> frame) : frame_(std::move(frame)) {}

    int width() const override { return frame_->size().width(); }
    int height() const override { return frame_->size().height(); }
    int stride() const override { return frame_->stride(); }
    const std::uint8_t* data() const override { return frame_->data(); }

private:
    std::unique_ptr<webrtc::DesktopFrame> frame_;
};

/// Keeps what the capturer reports for one CaptureFrame call; it reports before returning.
class CaptureResult final : public webrtc::DesktopCapturer::Callback {
public:
    void OnCaptureResult(webrtc::DesktopCapturer::Result result, std::unique_ptr<webrtc::DesktopFrame> frame) override {
        result_ = result;
        frame_ = std::move(frame);
    }

    webrtc::DesktopCapturer::Result result() const { return result_; }
    std::unique_ptr<webrtc::DesktopFrame> takeFrame() { return std::move(frame_); }

private:
    webrtc::DesktopCapturer::Result result_ = webrtc::DesktopCapturer::Result::ERROR_TEMPORARY;
    std::unique_ptr<webrtc::DesktopFrame> frame_;
};

/// Lets go of `display`. A connection that its server has closed is never closed, since Xlib would
/// end the process on closing it: it is kept for the process's life instead.
void release(::rtc::scoped_refptr<webrtc::SharedXDisplay> display) {
    if (!display) return;
    pollfd connection{XConnectionNumber(display->display()), POLLIN, 0};
    if (poll(&connection, 1, 0) != 1 || (connection.revents & (POLLHUP | POLLERR)) == 0) return;
    static std::mutex mutex;
    static auto* const gone = new std::vector<::rtc::scoped_refptr<webrtc::SharedXDisplay>>();
    std::lock_guard lock(mutex);
    gone->push_back(std::move(display));
}

}  // namespace

class X11ScreenRecorder::Connections {
public:
    explicit Connections(std::string displayName) : displayName_(std::move(displayName)) {}
    ~Connections() { release(std::move(last_)); }

    /// A new connection to the display, kept in place of the one opened before, which closes
    /// only now that the new one is open (unless a recording still holds it); null when the
    /// display cannot be opened.
    ::rtc::scoped_refptr<webrtc::SharedXDisplay> open() {
        auto display = webrtc::SharedXDisplay::Create(displayName_);
        std::lock_guard lock(mutex_);
        release(std::exchange(last_, display));
        return display;
    }

private:
    const std::string displayName_;
    std::mutex mutex_;
    ::rtc::scoped_refptr<webrtc::SharedXDisplay> last_;
};

X11ScreenRecorder::X11ScreenRecorder(std::string displayName)
    : displayName_(std::move(displayName)), connections_(std::make_unique<Connections>(displayName_)) {}

X11ScreenRecorder::~X11ScreenRecorder() { stopThread(); }

const std::shared_ptr<ScreenRecorder>& X11ScreenRecorder::shared() {
    static const std::shared_ptr<ScreenRecorder> recorder = std::make_shared<X11ScreenRecorder>();
    return recorder;
}

bool X11ScreenRecorder::isAvailable() const { return connections_->open() != nullptr; }

void X11ScreenRecorder::beginRecording(RecordingId recording) {
    // A previous recording's thread has been told to stop, or has ended by itself.
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this, recording] { run(recording); });
}

void X11ScreenRecorder::endRecording(RecordingId) { stopThread(); }

void X11ScreenRecorder::stopThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach();  // it ends once the call that got here returns
    } else {
        thread_.join();
    }
}

bool X11ScreenRecorder::waitForNextFrame() {
    std::unique_lock lock(mutex_);
    return !wake_.wait_for(lock, kFrameInterval, [this] { return stopping_; });
}

void X11ScreenRecorder::run(RecordingId recording) {
    webrtc::DesktopCaptureOptions options;
    options.set_x_display(connections_->open());
    if (!options.x_display()) return started(recording, recorderError("Cannot open X display " + displayName_));
    auto capturer = webrtc::DesktopCapturer::CreateScreenCapturer(options);
    if (!capturer) return started(recording, recorderError("Cannot record X display " + displayName_));
    CaptureResult capture;
    capturer->Start(&capture);
    bool reported = false;
    do {
        capturer->CaptureFrame();
        if (capture.result() == webrtc::DesktopCapturer::Result::ERROR_PERMANENT) {
            // The recording stays under way without frames until it is stopped.
            if (!reported) started(recording, recorderError("Screen capture failed on X display " + displayName_));
            return;
        }
        if (!reported) {
            started(recording, nullptr);
            reported = true;
        }
        if (auto frame = capture.takeFrame()) {
            std::unique_ptr<webrtc::DesktopFrame> copy(webrtc::BasicDesktopFrame::CopyOf(*frame));
            deliver(recording, {ScreenSample::Type::video, std::make_shared<DesktopPixels>(std::move(copy)),
                                static_cast<double>(::rtc::TimeMicros()) / 1e6});
        }
    } while (waitForNextFrame());
}

}  // namespace quorvane::rtc
