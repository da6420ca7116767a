// Setting a session up: by PIN, with a PIN the service does not know, with connection
// information that offers no usable broker port, one session at a time, and a device that has
// gone.

#include "AcceptanceFixture.hpp"

namespace quorvane::testing {
namespace {

TEST_F(AcceptanceTest, DeviceAndAgentMeetByPinAndChatBothWays) {
    startBoth();
    agent->send("chat hello device");
    expectLine(*device, "^chat from the peer: hello device$");
    device->send("chat hello agent");
    expectLine(*agent, "^chat from the peer: hello agent$");
}

TEST_F(AcceptanceTest, ASessionStartsOnlyWhenNoneIsOnAndSendsGoOnlyWhileOneIs) {
    startBoth();
    const std::vector<std::pair<PeerProcess*, std::string>> starts = {
        {device.get(), "session"}, {device.get(), "join 123456"},
        {agent.get(), "session"},  {agent.get(), "join " + pin}};
    for (const auto& [side, line] : starts) {
        SCOPED_TRACE(line);
        const auto mark = side->lineCount();
        side->send(line);
        const std::string verb = line.substr(0, line.find(' '));
        expectLine(*side, "^" + verb + ": refused, a session is on; type disconnect first to end it$", 5, mark);
    }
    agent->send("chat still here");
    expectLine(*device, "^chat from the peer: still here$");
    EXPECT_EQ(device->count("^PIN: "), 1u);

    device->send("disconnect");
    expectLine(*agent, "^report: disconnected: the peer ended the session$");
    const std::string noSession = ": refused, no session is on; type session or join to start one$";
    for (auto* side : {device.get(), agent.get()}) {
        const auto mark = side->lineCount();
        side->send("chat nobody there");
        expectLine(*side, "^chat" + noSession, 5, mark);
    }
    // A new start-up is taken; while it is under way it counts as a session on, but not one to
    // send to.
    service->injectFault(mock::Fault{.path = "/sessions", .delaySeconds = 60});
    const auto mark = device->lineCount();
    for (const std::string line : {"session", "chat too early", "session"}) device->send(line);
    expectLine(*device, "^chat: refused, the session is still starting$", 5, mark);
    expectLine(*device, "^session: refused, a session is on; type disconnect first to end it$", 5, mark);
}

TEST_F(AcceptanceTest, AnAgentWaitingForAGoneDeviceSaysSoAndWaitsOn) {
    timeout = "2";
    startDevice();
    device.reset();  // killed: it tells no one
    agent = std::make_unique<PeerProcess>(arguments("agent", pin));
    expectLine(*agent, "^joined; waiting for the device's offer$");
    agent->send("chat anyone there");
    expectLine(*agent, "^chat \"anyone there\" queued until the peer connects$", 5);
    expectLine(*agent, "^" + literal("the device has not answered in 2 s: the session may have ended; still waiting "
                                     "(quit or Ctrl-C to leave)") + "$", 10);
    agent->send("status");
    expectLine(*agent, "^not connected$", 5);
    EXPECT_EQ(agent->count("^chat to the peer"), 0u);
    agent->send("quit");
    EXPECT_EQ(agent->waitForExit(10), 0);
}

TEST_F(AcceptanceTest, UnknownPinIsTheServicesError) {
    startService();
    agent = std::make_unique<PeerProcess>(arguments("agent", "000000"));
    expectLine(*agent, "^could not start the session: Get Support Session Failed: Incorrect PIN entered$");
    EXPECT_EQ(agent->waitForExit(10), 1);
}

TEST_F(AcceptanceTest, ConnectionInformationWithoutUsablePortIsMissingNeededData) {
    auto options = serviceOptions();
    options.mqttSslPort.reset();
    startService(options);
    device = std::make_unique<PeerProcess>(arguments("device"));
    expectLine(*device, "^could not start the session: Missing Needed Data");
    EXPECT_EQ(device->waitForExit(10), 1);
}

}  // namespace
}  // namespace quorvane::testing
