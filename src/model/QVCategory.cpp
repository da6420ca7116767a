#include "quorvane/QVCategory.hpp"

namespace quorvane {

std::optional<QVCategory> qvCategoryFromRawValue(std::uint16_t raw) {
    if (raw > static_cast<std::uint16_t>(QVCategory::Log)) return std::nullopt;
    return static_cast<QVCategory>(raw);
}

}  // namespace quorvane
