#pragma once

#include <mutex>
#include <string>

#include "SessionEvents.hpp"
#include "quorvane/Logger.hpp"

namespace quorvane::session {

/// The host's console logger: prints the library's error lines to standard error, and every
/// other line too when verbose; it also notes the line the library writes when the peer's video track arrives (the library hands
/// the host no received video: that line is all a host learns of it).
class HostLogger : public Logger {
public:
    HostLogger(SessionEvents& events, bool verbose) : events_(events), verbose_(verbose) {}

    void trace(const std::string& message, const DataList& data) override { write("TRACE", verbose_, message, data); }
    void debug(const std::string& message, const DataList& data) override { write("DEBUG", verbose_, message, data); }
    void error(const std::string& message, const DataList& data) override { write("ERROR", true, message, data); }
    void info(const std::string& message, const DataList& data) override { write("INFO", verbose_, message, data); }
    void warn(const std::string& message, const DataList& data) override { write("WARN", verbose_, message, data); }

private:
    void write(const char* level, bool print, const std::string& message, const DataList& data);

    SessionEvents& events_;
    const bool verbose_;
    std::mutex mutex_;
};

}  // namespace quorvane::session
