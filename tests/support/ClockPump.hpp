#pragma once

#include <atomic>
#include <thread>

#include "async/Clock.hpp"

namespace quorvane::testing {

/// Moves a virtual clock on from a thread of its own at a multiple of real time, for code that
/// runs against a real transport (WebRTC keeps real time) but whose time-outs are minutes long.
/// Each step of 10 ms real time advances the clock by `speed` hundredths of a second, so a step
/// that takes long (advance() waits for the tasks it runs) slows virtual time rather than jumping
/// it forward.
class ClockPump {
public:
    ClockPump(VirtualClock& clock, double speed);
    /// Stops moving the clock; no advance is under way afterwards.
    ~ClockPump();
    ClockPump(const ClockPump&) = delete;
    ClockPump& operator=(const ClockPump&) = delete;

    void setSpeed(double speed) { speed_ = speed; }
    /// Waits (in real time) until the clock has moved `seconds` on from now.
    void waitFor(double seconds) const;

private:
    void run();

    VirtualClock& clock_;
    std::atomic<double> speed_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace quorvane::testing
