#pragma once

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace quorvane {

/// Extra structured data of a log line: a JSON object from text keys to values.
using LogData = nlohmann::json;

/// Where the library's plain log lines go. A host passes its own implementation to route them
/// into its own logging; PrintLogger is the default. The library calls these from any of its
/// threads, also from several at once, so an implementation must be thread-safe.
///
/// Each call carries the message and a list of optional data maps; the library always passes a
/// list of exactly one element, absent when the line has no data.
class Logger {
public:
    using DataList = std::vector<std::optional<LogData>>;

    virtual ~Logger() = default;

    virtual void trace(const std::string& message, const DataList& data) = 0;
    virtual void debug(const std::string& message, const DataList& data) = 0;
    virtual void error(const std::string& message, const DataList& data) = 0;
    virtual void info(const std::string& message, const DataList& data) = 0;
    virtual void warn(const std::string& message, const DataList& data) = 0;
};

}  // namespace quorvane
