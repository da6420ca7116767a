#pragma once

// Strict readers for the fields of the service's JSON records. Each throws DecodingError naming
// the path of the failing value; nothing is converted between JSON types.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "rest/DecodingError.hpp"

namespace quorvane::json {

/// "a.b" for a key below a path, "a[2]" for a list element.
std::string childPath(const std::string& path, std::string_view key);
std::string elementPath(const std::string& path, std::size_t index);

/// Fails unless `value` is a JSON object (valueNotFound for null, typeMismatch otherwise).
void requireObject(const nlohmann::json& value, const std::string& path);

/// The value under `key`, failing with keyNotFound or valueNotFound when it is missing or null.
const nlohmann::json& required(const nlohmann::json& object, std::string_view key, const std::string& path);
/// The value under `key`, or null when the key is missing or null.
const nlohmann::json* optional(const nlohmann::json& object, std::string_view key);

std::string asString(const nlohmann::json& value, const std::string& path);
/// An integer that fits a signed 64-bit integer. A float fails (5.5, 1e19, -9223372036854775809,
/// "5" too): parse() reads every number that is exactly whole, up to 2^53 in size when it is
/// written with a fraction or an exponent, as an integer.
std::int64_t asInt64(const nlohmann::json& value, const std::string& path);
bool asBool(const nlohmann::json& value, const std::string& path);
/// Fails unless `value` is a JSON array.
const nlohmann::json::array_t& asArray(const nlohmann::json& value, const std::string& path);

std::string requiredString(const nlohmann::json& object, std::string_view key, const std::string& path);
std::int64_t requiredInt64(const nlohmann::json& object, std::string_view key, const std::string& path);
std::optional<std::string> optionalString(const nlohmann::json& object, std::string_view key,
                                          const std::string& path);
std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, std::string_view key,
                                          const std::string& path);

/// Decodes each element of a list field with `decode(element, elementPath)`.
template <class T, class Decode>
std::vector<T> decodeList(const nlohmann::json& value, const std::string& path, Decode decode) {
    std::vector<T> result;
    const auto& array = asArray(value, path);
    result.reserve(array.size());
    for (std::size_t i = 0; i < array.size(); ++i) result.push_back(decode(array[i], elementPath(path, i)));
    return result;
}

/// Parses a response body; text that is not JSON fails with dataCorrupted. A number written with a
/// fraction or an exponent ("5.0", "1e3") is read as an integer when its text is exactly a whole
/// number no larger than 2^53 in size, else as a float.
nlohmann::json parse(std::string_view body);

}  // namespace quorvane::json
