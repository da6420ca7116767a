#include "support/ClockPump.hpp"

#include <chrono>

namespace quorvane::testing {

namespace {

constexpr auto step = std::chrono::milliseconds(10);
constexpr double stepSeconds = 0.01;

}  // namespace

ClockPump::ClockPump(VirtualClock& clock, double speed) : clock_(clock), speed_(speed), thread_([this] { run(); }) {}

ClockPump::~ClockPump() {
    stop_ = true;
    thread_.join();
}

void ClockPump::waitFor(double seconds) const {
    const double target = clock_.monotonic() + seconds;
    while (clock_.monotonic() < target) std::this_thread::sleep_for(step);
}

void ClockPump::run() {
    while (!stop_) {
        std::this_thread::sleep_for(step);
        clock_.advance(speed_ * stepSeconds);
    }
}

}  // namespace quorvane::testing
