#pragma once

#include "quorvane/Logger.hpp"

namespace quorvane {

/// Writes each log line to standard output as one whole line: the level's tag ("TRACE: ",
/// "DEBUG: ", "ERROR: ", "INFO: " or "WARN: "), the message, a blank and the data list in
/// brackets, an absent map shown as nil. A line without data reads "DEBUG: hello [nil]".
/// Present maps are written as compact JSON. Safe to call from several threads at once.
class PrintLogger : public Logger {
public:
    PrintLogger() = default;

    void trace(const std::string& message, const DataList& data) override;
    void debug(const std::string& message, const DataList& data) override;
    void error(const std::string& message, const DataList& data) override;
    void info(const std::string& message, const DataList& data) override;
    void warn(const std::string& message, const DataList& data) override;
};

}  // namespace quorvane
