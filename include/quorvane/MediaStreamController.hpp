#pragma once

#include "quorvane/Promise.hpp"

namespace quorvane {

/// What the host can do with a running video stream. The library hands one over each time the
/// stream's capture has started; every controller of a stream drives the same stream.
class MediaStreamController {
public:
    virtual ~MediaStreamController() = default;

    /// Starts capture again; fulfilled at once when capture is running, otherwise once it has
    /// started. A start made while another is still under way gets that start's promise.
    virtual Promise<void> start() = 0;
    /// Stops capture.
    virtual void stop() = 0;
};

}  // namespace quorvane
