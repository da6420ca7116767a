#pragma once

#include <optional>
#include <string_view>

namespace quorvane {

/// Kind of a log entry: an ordinary line, a sensitive one, a session metric, or the record of one
/// data-channel message.
enum class LogType { LOG, SENSITIVE, METRIC, DATACHANNELMESSAGEINFO };

/// The case name: "LOG", "SENSITIVE", "METRIC" or "DATACHANNELMESSAGEINFO".
std::string_view rawValue(LogType type);

/// The kind whose raw text is exactly `raw`, else none.
std::optional<LogType> logTypeFromRawValue(std::string_view raw);

}  // namespace quorvane
