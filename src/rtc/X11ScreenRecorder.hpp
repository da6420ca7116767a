#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "rtc/ScreenRecorder.hpp"

namespace quorvane::rtc {

/// Records an X11 screen through WebRTC's desktop capturer, 30 frames a second, on a thread of
/// its own. Each video sample is a copy of the captured frame (the capturer reuses its buffers);
/// presentation times are on WebRTC's monotonic clock.
class X11ScreenRecorder final : public ScreenRecorder {
public:
    /// Records display `displayName` (for example ":1"); empty for the one named by DISPLAY.
    explicit X11ScreenRecorder(std::string displayName = {});
    ~X11ScreenRecorder() override;

    /// The recorder of the process, on the display named by DISPLAY.
    static const std::shared_ptr<ScreenRecorder>& shared();

    /// True when the display can be opened.
    bool isAvailable() const override;

private:
    void beginRecording(RecordingId recording) override;
    void endRecording(RecordingId recording) override;
    void run(RecordingId recording);
    bool waitForNextFrame();
    void stopThread();

    const std::string displayName_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quorvane::rtc
