#pragma once

#include <optional>
#include <string_view>

namespace quorvane {

/// Tags of the payloads that WellKnownTagEncoder writes and reads. The raw value of each case is
/// its tag text. The four numeric cases are named after their payload's width (the schema's
/// `int`, `long`, `float` and `double` are C++ keywords).
enum class WellKnownTags {
    text,     ///< "text/plain; charset=utf-8"
    bytes,    ///< "application/octet-stream"
    json,     ///< "application/json"
    int32,    ///< "application/vnd.morvik+int32"
    int64,    ///< "application/vnd.morvik+int64"
    float32,  ///< "application/vnd.morvik+float32"
    float64,  ///< "application/vnd.morvik+float64"
    boolean,  ///< "application/vnd.morvik+bool"
};

/// The tag text of `tag`.
std::string_view rawValue(WellKnownTags tag);

/// The tag whose text is exactly `raw` (case and spacing included), else none.
std::optional<WellKnownTags> wellKnownTagsFromRawValue(std::string_view raw);

}  // namespace quorvane
