#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "quorvane/VideoRenderer.hpp"

namespace quorvane::testing {

/// Keeps what it is asked to render.
class RecordingRenderer : public VideoRenderer {
public:
    struct Seen {
        int width;
        int height;
        int rotation;
        std::int64_t timestampNs;
    };

    void renderFrame(const Frame& frame) override;
    std::vector<Seen> frames() const;
    /// Waits (up to 20 s) until `count` frames were rendered; true if they were.
    bool waitForFrames(std::size_t count) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable rendered_;
    std::vector<Seen> frames_;
};

}  // namespace quorvane::testing
