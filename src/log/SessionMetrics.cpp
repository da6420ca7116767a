#include "log/SessionMetrics.hpp"

#include <algorithm>
#include <cmath>

#include "async/Clock.hpp"
#include "log/ZephLogger.hpp"

namespace quorvane {

namespace {

/// Now in milliseconds since 1970, rounded half away from zero (log entries truncate instead).
std::int64_t millisecondsSince1970() { return std::llround(Clock::current()->now() * 1000.0); }

}  // namespace

SessionMetrics::SessionMetrics(std::shared_ptr<ZephLogger> logger) : logger_(std::move(logger)) {}

void SessionMetrics::startCollection() {
    std::lock_guard lock(mutex_);
    startTime_ = millisecondsSince1970();
}

void SessionMetrics::endCollection() {
    std::optional<Values> values;
    {
        std::lock_guard lock(mutex_);
        endTime_ = millisecondsSince1970();
        if (!startTime_) return;
        values = Values{numReconnects_, numMessages_, avgMessageSize_, maxMessageSize_, *endTime_ - *startTime_};
        resetMetrics();
    }
    logMetrics(*values);
}

void SessionMetrics::incrementReconnects() {
    std::lock_guard lock(mutex_);
    ++numReconnects_;
}

void SessionMetrics::updateMessageMetrics(std::size_t bytes) {
    auto size = static_cast<std::int64_t>(bytes);
    std::lock_guard lock(mutex_);
    // The running average works from the truncated previous average.
    avgMessageSize_ = (avgMessageSize_ * numMessages_ + size) / (numMessages_ + 1);
    ++numMessages_;
    maxMessageSize_ = std::max(maxMessageSize_, size);
}

void SessionMetrics::logMetrics(const Values& values) {
    metric("logMetrics", "Num Reconnects", values.numReconnects);
    metric("logMetrics", "Num Messages", values.numMessages);
    metric("logMetrics", "Avg Message Size", values.avgMessageSize);
    metric("logMetrics", "Max Message Size", values.maxMessageSize);
    metric("logMetrics", "Session Duration", values.duration);
}

void SessionMetrics::resetMetrics() {
    startTime_.reset();
    endTime_.reset();
    numReconnects_ = 0;
    numMessages_ = 0;
    avgMessageSize_ = 0;
    maxMessageSize_ = 0;
}

void SessionMetrics::metric(const std::string& method, const std::string& name, nlohmann::json value, bool important) {
    if (logger_) logger_->metric(important, "Quorvane.Util", "SessionMetrics", method, "", name, std::move(value));
}

}  // namespace quorvane
