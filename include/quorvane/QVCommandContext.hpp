#pragma once

#include "quorvane/Promise.hpp"
#include "quorvane/QVErrorResponse.hpp"

namespace quorvane {

/// Handed to the host with a received command; the host completes it, or fails it, once. Copies
/// share one completion: settling through one settles them all, and the first settlement wins,
/// also when two threads race.
class QVCommandContext {
public:
    /// A pending context, or an already fulfilled one when `completed` is true.
    explicit QVCommandContext(bool completed = false);

    /// Fulfils the completion.
    void complete() const;
    /// Rejects the completion with a QVError carrying `error`'s message and status code.
    void error(const QVErrorResponse& error) const;

    PendingPromise<void> completion;
};

}  // namespace quorvane
