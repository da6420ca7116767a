#include "log/SDKType.hpp"

namespace quorvane {

std::string_view rawValue(SDKType sdk) {
    switch (sdk) {
        case SDKType::TYPESCRIPT: return "TYPESCRIPT";
        case SDKType::KOTLIN: return "KOTLIN";
        case SDKType::SWIFT: return "SWIFT";
        case SDKType::GO: return "GO";
    }
    return "SWIFT";
}

std::optional<SDKType> sdkTypeFromRawValue(std::string_view raw) {
    for (auto sdk : {SDKType::TYPESCRIPT, SDKType::KOTLIN, SDKType::SWIFT, SDKType::GO}) {
        if (rawValue(sdk) == raw) return sdk;
    }
    return std::nullopt;
}

}  // namespace quorvane
