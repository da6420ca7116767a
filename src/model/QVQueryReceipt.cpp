#include "quorvane/QVQueryReceipt.hpp"

#include "quorvane/Errors.hpp"

namespace quorvane {

QVQueryReceipt::QVQueryReceipt(Handler received, bool failed)
    : completion(Promise<void>::pending()),
      received_(received ? std::move(received) : Handler([](const QVTaggedData&, bool) {})) {
    if (failed) completion.resolver.reject(WebRTCError::notInitialized());
}

}  // namespace quorvane
