#pragma once

#include <functional>

#include "quorvane/Promise.hpp"
#include "quorvane/QVTaggedData.hpp"

namespace quorvane {

/// Handed to the host for a query it sent: each part of the answer reaches `received()`, and the
/// completion settles once the last part arrives, the peer fails the query or it times out.
/// Copies share one completion; the first settlement wins, also when two threads race.
class QVQueryReceipt {
public:
    using Handler = std::function<void(const QVTaggedData& data, bool isLastMessage)>;

    /// A pending receipt; with `failed` true it is rejected at once with
    /// WebRTCError::notInitialized. An empty `received` stands for a handler that does nothing.
    explicit QVQueryReceipt(Handler received = {}, bool failed = false);

    /// The promise of the completion.
    const Promise<void>& complete() const { return completion.promise; }
    /// The handler through which each part of the answer reaches the host.
    const Handler& received() const { return received_; }

    PendingPromise<void> completion;

private:
    Handler received_;
};

}  // namespace quorvane
