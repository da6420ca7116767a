#include "async/Clock.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <thread>
#include <utility>

namespace quorvane {

// --- Timer and its state --------------------------------------------------------------------

void TimerState::post() {
    if (posted_.exchange(true)) return;
    queue->async([self = shared_from_this()] {
        self->posted_ = false;
        self->runIfActive();
    });
}

void TimerState::runIfActive() {
    std::shared_ptr<const std::function<void()>> task;  // released after the lock
    // Held while the task runs, so cancel() from another thread waits for a running task and no
    // task starts after cancel() has returned.
    std::lock_guard lock(mutex_);
    if (cancelled_ || !*task_) return;
    task = task_;
    (*task)();
}

void TimerState::cancel() {
    std::shared_ptr<const std::function<void()>> released;
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        released = std::move(task_);
    }
    // `released` (and whatever its task captured) goes here, outside the lock, unless the task is
    // running: then when it returns.
}

bool TimerState::isCancelled() { return cancelled_; }

Timer::Timer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}

Timer::~Timer() { cancel(); }

void Timer::cancel() { state_->cancel(); }

// --- Clock ------------------------------------------------------------------------------------

namespace {
std::mutex currentMutex;
std::shared_ptr<Clock>& currentClock() {
    static auto* clock = new std::shared_ptr<Clock>(std::make_shared<RealClock>());
    return *clock;
}
}  // namespace

std::unique_ptr<Timer> Clock::schedule(DispatchQueuePtr queue, double delay, double interval,
                                       std::function<void()> task) {
    auto state = std::make_shared<TimerState>(std::move(queue), interval, std::move(task));
    add(state, delay);
    return std::make_unique<Timer>(std::move(state));
}

void Clock::scheduleDetached(DispatchQueuePtr queue, double delay, std::function<void()> task) {
    add(std::make_shared<TimerState>(std::move(queue), 0, std::move(task)), delay);
}

std::shared_ptr<Clock> Clock::current() {
    std::lock_guard lock(currentMutex);
    return currentClock();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
    std::lock_guard lock(currentMutex);
    currentClock() = std::move(clock);
}

// --- RealClock ----------------------------------------------------------------------------------

struct RealClock::Impl {
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr std::size_t minimumSweep = 1024;

    std::mutex mutex;
    std::condition_variable wake;
    // Ordered by deadline, then by insertion.
    std::multimap<TimePoint, std::shared_ptr<TimerState>> due;
    std::size_t sweepAt = minimumSweep;  // due.size() at which cancelled timers are swept out
    bool stopping = false;
    std::thread thread;

    void run() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (due.empty()) {
                wake.wait(lock);
                continue;
            }
            auto first = due.begin();
            if (const TimePoint next = first->first; std::chrono::steady_clock::now() < next) {
                // A copy: while this waits, add() may sweep the entry out.
                wake.wait_until(lock, next);
                continue;
            }
            auto deadline = first->first;
            auto state = std::move(first->second);
            due.erase(first);
            if (state->isCancelled()) continue;
            if (state->interval > 0) {
                due.emplace(deadline + toDuration(state->interval), state);
            }
            state->post();
        }
    }

    static std::chrono::steady_clock::duration toDuration(double seconds) {
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(std::max(0.0, seconds)));
    }
};

RealClock::RealClock() : impl_(std::make_unique<Impl>()) {
    impl_->thread = std::thread([impl = impl_.get()] { impl->run(); });
}

RealClock::~RealClock() {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->stopping = true;
    }
    impl_->wake.notify_all();
    impl_->thread.join();
}

double RealClock::now() const {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

double RealClock::monotonic() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void RealClock::add(std::shared_ptr<TimerState> state, double delay) {
    {
        std::lock_guard lock(impl_->mutex);
        auto& due = impl_->due;
        due.emplace(std::chrono::steady_clock::now() + Impl::toDuration(delay), std::move(state));
        if (due.size() >= impl_->sweepAt) {
            std::erase_if(due, [](const auto& entry) { return entry.second->isCancelled(); });
            impl_->sweepAt = std::max(Impl::minimumSweep, 2 * due.size());
        }
    }
    impl_->wake.notify_all();
}

std::size_t RealClock::heldCount() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->due.size();
}

// --- VirtualClock -------------------------------------------------------------------------------

struct VirtualClock::Impl {
    mutable std::mutex mutex;
    double monotonic = 0;
    double wall = 0;
    std::multimap<double, std::shared_ptr<TimerState>> due;
};

VirtualClock::VirtualClock(double wallStart) : impl_(std::make_unique<Impl>()) { impl_->wall = wallStart; }

VirtualClock::~VirtualClock() = default;

double VirtualClock::now() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->wall;
}

double VirtualClock::monotonic() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->monotonic;
}

void VirtualClock::add(std::shared_ptr<TimerState> state, double delay) {
    std::lock_guard lock(impl_->mutex);
    impl_->due.emplace(impl_->monotonic + std::max(0.0, delay), std::move(state));
}

void VirtualClock::advance(double seconds) {
    double target;
    {
        std::lock_guard lock(impl_->mutex);
        target = impl_->monotonic + std::max(0.0, seconds);
    }
    for (;;) {
        std::shared_ptr<TimerState> state;
        {
            std::lock_guard lock(impl_->mutex);
            auto first = impl_->due.begin();
            if (first == impl_->due.end() || first->first > target) break;
            // A task that fell due during a stall runs late, at the time reached.
            const double deadline = first->first;
            if (deadline > impl_->monotonic) {
                impl_->wall += deadline - impl_->monotonic;
                impl_->monotonic = deadline;
            }
            state = std::move(first->second);
            impl_->due.erase(first);
            if (state->interval > 0 && !state->isCancelled()) {
                // On the grid of its deadlines; those already passed are covered by this run.
                double next = deadline + state->interval;
                while (next <= impl_->monotonic) next += state->interval;
                impl_->due.emplace(next, state);
            }
        }
        if (state->queue->isCurrent()) {
            state->runIfActive();
        } else {
            state->queue->sync([&] { state->runIfActive(); });
        }
    }
    std::lock_guard lock(impl_->mutex);
    impl_->wall += target - impl_->monotonic;
    impl_->monotonic = target;
}

void VirtualClock::stall(double seconds) {
    std::lock_guard lock(impl_->mutex);
    impl_->monotonic += std::max(0.0, seconds);
    impl_->wall += std::max(0.0, seconds);
}

void VirtualClock::stepWallClock(double seconds) {
    std::lock_guard lock(impl_->mutex);
    impl_->wall += seconds;
}

std::size_t VirtualClock::pendingCount() const {
    std::lock_guard lock(impl_->mutex);
    std::size_t count = 0;
    for (auto& [deadline, state] : impl_->due) {
        if (!state->isCancelled()) ++count;
    }
    return count;
}

ScopedVirtualClock::ScopedVirtualClock(double wallStart)
    : previous_(Clock::current()), clock_(std::make_shared<VirtualClock>(wallStart)) {
    Clock::setCurrent(clock_);
}

ScopedVirtualClock::~ScopedVirtualClock() { Clock::setCurrent(previous_); }

}  // namespace quorvane
