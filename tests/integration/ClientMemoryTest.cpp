// Peak resident memory of one large message through two session clients of this process over
// their real transports (mock REST service, mosquitto broker over TLS on 127.0.0.1, WebRTC on
// loopback): the sending side holds the host's payload and the message written from it, the
// receiving side the assembled message, of which the host's tagged data is then made in place, and
// nothing else of its size.

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "MockRestService.hpp"
#include "support/BrokerService.hpp"
#include "support/LoopbackClientPair.hpp"
#include "support/MosquittoBroker.hpp"
#include "support/Pattern.hpp"
#include "support/ResidentMemory.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::ResidentMemory;

constexpr std::size_t size = 128 << 20;
constexpr std::uint8_t seed = 5;
const std::string tag = "application/octet-stream";

/// Both hosts in one: the sending one answers a query with the payload; the receiving one checks
/// what reaches it and takes the peak of each phase: until its first progress report (the message
/// is written and on its way), then from there until the payload is in its hands.
class MemoryHost : public QuorvaneDelegate {
public:
    void quorvaneDidReceiveQuery(const QVQuery&, const QVQueryContext& context) override {
        context.respond(QVTaggedData(tag, testing::patterned(size, seed)), true);
    }
    void quorvaneWillReceiveMessage(std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t) override {
        std::lock_guard lock(mutex_);
        if (sendingPeak) return;
        sendingPeak = ResidentMemory::read().peak;
        ResidentMemory::resetPeak();
        receivingStart = ResidentMemory::read().now;
    }
    void quorvaneDidReceiveNotification(const QVNotification& notification) override { arrived(notification.data()); }

    void arrived(const QVTaggedData& data) {
        const auto peak = ResidentMemory::read().peak;
        const auto& bytes = data.data();
        bool whole = data.tag() == tag && bytes.size() == size;
        for (std::size_t i = 0; i < bytes.size() && whole; ++i) whole = bytes[i] == testing::patternByte(i, seed);
        std::lock_guard lock(mutex_);
        receivingPeak = peak;
        intact = whole;
        changed_.notify_all();
    }
    bool waitForPayload() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 120s, [&] { return intact.has_value(); });
    }

    std::optional<std::uint64_t> sendingPeak;
    std::optional<std::uint64_t> receivingStart;  // the sent message is there until acknowledged
    std::optional<std::uint64_t> receivingPeak;
    std::optional<bool> intact;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

enum class Kind { notification, queryResponse };

class ClientMemoryTest : public ::testing::TestWithParam<Kind> {};

TEST_P(ClientMemoryTest, TheSenderHoldsTwoCopiesOfALargeMessageAndTheReceiverOne) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers keep freed memory for a while";
#endif
    testing::MosquittoBroker broker(std::string("mock-api-key"), "session-token");
    mock::MockRestService service(quorvane::testing::serviceOptionsFor(broker));
    auto sending = std::make_shared<MemoryHost>();
    auto receiving = std::make_shared<MemoryHost>();
    testing::LoopbackClientPair clients(service.start(), broker.username(), broker, sending, receiving);
    clients.connect();

    ResidentMemory::resetPeak();
    const auto before = ResidentMemory::read().now;
    if (GetParam() == Kind::notification) {
        clients.offer()->sendNotification(QVNotification(1, QVTaggedData(tag, testing::patterned(size, seed))));
    } else {
        clients.answer()->sendQuery(QVQuery(1, QVTaggedData(tag, {})), 120,
                                    [receiving](const QVTaggedData& data, bool) { receiving->arrived(data); });
    }
    ASSERT_TRUE(receiving->waitForPayload());
    EXPECT_TRUE(*receiving->intact);
    ASSERT_TRUE(receiving->sendingPeak && receiving->receivingStart && receiving->receivingPeak);
    // Beside each side's copies, room for the frames on their way.
    EXPECT_LT(*receiving->sendingPeak, before + 2 * size + size / 2) << "the payload and the message written from it";
    EXPECT_LT(*receiving->receivingPeak, *receiving->receivingStart + size + size / 2)
        << "the assembled message, which becomes the host's tagged data";
    service.stop();
}

INSTANTIATE_TEST_SUITE_P(Kinds, ClientMemoryTest, ::testing::Values(Kind::notification, Kind::queryResponse),
                         [](const auto& info) { return info.param == Kind::notification ? "Notification" : "QueryResponse"; });

}  // namespace
}  // namespace quorvane
