#include "quorvane/QVError.hpp"

namespace quorvane {

QVError QVError::getSystemDefaultError(MessageType type) {
    return QVError("Runtime error occurred in user defined " + std::string(rawValue(type)) + " response callback", 500);
}

std::string_view rawValue(QVError::MessageType type) {
    return type == QVError::MessageType::command ? "command" : "query";
}

std::optional<QVError::MessageType> qvErrorMessageTypeFromRawValue(std::string_view raw) {
    if (raw == "command") return QVError::MessageType::command;
    if (raw == "query") return QVError::MessageType::query;
    return std::nullopt;
}

}  // namespace quorvane
