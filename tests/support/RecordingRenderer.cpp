#include "support/RecordingRenderer.hpp"

#include <chrono>

namespace quorvane::testing {

void RecordingRenderer::renderFrame(const Frame& frame) {
    {
        std::lock_guard lock(mutex_);
        frames_.push_back({frame.width, frame.height, frame.rotation, frame.timestampNs});
    }
    rendered_.notify_all();
}

std::vector<RecordingRenderer::Seen> RecordingRenderer::frames() const {
    std::lock_guard lock(mutex_);
    return frames_;
}

bool RecordingRenderer::waitForFrames(std::size_t count) const {
    std::unique_lock lock(mutex_);
    return rendered_.wait_for(lock, std::chrono::seconds(20), [&] { return frames_.size() >= count; });
}

}  // namespace quorvane::testing
