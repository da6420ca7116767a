#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

#include "media/ScreenCaptureMediaStreamContainer.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/X11ScreenRecorder.hpp"
#include "support/RecordingRenderer.hpp"

extern char** environ;

namespace quorvane {
namespace {

/// An X server in memory on a display it picks itself, for as long as the object lives.
class XvfbDisplay {
public:
    XvfbDisplay(int width, int height) {
        int fds[2];
        if (pipe(fds) != 0) return;
        fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        const std::string displayFd = std::to_string(fds[1]);
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        const char* argv[] = {"Xvfb", "-displayfd", displayFd.c_str(), "-screen", "0", screen.c_str(),
                              "-nolisten", "tcp", nullptr};
        const bool spawned =
            posix_spawnp(&pid_, "Xvfb", nullptr, nullptr, const_cast<char**>(argv), environ) == 0;
        close(fds[1]);
        if (!spawned) pid_ = -1;
        // The server writes its display number once it accepts clients.
        std::string number;
        pollfd ready{fds[0], POLLIN, 0};
        char c = 0;
        while (spawned && poll(&ready, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) return;
        // Clients connect through the display's socket: wait until it is there.
        const std::string socket = "/tmp/.X11-unix/X" + number;
        for (int tries = 0; tries < 500 && access(socket.c_str(), F_OK) != 0; ++tries) usleep(10000);
        name_ = ":" + number;
    }

    ~XvfbDisplay() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

    /// For example ":1"; empty when the server did not start.
    const std::string& name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

TEST(X11ScreenRecorder, FailsToStartWithoutAServer) {
    rtc::X11ScreenRecorder recorder(":65535");  // no server listens there
    EXPECT_FALSE(recorder.isAvailable());
    std::promise<std::exception_ptr> started;
    recorder.startCapture([](const auto&) {}, [&](std::exception_ptr error) { started.set_value(error); });
    EXPECT_NE(started.get_future().get(), nullptr);
    EXPECT_FALSE(recorder.isRecording());
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

}  // namespace
}  // namespace quorvane
