#pragma once

#include <mutex>
#include <string>

#include "SessionEvents.hpp"
#include "quorvane/Logger.hpp"

namespace quorvane::session {

/// The host's console logger: prints the library's log lines to standard error when asked to,
/// and notes the line the library writes when the peer's video track arrives (the library hands
/// the host no received video: that line is all a host learns of it).
class HostLogger : public Logger {
public:
    HostLogger(SessionEvents& events, bool print) : events_(events), print_(print) {}

    void trace(const std::string& message, const DataList& data) override { write("TRACE", message, data); }
    void debug(const std::string& message, const DataList& data) override { write("DEBUG", message, data); }
    void error(const std::string& message, const DataList& data) override { write("ERROR", message, data); }
    void info(const std::string& message, const DataList& data) override { write("INFO", message, data); }
    void warn(const std::string& message, const DataList& data) override { write("WARN", message, data); }

private:
    void write(const char* level, const std::string& message, const DataList& data);

    SessionEvents& events_;
    const bool print_;
    std::mutex mutex_;
};

}  // namespace quorvane::session
