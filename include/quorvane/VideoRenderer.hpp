#pragma once

#include <cstdint>
#include <span>

namespace quorvane {

/// Shows the frames of a video track, for example the local preview of a stream. Frames arrive
/// on the capture thread of the stream, one at a time; an implementation must return quickly.
/// The library holds a renderer weakly: the host keeps it alive for as long as it should render.
class VideoRenderer {
public:
    /// One frame in I420: a full-size luma plane and two chroma planes of half width and height
    /// (rounded up). The planes are valid only during the call.
    struct Frame {
        int width;
        int height;
        /// Clockwise rotation in degrees to apply for display: 0, 90, 180 or 270.
        int rotation;
        std::int64_t timestampNs;
        std::span<const std::uint8_t> y;
        std::span<const std::uint8_t> u;
        std::span<const std::uint8_t> v;
        int strideY;
        int strideU;
        int strideV;
    };

    virtual ~VideoRenderer() = default;

    virtual void renderFrame(const Frame& frame) = 0;
};

}  // namespace quorvane
