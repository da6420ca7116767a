#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"

namespace quorvane::rtc {
namespace {

TEST(PeerConnectionFactory, IsOneInstanceEvenUnderConcurrentFirstUse) {
    std::vector<std::shared_ptr<PeerConnectionFactory>> seen(8);
    std::vector<std::thread> threads;
    for (auto& slot : seen) {
        threads.emplace_back([&slot] { slot = PeerConnectionFactory::shared(); });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& factory : seen) {
        ASSERT_NE(factory, nullptr);
        EXPECT_EQ(factory, seen.front());
    }
}

TEST(PeerConnectionFactory, MakesConnectionsWithTheSessionConfiguration) {
    auto factory = PeerConnectionFactory::shared();
    factory->setLoopbackOnly(true);
    PeerConnectionConfiguration requested;
    requested.iceServers = {
        {std::vector<std::string>{"turn:127.0.0.1:3478"}, "user", "secret"},
        {std::vector<std::string>{"stun:127.0.0.1:3479"}, "user", std::nullopt},
        {std::nullopt, "user", "secret"},
        {std::vector<std::string>{"stun:127.0.0.1:3480", "stun:127.0.0.1:3481"}, std::nullopt, "secret"},
    };
    auto connection = factory->createPeerConnection(requested, {});
    ASSERT_NE(connection, nullptr);

    auto applied = connection->configuration();
    EXPECT_EQ(applied.iceCandidatePoolSize, 4);
    EXPECT_TRUE(applied.disableIpv6);
    EXPECT_EQ(applied.iceTransportPolicy, PeerConnectionConfiguration::IceTransportPolicy::all);
    EXPECT_TRUE(applied.tcpCandidates);
    EXPECT_FALSE(applied.lowCostNetworksOnly);
    EXPECT_TRUE(applied.continualGathering);
    EXPECT_TRUE(applied.unifiedPlan);
    EXPECT_EQ(applied.bundlePolicy, PeerConnectionConfiguration::BundlePolicy::maxCompat);
    // Credentials only as a pair, servers without URLs dropped, the order kept.
    std::vector<IceServer> expected = {
        {std::vector<std::string>{"turn:127.0.0.1:3478"}, "user", "secret"},
        {std::vector<std::string>{"stun:127.0.0.1:3479"}, std::nullopt, std::nullopt},
        {std::vector<std::string>{"stun:127.0.0.1:3480", "stun:127.0.0.1:3481"}, std::nullopt, std::nullopt},
    };
    EXPECT_EQ(applied.iceServers, expected);
}

TEST(PeerConnectionFactory, MakesNoConnectionForAConfigurationWebRtcRefuses) {
    PeerConnectionConfiguration configuration;
    configuration.iceServers = {{std::vector<std::string>{"not a server url"}, std::nullopt, std::nullopt}};
    EXPECT_EQ(PeerConnectionFactory::shared()->createPeerConnection(configuration, {}), nullptr);
}

}  // namespace
}  // namespace quorvane::rtc
