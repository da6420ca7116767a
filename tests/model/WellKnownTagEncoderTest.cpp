#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "quorvane/WellKnownTagEncoder.hpp"

using namespace quorvane;

namespace {

using Bytes = std::vector<std::uint8_t>;

QVTaggedData payload(Bytes bytes) { return {"any", std::move(bytes)}; }

}  // namespace

TEST(WellKnownTags, TextsMatchExactly) {
    EXPECT_EQ(rawValue(WellKnownTags::text), "text/plain; charset=utf-8");
    EXPECT_EQ(rawValue(WellKnownTags::bytes), "application/octet-stream");
    EXPECT_EQ(rawValue(WellKnownTags::int32), "application/vnd.morvik+int32");
    EXPECT_EQ(rawValue(WellKnownTags::int64), "application/vnd.morvik+int64");
    EXPECT_EQ(rawValue(WellKnownTags::float32), "application/vnd.morvik+float32");
    EXPECT_EQ(rawValue(WellKnownTags::float64), "application/vnd.morvik+float64");
    EXPECT_EQ(rawValue(WellKnownTags::boolean), "application/vnd.morvik+bool");
    EXPECT_EQ(wellKnownTagsFromRawValue("application/json"), WellKnownTags::json);
    for (auto other : {"APPLICATION/JSON", "text/plain", "text/plain;charset=utf-8", ""}) {
        EXPECT_FALSE(wellKnownTagsFromRawValue(other)) << other;
    }
}

TEST(WellKnownTagEncoder, NumbersAreLittleEndianImagesOfExactSize) {
    auto one = WellKnownTagEncoder::Number::encode<std::int32_t>(1, WellKnownTags::int32);
    EXPECT_EQ(one.tag(), "application/vnd.morvik+int32");
    EXPECT_EQ(one.data(), (Bytes{0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(WellKnownTagEncoder::Number::encode<std::int32_t>(-2, WellKnownTags::int32).data(),
              (Bytes{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(WellKnownTagEncoder::Number::encode(1.0, WellKnownTags::float64).data(),
              (Bytes{0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
    EXPECT_EQ(WellKnownTagEncoder::Number::encode(1.0f, WellKnownTags::float32).data(), (Bytes{0, 0, 0x80, 0x3F}));
    EXPECT_EQ(WellKnownTagEncoder::Number::encode<std::int64_t>(0x0102030405060708, WellKnownTags::int64).data(),
              (Bytes{8, 7, 6, 5, 4, 3, 2, 1}));
    // The tag is not checked against the type.
    auto odd = WellKnownTagEncoder::Number::encode<std::uint16_t>(0x1234, WellKnownTags::float64);
    EXPECT_EQ(odd.tag(), "application/vnd.morvik+float64");
    EXPECT_EQ(odd.data(), (Bytes{0x34, 0x12}));
}

TEST(WellKnownTagEncoder, NumbersDecodeOnlyFromTheirExactSize) {
    EXPECT_EQ(WellKnownTagEncoder::Number::decode<std::int32_t>(payload({0xFE, 0xFF, 0xFF, 0xFF})), -2);
    EXPECT_EQ(WellKnownTagEncoder::Number::decode<double>(payload({0, 0, 0, 0, 0, 0, 0xF0, 0x3F})), 1.0);
    EXPECT_FALSE(WellKnownTagEncoder::Number::decode<std::int64_t>(payload({1, 0, 0, 0})));
    EXPECT_FALSE(WellKnownTagEncoder::Number::decode<std::int32_t>(payload({1, 0, 0, 0, 0, 0, 0, 0})));
    EXPECT_FALSE(WellKnownTagEncoder::Number::decode<std::uint8_t>(payload({})));
    EXPECT_FALSE(WellKnownTagEncoder::Number::decode<float>(payload({})));

    for (double value : {0.0, -0.0, 1e-300, -123.456, std::numeric_limits<double>::max()}) {
        auto decoded = WellKnownTagEncoder::Number::decode<double>(
            WellKnownTagEncoder::Number::encode(value, WellKnownTags::float64));
        EXPECT_EQ(std::signbit(*decoded), std::signbit(value));
        EXPECT_EQ(*decoded, value);
    }
    auto nan = WellKnownTagEncoder::Number::encode(std::numeric_limits<float>::quiet_NaN(), WellKnownTags::float32);
    EXPECT_TRUE(std::isnan(*WellKnownTagEncoder::Number::decode<float>(nan)));
    auto min = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(WellKnownTagEncoder::Number::decode<std::int64_t>(
                  WellKnownTagEncoder::Number::encode(min, WellKnownTags::int64)),
              min);
}

TEST(WellKnownTagEncoder, Booleans) {
    EXPECT_EQ(WellKnownTagEncoder::Boolean::encode(true).data(), Bytes{1});
    EXPECT_EQ(WellKnownTagEncoder::Boolean::encode(false).data(), Bytes{0});
    EXPECT_EQ(WellKnownTagEncoder::Boolean::encode(false).tag(), "application/vnd.morvik+bool");
    EXPECT_EQ(WellKnownTagEncoder::Boolean::decode(payload({1})), true);
    EXPECT_EQ(WellKnownTagEncoder::Boolean::decode(payload({2})), false);
    EXPECT_FALSE(WellKnownTagEncoder::Boolean::decode(payload({1, 0})));
    EXPECT_FALSE(WellKnownTagEncoder::Boolean::decode(payload({})));
}

TEST(WellKnownTagEncoder, TextIsStrictUtf8) {
    auto empty = WellKnownTagEncoder::Text::encode("");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->tag(), "text/plain; charset=utf-8");
    EXPECT_TRUE(empty->data().empty());
    auto greeting = WellKnownTagEncoder::Text::encode("h\xC3\xA9llo \xF0\x9F\x98\x80");
    EXPECT_EQ(greeting->data().size(), 11u);
    EXPECT_EQ(WellKnownTagEncoder::Text::decode(*greeting), "h\xC3\xA9llo \xF0\x9F\x98\x80");
    // The tag is ignored.
    EXPECT_EQ(WellKnownTagEncoder::Text::decode(WellKnownTagEncoder::Bytes::encode({'o', 'k'})), "ok");

    const std::map<std::string, Bytes> invalid{
        {"lone continuation", {0x80}},
        {"overlong slash", {0xC0, 0xAF}},
        {"overlong three bytes", {0xE0, 0x80, 0xAF}},
        {"surrogate", {0xED, 0xA0, 0x80}},
        {"above U+10FFFF", {0xF4, 0x90, 0x80, 0x80}},
        {"cut short", {'a', 0xE2, 0x82}},
        {"bad continuation", {0xE2, 0x28, 0xA1}},
        {"invalid byte", {0xFF}},
    };
    for (const auto& [name, bytes] : invalid) {
        EXPECT_FALSE(WellKnownTagEncoder::Text::decode(payload(bytes))) << name;
        EXPECT_FALSE(WellKnownTagEncoder::Text::encode(std::string(bytes.begin(), bytes.end()))) << name;
    }
    EXPECT_TRUE(WellKnownTagEncoder::Text::decode(payload({0xF4, 0x8F, 0xBF, 0xBF})));  // U+10FFFF
    EXPECT_TRUE(WellKnownTagEncoder::Text::decode(payload({0xEF, 0xBF, 0xBF})));        // U+FFFF
}

TEST(WellKnownTagEncoder, BytesJsonAndEmpty) {
    auto bytes = WellKnownTagEncoder::Bytes::encode({0, 255});
    EXPECT_EQ(bytes.tag(), "application/octet-stream");
    EXPECT_EQ(WellKnownTagEncoder::Bytes::decode(bytes), (Bytes{0, 255}));

    std::map<std::string, int> value{{"a", 1}, {"b", 2}};
    auto json = WellKnownTagEncoder::Json::encode(value);
    EXPECT_EQ(json.tag(), "application/json");
    EXPECT_EQ(std::string(json.data().begin(), json.data().end()), R"({"a":1,"b":2})");
    EXPECT_EQ((WellKnownTagEncoder::Json::decode<std::map<std::string, int>>(json)), value);
    EXPECT_THROW(WellKnownTagEncoder::Json::decode<int>(payload({'{'})), nlohmann::json::parse_error);
    EXPECT_THROW(WellKnownTagEncoder::Json::decode<int>(payload({'"', 'x', '"'})), nlohmann::json::type_error);
    EXPECT_THROW(WellKnownTagEncoder::Json::encode(std::string("\xFF")), nlohmann::json::type_error);

    EXPECT_EQ(WellKnownTagEncoder::Empty().tag(), "");
    EXPECT_TRUE(WellKnownTagEncoder::Empty().data().empty());
}
