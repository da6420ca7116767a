#include "log/LogEntry.hpp"

#include "util/Utf8.hpp"

namespace quorvane {

void LogEntry::setLogMetric(const std::string& name, nlohmann::json value) {
    data = LogData::object();
    (*data)[name] = std::move(value);
}

void LogEntry::setLogDataChannelMessageInfo(const std::string& messageId, std::int64_t messageLength) {
    data = LogData{{"messageId", messageId}, {"messageLength", messageLength}};
}

nlohmann::json LogEntry::getMetaData() const {
    nlohmann::json meta{
        {"sessionId", validUtf8(sessionID)},
        {"type", rawValue(type)},
        {"level", rawValue(level)},
        {"sdk", rawValue(sdk)},
        {"package", validUtf8(pkg)},
        {"class", validUtf8(klass)},
        {"method", validUtf8(method)},
        {"timestamp", timeStamp},
        {"message", validUtf8(message)},
        {"pin", validUtf8(pin)},
    };
    if (role) meta["role"] = rawValue(*role);
    if (data) meta["data"] = withValidUtf8(*data);
    return meta;
}

}  // namespace quorvane
