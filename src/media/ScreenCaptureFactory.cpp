#include "media/ScreenCaptureFactory.hpp"

#include "rtc/X11ScreenRecorder.hpp"

namespace quorvane {

ScreenCaptureFactory::ScreenCaptureFactory() : ScreenCaptureFactory(rtc::X11ScreenRecorder::shared()) {}

ScreenCaptureFactory::ScreenCaptureFactory(std::shared_ptr<rtc::ScreenRecorder> screenRecorder)
    : screenRecorder_(std::move(screenRecorder)) {}

}  // namespace quorvane
