#pragma once

#include <cstdint>

namespace quorvane::rtc {

/// The pixels of one captured image: 32 bits a pixel in the byte order blue, green, red, alpha,
/// rows from top to bottom. Never changed once handed on, so that a frame can wrap it without a
/// copy.
class PixelBuffer {
public:
    virtual ~PixelBuffer() = default;

    virtual int width() const = 0;
    virtual int height() const = 0;
    /// Bytes from the start of one row to the start of the next.
    virtual int stride() const = 0;
    virtual const std::uint8_t* data() const = 0;
};

}  // namespace quorvane::rtc
