#pragma once

#include <memory>
#include <vector>

#include "quorvane/DispatchQueue.hpp"
#include "quorvane/Promise.hpp"
#include "quorvane/Reachability.hpp"

namespace quorvane {

/// Holds network work back until the machine is online. Waiters that arrive while the network is
/// unavailable are parked on "reachableQueue" and released, in arrival order, by the monitor's
/// next report of a connection.
class NetworkStatus : public std::enable_shared_from_this<NetworkStatus> {
public:
    /// A gate over `reachability`, which it starts; null means a monitor of the machine's own
    /// network. When no monitor can be made or started, the gate prints
    /// "Unable to start notifier" and lets every waiter through.
    static std::shared_ptr<NetworkStatus> create(std::shared_ptr<Reachability> reachability = nullptr);

    /// Stops the monitor and lets the waiters still parked through.
    ~NetworkStatus();
    NetworkStatus(const NetworkStatus&) = delete;
    NetworkStatus& operator=(const NetworkStatus&) = delete;

    /// Resolved at once when the network is reachable (already resolved on return), otherwise at
    /// the monitor's next report of a connection. May be called from any thread.
    Guarantee<void> waitForInternet();

private:
    explicit NetworkStatus(std::shared_ptr<Reachability> reachability);
    /// True when a waiter need not wait: the network is reachable, or nothing watches it.
    bool mayPass() const;
    void releaseWaiters();

    const std::shared_ptr<Reachability> reachability_;
    std::vector<GuaranteeResolver<void>> reachablePromises_;  // touched on reachableQueue_ only
    const DispatchQueuePtr reachableQueue_;
};

}  // namespace quorvane
