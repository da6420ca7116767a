#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane {

/// A fresh application message id: `length` characters, each drawn independently and uniformly
/// from "abcdefghijklmnopqrstuvwxyz0123456789".
std::string makeId(std::size_t length);

/// A message's sending time: `secondsSince1970` truncated to whole seconds and clamped to what an
/// unsigned 32-bit count holds (0 before 1970, the largest count after early 2106).
std::uint32_t messageTimestamp(double secondsSince1970);

}  // namespace quorvane
