#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "media/CameraMediaStreamContainer.hpp"
#include "model/PlatformError.hpp"
#include "quorvane/QVError.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/V4l2CameraCapturer.hpp"
#include "rtc/V4l2DeviceCatalogue.hpp"

namespace quorvane {
namespace {

bool hasVideoDevices() {
    for (const auto& entry : std::filesystem::directory_iterator("/dev")) {
        if (entry.path().filename().string().starts_with("video")) return true;
    }
    return false;
}

/// What a start completion reported; empty when capture started.
std::string describe(std::exception_ptr error) {
    if (!error) return {};
    try {
        std::rethrow_exception(error);
    } catch (const PlatformError& failure) {
        return failure.domain() + ": " + failure.what();
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

TEST(V4l2Cameras, AMachineWithoutCamerasHasAnEmptyCatalogue) {
    if (hasVideoDevices()) GTEST_SKIP() << "this machine has video devices";
    EXPECT_TRUE(rtc::V4l2DeviceCatalogue().devices().empty());
    EXPECT_TRUE(VideoStreamConfiguration<CameraFormat>::getCameras().empty());

    auto configuration = std::make_shared<VideoStreamConfiguration<CameraFormat>>(
        CameraFormat("Integrated Camera", true, {{1280, 720}, {1, 30}}), nullptr);
    auto container = std::make_shared<CameraMediaStreamContainer>(configuration, rtc::PeerConnectionFactory::shared(),
                                                                  CameraVideoCaptureFactory(), false);
    container->initialize();
    EXPECT_THROW(container->startCapture().wait(), QVError);
}

TEST(V4l2Cameras, EveryRequestIsAnsweredOnceInOrder) {
    auto source = rtc::PeerConnectionFactory::shared()->createVideoSource(false);
    auto capturer = std::make_unique<rtc::V4l2CameraCapturer>(source);
    const rtc::CaptureDevice missing{"no-such-camera", "Missing"};
    const rtc::CaptureFormat format{640, 480, {{1, 30}}, 0};

    std::vector<std::string> answers;  // written on the capturer's queue, read after its last answer
    std::promise<void> stopped;
    std::promise<void> released;
    capturer->startCapture(missing, format, 30, [&](std::exception_ptr error) { answers.push_back(describe(error)); });
    capturer->stopCapture([&] {
        answers.emplace_back("stopped");
        stopped.set_value();
    });
    stopped.get_future().wait();
    capturer->startCapture(missing, format, 30, [&](std::exception_ptr error) {
        answers.push_back(describe(error));
        released.set_value();
    });
    capturer.reset();  // the start still waiting is answered all the same
    released.get_future().wait();

    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(answers[0], "V4l2CameraCapturer: Could not open camera Missing");
    EXPECT_EQ(answers[1], "stopped");
    EXPECT_TRUE(answers[2] == answers[0] || answers[2] == "V4l2CameraCapturer: The camera capturer was released")
        << answers[2];
}

}  // namespace
}  // namespace quorvane
