#pragma once

#include <cstddef>
#include <optional>

namespace quorvane {

/// True when a message whose tag and payload have these sizes fits the transport: at most 65535
/// chunks of 15360 bytes, with room for the message's own fields.
bool fitsInOneMessage(std::size_t tagBytes, std::size_t dataBytes);

/// How long to wait for a time-out given by the host: negative counts as 0, infinite or huge as a
/// billion seconds (about 31 years); nothing for a value that is not a number.
std::optional<double> usableTimeout(double seconds);

/// True for a wait that usableTimeout gave for a time-out that is infinite or huge: a command or
/// query sent so has no time-out of its own.
bool waitsForever(double wait);

}  // namespace quorvane
