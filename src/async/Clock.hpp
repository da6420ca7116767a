#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "quorvane/DispatchQueue.hpp"

namespace quorvane {

struct TimerState;

/// A scheduled task. Releasing the handle (or calling cancel()) stops it: once cancel() has
/// returned, the task is never started again. The task may release or cancel its own timer; it
/// then runs to its end with its captures alive.
class Timer {
public:
    explicit Timer(std::shared_ptr<TimerState> state);
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void cancel();

private:
    std::shared_ptr<TimerState> state_;
};

/// The one source of time of the library: "now" on the wall clock and on a monotonic clock, and
/// tasks run on a queue after a delay. Tests install a VirtualClock to run time by hand.
class Clock {
public:
    virtual ~Clock() = default;

    /// Seconds since 1970 on the wall clock.
    virtual double now() const = 0;
    /// Seconds on a clock that never steps; only differences mean anything.
    virtual double monotonic() const = 0;

    /// Runs `task` on `queue` after `delay` seconds, then every `interval` seconds when
    /// `interval` is positive (on a fixed grid from the first deadline). Deadlines that pass while
    /// the queue has not yet run the task for an earlier one are covered by that one run.
    std::unique_ptr<Timer> schedule(DispatchQueuePtr queue, double delay, double interval,
                                    std::function<void()> task);
    /// A one-shot task that nobody can cancel.
    void scheduleDetached(DispatchQueuePtr queue, double delay, std::function<void()> task);

    /// The process clock (a RealClock unless a test installed another).
    static std::shared_ptr<Clock> current();
    static void setCurrent(std::shared_ptr<Clock> clock);

protected:
    virtual void add(std::shared_ptr<TimerState> state, double delay) = 0;
};

/// Shared state of one scheduled task, between its handle and the clock.
struct TimerState : std::enable_shared_from_this<TimerState> {
    TimerState(DispatchQueuePtr q, double i, std::function<void()> t)
        : queue(std::move(q)), interval(i), task_(std::make_shared<const std::function<void()>>(std::move(t))) {}

    /// Posts a run to `queue` unless one is still waiting there: the deadlines that pass while the
    /// queue is behind are run once.
    void post();
    /// Runs the task unless cancelled; the caller is on `queue`.
    void runIfActive();
    void cancel();
    bool isCancelled();

    const DispatchQueuePtr queue;
    const double interval;

private:
    std::recursive_mutex mutex_;  // held while the task runs
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> posted_{false};
    // Shared with a run in progress, so a task that releases its own timer lives until it returns.
    std::shared_ptr<const std::function<void()>> task_;
};

/// Wall clock and steady clock of the machine; timers run on one internal thread that posts due
/// tasks to their queues. A cancelled timer is let go of at the latest when the clock holds twice
/// as many timers as it did after the last sweep (and at least 1024), not only at its deadline: a
/// long time-out cancelled early keeps nothing for its whole length.
class RealClock final : public Clock {
public:
    RealClock();
    ~RealClock() override;
    double now() const override;
    double monotonic() const override;
    /// Number of timers the clock holds, cancelled ones not yet swept among them.
    std::size_t heldCount() const;

protected:
    void add(std::shared_ptr<TimerState> state, double delay) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// A clock that stands still until a test advances it. Due tasks run in deadline order, each on
/// its own queue, and advance() waits for each before running the next.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(double wallStart = 1'700'000'000.0);
    ~VirtualClock() override;
    double now() const override;
    double monotonic() const override;

    /// Moves time forward by `seconds`, running every task that falls due on the way.
    void advance(double seconds);
    /// Moves both clocks forward by `seconds` and runs nothing, as while the process is stopped:
    /// the tasks that fell due meanwhile run late, at the next advance(), a repeating one once for
    /// all the deadlines it missed.
    void stall(double seconds);
    /// Steps the wall clock alone, as a clock correction would; the monotonic clock is unmoved.
    void stepWallClock(double seconds);
    /// Number of scheduled tasks not yet cancelled.
    std::size_t pendingCount() const;

protected:
    void add(std::shared_ptr<TimerState> state, double delay) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

/// Installs a VirtualClock as the process clock for the life of this object.
class ScopedVirtualClock {
public:
    explicit ScopedVirtualClock(double wallStart = 1'700'000'000.0);
    ~ScopedVirtualClock();
    VirtualClock& operator*() const { return *clock_; }
    VirtualClock* operator->() const { return clock_.get(); }

private:
    std::shared_ptr<Clock> previous_;
    std::shared_ptr<VirtualClock> clock_;
};

}  // namespace quorvane
