#include "util/BackgroundTimer.hpp"

#include <cmath>
#include <mutex>
#include <utility>

#include "async/Clock.hpp"

namespace quorvane {

namespace {
// Beyond this a deadline is taken as never: no clock represents it.
constexpr double longestInterval = 1e9;
}

/// What a firing does: run the handler, or, while the timer is suspended, remember that one fell
/// due.
struct BackgroundTimer::Firing {
    explicit Firing(std::function<void()> handler) : handler_(std::move(handler)) {}

    void fire() {
        {
            std::lock_guard lock(mutex_);
            if (suspended_) {
                missed_ = true;
                return;
            }
        }
        if (handler_) handler_();
    }

    void setSuspended(bool suspended) {
        std::lock_guard lock(mutex_);
        suspended_ = suspended;
    }

    /// True when a firing fell due while suspended; forgets it.
    bool takeMissed() {
        std::lock_guard lock(mutex_);
        return std::exchange(missed_, false);
    }

    static std::function<void()> task(const std::shared_ptr<Firing>& firing) {
        return [weak = std::weak_ptr<Firing>(firing)] {
            if (auto self = weak.lock()) self->fire();
        };
    }

private:
    std::mutex mutex_;
    bool suspended_ = true;
    bool missed_ = false;
    const std::function<void()> handler_;
};

BackgroundTimer::BackgroundTimer(DispatchQueuePtr dispatchQueue, double interval, bool repeating,
                                 std::function<void()> eventHandler)
    : dispatchQueue_(dispatchQueue ? std::move(dispatchQueue) : DispatchQueue::create("BackgroundTimer")),
      repeating_(repeating),
      interval_(interval),
      firing_(std::make_shared<Firing>(std::move(eventHandler))) {
    bool schedulable = std::isfinite(interval_) && interval_ <= longestInterval && (!repeating_ || interval_ > 0);
    if (schedulable) {
        // Deadlines count from construction. A repeating timer first fires after the whole
        // seconds of its interval, then every interval on that grid.
        double firstDelay = repeating_ ? std::trunc(interval_) : interval_;
        timer_ = Clock::current()->schedule(dispatchQueue_, firstDelay, repeating_ ? interval_ : 0,
                                            Firing::task(firing_));
    }
    resume();
}

BackgroundTimer::~BackgroundTimer() {
    // Cancelling waits for a firing in progress; after it no firing starts.
    timer_.reset();
    heldBack_.reset();
}

void BackgroundTimer::resume() {
    if (state_ == State::resumed) return;
    state_ = State::resumed;
    firing_->setSuspended(false);
    if (firing_->takeMissed()) {
        heldBack_ = Clock::current()->schedule(dispatchQueue_, 0, 0, Firing::task(firing_));
    }
}

void BackgroundTimer::suspend() {
    if (state_ == State::suspended) return;
    state_ = State::suspended;
    firing_->setSuspended(true);
}

}  // namespace quorvane
