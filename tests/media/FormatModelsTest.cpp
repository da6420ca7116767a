#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "quorvane/CameraFormat.hpp"
#include "quorvane/CameraInfo.hpp"
#include "quorvane/FrameFormat.hpp"
#include "quorvane/FrameRateRange.hpp"
#include "quorvane/FrameSize.hpp"

namespace quorvane {
namespace {

using nlohmann::json;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

bool same(const FrameSize& left, const FrameSize& right) {
    return left.width == right.width && left.height == right.height;
}

TEST(FrameSize, EqualityComparesAreasOnly) {
    EXPECT_EQ((FrameSize{1280, 720}), (FrameSize{720, 1280}));
    EXPECT_EQ((FrameSize{1280, 720}), (FrameSize{960, 960}));
    EXPECT_NE((FrameSize{1280, 720}), (FrameSize{1280, 721}));
    // Exact also where the product leaves 64 bits: kMax × 2 is not kMax × 1.
    EXPECT_NE((FrameSize{kMax, 2}), (FrameSize{kMax, 1}));
    EXPECT_EQ((FrameSize{kMax, 2}), (FrameSize{2, kMax}));
    EXPECT_EQ((FrameFormat{{1280, 720}, {1, 30}}), (FrameFormat{{720, 1280}, {15, 60}}));
}

TEST(FrameSize, ScalesWidthAndHeightTowardZero) {
    const FrameSize hd{1280, 720};
    EXPECT_TRUE(same(hd / 3, {426, 240}));
    EXPECT_TRUE(same(hd * 1.5, {1920, 1080}));
    EXPECT_TRUE(same(hd / 2.0f, {640, 360}));
    EXPECT_TRUE(same(hd * 0.5, {640, 360}));
    EXPECT_TRUE(same(FrameSize{1001, 501} / 2, {500, 250}));
    EXPECT_TRUE(same(hd * -1, {-1280, -720}));
    EXPECT_TRUE(same(FrameSize{-7, 7} / 2, {-3, 3}));
    EXPECT_TRUE(same(hd * std::uint8_t{2}, {2560, 1440}));
    EXPECT_EQ(hd.size(), 921600);
}

TEST(FrameSize, ArithmeticOutsideSixtyFourBitsThrows) {
    const FrameSize huge{kMax, 2};
    EXPECT_THROW(huge.size(), std::overflow_error);
    EXPECT_THROW(huge * 2, std::overflow_error);
    EXPECT_THROW((FrameSize{kMin, 1} / -1), std::overflow_error);
    EXPECT_THROW((FrameSize{1, 1} * std::numeric_limits<std::uint64_t>::max()), std::overflow_error);
    EXPECT_THROW((FrameSize{1280, 720} / 0), std::domain_error);
    EXPECT_THROW((FrameSize{1280, 720} / 0.0), std::overflow_error);
    EXPECT_THROW((FrameSize{0, 0} / 0.0f), std::overflow_error);  // 0/0 is not a number
    EXPECT_THROW((FrameSize{1280, 720} * std::nan("")), std::overflow_error);
    EXPECT_THROW((FrameSize{1280, 720} * 1e300), std::overflow_error);
    EXPECT_THROW((FrameSize{kMax, 1} * 1.0), std::overflow_error);  // 2^63 after rounding
}

TEST(FrameRateRange, RangeHoldsBothBoundsAndRefusesAnInvertedRange) {
    const auto thirty = FrameRateRange{30, 30}.range();
    EXPECT_TRUE(thirty.contains(30));
    EXPECT_FALSE(thirty.contains(29));
    EXPECT_FALSE(thirty.contains(31));
    EXPECT_TRUE((FrameRateRange{1, 30}.range().contains(1)));
    EXPECT_THROW((FrameRateRange{31, 30}.range()), std::domain_error);
}

TEST(CameraInfo, WithFormatKeepsTheCameraAndTakesAnyFormat) {
    const CameraInfo camera{"Back Camera", false, {{{640, 480}, {1, 30}}}};
    const FrameFormat unlisted{{1280, 720}, {1, 30}};
    const auto format = camera.withFormat(unlisted);
    EXPECT_EQ(format.cameraName, "Back Camera");
    EXPECT_FALSE(format.isFrontFacing);
    EXPECT_TRUE(same(format.format.frameSize, unlisted.frameSize));
}

TEST(FormatJson, CameraFormatHasTheDocumentedForm) {
    const CameraFormat format("Back Camera", false, {{1280, 720}, {1, 30}});
    EXPECT_EQ(json(format), json::parse(R"({"cameraName": "Back Camera", "isFrontFacing": false,
        "format": {"frameSize": {"width": 1280, "height": 720}, "frameRate": {"min": 1, "max": 30}}})"));
}

TEST(FormatJson, RoundTripsEdgeValues) {
    const CameraInfo camera{"Kamera \xC3\xBC \"1\"", true,
                            {{{kMax, kMin}, {kMin, kMax}}, {{0, -1}, {30, 1}}, {{1280, 720}, {1, 30}}}};
    const auto info = json::parse(json(camera).dump()).get<CameraInfo>();
    EXPECT_EQ(info.name, camera.name);
    EXPECT_TRUE(info.isFrontFacing);
    ASSERT_EQ(info.formats.size(), 3u);
    EXPECT_TRUE(same(info.formats[0].frameSize, {kMax, kMin}));
    EXPECT_EQ(info.formats[0].frameRate.min, kMin);
    EXPECT_EQ(info.formats[0].frameRate.max, kMax);
    EXPECT_EQ(info.formats[1].frameRate.min, 30);  // stored as given, min above max

    const auto format = json::parse(json(camera.withFormat(camera.formats[2])).dump()).get<CameraFormat>();
    EXPECT_EQ(format.cameraName, camera.name);
    EXPECT_TRUE(same(format.format.frameSize, {1280, 720}));

    EXPECT_TRUE(json::parse(R"({"name": "", "isFrontFacing": false, "formats": []})").get<CameraInfo>().formats.empty());
}

TEST(FormatJson, DecodingFailsOnMissingKeysAndWrongKinds) {
    const char* invalid[] = {
        R"({"frameSize": {"width": 1, "height": 2}})",                                          // no frameRate
        R"({"frameSize": {"width": 1.5, "height": 2}, "frameRate": {"min": 1, "max": 2}})",    // not whole
        R"({"frameSize": {"width": true, "height": 2}, "frameRate": {"min": 1, "max": 2}})",   // boolean
        R"({"frameSize": {"width": "1", "height": 2}, "frameRate": {"min": 1, "max": 2}})",    // text
        R"({"frameSize": {"width": 9223372036854775808, "height": 2}, "frameRate": {"min": 1, "max": 2}})",
        R"({"frameSize": [1, 2], "frameRate": {"min": 1, "max": 2}})",
    };
    for (const auto* text : invalid) {
        EXPECT_THROW(json::parse(text).get<FrameFormat>(), json::exception) << text;
    }
    EXPECT_THROW(json::parse(R"({"name": "a", "isFrontFacing": false})").get<CameraInfo>(), json::exception);
    EXPECT_THROW(json::parse(R"({"name": "a", "isFrontFacing": 0, "formats": []})").get<CameraInfo>(),
                 json::exception);
    EXPECT_THROW(json::parse(R"({"cameraName": "a", "isFrontFacing": false})").get<CameraFormat>(),
                 json::exception);
}

}  // namespace
}  // namespace quorvane
