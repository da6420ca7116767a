#include "rest/JsonFields.hpp"

#include <algorithm>

namespace quorvane::json {

namespace {

constexpr std::uint64_t largestSafeWhole = std::uint64_t(1) << 53;

/// The value of a JSON number text that is exactly a whole number no larger than 2^53 in size,
/// whatever way it is written ("5.0", "5e0", "0.5e1", "-0.0"); none for anything else.
std::optional<std::int64_t> safeWholeNumber(std::string_view text) {
    std::size_t at = 0;
    bool negative = at < text.size() && text[at] == '-';
    if (negative) ++at;
    std::string digits;
    std::int64_t scale = 0;  // the value is digits * 10^scale
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) digits += text[at];
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            digits += text[at];
            --scale;
        }
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        bool negativeExponent = at < text.size() && text[at] == '-';
        if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
        std::int64_t exponent = 0;
        // Capped far beyond any text's length, so that the sum below cannot overflow.
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            exponent = std::min<std::int64_t>(exponent * 10 + (text[at] - '0'), 1'000'000'000'000);
        }
        scale += negativeExponent ? -exponent : exponent;
    }
    digits.erase(0, digits.find_first_not_of('0'));
    if (digits.empty()) return 0;
    while (digits.back() == '0') {
        digits.pop_back();
        ++scale;
    }
    // A fraction is left, or the value has more digits than 2^53 (16).
    if (scale < 0 || static_cast<std::int64_t>(digits.size()) + scale > 16) return std::nullopt;
    std::uint64_t value = 0;
    for (char digit : digits) value = value * 10 + static_cast<std::uint64_t>(digit - '0');
    for (std::int64_t i = 0; i < scale; ++i) value *= 10;
    if (value > largestSafeWhole) return std::nullopt;
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

/// Builds the document as nlohmann's own parser does, except that a number written with a
/// fraction or an exponent becomes an integer when its text is exactly a whole number no larger
/// than 2^53 in size. Every other such number stays a float, which no integer field takes: the
/// text, not a rounded double, decides whether a number is whole.
class DocumentBuilder : public nlohmann::detail::json_sax_dom_parser<nlohmann::json> {
public:
    using json_sax_dom_parser::json_sax_dom_parser;

    bool number_float(double value, const std::string& text) {
        if (auto whole = safeWholeNumber(text)) return number_integer(*whole);
        return json_sax_dom_parser::number_float(value, text);
    }
};

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
    if (value.is_number_unsigned()) {
        auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(unsignedValue);
    } else if (value.is_number_integer()) {
        return value.get<std::int64_t>();
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
        nlohmann::json document;
        DocumentBuilder builder(document);
        nlohmann::json::sax_parse(body, &builder);
        return document;
    } catch (const nlohmann::json::exception& error) {
        // Syntax errors, and numbers too large for a double (1e999).
        throw DecodingError(DecodingError::Kind::dataCorrupted, "",
                            std::string("The given data was not valid JSON: ") + error.what());
    }
}

}  // namespace quorvane::json
