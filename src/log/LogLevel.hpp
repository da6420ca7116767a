#pragma once

#include <optional>
#include <string_view>

namespace quorvane {

/// Severity of a log entry, most important first.
enum class LogLevel { ERROR, WARN, INFO, DEBUG, TRACE };

/// "ERROR", "WARN", "INFO", "DEBUG" or "TRACE".
std::string_view rawValue(LogLevel level);

/// The level whose raw text is exactly `raw` (case-sensitive), else none.
std::optional<LogLevel> logLevelFromRawValue(std::string_view raw);

/// ERROR 4, WARN 3, INFO 2, DEBUG 1, TRACE 0: a larger number is more important.
int importance(LogLevel level);

}  // namespace quorvane
