#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "quorvane/Logger.hpp"

namespace quorvane::testing {

/// A console logger that remembers every call as "LEVEL message" with its data list.
class RecordingLogger : public Logger {
public:
    struct Call {
        std::string level;
        std::string message;
        DataList data;
    };

    void trace(const std::string& message, const DataList& data) override { record("TRACE", message, data); }
    void debug(const std::string& message, const DataList& data) override { record("DEBUG", message, data); }
    void error(const std::string& message, const DataList& data) override { record("ERROR", message, data); }
    void info(const std::string& message, const DataList& data) override { record("INFO", message, data); }
    void warn(const std::string& message, const DataList& data) override { record("WARN", message, data); }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    void record(std::string level, const std::string& message, const DataList& data) {
        std::lock_guard lock(mutex_);
        calls_.push_back({std::move(level), message, data});
    }

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

}  // namespace quorvane::testing
