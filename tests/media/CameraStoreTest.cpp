#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "media/CameraStore.hpp"
#include "support/MediaFakes.hpp"

namespace quorvane {
namespace {

using testing::FakeDeviceCatalogue;

rtc::CaptureFormat format(std::int32_t width, std::int32_t height, double minRate, double maxRate,
                          std::int32_t pixelFormat = 0) {
    return {width, height, {{minRate, maxRate}}, pixelFormat};
}

FakeDeviceCatalogue::Entry device(std::string id, std::string name, std::vector<rtc::CaptureFormat> formats) {
    return {{std::move(id), std::move(name)}, std::move(formats)};
}

std::vector<std::string> names(const std::vector<CameraInfo>& cameras) {
    std::vector<std::string> result;
    for (const auto& camera : cameras) result.push_back(camera.name + (camera.isFrontFacing ? " (front)" : " (back)"));
    return result;
}

TEST(CameraStore, ListsTheFirstVideoDeviceAsFrontAndTheSecondAsBack) {
    const auto hd = format(1280, 720, 1, 30);
    const struct {
        std::vector<FakeDeviceCatalogue::Entry> devices;
        std::vector<std::string> cameras;
    } cases[] = {
        {{device("a", "Left", {hd}), device("b", "Right", {hd}), device("c", "Third", {hd})},
         {"Left (front)", "Right (back)"}},
        {{device("a", "Only", {hd})}, {"Only (front)"}},
        {{}, {}},
        // A device that offers no format captures no video (a metadata node, for example).
        {{device("meta", "Meta", {}), device("a", "Left", {hd}), device("b", "Right", {hd})},
         {"Left (front)", "Right (back)"}},
    };
    for (const auto& example : cases) {
        CameraStore store(std::make_shared<FakeDeviceCatalogue>(example.devices));
        EXPECT_EQ(names(store.getCameras()), example.cameras);
        EXPECT_EQ(store.cameras().size(), example.cameras.size());
    }
}

TEST(CameraStore, ListsFormatsWithAUsableFirstRateRangeInCatalogueOrder) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    auto noRanges = format(320, 240, 1, 30);
    noRanges.frameRateRanges.clear();
    auto secondRangeIgnored = format(800, 600, 1.9, 30.7);
    secondRangeIgnored.frameRateRanges.push_back({nan, nan});
    CameraStore store(std::make_shared<FakeDeviceCatalogue>(std::vector{device(
        "a", "Cam",
        {format(1280, 720, 1, 30), noRanges, format(640, 480, nan, 30), format(640, 480, 1, inf),
         format(640, 480, -1, 30), format(640, 480, 31, 30), format(640, 480, 1, 1e30), secondRangeIgnored,
         format(1280, 720, 1, 30)})}));

    const auto cameras = store.getCameras();
    ASSERT_EQ(cameras.size(), 1u);
    const auto& formats = cameras[0].formats;
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(formats[0].frameSize.width, 1280);
    EXPECT_EQ(formats[1].frameSize.width, 800);
    EXPECT_EQ(formats[1].frameRate.min, 1);  // rates truncated
    EXPECT_EQ(formats[1].frameRate.max, 30);
    EXPECT_EQ(formats[2].frameSize.width, 1280);  // duplicates kept
}

TEST(CameraStore, MatchesExactSizeAndACoveredRateRange) {
    auto twoRanges = format(1920, 1080, 1, 30, 7);
    twoRanges.frameRateRanges.push_back({1, 60});
    CameraStore store(std::make_shared<FakeDeviceCatalogue>(std::vector{device(
        "a", "Cam", {format(1280, 720, 1, 30, 1), format(1280, 720, 1, 30, 2), twoRanges})}));
    store.getCameras();
    const auto camera = store.cameras().at(0).device;

    const struct {
        FrameFormat requested;
        std::optional<std::int32_t> pixelFormat;
    } cases[] = {
        {{{1280, 720}, {1, 30}}, 1},  // the earlier of two equal formats
        {{{1280, 720}, {15, 30}}, 1},
        {{{1280, 720}, {30, 30}}, 1},
        {{{1280, 720}, {0, 30}}, std::nullopt},   // minimum below the device's
        {{{1280, 720}, {1, 60}}, std::nullopt},   // maximum above the device's
        {{{720, 1280}, {1, 30}}, std::nullopt},   // equal area is no match
        {{{1920, 1080}, {1, 60}}, std::nullopt},  // only the first range counts
        {{{1920, 1080}, {1, 30}}, 7},
    };
    for (const auto& example : cases) {
        // The requested camera's name and facing play no part.
        const auto found = store.avFormat(camera, CameraFormat("Another camera", true, example.requested));
        EXPECT_EQ(found ? std::optional(found->pixelFormat) : std::nullopt, example.pixelFormat)
            << example.requested.frameSize.width << "x" << example.requested.frameSize.height << " "
            << example.requested.frameRate.min << ".." << example.requested.frameRate.max;
    }
}

TEST(CameraStore, KeepsTheFormatsOfCamerasThatShareAName) {
    CameraStore store(std::make_shared<FakeDeviceCatalogue>(std::vector{
        device("usb-1", "USB Camera", {format(640, 480, 1, 30)}),
        device("usb-2", "USB Camera", {format(1920, 1080, 1, 30)})}));
    const auto cameras = store.getCameras();
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[1].formats.at(0).frameSize.width, 1920);
    const auto devices = store.cameras();
    EXPECT_TRUE(store.avFormat(devices[0].device, CameraFormat("", false, {{640, 480}, {1, 30}})));
    EXPECT_FALSE(store.avFormat(devices[0].device, CameraFormat("", false, {{1920, 1080}, {1, 30}})));
    EXPECT_TRUE(store.avFormat(devices[1].device, CameraFormat("", false, {{1920, 1080}, {1, 30}})));
}

TEST(CameraStore, ARefreshReplacesEverythingTheLastOneListed) {
    auto catalogue = std::make_shared<FakeDeviceCatalogue>(std::vector{
        device("a", "Front", {format(640, 480, 1, 30)}), device("b", "Back", {format(1280, 720, 1, 30)})});
    CameraStore store(catalogue);
    const rtc::CaptureDevice back{"b", "Back"};
    const CameraFormat hd("Back", false, {{1280, 720}, {1, 30}});
    EXPECT_FALSE(store.avFormat(back, hd));  // nothing is known before the first refresh

    const auto first = store.getCameras();
    const auto second = store.getCameras();
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[1].formats.size(), first[1].formats.size());
    EXPECT_TRUE(store.avFormat(back, hd));

    catalogue->setEntries({device("a", "Front", {format(640, 480, 1, 30)})});
    EXPECT_EQ(names(store.getCameras()), std::vector<std::string>{"Front (front)"});
    EXPECT_EQ(store.cameras().size(), 1u);
    EXPECT_FALSE(store.avFormat(back, hd));
}

}  // namespace
}  // namespace quorvane
