#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "quorvane/DispatchQueue.hpp"
#include "quorvane/NotificationCenter.hpp"
#include "quorvane/ReachabilityFlags.hpp"
#include "quorvane/ReachabilitySource.hpp"

namespace quorvane {

/// The name of the notification a Reachability monitor posts after each change of its flags.
inline constexpr std::string_view reachabilityChanged = "reachabilityChanged";

/// A failure of the network monitor, with the source's error code at the moment of failure.
class ReachabilityError : public std::runtime_error {
public:
    enum class Kind {
        failedToCreateWithAddress,
        unableToSetCallback,
        unableToSetDispatchQueue,
        unableToGetFlags,
    };

    ReachabilityError(Kind kind, int code);
    Kind kind() const { return kind_; }
    int code() const { return code_; }

private:
    Kind kind_;
    int code_;
};

/// Watches whether the machine can reach the network and over which kind of link. Keeps the
/// last flags its source reported and, on every change, calls `whenReachable` or
/// `whenUnreachable` and posts "reachabilityChanged" on its notification center.
///
/// Every reader may be called from any thread. Handlers and notifications run on the
/// notification queue given at creation, or, without one, on the monitor's own serial queue
/// "reachability.monitor" before the report's handling returns.
class Reachability : public std::enable_shared_from_this<Reachability> {
public:
    enum class Connection {
        unavailable,
        wifi,
        cellular,
        none = unavailable,
    };
    using Handler = std::function<void(Reachability&)>;

    /// A monitor over `source`; `notificationQueue` may be null (see above).
    static std::shared_ptr<Reachability> create(std::shared_ptr<ReachabilitySource> source,
                                                DispatchQueuePtr notificationQueue);
    /// A monitor of the network in general (the machine's links and default routes), announcing
    /// changes on the main queue. Throws ReachabilityError(failedToCreateWithAddress) when the
    /// routing table cannot be watched.
    static std::shared_ptr<Reachability> create();

    /// Stops the notifier.
    ~Reachability();
    Reachability(const Reachability&) = delete;
    Reachability& operator=(const Reachability&) = delete;

    /// Starts watching and reads the flags once; does nothing when already running. Throws
    /// ReachabilityError, after undoing the registration.
    void startNotifier();
    /// Stops watching. The last flags are kept.
    void stopNotifier();

    /// The current connection. Reads the flags first when none were ever read; a failed read
    /// stops the notifier and counts as unavailable.
    Connection connection();
    Connection currentReachabilityStatus() { return connection(); }
    std::string currentReachabilityString();
    bool isReachable() { return connection() != Connection::unavailable; }
    bool isReachableViaWWAN() { return connection() == Connection::cellular; }
    bool isReachableViaWiFi() { return connection() == Connection::wifi; }

    /// The text form of the flags, or "unavailable flags" while none were read.
    std::string description() const;
    std::optional<ReachabilityFlags> flags() const;
    bool notifierRunning() const { return notifierRunning_; }

    void setWhenReachable(Handler handler);
    void setWhenUnreachable(Handler handler);
    /// When false, a cellular link counts as unavailable. True at first.
    void setAllowsCellularConnection(bool allows);
    bool allowsCellularConnection() const;
    /// Where change notifications are posted: the default center at first.
    void setNotificationCenter(std::shared_ptr<NotificationCenter> center);

private:
    Reachability(std::shared_ptr<ReachabilitySource> source, DispatchQueuePtr notificationQueue);
    void readFlagsNow();
    void setFlags(ReachabilityFlags flags);
    void announceChange();
    Connection connectionFor(ReachabilityFlags flags) const;

    const std::shared_ptr<ReachabilitySource> source_;
    const DispatchQueuePtr reachabilitySerialQueue_;
    const DispatchQueuePtr notificationQueue_;
    std::atomic<bool> notifierRunning_{false};

    mutable std::mutex mutex_;  // guards the members below
    std::optional<ReachabilityFlags> flags_;
    Handler whenReachable_;
    Handler whenUnreachable_;
    bool allowsCellularConnection_ = true;
    std::shared_ptr<NotificationCenter> notificationCenter_;
};

/// "No Connection", "WiFi" or "Cellular".
std::string_view description(Reachability::Connection connection);

}  // namespace quorvane
