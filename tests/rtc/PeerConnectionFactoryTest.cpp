#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "log/ZephLogger.hpp"
#include "rtc/PeerConnection.hpp"
#include "rtc/PeerConnectionFactory.hpp"
#include "rtc/WebRtcLog.hpp"
#include "support/LoopbackPeerPair.hpp"
#include "support/RecordingLogger.hpp"

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

/// What the process writes to standard error while it lives.
class CapturedStandardError {
public:
    CapturedStandardError() : saved_(::dup(2)) { ::dup2(::fileno(file_), 2); }
    ~CapturedStandardError() {
        ::dup2(saved_, 2);
        ::close(saved_);
        std::fclose(file_);
    }

    std::string text() const {
        std::string text(static_cast<std::size_t>(::lseek(::fileno(file_), 0, SEEK_END)), '\0');
        if (::pread(::fileno(file_), text.data(), text.size(), 0) < 0) return "unreadable";
        return text;
    }

private:
    std::FILE* file_ = std::tmpfile();
    int saved_;
};

// Made first here (each test runs in a process of its own), the factory opens no audio device.
TEST(PeerConnectionFactory, WebRtcLinesReachTheLoggersOfLiveConnectionsNotTheConsole) {
    CapturedStandardError standardError;
    auto console = std::make_shared<testing::RecordingLogger>();
    auto logger = std::make_shared<ZephLogger>(console, LogLevel::TRACE, false);
    std::vector<std::string> lines;
    {
        WebRtcLog factoryLines(logger);
        testing::LoopbackPeerPair pair;
        auto connection = PeerConnectionFactory::shared()->createPeerConnection({}, {}, logger);
        ASSERT_NE(connection, nullptr);
        EXPECT_ANY_THROW(connection->setRemoteDescription(SdpType::offer, "not a description").wait());
    }
    for (const auto& call : console->calls()) lines.push_back(call.level + " " + call.message);
    EXPECT_ANY_THROW(PeerConnectionFactory::shared()
                         ->createPeerConnection({}, {})
                         ->setRemoteDescription(SdpType::offer, "not a description")
                         .wait());

    EXPECT_EQ(standardError.text(), "");
    EXPECT_THAT(lines, ::testing::Contains(::testing::StartsWith("DEBUG WebRTC (webrtc_sdp.cc:")).Times(1));
    EXPECT_THAT(lines, ::testing::Not(::testing::Contains(::testing::HasSubstr("audio_device"))));
    EXPECT_EQ(console->calls().size(), lines.size()) << "a line after the connection is gone";
}

}  // namespace
}  // namespace quorvane::rtc
