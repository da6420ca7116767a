#pragma once

#include <functional>
#include <memory>

#include "quorvane/DispatchQueue.hpp"

namespace quorvane {

class Timer;

/// A one-shot or repeating timer that runs a handler on a queue, on the process clock.
///
/// It runs from construction. A one-shot timer fires once, `interval` seconds after
/// construction. A repeating timer first fires after the whole seconds of `interval` (1.5 gives
/// 1 s, 0.5 fires at once), then every `interval` seconds on that grid. suspend() and resume()
/// may be called any number of times; a call towards the state already held changes nothing.
/// Firings that fall due while suspended are held back and delivered as one firing on resume(),
/// and those that fall due while the queue has not yet run an earlier one merge into it; the
/// schedule is never moved. A repeating timer whose interval is not a positive number, or any
/// timer whose interval is not finite or beyond a billion seconds, never fires.
///
/// Releasing the timer is the only way to stop it: once the destructor has returned the handler
/// never runs again (a firing already running on another thread is waited for; releasing from
/// within the handler is allowed). resume(), suspend() and the release must come from one serial
/// context at a time, normally the timer's own queue.
class BackgroundTimer {
public:
    /// `dispatchQueue` null: the handler runs on a private serial queue of the timer.
    BackgroundTimer(DispatchQueuePtr dispatchQueue, double interval, bool repeating,
                    std::function<void()> eventHandler);
    ~BackgroundTimer();
    BackgroundTimer(const BackgroundTimer&) = delete;
    BackgroundTimer& operator=(const BackgroundTimer&) = delete;

    void resume();
    void suspend();

private:
    enum class State { suspended, resumed };
    struct Firing;  // shared with the scheduled tasks, which hold it weakly

    DispatchQueuePtr dispatchQueue_;
    const bool repeating_;
    const double interval_;
    State state_ = State::suspended;
    std::shared_ptr<Firing> firing_;
    std::unique_ptr<Timer> timer_;
    std::unique_ptr<Timer> heldBack_;  // delivery of a firing that fell due while suspended
};

}  // namespace quorvane
