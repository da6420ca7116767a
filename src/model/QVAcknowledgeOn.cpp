#include "quorvane/QVAcknowledgeOn.hpp"

namespace quorvane {

std::optional<QVAcknowledgeOn> qvAcknowledgeOnFromRawValue(std::uint8_t raw) {
    if (raw > static_cast<std::uint8_t>(QVAcknowledgeOn::finished)) return std::nullopt;
    return static_cast<QVAcknowledgeOn>(raw);
}

}  // namespace quorvane
