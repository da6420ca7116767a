#include "log/LogType.hpp"

namespace quorvane {

std::string_view rawValue(LogType type) {
    switch (type) {
        case LogType::LOG: return "LOG";
        case LogType::SENSITIVE: return "SENSITIVE";
        case LogType::METRIC: return "METRIC";
        case LogType::DATACHANNELMESSAGEINFO: return "DATACHANNELMESSAGEINFO";
    }
    return "LOG";
}

std::optional<LogType> logTypeFromRawValue(std::string_view raw) {
    for (auto type : {LogType::LOG, LogType::SENSITIVE, LogType::METRIC, LogType::DATACHANNELMESSAGEINFO}) {
        if (rawValue(type) == raw) return type;
    }
    return std::nullopt;
}

}  // namespace quorvane
