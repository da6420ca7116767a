#pragma once

#include <cstdint>
#include <optional>

namespace quorvane {

/// The categories the library names. A message's category is any 16-bit number; these are the
/// usual ones.
enum class QVCategory : std::uint16_t {
    Default = 0,
    Chat = 1,
    Log = 2,
};

/// The case whose raw value is `raw`, else none.
std::optional<QVCategory> qvCategoryFromRawValue(std::uint16_t raw);

}  // namespace quorvane
