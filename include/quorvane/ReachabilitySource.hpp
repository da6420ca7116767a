#pragma once

#include <functional>
#include <optional>

#include "quorvane/DispatchQueue.hpp"
#include "quorvane/ReachabilityFlags.hpp"

namespace quorvane {

/// Where a Reachability monitor gets its flags from. The library's own source watches the
/// machine's links and default routes; a host or a test may supply another.
class ReachabilitySource {
public:
    using Callback = std::function<void(ReachabilityFlags)>;

    virtual ~ReachabilitySource() = default;

    /// Installs the function that receives each new flag set (an empty one removes it). Returns
    /// false when that fails.
    virtual bool setCallback(Callback callback) = 0;
    /// Starts delivering the callback on `queue`; null stops the delivery. Returns false when
    /// that fails.
    virtual bool setDispatchQueue(DispatchQueuePtr queue) = 0;
    /// The flags as they are now, or none when they cannot be read.
    virtual std::optional<ReachabilityFlags> readFlags() = 0;
    /// The error code of the last failed call (an errno value for the library's own source).
    virtual int lastError() const = 0;
};

}  // namespace quorvane
