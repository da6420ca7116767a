#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

namespace quorvane {

/// The whole number under `key` of a JSON object. A missing key, or a value that is not a whole
/// number fitting a signed 64-bit integer (5.5, true, "5", 2^63), throws the JSON library's error.
std::int64_t wholeNumber(const nlohmann::json& object, const char* key);

}  // namespace quorvane
