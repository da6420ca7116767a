// Sharing the screen from the shell, under an X server in memory: typed on the device or asked
// for by the agent once connected, it starts and its track and frames reach the agent; a display
// that does not open is named, and the share is left for a later try; a display that goes away
// ends neither the program nor the session.

#include <chrono>
#include <thread>

#include "AcceptanceFixture.hpp"
#include "support/VanishingDisplay.hpp"
#include "support/XvfbDisplay.hpp"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;

class ScreenShareTest : public AcceptanceTest {
protected:
    /// The device's frame count as the agent's query "screen-frames" gets it.
    int screenFramesAtDevice() {
        const auto from = agent->lineCount();
        agent->send("query screen-frames");
        const std::string answer = "^answer to query \"screen-frames\": \"(\\d+)\" \\(last part\\)$";
        return std::stoi(expectLine(*agent, answer, 10, from).at(1));
    }

    /// Waits until the screen's track has reached the agent and the device has counted frames.
    void expectFramesAtTheAgent() {
        const std::string trackArrived = "peerConnection did add track with codecs";
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (agent->loggedCount(trackArrived) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_EQ(agent->loggedCount(trackArrived), 1u) << agent->libraryLog(40);
        int frames = 0;
        while ((frames = screenFramesAtDevice()) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_GT(frames, 0);
    }
};

class ScreenShareOnceConnectedTest : public ScreenShareTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ScreenShareOnceConnectedTest, StartsAndItsFramesReachTheAgent) {
    const bool typedOnTheDevice = GetParam();
    // An X server resets when its last client leaves and drops the connections that come in
    // meanwhile; with -terminate it ends there instead, so a connection closed too early fails
    // the share every time rather than at times.
    XvfbDisplay display(320, 240, {"-terminate"});
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
    deviceEnvironment = {{"DISPLAY", display.name()}};
    startBoth();
    const auto from = device->lineCount();
    if (typedOnTheDevice) {
        device->send("screen");
        expectLine(*device, "^sharing the screen$", 10, from);
    } else {
        agent->send("command share-screen");
        expectLine(*device, "^answer: sharing the screen$", 10, from);
        expectLine(*agent, "^result: command \"share-screen\" acknowledged after ", 10);
    }
    expectLine(*device, "^report: screen capture started$", 10, from);
    expectFramesAtTheAgent();
}

INSTANTIATE_TEST_SUITE_P(TypedOrAsked, ScreenShareOnceConnectedTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "TypedOnTheDevice" : "AskedForByTheAgent"; });

TEST_F(ScreenShareTest, NamesADisplayThatDoesNotOpenAndSharesOnceItDoes) {
    const std::string name = XvfbDisplay::ownName();
    deviceEnvironment = {{"DISPLAY", name}};
    startBoth();
    device->send("screen");
    const std::string refusal = "the X display named by DISPLAY \\(" + name + "\\) could not be opened";
    expectLine(*device, "^cannot share the screen: " + refusal + "$", 10);

    XvfbDisplay display(name);
    ASSERT_EQ(display.name(), name) << "Xvfb did not start on " << name;
    const auto from = device->lineCount();
    device->send("screen");
    expectLine(*device, "^sharing the screen$", 10, from);
    expectLine(*device, "^report: screen capture started$", 10, from);
    expectFramesAtTheAgent();
}

TEST_F(ScreenShareTest, SaysSoWhenDisplayIsNotSetOrDoesNotOpenAndShowsItsNameEscaped) {
    struct Case {
        std::optional<std::string> display;
        std::string line;
    };
    for (const auto& [display, line] : {
             Case{std::nullopt, "the X display named by DISPLAY could not be opened: DISPLAY is not set"},
             Case{"nowhere:0\x1b[2J", "the X display named by DISPLAY \\(nowhere:0\\\\x1b\\[2J\\) could not be opened"},
         }) {
        SCOPED_TRACE(line);
        deviceEnvironment = {{"DISPLAY", display}};
        startDevice();
        device->send("screen");
        expectLine(*device, "^cannot share the screen: " + line + "$", 10);
        device->send("quit");
        ASSERT_TRUE(device->waitForExit(30));
    }
}

// Xlib ends a program when a connection breaks, unless its handlers let it go on; a TCP
// connection that its server closed shows no POLLHUP.
class ScreenShareLosingTheDisplayTest : public ScreenShareTest,
                                        public ::testing::WithParamInterface<VanishingDisplay::Way> {
protected:
    /// The device's next `screen` says that the display does not open.
    void expectTheNextShareToFindItGone() {
        const auto from = device->lineCount();
        device->send("screen");
        const std::string refusal = "the X display named by DISPLAY \\(" + display.name() + "\\) could not be opened";
        expectLine(*device, "^cannot share the screen: " + refusal + "$", 10, from);
    }

    VanishingDisplay display{GetParam()};
};

TEST_P(ScreenShareLosingTheDisplayTest, BetweenTwoTries) {
    ASSERT_FALSE(display.name().empty()) << "the display did not start";
    deviceEnvironment = {{"DISPLAY", display.name()}};
    startDevice();
    device->send("screen");
    expectLine(*device, "^sharing the screen once connected$", 10);
    display.goAway();
    expectTheNextShareToFindItGone();
    device->send("status");
    expectLine(*device, "^not connected$", 10);
}

TEST_P(ScreenShareLosingTheDisplayTest, WhileSharedTheSessionGoesOn) {
    ASSERT_FALSE(display.name().empty()) << "the display did not start";
    deviceEnvironment = {{"DISPLAY", display.name()}};
    startBoth();
    const auto from = device->lineCount();
    device->send("screen");
    expectLine(*device, "^report: screen capture started$", 10, from);
    expectFramesAtTheAgent();
    display.goAway();
    expectLine(*device,
               "^report: screen capture failed: .*" + literal("Lost the connection to X display " + display.name()) + "$",
               10, from);
    agent->send("chat still there?");
    expectLine(*device, "^chat from the peer: still there\\?$", 10, from);
    expectTheNextShareToFindItGone();
    const auto beforeStatus = agent->lineCount();
    agent->send("status");
    expectLine(*agent, "^connected$", 10, beforeStatus);
}

INSTANTIATE_TEST_SUITE_P(Ways, ScreenShareLosingTheDisplayTest,
                         ::testing::Values(VanishingDisplay::Way::serverKilled,
                                           VanishingDisplay::Way::forwardingStopped),
                         [](const auto& info) { return VanishingDisplay::nameOf(info.param); });

}  // namespace
}  // namespace quorvane::testing
