#pragma once

#include <optional>
#include <string_view>

namespace quorvane {

/// The client-library flavour that wrote a log entry. This library always writes SWIFT; the other
/// cases exist because the service tells the flavours apart by these names.
enum class SDKType { TYPESCRIPT, KOTLIN, SWIFT, GO };

/// The case name, for example "SWIFT".
std::string_view rawValue(SDKType sdk);

/// The flavour whose raw text is exactly `raw`, else none.
std::optional<SDKType> sdkTypeFromRawValue(std::string_view raw);

}  // namespace quorvane
