#include "rtc/X11ScreenRecorder.hpp"

#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
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

/// True on a thread while it uses the recorder's connections.
thread_local bool usingOwnConnections = false;

/// Marks the calling thread, while it lives, as one that uses the recorder's connections.
class OwnConnectionsInUse {
public:
    OwnConnectionsInUse() : outer_(std::exchange(usingOwnConnections, true)) {}
    ~OwnConnectionsInUse() { usingOwnConnections = outer_; }
    OwnConnectionsInUse(const OwnConnectionsInUse&) = delete;
    OwnConnectionsInUse& operator=(const OwnConnectionsInUse&) = delete;

private:
    const bool outer_;
};

/// The process's handler of broken X connections before the recorder's: Xlib's own ends the
/// process.
std::atomic<XIOErrorHandler> previousIOErrorHandler{nullptr};

/// Xlib calls this when a connection breaks. A connection of the recorder's breaks without ending
/// the process (Xlib then turns each call on it into a no-op); others are the previous handler's.
int onIOError(Display* display) {
    const XIOErrorHandler previous = previousIOErrorHandler.load();
    if (usingOwnConnections || !previous) return 0;
    return previous(display);
}

void keepRunning(Display*, void*) {}

/// The display Xlib opens for `name`, as its messages name it: `name`, or the value of DISPLAY
/// when it is empty.
std::string openedName(const std::string& name) {
    const std::string opened = XDisplayName(name.empty() ? nullptr : name.c_str());
    return opened.empty() ? "(DISPLAY is not set)" : opened;
}

/// A new connection to display `name` whose breaking never ends the process; null when the display
/// does not open. Called with the thread marked as using the recorder's connections.
::rtc::scoped_refptr<webrtc::SharedXDisplay> openConnection(const std::string& name) {
    static std::once_flag installed;
    std::call_once(installed, [] { previousIOErrorHandler = XSetIOErrorHandler(&onIOError); });
    auto display = webrtc::SharedXDisplay::Create(name);
    if (display) XSetIOErrorExitHandler(display->display(), &keepRunning, nullptr);
    return display;
}

/// Whether the server has gone from `display`'s connection: reading it yields 0 bytes at once.
/// (A TCP connection that its server closed shows no POLLHUP, only POLLIN, as when there is data.)
bool hasGone(webrtc::SharedXDisplay& display) {
    char byte = 0;
    const ssize_t got = recv(XConnectionNumber(display.display()), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

/// Lets go of `display`. One whose server has gone is kept for the process's life instead: once
/// its connection broke on a recording's thread, Xlib holds the display's lock for good, so that
/// closing it on another thread would wait for ever.
void release(::rtc::scoped_refptr<webrtc::SharedXDisplay> display) {
    if (!display || !hasGone(*display)) return;
    static std::mutex mutex;
    static auto* const gone = new std::vector<::rtc::scoped_refptr<webrtc::SharedXDisplay>>();
    std::lock_guard lock(mutex);
    gone->push_back(std::move(display));
}

}  // namespace

class X11ScreenRecorder::Connections {
public:
    explicit Connections(std::string displayName) : displayName_(std::move(displayName)) {}
    ~Connections() {
        OwnConnectionsInUse inUse;
        release(std::move(last_));
    }

    /// A new connection to the display, kept in place of the one opened before, which closes
    /// only now that the new one is open (unless a recording still holds it); null when the
    /// display cannot be opened.
    ::rtc::scoped_refptr<webrtc::SharedXDisplay> open() {
        OwnConnectionsInUse inUse;
        auto display = openConnection(displayName_);
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
    // Never destroyed: a capture that one of the library's threads lets go of while the process
    // exits would otherwise close its X connection there, as Xlib itself is being torn down.
    static const auto* const recorder = new std::shared_ptr<ScreenRecorder>(std::make_shared<X11ScreenRecorder>());
    return *recorder;
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
    OwnConnectionsInUse inUse;
    const std::string name = openedName(displayName_);
    webrtc::DesktopCaptureOptions options;
    options.set_x_display(connections_->open());
    if (!options.x_display()) return started(recording, recorderError("Cannot open X display " + name));
    auto capturer = webrtc::DesktopCapturer::CreateScreenCapturer(options);
    if (!capturer) return started(recording, recorderError("Cannot record X display " + name));
    CaptureResult capture;
    capturer->Start(&capture);
    bool reported = false;
    do {
        capturer->CaptureFrame();
        if (hasGone(*options.x_display())) {
            return failed(recording, recorderError("Lost the connection to X display " + name));
        }
        if (capture.result() == webrtc::DesktopCapturer::Result::ERROR_PERMANENT) {
            // The recording stays under way without frames until it is stopped.
            if (!reported) started(recording, recorderError("Screen capture failed on X display " + name));
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
