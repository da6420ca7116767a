#pragma once

#include <atomic>
#include <mutex>

#include "quorvane/ReachabilitySource.hpp"

namespace quorvane::testing {

/// A network that tests switch on and off by hand. Reports are delivered the way the real source
/// delivers them: asynchronously, on the queue the monitor attached.
class FakeReachabilitySource : public ReachabilitySource {
public:
    static constexpr ReachabilityFlags online{ReachabilityFlags::reachable};
    static constexpr ReachabilityFlags offline{0};

    explicit FakeReachabilitySource(ReachabilityFlags current = offline) : current_(current) {}

    /// Changes the flags and reports them to the monitor, if it is watching.
    void report(ReachabilityFlags flags);
    /// Waits until the reports delivered so far have been handled.
    void drain();

    void failSetCallback(bool fail) { failSetCallback_ = fail; }
    void failReads(bool fail) { failReads_ = fail; }
    int setCallbackCount() const;
    bool isWatching() const;

    bool setCallback(Callback callback) override;
    bool setDispatchQueue(DispatchQueuePtr queue) override;
    std::optional<ReachabilityFlags> readFlags() override;
    int lastError() const override { return 42; }

private:
    mutable std::mutex mutex_;
    ReachabilityFlags current_;
    Callback callback_;
    DispatchQueuePtr queue_;
    std::atomic<bool> failSetCallback_{false};
    std::atomic<bool> failReads_{false};
    int setCallbackCount_ = 0;
};

}  // namespace quorvane::testing
