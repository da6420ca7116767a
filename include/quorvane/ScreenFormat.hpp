#pragma once

#include "quorvane/FrameSize.hpp"
#include "quorvane/MediaConfiguration.hpp"

namespace quorvane {

/// The source of a screen stream: the frame size the host asks for. Frames are passed on at the
/// size the screen recorder delivers. It has no JSON form.
struct ScreenFormat {
    FrameSize format;
};

template <>
struct IsMediaConfiguration<ScreenFormat> : std::true_type {};

}  // namespace quorvane
