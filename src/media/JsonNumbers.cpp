#include "media/JsonNumbers.hpp"

#include <string>

namespace quorvane {

std::int64_t wholeNumber(const nlohmann::json& object, const char* key) {
    const auto& value = object.at(key);
    const bool fits = value.is_number_integer() &&
                      !(value.is_number_unsigned() && value.get<std::uint64_t>() > INT64_MAX);
    if (!fits) {
        throw nlohmann::json::type_error::create(
            302, std::string("\"") + key + "\" must be a whole number that fits a signed 64-bit integer", &value);
    }
    return value.get<std::int64_t>();
}

}  // namespace quorvane
