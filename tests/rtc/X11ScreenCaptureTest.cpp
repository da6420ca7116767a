#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "media/ScreenCaptureMediaStreamContainer.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/X11ScreenRecorder.hpp"
#include "support/MediaFakes.hpp"
#include "support/RecordingRenderer.hpp"
#include "support/VanishingDisplay.hpp"
#include "support/XvfbDisplay.hpp"

namespace quorvane {
namespace {

using testing::VanishingDisplay;
using testing::XvfbDisplay;

TEST(X11ScreenRecorder, FailsToStartWithoutAServer) {
    rtc::X11ScreenRecorder recorder(":65535");  // no server listens there
    EXPECT_FALSE(recorder.isAvailable());
    std::promise<std::exception_ptr> started;
    recorder.startCapture([](const auto&) {}, [&](std::exception_ptr error) { started.set_value(error); });
    EXPECT_NE(started.get_future().get(), nullptr);
    EXPECT_FALSE(recorder.isRecording());
}

// An X server resets when its last client leaves and drops the connections that come in meanwhile;
// with -terminate Xvfb ends there instead, so a recorder that let the server go without a client
// between its availability check and its recording, or between two recordings, fails here.
TEST(X11ScreenRecorder, KeepsTheServerAClientFromTheCheckThroughEachRecording) {
    XvfbDisplay display(320, 240, {"-terminate"});
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    rtc::X11ScreenRecorder recorder(display.name());
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(recorder.isAvailable()) << "round " << round;
        std::mutex mutex;
        std::condition_variable framed;
        bool gotFrame = false;
        std::promise<std::exception_ptr> started;
        const auto recording = recorder.startCapture(
            [&](const rtc::ScreenSample&) {
                std::lock_guard lock(mutex);
                gotFrame = true;
                framed.notify_all();
            },
            [&](std::exception_ptr error) { started.set_value(error); });
        ASSERT_EQ(started.get_future().get(), nullptr) << "round " << round;
        std::unique_lock lock(mutex);
        EXPECT_TRUE(framed.wait_for(lock, std::chrono::seconds(10), [&] { return gotFrame; })) << "round " << round;
        lock.unlock();
        EXPECT_TRUE(recorder.stopCapture(recording));
    }
}

// Xlib ends the process when it closes a connection whose server has gone. The display is this
// process's own, so that no other test's server takes it over once this one is gone.
TEST(X11ScreenRecorder, OutlivesTheServerOfItsLastConnection) {
    const std::string name = XvfbDisplay::ownName();
    auto display = std::make_unique<XvfbDisplay>(name);
    ASSERT_EQ(display->name(), name) << "Xvfb did not start on " << name;
    auto recorder = std::make_unique<rtc::X11ScreenRecorder>(name);
    ASSERT_TRUE(recorder->isAvailable());
    display.reset();
    EXPECT_FALSE(recorder->isAvailable());
    display = std::make_unique<XvfbDisplay>(name);
    ASSERT_EQ(display->name(), name) << "Xvfb did not start on " << name;
    recorder = std::make_unique<rtc::X11ScreenRecorder>(name);
    ASSERT_TRUE(recorder->isAvailable());
    display.reset();
    recorder.reset();
}

std::weak_ptr<rtc::ScreenRecorder> processRecorder;

// The process's recorder outlives the exit: the library's threads may let go of a capture while
// the process exits, and closing its display then would meet Xlib torn down.
TEST(X11ScreenRecorder, TheProcessesRecorderOutlivesItsExit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, whose recorder is made below
    EXPECT_EXIT(
        {
            // Runs after what the process made later, the recorder among them, was destroyed.
            std::atexit([] { std::_Exit(processRecorder.expired() ? 1 : 0); });
            processRecorder = rtc::X11ScreenRecorder::shared();
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ScreenStreamOnX11, TheTrackCarriesFramesOfTheDisplaysSize) {
    XvfbDisplay display(320, 240);
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    auto recorder = std::make_shared<rtc::X11ScreenRecorder>(display.name());
    auto renderer = std::make_shared<testing::RecordingRenderer>();
    auto configuration =
        std::make_shared<VideoStreamConfiguration<ScreenFormat>>(ScreenFormat{{1080, 1920}}, renderer);
    auto container = std::make_shared<ScreenCaptureMediaStreamContainer>(
        configuration, rtc::PeerConnectionFactory::shared(), ScreenCaptureFactory(recorder), true);
    container->initialize();

    container->startCapture().wait();
    EXPECT_TRUE(container->isActive());
    ASSERT_TRUE(renderer->waitForFrames(3));
    container->stopCapture();
    EXPECT_FALSE(recorder->isRecording());

    const auto frames = renderer->frames();
    EXPECT_EQ(frames[0].width, 320);
    EXPECT_EQ(frames[0].height, 240);
    EXPECT_LT(frames[0].timestampNs, frames[2].timestampNs);
}

/// DISPLAY set to a name for the object's life, then as it was.
class DisplayVariable {
public:
    explicit DisplayVariable(const std::string& name) {
        if (const char* value = std::getenv("DISPLAY")) previous_ = value;
        ::setenv("DISPLAY", name.c_str(), 1);
    }
    ~DisplayVariable() {
        if (previous_) {
            ::setenv("DISPLAY", previous_->c_str(), 1);
        } else {
            ::unsetenv("DISPLAY");
        }
    }

private:
    std::optional<std::string> previous_;
};

class ScreenStreamLosingItsDisplay : public ::testing::TestWithParam<VanishingDisplay::Way> {};

// Xlib ends the process when a connection breaks, unless its handlers let it go on; a TCP
// connection that its server closed shows no POLLHUP. The recorder takes the display DISPLAY
// names, as the process's own does, and names it when it goes.
TEST_P(ScreenStreamLosingItsDisplay, EndsAndTheProcessGoesOn) {
    VanishingDisplay display(GetParam());
    ASSERT_FALSE(display.name().empty()) << "the display did not start";
    DisplayVariable named(display.name());
    auto recorder = std::make_shared<rtc::X11ScreenRecorder>();
    auto renderer = std::make_shared<testing::RecordingRenderer>();
    auto container = std::make_shared<ScreenCaptureMediaStreamContainer>(
        std::make_shared<VideoStreamConfiguration<ScreenFormat>>(ScreenFormat{{64, 64}}, renderer),
        rtc::PeerConnectionFactory::shared(), ScreenCaptureFactory(recorder), true);
    container->initialize();
    std::promise<std::exception_ptr> ended;
    container->setCaptureEndHandler([&](std::exception_ptr error) { ended.set_value(error); });
    container->startCapture().wait();
    ASSERT_TRUE(renderer->waitForFrames(1));

    display.goAway();
    auto why = ended.get_future();
    ASSERT_EQ(why.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const auto error = why.get();
    ASSERT_NE(error, nullptr);
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& lost) {
        EXPECT_STREQ(lost.what(), ("Lost the connection to X display " + display.name()).c_str());
    }
    EXPECT_FALSE(container->isActive());
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(testing::failureOf(container->startCapture()), "RPScreenRecorder is not available");
}

INSTANTIATE_TEST_SUITE_P(Ways, ScreenStreamLosingItsDisplay,
                         ::testing::Values(VanishingDisplay::Way::serverKilled,
                                           VanishingDisplay::Way::forwardingStopped),
                         [](const auto& info) { return VanishingDisplay::nameOf(info.param); });

}  // namespace
}  // namespace quorvane
