// Setting a session up: by PIN, with a PIN the service does not know, and with connection
// information that offers no usable broker port.

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
