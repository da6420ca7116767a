#include "rest/JsonFields.hpp"

#include <cmath>

namespace quorvane::json {

namespace {

const char* typeName(const nlohmann::json& value) { return value.type_name(); }

[[noreturn]] void mismatch(const nlohmann::json& value, const std::string& path, const char* expected) {
    throw DecodingError(DecodingError::Kind::typeMismatch, path,
                        std::string("Expected ") + expected + " but found " + typeName(value));
}

[[noreturn]] void nullValue(const std::string& path, const char* expected) {
    throw DecodingError(DecodingError::Kind::valueNotFound, path,
                        std::string("Expected ") + expected + " but found null");
}

void requireType(const nlohmann::json& value, const std::string& path, bool matches, const char* expected) {
    if (value.is_null()) nullValue(path, expected);
    if (!matches) mismatch(value, path, expected);
}

}  // namespace

std::string childPath(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string elementPath(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

void requireObject(const nlohmann::json& value, const std::string& path) {
    requireType(value, path, value.is_object(), "an object");
}

const nlohmann::json& required(const nlohmann::json& object, std::string_view key, const std::string& path) {
    auto found = object.find(key);
    if (found == object.end()) {
        throw DecodingError(DecodingError::Kind::keyNotFound, childPath(path, key),
                            "No value associated with key \"" + std::string(key) + "\"");
    }
    return *found;
}

const nlohmann::json* optional(const nlohmann::json& object, std::string_view key) {
    auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

std::string asString(const nlohmann::json& value, const std::string& path) {
    requireType(value, path, value.is_string(), "a string");
    return value.get<std::string>();
}

std::int64_t asInt64(const nlohmann::json& value, const std::string& path) {
    requireType(value, path, value.is_number(), "an integer");
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(unsignedValue);
    } else {
        // A float is accepted when it holds a whole value inside the int64 range (5.0 reads as 5).
        double number = value.get<double>();
        if (std::isfinite(number) && std::trunc(number) == number && number >= -9223372036854775808.0 &&
            number < 9223372036854775808.0) {
            return static_cast<std::int64_t>(number);
        }
    }
    throw DecodingError(DecodingError::Kind::typeMismatch, path,
                        "Number " + value.dump() + " is not a whole number that fits a 64-bit integer");
}

bool asBool(const nlohmann::json& value, const std::string& path) {
    requireType(value, path, value.is_boolean(), "a Boolean");
    return value.get<bool>();
}

const nlohmann::json::array_t& asArray(const nlohmann::json& value, const std::string& path) {
    requireType(value, path, value.is_array(), "an array");
    return value.get_ref<const nlohmann::json::array_t&>();
}

std::string requiredString(const nlohmann::json& object, std::string_view key, const std::string& path) {
    return asString(required(object, key, path), childPath(path, key));
}

std::int64_t requiredInt64(const nlohmann::json& object, std::string_view key, const std::string& path) {
    return asInt64(required(object, key, path), childPath(path, key));
}

std::optional<std::string> optionalString(const nlohmann::json& object, std::string_view key,
                                          const std::string& path) {
    const auto* value = optional(object, key);
    if (!value) return std::nullopt;
    return asString(*value, childPath(path, key));
}

std::optional<std::int64_t> optionalInt64(const nlohmann::json& object, std::string_view key,
                                          const std::string& path) {
    const auto* value = optional(object, key);
    if (!value) return std::nullopt;
    return asInt64(*value, childPath(path, key));
}

nlohmann::json parse(std::string_view body) {
    try {
        return nlohmann::json::parse(body);
    } catch (const nlohmann::json::exception& error) {
        // Syntax errors, and numbers too large for a double (1e999).
        throw DecodingError(DecodingError::Kind::dataCorrupted, "",
                            std::string("The given data was not valid JSON: ") + error.what());
    }
}

}  // namespace quorvane::json
