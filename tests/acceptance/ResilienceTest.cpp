// A side frozen past the heartbeat time-out, a side killed, the broker restarted, and the host's
// own endings: its disconnect, a second session on the same client, the client released with work
// in flight.

#include <signal.h>

#include <chrono>
#include <thread>

#include "AcceptanceFixture.hpp"

namespace quorvane::testing {
namespace {

const std::string connected = "^report: connected to the peer$";
const std::string silent = "^report: the connection went silent; resetting and reconnecting$";

class ResilienceAcceptanceTest : public AcceptanceTest {
protected:
    void SetUp() override { startBoth(); }

    /// Stops `frozen` for longer than the heartbeat time-out (5 s), until `other` has reset, then
    /// lets it go on; both sides report the reset and connect again.
    void freeze(PeerProcess& frozen, PeerProcess& other) {
        const auto otherMark = other.lineCount();
        const auto frozenMark = frozen.lineCount();
        frozen.signal(SIGSTOP);
        expectLine(other, silent, 15, otherMark);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        frozen.signal(SIGCONT);
        expectLine(frozen, silent, 15, frozenMark);
        expectLine(other, connected, 30, otherMark);
        expectLine(frozen, connected, 30, frozenMark);
    }

    /// Messaging works again, and the device's upload at the end counts the reconnect; the agent,
    /// which ends the session, hears no disconnect report of its own.
    void expectReconnectCounted() {
        chatBothWays("again");
        agent->send("disconnect");
        expectLine(*device, "^report: disconnected: the peer ended the session$");
        const auto upload = deviceLogUpload();
        bool counted = false;
        for (const auto& metric : upload.at("metrics")) {
            const auto& data = metric.at("data");
            if (data.contains("Num Reconnects")) counted = data.at("Num Reconnects").get<int>() >= 1;
        }
        EXPECT_TRUE(counted) << upload.at("metrics").dump();
        EXPECT_EQ(agent->count("^report: disconnected"), 0u);
    }

    void chatBothWays(const std::string& word) {
        agent->send("chat " + word + " from the agent");
        expectLine(*device, "^chat from the peer: " + word + " from the agent$");
        device->send("chat " + word + " from the device");
        expectLine(*agent, "^chat from the peer: " + word + " from the device$");
    }
};

TEST_F(ResilienceAcceptanceTest, FrozenDeviceIsReconnectedAndTheReconnectIsCounted) {
    freeze(*device, *agent);
    expectReconnectCounted();
}

TEST_F(ResilienceAcceptanceTest, FrozenAgentIsReconnectedAndTheReconnectIsCounted) {
    freeze(*agent, *device);
    expectReconnectCounted();
}

TEST_F(ResilienceAcceptanceTest, KilledAgentEndsTheSessionAndWhatWaitsForIt) {
    device->send("command -t 25 ignore");
    device->send("query -t 25 ignore");
    expectLine(*agent, "^report: command .*\"ignore\"$");
    expectLine(*agent, "^report: query .*\"ignore\"$");
    agent->signal(SIGKILL);
    agent->waitForExit(10);

    expectLine(*device, silent, 15);
    expectLine(*device, "^report: disconnected: the connection was lost$", 90);
    // Nothing answers them any more: each ends with its time-out's error.
    expectLine(*device, R"(^result: command "ignore" failed after .*: Sending Command Timed Out)", 30);
    expectLine(*device, R"(^result: query "ignore" failed after .*: error 500: )", 30);
}

TEST_F(ResilienceAcceptanceTest, BrokerRestartedMidSessionLeavesTheSessionWhole) {
    broker.stop();
    chatBothWays("without broker");
    broker.start();
    freeze(*device, *agent);
    chatBothWays("after restart");
}

TEST_F(ResilienceAcceptanceTest, SecondSessionOnTheSameClientsAfterTheHostsDisconnect) {
    device->send("disconnect");
    expectLine(*device, "^result: disconnected$");
    expectLine(*agent, "^report: disconnected: the peer ended the session$");
    EXPECT_EQ(device->count("^report: disconnected"), 0u) << "the host's own disconnect is not reported";

    const auto mark = device->lineCount();
    device->send("session");
    const auto second = expectLine(*device, "^PIN: (\\d+)$", 30, mark).at(1);
    EXPECT_NE(second, pin);
    const auto agentMark = agent->lineCount();
    agent->send("join " + second);
    expectLine(*device, connected, 30, mark);
    expectLine(*agent, connected, 30, agentMark);
    chatBothWays("second session");
}

TEST_F(ResilienceAcceptanceTest, ClientReleasedWithWorkInFlightEndsCleanly) {
    device->send("command -t 60 ignore");
    device->send("bytes 16777216");
    device->send("quit");
    EXPECT_EQ(device->waitForExit(20), 0) << device->output() << device->libraryLog(80);
}

}  // namespace
}  // namespace quorvane::testing
