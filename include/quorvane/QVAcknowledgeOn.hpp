#pragma once

#include <cstdint>
#include <optional>

namespace quorvane {

/// When the receiver of a command acknowledges it.
enum class QVAcknowledgeOn : std::uint8_t {
    received = 0,  ///< as soon as it has the command
    finished = 1,  ///< when its handler has completed the command's context
};

/// The case whose raw value is `raw`, else none.
std::optional<QVAcknowledgeOn> qvAcknowledgeOnFromRawValue(std::uint8_t raw);

}  // namespace quorvane
