// Leaving the host program: "quit", the end of its input, SIGINT and SIGTERM each tell the peer
// first, as "disconnect" does; a second SIGINT leaves at once. The host's library lines: its
// errors are printed without --verbose, so the reason of a failed start-up is on screen.

#include <signal.h>

#include <functional>

#include "AcceptanceFixture.hpp"

namespace quorvane::testing {
namespace {

const std::string peerEnded = "^report: disconnected: the peer ended the session$";

struct Leaving {
    const char* name;
    std::function<void(PeerProcess&)> leave;
    int status;
};

void PrintTo(const Leaving& leaving, std::ostream* out) { *out << leaving.name; }

class LeavingTest : public AcceptanceTest, public ::testing::WithParamInterface<Leaving> {};

TEST_P(LeavingTest, TellsThePeerBeforeItExits) {
    startBoth();
    GetParam().leave(*agent);
    expectLine(*device, peerEnded, 2);
    EXPECT_EQ(agent->waitForExit(10), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LeavingTest,
    ::testing::Values(Leaving{"quit", [](PeerProcess& side) { side.send("quit"); }, 0},
                      Leaving{"endOfInput", [](PeerProcess& side) { side.closeInput(); }, 0},
                      Leaving{"interrupt", [](PeerProcess& side) { side.signal(SIGINT); }, 128 + SIGINT},
                      Leaving{"terminate", [](PeerProcess& side) { side.signal(SIGTERM); }, 128 + SIGTERM}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AcceptanceTest, ASecondInterruptLeavesAtOnce) {
    startBoth();
    // A stopped broker holds the disconnect signal until the client's time-out (10 s).
    kill(broker.pid(), SIGSTOP);
    agent->signal(SIGINT);
    expectLine(*agent, "^leaving: ending the session$", 5);
    agent->signal(SIGINT);
    const auto status = agent->waitForExit(2);
    kill(broker.pid(), SIGCONT);
    EXPECT_EQ(status, 128 + SIGINT);
}

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
