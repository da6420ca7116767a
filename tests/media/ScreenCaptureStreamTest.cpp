#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

#include "media/ScreenCaptureMediaStreamContainer.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/VideoTrack.hpp"
#include "support/MediaFakes.hpp"
#include "support/RecordingRenderer.hpp"

namespace quorvane {
namespace {

using testing::failureOf;
using testing::RecordingRenderer;
using testing::SyntheticScreenRecorder;

class ScreenStream : public ::testing::Test {
protected:
    std::shared_ptr<ScreenCaptureMediaStreamContainer> makeContainer() {
        auto container = std::make_shared<ScreenCaptureMediaStreamContainer>(
            configuration, rtc::PeerConnectionFactory::shared(), ScreenCaptureFactory(recorder), true);
        container->initialize();
        return container;
    }

    std::shared_ptr<RecordingRenderer> renderer = std::make_shared<RecordingRenderer>();
    std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration =
        std::make_shared<VideoStreamConfiguration<ScreenFormat>>(ScreenFormat{{1080, 1920}}, renderer);
    std::shared_ptr<SyntheticScreenRecorder> recorder = std::make_shared<SyntheticScreenRecorder>();
    std::shared_ptr<ScreenCaptureMediaStreamContainer> container = makeContainer();
};

TEST_F(ScreenStream, PassesVideoSamplesToTheTrackAndDropsTheRest) {
    EXPECT_EQ(container->getVideoTrack()->trackId(), "SCREEN_TRACK");
    auto started = container->startCapture();
    recorder->emit(SyntheticScreenRecorder::videoSample(64, 48, 1.0));  // samples may come before the start
    recorder->finishStart();
    EXPECT_EQ(failureOf(started), "");
    EXPECT_TRUE(container->isActive());

    recorder->emit(SyntheticScreenRecorder::videoSample(64, 48, 1.5));
    recorder->emit({rtc::ScreenSample::Type::audioApp, nullptr, 2.0});
    recorder->emit({rtc::ScreenSample::Type::audioMic, SyntheticScreenRecorder::videoSample(8, 8, 0).imageBuffer, 2.0});
    recorder->emit({rtc::ScreenSample::Type::video, nullptr, 2.0});
    for (double time : {std::nan(""), HUGE_VAL, 1e10, -1e10}) {
        recorder->emit(SyntheticScreenRecorder::videoSample(64, 48, time));
    }

    const auto frames = renderer->frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].width, 64);
    EXPECT_EQ(frames[1].height, 48);
    EXPECT_EQ(frames[1].rotation, 0);
    EXPECT_EQ(frames[1].timestampNs, 1'500'000'000);
}

TEST_F(ScreenStream, RefusesToStartWhenTheRecorderIsBusyOrUnavailable) {
    const auto other = recorder->startCapture([](const auto&) {}, [](auto) {});
    EXPECT_EQ(failureOf(container->startCapture()), "RPScreenRecorder is not available");
    recorder->stopCapture(other);

    recorder->setAvailable(false);
    EXPECT_EQ(failureOf(container->startCapture()), "RPScreenRecorder is not available");
    EXPECT_EQ(recorder->recordingsBegun(), 1);
    EXPECT_FALSE(container->isActive());
}

TEST_F(ScreenStream, AFailedStartLeavesTheStreamInactive) {
    auto started = container->startCapture();
    recorder->finishStart(std::make_exception_ptr(std::runtime_error("no permission")));
    EXPECT_EQ(failureOf(started), "no permission");
    EXPECT_FALSE(container->isActive());
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(ScreenStream, StopsOnlyItsOwnRecordingAndHearsNoMoreOfIt) {
    auto controller = container->createController();
    auto started = controller->start();
    recorder->finishStart();
    ASSERT_EQ(failureOf(started), "");
    controller->stop();
    EXPECT_FALSE(container->isActive());
    EXPECT_FALSE(recorder->isRecording());
    recorder->emit(SyntheticScreenRecorder::videoSample(64, 48, 1.0));
    EXPECT_TRUE(renderer->frames().empty());

    // Someone else records now: neither a stop nor the release of this stream ends that.
    const auto other = recorder->startCapture([](const auto&) {}, [](auto) {});
    controller->stop();
    EXPECT_TRUE(recorder->isRecording());
    recorder->stopCapture(other);

    // A stream released while recording ends its recording.
    auto second = makeContainer();
    auto recording = second->startCapture();
    recorder->finishStart();
    ASSERT_EQ(failureOf(recording), "");
    controller.reset();
    second.reset();
    container.reset();
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(ScreenStream, ControllerKeepsTheFormatTheHostSets) {
    auto controller = container->createController();
    EXPECT_EQ(controller->format().height, 1920);
    EXPECT_EQ(failureOf(controller->changeFormat({640, 360})), "");
    EXPECT_EQ(controller->format().height, 1920);
    controller->setFormat({720, 1280});
    EXPECT_EQ(controller->format().height, 1280);
}

TEST(ScreenRecorder, CompletesEveryStartOnce) {
    auto recorder = std::make_shared<SyntheticScreenRecorder>();
    std::vector<std::string> outcomes;
    auto record = [&outcomes](std::exception_ptr error) {
        try {
            if (error) std::rethrow_exception(error);
            outcomes.emplace_back("started");
        } catch (const std::exception& failure) {
            outcomes.emplace_back(failure.what());
        }
    };
    const auto first = recorder->startCapture([](const auto&) {}, record);
    recorder->startCapture([](const auto&) {}, record);  // busy
    EXPECT_TRUE(recorder->stopCapture(first));           // before it started
    recorder->finishStart();                             // too late: not counted
    EXPECT_FALSE(recorder->stopCapture(first));
    recorder->startCapture([](const auto&) {}, record);
    recorder->finishStart();
    recorder->finishStart();
    recorder->startCapture([](const auto&) {}, record);  // busy again
    recorder.reset();
    const std::vector<std::string> expected = {
        "A screen recording is already under way", "The screen recording was stopped before it started",
        "started", "A screen recording is already under way"};
    EXPECT_EQ(outcomes, expected);

    auto released = std::make_shared<SyntheticScreenRecorder>();
    released->startCapture([](const auto&) {}, record);
    released.reset();
    EXPECT_EQ(outcomes.back(), "The screen recorder was released");
}

}  // namespace
}  // namespace quorvane
