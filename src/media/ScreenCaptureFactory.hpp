#pragma once

#include <memory>

#include "rtc/ScreenRecorder.hpp"

namespace quorvane {

/// Gives screen streams the screen recorder they record with.
class ScreenCaptureFactory {
public:
    /// The process's X11 screen recorder.
    ScreenCaptureFactory();
    explicit ScreenCaptureFactory(std::shared_ptr<rtc::ScreenRecorder> screenRecorder);

    const std::shared_ptr<rtc::ScreenRecorder>& screenRecorder() const { return screenRecorder_; }

private:
    std::shared_ptr<rtc::ScreenRecorder> screenRecorder_;
};

}  // namespace quorvane
