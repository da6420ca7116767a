// Two session clients of this process over their real transports: the session is created and
// joined by PIN through the mock REST service, signaling goes through a mosquitto broker over TLS
// on 127.0.0.1 and WebRTC stays on loopback. Time is real.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MockRestService.hpp"
#include "support/BrokerService.hpp"
#include "support/Eventually.hpp"
#include "client/ClientHarness.hpp"
#include "quorvane/QVError.hpp"
#include "support/LoopbackClientPair.hpp"
#include "support/MosquittoBroker.hpp"
#include "support/RecordingDelegate.hpp"
#include "support/RecordingLogger.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackClientPair;
using testing::MosquittoBroker;
using testing::RecordingDelegate;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<std::uint8_t>;

constexpr const char* apiKey = "mock-api-key";
constexpr const char* sessionToken = "session-token";

QVTaggedData text(const std::string& value) { return QVTaggedData("text/plain", Bytes(value.begin(), value.end())); }

/// "fulfilled", "<status> <message>" for a QVError, else the error's text.
std::string describe(const std::exception_ptr& error) {
    if (!error) return "fulfilled";
    try {
        std::rethrow_exception(error);
    } catch (const QVError& answer) {
        return std::to_string(answer.statusCode()) + " " + answer.message();
    } catch (const std::exception& other) {
        return other.what();
    }
}

/// A broker, the mock service handing out its port and password, and two clients in one session
/// with recording hosts.
struct LiveSession {
    LiveSession()
        : service(testing::serviceOptionsFor(broker)),
          clients(service.start(), apiKey, broker, offerHost, answerHost, console) {
        pin = clients.connect();
    }
    ~LiveSession() { service.stop(); }

    /// The log bodies uploaded for `role` so far.
    std::vector<nlohmann::json> uploads(const std::string& role) const {
        const std::string suffix = "/" + role;
        for (const auto& request : service.requests()) {
            const auto& target = request.target;
            if (request.method == "POST" && target.starts_with("/logs/") && target.ends_with(suffix)) {
                return service.postedLogs(target.substr(6, target.size() - 6 - suffix.size()), role);
            }
        }
        return {};
    }

    MosquittoBroker broker{apiKey, sessionToken};
    mock::MockRestService service;
    std::shared_ptr<testing::RecordingLogger> console = std::make_shared<testing::RecordingLogger>();
    std::shared_ptr<RecordingDelegate> offerHost = std::make_shared<RecordingDelegate>();
    std::shared_ptr<RecordingDelegate> answerHost = std::make_shared<RecordingDelegate>();
    LoopbackClientPair clients;
    std::string pin;
};

// --- Start-up and shut-down, a session of their own each -----------------------------------------

TEST(QuorvaneClientSessionTest, StartsASessionByPinThroughTheServiceAndTheBroker) {
    LiveSession live;
    EXPECT_THAT(live.pin, ::testing::MatchesRegex("[0-9]{6}"));
    EXPECT_TRUE(live.offerHost->waitFor("connect"));
    EXPECT_TRUE(live.answerHost->waitFor("connect"));
    std::vector<std::string> requests;
    for (const auto& request : live.service.requests()) requests.push_back(request.method + " " + request.target);
    EXPECT_THAT(requests, ::testing::UnorderedElementsAre("POST /sessions", "GET /sessions/" + live.pin,
                                                          "GET /connection", "GET /connection"));
}

TEST(QuorvaneClientSessionTest, AClientReleasedWithWorkInFlightSettlesItAllAndReachesItsHostNoMore) {
    LiveSession live;
    auto offerConsole = std::make_shared<testing::RecordingLogger>();
    live.clients.offer()->setLogger(offerConsole);
    auto command = live.clients.offer()->sendCommand(QVCommand(1, text("never answered"), QVAcknowledgeOn::finished), 60);
    ASSERT_TRUE(live.answerHost->waitFor("command"));
    std::vector<Promise<void>> sends;
    // Far more than the channel buffers: most still wait in the transport.
    for (int i = 0; i < 64; ++i) {
        sends.push_back(live.clients.offer()->sendNotification(QVNotification(1, QVTaggedData("", Bytes(1 << 20, 7)))));
    }
    live.clients.offer().reset();  // without disconnect
    const auto printed = offerConsole->calls();
    const auto heard = live.offerHost->events();
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.back().message, "QuorvaneClient deinitialized");

    std::map<std::string, int> outcomes;
    for (const auto& send : sends) ++outcomes[describe(testing::outcome(send))];
    EXPECT_GT(outcomes["The data channel is closed"], 0);
    outcomes.erase("The data channel is closed");
    outcomes.erase("fulfilled");
    EXPECT_TRUE(outcomes.empty()) << outcomes.begin()->first;
    EXPECT_EQ(describe(testing::outcome(command)),
              "Failed to initialize session with error: Quorvane Client has been deinitialized");
    // The peer connection closes meanwhile, until the peer hears the silence.
    ASSERT_TRUE(live.answerHost->waitFor("reset"));
    EXPECT_EQ(offerConsole->calls().size(), printed.size());
    EXPECT_EQ(live.offerHost->events(), heard);
}

/// Parameter: whether the offer side is the one that disconnects.
class QuorvaneClientDisconnectTest : public ::testing::TestWithParam<bool> {};

TEST_P(QuorvaneClientDisconnectTest, TheOtherSideHearsAnExpectedDisconnectAndUploadsItsLogs) {
    LiveSession live;
    const bool offerLeaves = GetParam();
    auto& leaving = offerLeaves ? live.clients.offer() : live.clients.answer();
    auto& staying = offerLeaves ? live.clients.answer() : live.clients.offer();
    auto& leavingHost = offerLeaves ? live.offerHost : live.answerHost;
    auto& stayingHost = offerLeaves ? live.answerHost : live.offerHost;

    EXPECT_EQ(describe(testing::outcome(leaving->disconnect(true))), "fulfilled");
    ASSERT_TRUE(stayingHost->waitFor("disconnect(true)"));
    EXPECT_FALSE(leaving->isConnected());
    EXPECT_FALSE(staying->isConnected());

    const auto role = offerLeaves ? "answer" : "offer";
    ASSERT_TRUE(testing::eventually([&] { return !live.uploads(role).empty(); }, 20s));
    const auto uploaded = live.uploads(role);
    ASSERT_EQ(uploaded.size(), 1u);
    EXPECT_THAT(uploaded[0]["entries"], ::testing::Contains(::testing::Truly([](const nlohmann::json& entry) {
                    return entry["message"] == "WebRTC Client disconnected";
                })));
    EXPECT_FALSE(uploaded[0]["metrics"].empty());
    EXPECT_TRUE(live.uploads(offerLeaves ? "offer" : "answer").empty()) << "the host's own disconnect uploads nothing";
    EXPECT_EQ(leavingHost->count("disconnect(true)") + leavingHost->count("disconnect(false)"), 0u);
}

INSTANTIATE_TEST_SUITE_P(QuorvaneClientSession, QuorvaneClientDisconnectTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "OfferLeaves" : "AnswerLeaves"; });

// --- Messages, over one session shared by the suite ----------------------------------------------

class QuorvaneClientMessagingTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        try {
            live_ = new LiveSession;
        } catch (const std::exception& error) {
            setUpFailure_ = error.what();
        }
    }
    static void TearDownTestSuite() {
        delete live_;
        live_ = nullptr;
    }

    /// Fresh hosts for each test.
    void SetUp() override {
        ASSERT_NE(live_, nullptr) << setUpFailure_;
        offer_->setDelegate(offerHost_);
        answer_->setDelegate(answerHost_);
    }

    /// Records the parts of a query's answer: "data:last" or "data:more".
    struct Parts {
        std::mutex mutex;
        std::vector<std::string> seen;
        QVQueryReceipt::Handler handler() {
            return [this](const QVTaggedData& data, bool last) {
                std::lock_guard lock(mutex);
                seen.push_back(std::string(data.data().begin(), data.data().end()) + (last ? ":last" : ":more"));
            };
        }
        std::vector<std::string> get() {
            std::lock_guard lock(mutex);
            return seen;
        }
    };

    static inline LiveSession* live_ = nullptr;
    static inline std::string setUpFailure_;
    std::shared_ptr<QuorvaneClient> offer_ = live_ ? live_->clients.offer() : nullptr;
    std::shared_ptr<QuorvaneClient> answer_ = live_ ? live_->clients.answer() : nullptr;
    std::shared_ptr<RecordingDelegate> offerHost_ = std::make_shared<RecordingDelegate>();
    std::shared_ptr<RecordingDelegate> answerHost_ = std::make_shared<RecordingDelegate>();
};

TEST_F(QuorvaneClientMessagingTest, NotificationsArriveWholeEitherWay) {
    Bytes binary(300);
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<std::uint8_t>(i % 3 == 0 ? 0 : i);
    struct Case {
        const char* name;
        bool fromOffer;
        QVNotification notification;
    };
    const std::vector<Case> cases{
        {"no bytes", true, QVNotification(0, QVTaggedData("", {}))},
        {"binary with NULs", true, QVNotification(65535, QVTaggedData("application/octet-stream", binary))},
        {"binary with NULs, answer to offer", false, QVNotification(7, QVTaggedData("application/x-binary", binary))},
    };
    for (const auto& [name, fromOffer, notification] : cases) {
        SCOPED_TRACE(name);
        auto& receiver = fromOffer ? answerHost_ : offerHost_;
        const auto before = receiver->notifications().size();
        EXPECT_EQ(describe(testing::outcome((fromOffer ? offer_ : answer_)->sendNotification(notification))),
                  "fulfilled");
        ASSERT_TRUE(receiver->waitFor("notification", before + 1));
        const auto received = receiver->notifications().back();
        EXPECT_EQ(received.category(), notification.category());
        EXPECT_EQ(received.data().tag(), notification.data().tag());
        EXPECT_EQ(received.data().data(), notification.data().data());
    }
}

TEST_F(QuorvaneClientMessagingTest, CommandsAreSettledAsTheReceiverAnswers) {
    using Answer = std::function<void(const QVCommandContext&)>;
    struct Case {
        const char* name;
        QVAcknowledgeOn acknowledgeOn;
        Answer answer;
        double timeout;
        std::string outcome;
    };
    const std::vector<Case> cases{
        {"on receipt", QVAcknowledgeOn::received, [](const auto&) {}, 20, "fulfilled"},
        {"on finish", QVAcknowledgeOn::finished, [](const auto& context) { context.complete(); }, 20, "fulfilled"},
        {"with an error", QVAcknowledgeOn::finished,
         [](const auto& context) { context.error(QVError("not here", 404)); }, 20, "404 not here"},
        {"throwing", QVAcknowledgeOn::finished, [](const auto&) { throw std::runtime_error("host failure"); }, 20,
         "500 Runtime error occurred in user defined command response callback"},
        {"never answered", QVAcknowledgeOn::finished, [](const auto&) {}, 0.5,
         "Timeout (0.5 seconds) hit before receiving a response to this command"},
    };
    // The command's text names its case: one handler serves them all.
    answerHost_->onCommand = [&cases](const QVCommand& command, const QVCommandContext& context) {
        const std::string name(command.data().data().begin(), command.data().data().end());
        for (const auto& current : cases) {
            if (current.name != name) continue;
            EXPECT_EQ(command.category(), 5);
            EXPECT_EQ(command.acknowledgeOn(), current.acknowledgeOn) << name;
            return current.answer(context);
        }
        ADD_FAILURE() << "unknown command " << name;
    };
    for (const auto& [name, acknowledgeOn, answer, timeout, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(describe(testing::outcome(offer_->sendCommand(QVCommand(5, text(name), acknowledgeOn), timeout))),
                  expected);
    }
    EXPECT_TRUE(answerHost_->waitFor("raw(Command)", cases.size()));
}

TEST_F(QuorvaneClientMessagingTest, QueriesAreAnsweredInPartsOrWithAnError) {
    /// One step of an answer: a part, or an error when `status` is set.
    struct Step {
        std::string data;
        bool last = false;
        std::optional<std::uint32_t> status;
    };
    struct Case {
        const char* name;
        std::vector<Step> answer;
        std::vector<std::string> parts;
        std::string outcome;
    };
    const std::vector<Case> cases{
        {"three parts", {{"a"}, {"b"}, {"c", true}}, {"a:more", "b:more", "c:last"}, "fulfilled"},
        {"an error", {{"nope", false, 403}}, {}, "403 nope"},
        {"a part, then an error", {{"a"}, {"gone", false, 404}}, {"a:more"}, "404 gone"},
    };
    // Each query's context is kept; the test answers through it.
    auto context = std::make_shared<QVQueryContext>(nullptr, nullptr);
    answerHost_->onQuery = [context](const QVQuery& query, const QVQueryContext& received) {
        EXPECT_EQ(query.category(), 9);
        *context = received;
    };
    for (const auto& [name, answer, expectedParts, expected] : cases) {
        SCOPED_TRACE(name);
        const auto before = answerHost_->count("query");
        Parts parts;
        auto receipt = offer_->sendQuery(QVQuery(9, text(name)), 20, parts.handler());
        ASSERT_TRUE(answerHost_->waitFor("query", before + 1));
        // Each part waits for the previous one: the data channel does not keep messages in order.
        for (std::size_t step = 0; step < answer.size(); ++step) {
            if (answer[step].status) {
                context->error(QVError(answer[step].data, *answer[step].status));
                continue;
            }
            context->respond(text(answer[step].data), answer[step].last);
            ASSERT_TRUE(testing::eventually([&] { return parts.get().size() > step; }, 10s));
        }
        EXPECT_EQ(describe(testing::outcome(receipt.complete())), expected);
        EXPECT_THAT(parts.get(), ElementsAreArray(expectedParts));
    }
}

struct Point {
    int x, y;
};
void to_json(nlohmann::json& json, const Point& point) { json = {{"x", point.x}, {"y", point.y}}; }

TEST_F(QuorvaneClientMessagingTest, ConvenienceSendersArriveAsNotifications) {
    const std::string chat = "h\xc3\xa9llo";
    const std::vector<Promise<void>> sent{
        answer_->sendBytes({0, 1, 0}, "application/octet-stream", 1),
        answer_->sendChat(chat, "text/plain; charset=utf-8", 2),
        answer_->sendLog("a log line", "text/plain", 3),
        answer_->sendEncodable(Point{1, 2}, "application/json", 4),
    };
    for (const auto& promise : sent) EXPECT_EQ(describe(testing::outcome(promise)), "fulfilled");

    ASSERT_TRUE(offerHost_->waitFor("notification", sent.size()));
    std::map<std::uint16_t, std::pair<std::string, std::string>> received;  // by category: tag, text
    for (const auto& notification : offerHost_->notifications()) {
        const auto& bytes = notification.data().data();
        received[notification.category()] = {notification.data().tag(), std::string(bytes.begin(), bytes.end())};
    }
    using Arrival = std::pair<const std::uint16_t, std::pair<std::string, std::string>>;
    EXPECT_THAT(received, ElementsAre(Arrival{1, {"application/octet-stream", std::string("\0\1\0", 3)}},
                                      Arrival{2, {"text/plain; charset=utf-8", chat}},
                                      Arrival{3, {"text/plain", "a log line"}},
                                      Arrival{4, {"application/json", R"({"x":1,"y":2})"}}));
}

}  // namespace
}  // namespace quorvane
