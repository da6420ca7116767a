#include "quorvane/QVCommandContext.hpp"

#include "quorvane/QVError.hpp"

namespace quorvane {

QVCommandContext::QVCommandContext(bool completed) : completion(Promise<void>::pending()) {
    if (completed) complete();
}

void QVCommandContext::complete() const { completion.resolver.fulfill(); }

void QVCommandContext::error(const QVErrorResponse& error) const {
    completion.resolver.reject(QVError(error.message(), error.statusCode()));
}

}  // namespace quorvane
