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
///
/// Each availability check and each recording opens a connection of its own to the display, and
/// the connection opened last stays open until the next one is: an X server resets when its last
/// client leaves and drops the connections that come in meanwhile, so a check's connection closed
/// just before the recording opened its own would make the recording fail at times.
///
/// A display whose server goes away (killed, or its forwarding stopped) ends the recording under
/// way, and its connections break without ending the process: the recorder sets Xlib's handler
/// of broken connections once, which leaves connections the recorder is not using to the
/// handler there before.
class X11ScreenRecorder final : public ScreenRecorder {
public:
    /// Records display `displayName` (for example ":1"); empty for the one named by DISPLAY.
    explicit X11ScreenRecorder(std::string displayName = {});
    ~X11ScreenRecorder() override;

    /// The recorder of the process, on the display named by DISPLAY; it lives as long as the process.
    static const std::shared_ptr<ScreenRecorder>& shared();

    /// True when the display can be opened.
    bool isAvailable() const override;

private:
    class Connections;

    void beginRecording(RecordingId recording) override;
    void endRecording(RecordingId recording) override;
    void run(RecordingId recording);
    bool waitForNextFrame();
    void stopThread();

    const std::string displayName_;
    const std::unique_ptr<Connections> connections_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace quorvane::rtc
