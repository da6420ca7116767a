#include "quorvane/WellKnownTags.hpp"

#include <array>
#include <utility>

namespace quorvane {

namespace {

constexpr std::array<std::pair<WellKnownTags, std::string_view>, 8> tagTexts{{
    {WellKnownTags::text, "text/plain; charset=utf-8"},
    {WellKnownTags::bytes, "application/octet-stream"},
    {WellKnownTags::json, "application/json"},
    {WellKnownTags::int32, "application/vnd.morvik+int32"},
    {WellKnownTags::int64, "application/vnd.morvik+int64"},
    {WellKnownTags::float32, "application/vnd.morvik+float32"},
    {WellKnownTags::float64, "application/vnd.morvik+float64"},
    {WellKnownTags::boolean, "application/vnd.morvik+bool"},
}};

}  // namespace

std::string_view rawValue(WellKnownTags tag) {
    for (const auto& [known, text] : tagTexts) {
        if (known == tag) return text;
    }
    return {};
}

std::optional<WellKnownTags> wellKnownTagsFromRawValue(std::string_view raw) {
    for (const auto& [known, text] : tagTexts) {
        if (text == raw) return known;
    }
    return std::nullopt;
}

}  // namespace quorvane
