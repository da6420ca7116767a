#include "quorvane/WellKnownTagEncoder.hpp"

#include "util/Utf8.hpp"

namespace quorvane {

namespace {
std::string tagText(WellKnownTags tag) { return std::string(rawValue(tag)); }
}  // namespace

const QVTaggedData& WellKnownTagEncoder::Empty() {
    static const QVTaggedData empty("", {});
    return empty;
}

std::optional<QVTaggedData> WellKnownTagEncoder::Text::encode(std::string_view text) {
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    if (!isValidUtf8(bytes)) return std::nullopt;
    return QVTaggedData(tagText(WellKnownTags::text), {bytes.begin(), bytes.end()});
}

std::optional<std::string> WellKnownTagEncoder::Text::decode(const QVTaggedData& data) {
    if (!isValidUtf8(data.data())) return std::nullopt;
    return std::string(data.data().begin(), data.data().end());
}

QVTaggedData WellKnownTagEncoder::Bytes::encode(std::vector<std::uint8_t> bytes) {
    return {tagText(WellKnownTags::bytes), std::move(bytes)};
}

std::vector<std::uint8_t> WellKnownTagEncoder::Bytes::decode(const QVTaggedData& data) { return data.data(); }

QVTaggedData WellKnownTagEncoder::Boolean::encode(bool value) {
    return {tagText(WellKnownTags::boolean), {static_cast<std::uint8_t>(value ? 1 : 0)}};
}

std::optional<bool> WellKnownTagEncoder::Boolean::decode(const QVTaggedData& data) {
    if (data.data().size() != 1) return std::nullopt;
    return data.data()[0] == 1;
}

}  // namespace quorvane
