#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "media/CameraMediaStreamContainer.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/VideoTrack.hpp"
#include "support/MediaFakes.hpp"

namespace quorvane {
namespace {

using testing::FakeCameraCapturer;
using testing::FakeDeviceCatalogue;
using testing::failureOf;

const FrameFormat kHd{{1280, 720}, {1, 30}};
const FrameFormat kVga{{640, 480}, {1, 30}};
const FrameFormat kFullHd{{1920, 1080}, {1, 30}};

rtc::CaptureFormat captureFormat(const FrameFormat& format) {
    return {static_cast<std::int32_t>(format.frameSize.width), static_cast<std::int32_t>(format.frameSize.height),
            {{1, 30}}, 0};
}

std::exception_ptr capturerError() { return std::make_exception_ptr(std::runtime_error("camera busy")); }

class CameraStream : public ::testing::Test {
protected:
    std::shared_ptr<CameraMediaStreamContainer> makeContainer(CameraFormat source) {
        configuration = std::make_shared<VideoStreamConfiguration<CameraFormat>>(std::move(source), nullptr);
        CameraVideoCaptureFactory captureFactory(store, [this](std::shared_ptr<rtc::VideoSource>) {
            capturer = std::make_shared<FakeCameraCapturer>();
            return capturer;
        });
        return std::make_shared<CameraMediaStreamContainer>(configuration, rtc::PeerConnectionFactory::shared(),
                                                            std::move(captureFactory), false);
    }

    void SetUp() override {
        container = makeContainer(CameraFormat("Front Cam", true, kHd));
        container->initialize();
    }

    /// Starts capture and has the capturer confirm it.
    void startActive() {
        auto started = container->startCapture();
        capturer->answerNext();
        ASSERT_EQ(failureOf(started), "");
    }

    FakeCameraCapturer::Request request(std::size_t index) const { return capturer->requests().at(index); }

    std::shared_ptr<FakeDeviceCatalogue> catalogue = std::make_shared<FakeDeviceCatalogue>(std::vector<FakeDeviceCatalogue::Entry>{
        {{"usb-1", "Front Cam"}, {captureFormat(kHd), captureFormat(kVga)}},
        {{"usb-2", "Back Cam"}, {captureFormat(kFullHd)}},
    });
    std::shared_ptr<CameraStore> store = std::make_shared<CameraStore>(catalogue);
    std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration;
    std::shared_ptr<FakeCameraCapturer> capturer;
    std::shared_ptr<CameraMediaStreamContainer> container;
};

TEST_F(CameraStream, StartsTheConfiguredCameraAtTheHighestRateOfItsFormat) {
    auto started = container->startCapture();
    ASSERT_EQ(capturer->requests().size(), 1u);
    EXPECT_TRUE(request(0).isStart);
    EXPECT_EQ(request(0).device.uniqueId, "usb-1");
    EXPECT_EQ(request(0).format.width, 1280);
    EXPECT_EQ(request(0).framesPerSecond, 30);
    EXPECT_FALSE(container->isActive());

    capturer->answerNext();
    EXPECT_EQ(failureOf(started), "");
    EXPECT_TRUE(container->isActive());
    EXPECT_EQ(failureOf(container->startCapture()), "");
    EXPECT_EQ(capturer->requests().size(), 1u);  // already capturing: the capturer is not asked again
}

TEST_F(CameraStream, AStartMadeWhileOneIsUnderWayWaitsForIt) {
    auto first = container->startCapture();
    auto second = container->createController()->start();
    EXPECT_EQ(capturer->requests().size(), 1u);
    capturer->answerNext(capturerError());
    EXPECT_EQ(failureOf(first), "camera busy");
    EXPECT_EQ(failureOf(second), "camera busy");
    EXPECT_FALSE(container->isActive());

    auto again = container->startCapture();  // a failed start leaves the stream ready for another
    EXPECT_EQ(capturer->requests().size(), 2u);
    capturer->answerNext();
    EXPECT_EQ(failureOf(again), "");
}

TEST_F(CameraStream, RefusesAConfigurationTheCatalogueCannotServe) {
    for (const auto& source : {CameraFormat("front cam", true, kHd),                     // name differs in case
                               CameraFormat("Front Cam", true, {{1024, 768}, {1, 30}}),  // size not offered
                               CameraFormat("Front Cam", true, {{1280, 720}, {0, 30}}),  // minimum too low
                               CameraFormat("Front Cam", true, {{1280, 720}, {1, 60}})}) {
        auto refused = makeContainer(source);
        refused->initialize();
        EXPECT_EQ(failureOf(refused->startCapture()), "Failed to set up video capturer parameters");
        EXPECT_TRUE(capturer->requests().empty());
    }
}

TEST_F(CameraStream, SwitchesCameraThenChangesFormatOnTheNewOne) {
    startActive();
    auto controller = container->createController();
    auto switched = controller->switchCamera(CameraFormat("Back Cam", false, kFullHd));
    ASSERT_EQ(capturer->requests().size(), 3u);  // the start is issued without waiting for the stop
    EXPECT_FALSE(request(1).isStart);
    EXPECT_TRUE(request(2).isStart);
    EXPECT_EQ(request(2).device.uniqueId, "usb-2");

    capturer->answerNext();  // stopped
    EXPECT_FALSE(container->isActive());
    capturer->answerNext();  // started
    EXPECT_EQ(failureOf(switched), "");
    EXPECT_TRUE(container->isActive());
    EXPECT_EQ(controller->cameraName(), "Back Cam");

    auto changed = controller->changeFormat({{1920, 1080}, {15, 30}});
    capturer->answerNext();
    capturer->answerNext();
    EXPECT_EQ(failureOf(changed), "");
    EXPECT_EQ(request(4).device.uniqueId, "usb-2");

    controller->stop();  // a restart goes back to the configured camera
    capturer->answerNext();
    auto restarted = controller->start();
    capturer->answerNext();
    EXPECT_EQ(failureOf(restarted), "");
    EXPECT_EQ(request(6).device.uniqueId, "usb-1");
    EXPECT_EQ(container->createController()->cameraName(), "Front Cam");
}

TEST_F(CameraStream, AFailedSwitchLeavesCaptureStoppedAndTheStreamInactive) {
    startActive();
    auto controller = container->createController();
    const struct {
        std::function<Promise<void>()> change;
        std::exception_ptr startError;
        const char* failure;
    } cases[] = {
        {[&] { return controller->switchCamera(CameraFormat("Side Cam", false, kHd)); }, nullptr,
         "Could not access specified camera"},
        {[&] { return controller->changeFormat({{1024, 768}, {1, 30}}); }, nullptr,
         "Could not access specified camera format"},
        {[&] { return controller->changeFormat(kVga); }, capturerError(), "camera busy"},
    };
    for (const auto& example : cases) {
        auto change = example.change();
        capturer->answerNext();  // stopped
        if (example.startError) capturer->answerNext(example.startError);
        EXPECT_EQ(failureOf(change), example.failure);
        EXPECT_FALSE(container->isActive()) << example.failure;
        EXPECT_EQ(controller->cameraName(), "Front Cam");

        const auto issued = capturer->requests().size();
        auto restarted = controller->start();  // an inactive stream starts for real
        EXPECT_EQ(capturer->requests().size(), issued + 1);
        capturer->answerNext();
        EXPECT_EQ(failureOf(restarted), "");
    }
}

TEST_F(CameraStream, AStartAnsweredAfterALaterStopDoesNotCountAsCapturing) {
    auto starting = container->startCapture();
    container->stopCapture();
    auto restarting = container->startCapture();  // not the start under way: it was stopped
    ASSERT_EQ(capturer->requests().size(), 3u);

    capturer->answerNext();  // the first start succeeds, but a stop followed it
    EXPECT_EQ(failureOf(starting), "");
    EXPECT_FALSE(container->isActive());
    capturer->answerNext();
    EXPECT_FALSE(container->isActive());
    capturer->answerNext();
    EXPECT_EQ(failureOf(restarting), "");
    EXPECT_TRUE(container->isActive());

    // After stop() with a changeFormat that succeeds, capture runs and the stream says so.
    container->stopCapture();
    capturer->answerNext();
    auto changed = container->createController()->changeFormat(kVga);
    capturer->answerNext();
    capturer->answerNext();
    EXPECT_EQ(failureOf(changed), "");
    EXPECT_TRUE(container->isActive());
}

TEST(MediaStreamContainer, AnswersSafelyBeforeInitializeAndMakesOneTrack) {
    auto configuration = std::make_shared<VideoStreamConfiguration<CameraFormat>>(CameraFormat(), nullptr);
    auto container = std::make_shared<CameraMediaStreamContainer>(
        configuration, rtc::PeerConnectionFactory::shared(),
        CameraVideoCaptureFactory(std::make_shared<CameraStore>(std::make_shared<FakeDeviceCatalogue>()),
                                  [](auto) { return std::make_shared<FakeCameraCapturer>(); }),
        false);
    EXPECT_EQ(container->getVideoTrack(), nullptr);
    EXPECT_FALSE(container->enabled());
    container->setEnabled(true);
    container->stopCapture();
    EXPECT_EQ(failureOf(container->startCapture()), "The video stream has not been initialized");
    EXPECT_EQ(failureOf(container->createController()->switchCamera(CameraFormat())),
              "The video stream has not been initialized");

    auto track = container->initialize();
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(container->initialize(), track);
    EXPECT_EQ(track->trackId(), CameraMediaStreamContainer::cameraTrackId);
    EXPECT_EQ(container->kind(), "CAMERA");
    EXPECT_TRUE(container->enabled());
    container->setEnabled(false);
    EXPECT_FALSE(track->isEnabled());
    EXPECT_NE(container->createController(), container->createController());
}

TEST(MediaStreamContainer, StreamIdsAreDistinctAndConsecutive) {
    std::vector<std::int64_t> ids(400);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; i < 400; i += 8) ids[i] = AbstractMediaStreamContainer::getNextStreamId();
        });
    }
    for (auto& thread : threads) thread.join();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_EQ(ids.back() - ids.front() + 1, 400);
}

}  // namespace
}  // namespace quorvane
