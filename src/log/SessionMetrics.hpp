#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace quorvane {

class ZephLogger;

/// Counts one support session's connection resets and sent messages and times the session. When
/// collection ends it stores five METRIC entries through the logger ("Num Reconnects",
/// "Num Messages", "Avg Message Size", "Max Message Size", "Session Duration"), whatever the
/// retain setting, and starts over. Thread-safe.
class SessionMetrics {
public:
    explicit SessionMetrics(std::shared_ptr<ZephLogger> logger);

    /// Starts (or restarts) the session clock.
    void startCollection();
    /// Stops the clock and, when collection had started, logs the five metrics and resets.
    void endCollection();
    void incrementReconnects();
    /// Records one message sent successfully.
    void updateMessageMetrics(std::size_t bytes);

private:
    struct Values {
        std::int64_t numReconnects, numMessages, avgMessageSize, maxMessageSize, duration;
    };

    void logMetrics(const Values& values);
    void resetMetrics();  // the caller holds mutex_
    void metric(const std::string& method, const std::string& name, nlohmann::json value, bool important = true);

    std::mutex mutex_;
    const std::shared_ptr<ZephLogger> logger_;
    std::optional<std::int64_t> startTime_;
    std::optional<std::int64_t> endTime_;
    std::int64_t numReconnects_ = 0;
    std::int64_t numMessages_ = 0;
    std::int64_t avgMessageSize_ = 0;
    std::int64_t maxMessageSize_ = 0;
};

}  // namespace quorvane
