#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "quorvane/ReachabilitySource.hpp"

namespace quorvane {

/// Reachability of the network in general from the kernel's routing table: reachable while a
/// default route (IPv4 or IPv6) leads out through a link that is up and running; the cellular bit
/// is set when that link is a WWAN device. Watches link and route changes over rtnetlink on a
/// thread of its own and reports the recomputed flags on the queue it is given.
class NetlinkReachabilitySource final : public ReachabilitySource {
public:
    /// Null (errno set) when the routing table cannot be read on this machine.
    static std::shared_ptr<NetlinkReachabilitySource> create();

    ~NetlinkReachabilitySource() override;

    bool setCallback(Callback callback) override;
    bool setDispatchQueue(DispatchQueuePtr queue) override;
    std::optional<ReachabilityFlags> readFlags() override;
    int lastError() const override { return lastError_; }

private:
    NetlinkReachabilitySource() = default;
    void stopWatching();
    void watch(int socket, int wakeFd);
    void report();

    std::mutex mutex_;  // guards callback_ and queue_
    Callback callback_;
    DispatchQueuePtr queue_;
    std::thread watcher_;
    int wakeFd_ = -1;
    std::atomic<int> lastError_{0};
};

}  // namespace quorvane
