#pragma once

#include "quorvane/FrameSize.hpp"
#include "quorvane/MediaStreamController.hpp"

namespace quorvane {

/// Controls the screen stream.
class ScreenCaptureController : public MediaStreamController {
public:
    /// The size the host asked for, at first the configured ScreenFormat's; the library does not
    /// read it.
    virtual FrameSize format() const = 0;
    virtual void setFormat(FrameSize format) = 0;

    /// Frames are passed on at the size the screen recorder delivers: fulfilled at once, and
    /// neither `format` nor the frames change.
    virtual Promise<void> changeFormat(const FrameSize& format) = 0;
};

}  // namespace quorvane
