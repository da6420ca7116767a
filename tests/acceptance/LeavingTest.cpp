// Leaving the host program: "quit", the end of its input, SIGINT and SIGTERM each tell the peer
// first, as "disconnect" does, also in --script mode; a second SIGINT leaves at once, and so does
// the first during a slow start-up. The host's library lines: its errors are printed without
// --verbose, so the reason of a failed start-up is on screen.

#include <signal.h>

#include <chrono>
#include <functional>
#include <future>

#include "AcceptanceFixture.hpp"
#include "support/TimeScale.hpp"

namespace quorvane::testing {
namespace {

const std::string peerEnded = "^report: disconnected: the peer ended the session$";

struct Leaving {
    const char* name;
    std::function<void(PeerProcess&)> leave;
    int status;
    bool script = false;  ///< the leaving side follows the walkthrough instead of reading commands
};

void PrintTo(const Leaving& leaving, std::ostream* out) { *out << leaving.name; }

class LeavingTest : public AcceptanceTest, public ::testing::WithParamInterface<Leaving> {};

TEST_P(LeavingTest, TellsThePeerBeforeItExits) {
    startBoth(GetParam().script ? std::vector<std::string>{"--script"} : std::vector<std::string>{});
    GetParam().leave(*device);
    expectLine(*agent, peerEnded, 2 * timeScale());
    EXPECT_EQ(device->waitForExit(10), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LeavingTest,
    ::testing::Values(Leaving{"quit", [](PeerProcess& side) { side.send("quit"); }, 0},
                      Leaving{"endOfInput", [](PeerProcess& side) { side.closeInput(); }, 0},
                      Leaving{"interrupt", [](PeerProcess& side) { side.signal(SIGINT); }, 128 + SIGINT},
                      Leaving{"terminate", [](PeerProcess& side) { side.signal(SIGTERM); }, 128 + SIGTERM},
                      Leaving{"scriptInterrupt", [](PeerProcess& side) { side.signal(SIGINT); }, 128 + SIGINT, true},
                      Leaving{"scriptTerminate", [](PeerProcess& side) { side.signal(SIGTERM); }, 128 + SIGTERM, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AcceptanceTest, ASecondInterruptLeavesAtOnce) {
    startBoth();
    // A stopped broker holds the disconnect signal until the client's time-out (10 s).
    kill(broker.pid(), SIGSTOP);
    agent->signal(SIGINT);
    expectLine(*agent, "^leaving: ending the session$", 5);
    agent->signal(SIGINT);
    const auto status = agent->waitForExit(2 * timeScale());
    kill(broker.pid(), SIGCONT);
    EXPECT_EQ(status, 128 + SIGINT);
}

struct SlowStart {
    const char* name;
    const char* role;
    const char* pin;
    int signal;
};

void PrintTo(const SlowStart& start, std::ostream* out) { *out << start.name; }

class SlowStartTest : public AcceptanceTest, public ::testing::WithParamInterface<SlowStart> {};

TEST_P(SlowStartTest, AStopSignalLeavesAtOnceAndNothingOfTheStartUpIsPrinted) {
    // The service answers a minute late; the test waits until the side's request is there.
    auto arrived = std::make_shared<std::promise<void>>();
    auto once = std::make_shared<std::once_flag>();
    auto options = serviceOptions();
    options.onRequest = [arrived, once](const std::string&, const std::string& path) {
        if (path.starts_with("/sessions")) std::call_once(*once, [&] { arrived->set_value(); });
    };
    startService(options);
    service->injectFault(mock::Fault{.path = "/sessions", .delaySeconds = 60});
    PeerProcess side(arguments(GetParam().role, GetParam().pin));
    ASSERT_EQ(arrived->get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    const auto signalled = std::chrono::steady_clock::now();
    side.signal(GetParam().signal);
    EXPECT_EQ(side.waitForExit(10), 128 + GetParam().signal);
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(1) * timeScale());
    EXPECT_EQ(side.count("^PIN: |^joined|^could not start"), 0u) << side.output();
}

INSTANTIATE_TEST_SUITE_P(Ways, SlowStartTest,
                         ::testing::Values(SlowStart{"deviceInterrupt", "device", "", SIGINT},
                                           SlowStart{"deviceTerminate", "device", "", SIGTERM},
                                           SlowStart{"agentInterrupt", "agent", "123456", SIGINT}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AcceptanceTest, AnUntrustedBrokerIsReportedWithItsReasonWithoutVerbose) {
    startService();
    // The broker's own certificate is no CA: the broker cannot be trusted through it.
    device = std::make_unique<PeerProcess>(std::vector<std::string>{
        "--ca-file", broker.certificateFile(), "device", "--url", url, "--api-key", apiKey, "--timeout", "10"});
    expectLine(*device, "^report: disconnected: the connection was lost$");
    EXPECT_EQ(device->loggedCount("ERROR: Failed to connect as offer: A TLS error occurred."), 1u)
        << device->libraryLog(20);
    EXPECT_EQ(device->loggedCount("INFO"), 0u) << device->libraryLog(20);
}

}  // namespace
}  // namespace quorvane::testing
