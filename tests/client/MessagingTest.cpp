// Notifications, commands and queries between two clients over a pair of fake transports.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <latch>
#include <limits>

#include "ClientHarness.hpp"
#include "formats/DataChannelMessageView.hpp"
#include "formats/DataChannelMessageWriter.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"
#include "support/Pattern.hpp"
#include "support/ResidentMemory.hpp"
#include "util/ErrorDescription.hpp"

using namespace quorvane;
using namespace quorvane::testing;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Point {
    int x, y;
};
void to_json(nlohmann::json& json, const Point& point) { json = {{"x", point.x}, {"y", point.y}}; }

struct Unwritable {};
void to_json(nlohmann::json&, const Unwritable&) { throw std::runtime_error("no JSON for this"); }

class MessagingTest : public ConnectedClientsTest {
protected:
    /// Lets everything the answer side has sent so far reach the offer side's host: a notification
    /// sent after it arrives after it. False when the marker did not arrive.
    [[nodiscard]] bool flushToOffer() {
        const auto before = offerHost_->count("notification");
        answer_->sendBytes({}, "marker", 0);
        return offerHost_->waitFor("notification", before + 1);
    }

    /// The kinds of the messages `end` has sent, as the raw reports name them.
    static std::size_t countSent(const FakeTransport& end, DataChannelMessageSubtype kind) {
        std::size_t count = 0;
        for (const auto& sent : end.record().sent) count += parseDataChannelMessage(sent.data)->messageType() == kind;
        return count;
    }

    static std::string idOf(const Bytes& message) { return *parseDataChannelMessage(message)->id(); }

    /// Records the parts of a query's answer: "data:last".
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

    /// Keeps the context of the query the answer side receives.
    std::shared_ptr<QVQueryContext> keepQueryContext() {
        auto kept = std::make_shared<QVQueryContext>(nullptr, nullptr);
        answerHost_->onQuery = [kept](const QVQuery&, const QVQueryContext& context) { *kept = context; };
        return kept;
    }
    static QVTaggedData text(const std::string& value) { return QVTaggedData("text/plain", Bytes(value.begin(), value.end())); }
};

}  // namespace

TEST_F(MessagingTest, NotificationsArriveWithTheirFieldsAndTheTransportsId) {
    const std::vector<QVNotification> sent{
        QVNotification(0, QVTaggedData("", {})),
        QVNotification(65535, QVTaggedData("", {0, 0, 0})),
        QVNotification(7, QVTaggedData("application/octet-stream", {'a', 0, 'b'})),
    };
    for (const auto& notification : sent) EXPECT_EQ(outcome(offer_->sendNotification(notification)), nullptr);

    ASSERT_TRUE(answerHost_->waitFor("notification", sent.size()));
    const auto received = answerHost_->notifications();
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(received[i].id(), i);
        EXPECT_EQ(received[i].category(), sent[i].category());
        EXPECT_EQ(received[i].data(), sent[i].data());
    }
    EXPECT_THAT(answerHost_->events(), ElementsAre("connect", "raw(Notification)", "notification", "raw(Notification)",
                                                   "notification", "raw(Notification)", "notification"));
    const auto first = idOf(offerEnd_->record().sent[0].data);
    EXPECT_EQ(first.size(), 10u);
    EXPECT_EQ(first.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);
    EXPECT_NE(first, idOf(offerEnd_->record().sent[1].data));
}

TEST_F(MessagingTest, CommandsAreSettledOnceAsTheReceiverAnswers) {
    using Answer = std::function<void(const QVCommandContext&)>;
    struct Case {
        const char* name;
        QVAcknowledgeOn acknowledgeOn;
        Answer answer;
        std::uint32_t status;  // 0: fulfilled
        std::string message;
    };
    const std::vector<Case> cases{
        {"on receipt", QVAcknowledgeOn::received, [](const auto& context) { context.error(QVError("ignored", 1)); }, 0, ""},
        {"on finish", QVAcknowledgeOn::finished, [](const auto& context) { context.complete(), context.complete(); }, 0, ""},
        {"with an error", QVAcknowledgeOn::finished,
         [](const auto& context) { context.error(QVError("not here", 404)), context.complete(); }, 404, "not here"},
        {"throwing", QVAcknowledgeOn::finished, [](const auto&) { throw std::runtime_error("host failure"); }, 500,
         "Runtime error occurred in user defined command response callback"},
        {"throwing an error answer", QVAcknowledgeOn::finished, [](const auto&) { throw QVError("teapot", 418); }, 418,
         "teapot"},
    };
    std::size_t acknowledgements = 0;
    for (const auto& [name, acknowledgeOn, answer, status, message] : cases) {
        SCOPED_TRACE(name);
        answerHost_->onCommand = [&answer, acknowledgeOn](const QVCommand& command, const QVCommandContext& context) {
            EXPECT_EQ(command.acknowledgeOn(), acknowledgeOn);
            EXPECT_EQ(context.completion.promise.isFulfilled(), acknowledgeOn == QVAcknowledgeOn::received);
            answer(context);
        };
        auto sent = offer_->sendCommand(QVCommand(5, text("go"), acknowledgeOn), 30);
        if (status == 0) {
            EXPECT_EQ(outcome(sent), nullptr);
        } else {
            const auto error = rejection<QVError>(sent);
            EXPECT_EQ(error.statusCode(), status);
            EXPECT_EQ(error.message(), message);
        }
        ASSERT_TRUE(flushToOffer());
        EXPECT_EQ(countSent(*answerEnd_, DataChannelMessageSubtype::CommandAcknowledgement), ++acknowledgements);
    }
    EXPECT_TRUE(logged("ERROR not here"));
}

TEST_F(MessagingTest, ACommandNobodyAnswersTimesOutWithTheCallersNumber) {
    answer_->setDelegate(nullptr);
    struct Case {
        double timeout, advance;
        const char* shown;
    };
    for (const auto& [timeout, advance, shown] : {Case{0.5, 0.5, "0.5"}, Case{5, 5, "5.0"}, Case{-1, 0, "-1.0"}}) {
        SCOPED_TRACE(shown);
        const auto before = offerEnd_->record().sent.size();
        auto sent = offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::finished), timeout);
        ASSERT_TRUE(offerEnd_->waitForSent(before + 1));
        if (advance > 0) {
            clock_->advance(advance / 2);
            settle({offerEnd_, answerEnd_});
            EXPECT_TRUE(sent.isPending());
        }
        clock_->advance(advance - advance / 2);
        EXPECT_STREQ(rejection<QuorvaneError>(sent).what(),
                     (std::string("Timeout (") + shown + " seconds) hit before receiving a response to this command").c_str());
    }
}

TEST_F(MessagingTest, ACommandsTimerGoesWithTheCommandAndOneWithoutATimeOutHasNone) {
    const auto timers = clock_->pendingCount();
    for (const double timeout : {5.0, std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(timeout);
        std::vector<Promise<void>> answered;
        for (int command = 0; command < 1000; ++command) {
            answered.push_back(offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::received), timeout));
        }
        for (const auto& promise : answered) ASSERT_EQ(outcome(promise), nullptr);
        EXPECT_EQ(clock_->pendingCount(), timers);
    }
    answer_->setDelegate(nullptr);  // nothing more is answered
    const auto before = offerEnd_->record().sent.size();
    auto timedOut = offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::finished), 5);
    auto untimed = offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::finished), INFINITY);
    ASSERT_TRUE(offerEnd_->waitForSent(before + 2));
    EXPECT_EQ(clock_->pendingCount(), timers + 1);
    clock_->advance(5);
    EXPECT_EQ(rejection<QuorvaneError>(timedOut).kind(), QuorvaneError::Kind::commandTimedOut);
    EXPECT_EQ(clock_->pendingCount(), timers);
    auto released = offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::finished), 30);
    ASSERT_TRUE(offerEnd_->waitForSent(before + 3));
    offer_.reset();
    EXPECT_EQ(rejection<QuorvaneError>(released).title(), "Deinitialized");
    EXPECT_EQ(rejection<QuorvaneError>(untimed).title(), "Deinitialized");
    EXPECT_EQ(clock_->pendingCount(), timers);
}

TEST_F(MessagingTest, ACommandTimesOutWhileItsHandOverStillWaits) {
    offerEnd_->holdSends(true);
    const auto before = offerEnd_->record().sent.size();
    auto sent = offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::received), 1);
    ASSERT_TRUE(offerEnd_->waitForSent(before + 1));
    clock_->advance(1);
    EXPECT_EQ(rejection<QuorvaneError>(sent).kind(), QuorvaneError::Kind::commandTimedOut);
}

TEST_F(MessagingTest, AnAcknowledgementAfterTheTimeOutChangesNothing) {
    auto kept = std::make_shared<QVCommandContext>();
    answerHost_->onCommand = [kept](const QVCommand&, const QVCommandContext& context) { *kept = context; };
    auto sent = offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::finished), 1);
    ASSERT_TRUE(answerHost_->waitFor("command"));
    clock_->advance(1);
    EXPECT_EQ(rejection<QuorvaneError>(sent).kind(), QuorvaneError::Kind::commandTimedOut);

    kept->complete();
    ASSERT_TRUE(offerHost_->waitFor("raw(Command Acknowledgement)"));
    ASSERT_TRUE(flushToOffer());
    EXPECT_EQ(rejection<QuorvaneError>(sent).kind(), QuorvaneError::Kind::commandTimedOut);
}

TEST_F(MessagingTest, ReceivedCommandsAreAcknowledgedWithoutWaitingForTheHostsQueue) {
    auto hostQueue = DispatchQueue::create("host");
    answer_->setDispatchQueue(hostQueue);
    std::latch hostBusy(1);
    hostQueue->async([&] { hostBusy.wait(); });

    EXPECT_EQ(outcome(offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::received), 30)), nullptr);
    EXPECT_EQ(answerHost_->count("command"), 0u);
    hostBusy.count_down();
    ASSERT_TRUE(answerHost_->waitFor("command"));
}

TEST_F(MessagingTest, AQueryAnsweredInPartsStaysAliveAsLongAsPartsKeepComing) {
    auto context = keepQueryContext();
    Parts parts;
    auto receipt = offer_->sendQuery(QVQuery(9, text("how")), 5, parts.handler());
    ASSERT_TRUE(answerHost_->waitFor("query"));

    for (const auto& [part, last] : std::initializer_list<std::pair<const char*, bool>>{{"a", false}, {"b", false}, {"c", true}}) {
        context->respond(text(part), last);
        ASSERT_TRUE(flushToOffer());
        if (!last) clock_->advance(4);
    }
    context->respond(text("late"), true);
    context->error(QVError("late", 1));
    ASSERT_TRUE(flushToOffer());

    EXPECT_EQ(outcome(receipt.complete()), nullptr);
    EXPECT_THAT(parts.get(), ElementsAre("a:more", "b:more", "c:last"));
    EXPECT_EQ(countSent(*answerEnd_, DataChannelMessageSubtype::QueryResponse), 3u);
}

TEST_F(MessagingTest, AQueryResponsesPartIsLentOutOfTheMessageWhichIsThenReportedWhole) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{64} << 20}) {
        SCOPED_TRACE(size);
        auto context = keepQueryContext();
        std::uint64_t before = 0;
        std::int64_t growth = 0;
        bool intact = false;
        const auto queries = answerHost_->count("query");
        auto receipt = offer_->sendQuery(QVQuery(9, text("how")), 30, [&](const QVTaggedData& data, bool) {
            growth = static_cast<std::int64_t>(ResidentMemory::read().now - before);
            intact = data.data() == patterned(size, 3);
        });
        ASSERT_TRUE(answerHost_->waitFor("query", queries + 1));
        answerEnd_->holdSends(true);
        const auto sent = answerEnd_->record().sent.size();
        context->respond(QVTaggedData("application/octet-stream", patterned(size, 3)), true);
        ASSERT_TRUE(answerEnd_->waitForSent(sent + 1));
        answerEnd_->holdSends(false);
        const auto message = answerEnd_->record().sent.back().data;
        Bytes reported;
        offerHost_->onRaw = [&](const Bytes& bytes, const std::string& kind) {
            if (kind == "Query Response") reported = bytes;
        };

        auto delivered = message;
        before = ResidentMemory::read().now;
        offerEnd_->inject(std::move(delivered), 1);
        EXPECT_EQ(outcome(receipt.complete()), nullptr);
        EXPECT_TRUE(intact);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        EXPECT_LT(growth, static_cast<std::int64_t>(size / 2 + (1 << 20))) << "the part was copied out of the message";
#endif
        ASSERT_TRUE(flushToOffer());
        EXPECT_TRUE(reported == message) << "the message reported is not the one received";
        offerHost_->onRaw = nullptr;
    }
}

TEST_F(MessagingTest, AQueryExpiresAfterSilenceAndIgnoresLaterParts) {
    auto context = keepQueryContext();
    Parts parts;
    auto receipt = offer_->sendQuery(QVQuery(9, text("how")), 5, parts.handler());
    ASSERT_TRUE(answerHost_->waitFor("query"));
    context->respond(text("a"), false);
    ASSERT_TRUE(flushToOffer());
    clock_->advance(5);

    const auto error = rejection<QVError>(receipt.complete());
    EXPECT_EQ(error.statusCode(), 500u);
    EXPECT_EQ(error.message(), "Timeout (5.0 seconds) hit before receiving a response to this query");
    EXPECT_TRUE(logged("ERROR Query failed: Timeout (5.0 seconds) hit before receiving a response to this query"));
    context->respond(text("late"), true);
    ASSERT_TRUE(flushToOffer());
    EXPECT_THAT(parts.get(), ElementsAre("a:more"));
}

TEST_F(MessagingTest, AQueryFailedByThePeerOrByTheHostsHandlerIsRejectedWithItsError) {
    struct Case {
        std::function<void(const QVQueryContext&)> answer;
        std::uint32_t status;
        std::string message;
        std::string failedLine;  // the asking side's log line of it: whole, escaped
    };
    const std::string hostile("bad\0news\n\\\xff\xe2\x80\xae!", 15);
    const std::vector<Case> cases{
        {[](const auto& context) { context.error(QVError("nope", 403)), context.error(QVError("again", 1)); }, 403, "nope",
         "ERROR Query failed: nope"},
        {[](const auto&) { throw std::runtime_error("host failure"); }, 500,
         "Runtime error occurred in user defined query response callback",
         "ERROR Query failed: Runtime error occurred in user defined query response callback"},
        {[&hostile](const auto& context) { context.error(QVError(hostile, 400)); }, 400, hostile,
         "ERROR Query failed: bad\\0news\\n\\\\\\xff\\xe2\\x80\\xae!"},
    };
    for (const auto& [answer, status, message, failedLine] : cases) {
        SCOPED_TRACE(message);
        answerHost_->onQuery = [&answer](const QVQuery&, const QVQueryContext& context) { answer(context); };
        const auto before = countSent(*answerEnd_, DataChannelMessageSubtype::QueryResponse);
        const auto error = rejection<QVError>(offer_->sendQuery(QVQuery(9, text("how")), 5, {}).complete());
        EXPECT_EQ(error.statusCode(), status);
        EXPECT_EQ(error.message(), message);
        ASSERT_TRUE(flushToOffer());
        EXPECT_EQ(countSent(*answerEnd_, DataChannelMessageSubtype::QueryResponse), before + 1);
        EXPECT_TRUE(logged("ERROR " + message));
        EXPECT_TRUE(logged(failedLine)) << failedLine;
    }
}

TEST_F(MessagingTest, AQueryTheTransportCannotSendIsRejectedAndForgotten) {
    struct Case {
        std::function<void()> breakTransport;
        std::string error;
    };
    const std::vector<Case> cases{
        {[this] { offerEnd_->failSends(std::make_exception_ptr(std::runtime_error("channel closed"))); }, "channel closed"},
        {[this] { offerEnd_->giveUpSends(true); }, "Failed to send query"},
    };
    for (const auto& [breakTransport, expected] : cases) {
        SCOPED_TRACE(expected);
        breakTransport();
        Parts parts;
        const auto before = offerEnd_->record().sent.size();
        auto receipt = offer_->sendQuery(QVQuery(9, text("how")), 5, parts.handler());
        EXPECT_EQ(errorDescription(outcome(receipt.complete())), expected);
        offerEnd_->failSends(nullptr);
        offerEnd_->giveUpSends(false);

        // A part naming the query reaches no handler, and no time-out follows.
        ASSERT_TRUE(offerEnd_->waitForSent(before + 1));
        answerEnd_->sendMessage(DataChannelMessageWriter::queryResponse("responseid", 0, idOf(offerEnd_->record().sent[before].data),
                                                                        "text/plain", {}, true),
                                0, nullptr);
        ASSERT_TRUE(flushToOffer());
        clock_->advance(10);
        settle({offerEnd_, answerEnd_});
        EXPECT_TRUE(parts.get().empty());
        EXPECT_TRUE(logged("ERROR Query failed: " + expected));
    }
    const auto lines = logLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("ERROR Query failed", 0) == 0; }),
              2);
}

TEST_F(MessagingTest, AGivenUpCommandIsRejectedAsFailedToSend) {
    offerEnd_->giveUpSends(true);
    EXPECT_STREQ(rejection<QuorvaneError>(offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::received), 5)).what(),
                 "Failed to send command");
    EXPECT_TRUE(logged("ERROR Failed to send message with ID 0"));
}

TEST_F(MessagingTest, ConvenienceSendersArriveAsNotifications) {
    const std::string chat = "h\xc3\xa9llo";
    std::vector<Promise<void>> sent{
        offer_->sendBytes({0, 1, 0}, "application/octet-stream", 0),
        offer_->sendChat(chat, "text/plain; charset=utf-8", 1),
        offer_->sendLog("a log line", "text/plain", 2),
        offer_->sendEncodable(Point{1, 2}, "application/json", 3),
    };
    for (const auto& promise : sent) EXPECT_EQ(outcome(promise), nullptr);

    ASSERT_TRUE(answerHost_->waitFor("notification", 4));
    auto received = answerHost_->notifications();
    const std::vector<std::pair<std::string, std::string>> expected{
        {"application/octet-stream", std::string("\0\1\0", 3)}, {"text/plain; charset=utf-8", chat},
        {"text/plain", "a log line"}, {"application/json", R"({"x":1,"y":2})"}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(received[i].category(), i);
        EXPECT_EQ(received[i].data().tag(), expected[i].first);
        EXPECT_EQ(std::string(received[i].data().data().begin(), received[i].data().data().end()), expected[i].second);
    }
}

TEST_F(MessagingTest, WhatCannotBeSentIsRefusedBeforeAnythingIsSent) {
    auto kind = [](const Promise<void>& promise) { return errorDescription(outcome(promise)); };
    const std::string invalidUsage = "Invalid usage of the SDK";
    const std::string cannotFormData = "Error trying to create data to send over data channel";
    const auto before = offerEnd_->record().sent.size();

    EXPECT_EQ(kind(offer_->sendChat("\xff", "t", 1)), invalidUsage);
    EXPECT_EQ(kind(offer_->sendLog("\xc3", "t", 2)), invalidUsage);
    EXPECT_EQ(kind(offer_->sendEncodable(nlohmann::json(NAN), "t", 0)), cannotFormData);
    EXPECT_EQ(kind(offer_->sendEncodable(nlohmann::json{{"k", {1.0, INFINITY}}}, "t", 0)), cannotFormData);
    EXPECT_EQ(kind(offer_->sendEncodable(nlohmann::json{{"k", "\xff"}}, "t", 0)), cannotFormData);
    EXPECT_EQ(kind(offer_->sendEncodable(Unwritable{}, "t", 0)), cannotFormData);
    EXPECT_EQ(kind(offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::received), NAN)), invalidUsage);
    EXPECT_EQ(kind(offer_->sendQuery(QVQuery(9, text("how")), NAN, {}).complete()), invalidUsage);
    EXPECT_EQ(kind(offer_->sendBytes(Bytes(std::size_t{65535} * 15360), "t", 0)), cannotFormData);

    settle({offerEnd_});
    EXPECT_EQ(offerEnd_->record().sent.size(), before);
    FakeTransportFactory none;
    auto unstarted = makeClient(none, nullptr);
    EXPECT_EQ(kind(unstarted->sendBytes({}, "t", 0)), "WebRTC client is not initialized");
    EXPECT_EQ(kind(unstarted->sendQuery(QVQuery(9, text("how")), 5, {}).complete()), "WebRTC client is not initialized");
}

TEST_F(MessagingTest, BytesTheReaderRefusesAreDroppedAndUnknownKindsReadAsTheSchemaSays) {
    const auto valid = DataChannelMessageWriter::notification("abcdefghij", 0, 1, "t", {});
    flatbuffers::FlatBufferBuilder noId;
    noId.Finish(CreateDataChannelMessage(noId, DataChannelMessageSubtype::NONE, 0, 5));
    flatbuffers::FlatBufferBuilder unknownKind;
    unknownKind.Finish(CreateDataChannelMessage(unknownKind, static_cast<DataChannelMessageSubtype>(9), 0, 5,
                                                unknownKind.CreateString("abcdefghij")));
    flatbuffers::FlatBufferBuilder oddAck;
    auto tag = oddAck.CreateString("t");
    auto command = CreateCommand(oddAck, 4, static_cast<CommandAcknowledgementType>(7), CreateTaggedData(oddAck, tag));
    oddAck.Finish(CreateDataChannelMessage(oddAck, DataChannelMessageSubtype::Command, command.Union(), 5,
                                           oddAck.CreateString("commandid0")));

    for (const auto& bytes : {Bytes{}, Bytes{1, 2, 3}, Bytes(valid.begin(), valid.begin() + valid.size() / 2),
                              Bytes(noId.GetBufferPointer(), noId.GetBufferPointer() + noId.GetSize())}) {
        answerEnd_->inject(bytes, 77);
    }
    answerEnd_->inject(Bytes(unknownKind.GetBufferPointer(), unknownKind.GetBufferPointer() + unknownKind.GetSize()), 78);
    answerEnd_->inject(Bytes(oddAck.GetBufferPointer(), oddAck.GetBufferPointer() + oddAck.GetSize()), 79);
    ASSERT_TRUE(answerHost_->waitFor("command"));

    EXPECT_THAT(answerHost_->events(), ElementsAre("connect", "raw(Invalid)", "raw(Command)", "command"));
    EXPECT_EQ(countSent(*answerEnd_, DataChannelMessageSubtype::CommandAcknowledgement), 1u);
    const auto lines = logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "ERROR Received malformed data channel message"), 3);
    EXPECT_TRUE(logged("ERROR Received invalid message without ID"));
    EXPECT_TRUE(logged("ERROR Received data channel message with unknown message type"));
}

class RepeatedIdsTest : public MessagingTest {
protected:
    RepeatedIdsTest() { offerMessageIds_ = [] { return std::string("sameid0000"); }; }
};

TEST_F(RepeatedIdsTest, ACommandsTimeOutRemovesOnlyItsOwnEntry) {
    std::vector<QVCommandContext> contexts;
    std::mutex mutex;
    answerHost_->onCommand = [&](const QVCommand&, const QVCommandContext& context) {
        std::lock_guard lock(mutex);
        contexts.push_back(context);
    };
    auto first = offer_->sendCommand(QVCommand(5, text("one"), QVAcknowledgeOn::finished), 1);
    auto second = offer_->sendCommand(QVCommand(5, text("two"), QVAcknowledgeOn::finished), 10);
    ASSERT_TRUE(answerHost_->waitFor("command", 2));
    clock_->advance(1);
    EXPECT_EQ(rejection<QuorvaneError>(first).kind(), QuorvaneError::Kind::commandTimedOut);

    std::lock_guard lock(mutex);
    contexts[1].complete();
    EXPECT_EQ(outcome(second), nullptr);
}

/// How a session ends, seen from the offer side.
enum class SessionEnd { hostsDisconnect, peersDisconnect, connectionLost, newStartUp };

class SessionEndTest : public MessagingTest, public ::testing::WithParamInterface<SessionEnd> {};

TEST_P(SessionEndTest, WhatWaitsWithoutATimeOutSettlesAtOnceTheRestAtItsTimeOut) {
    answer_->setDelegate(nullptr);  // nothing is answered
    const auto before = offerEnd_->record().sent.size();
    auto untimedCommand = offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::finished), INFINITY);
    auto untimedQuery = offer_->sendQuery(QVQuery(5, text("ask")), INFINITY, {});
    auto timed = offer_->sendCommand(QVCommand(5, text("go"), QVAcknowledgeOn::finished), 5);
    ASSERT_TRUE(offerEnd_->waitForSent(before + 3));

    switch (GetParam()) {
        case SessionEnd::hostsDisconnect: offer_->disconnect(false).wait(); break;
        case SessionEnd::peersDisconnect:
        case SessionEnd::connectionLost:
            offerEnd_->raise([expected = GetParam() == SessionEnd::peersDisconnect](TransportLayerDelegate& delegate) {
                delegate.transportLayerDidDisconnect(expected);
            });
            break;
        case SessionEnd::newStartUp:
            offerTransports_.add(FakeTransport::pair().first);
            offer_->initiateSupportSession().wait();
            break;
    }
    const std::string ended = "The session ended before the peer answered";
    EXPECT_EQ(rejection<QVError>(untimedCommand).message(), ended);
    EXPECT_EQ(rejection<QVError>(untimedQuery.complete()).message(), ended);
    settle({offerEnd_, answerEnd_});
    EXPECT_TRUE(timed.isPending());
    clock_->advance(5);
    EXPECT_EQ(rejection<QuorvaneError>(timed).kind(), QuorvaneError::Kind::commandTimedOut);
}

std::string sessionEndName(const ::testing::TestParamInfo<SessionEnd>& info) {
    switch (info.param) {
        case SessionEnd::hostsDisconnect: return "hostsDisconnect";
        case SessionEnd::peersDisconnect: return "peersDisconnect";
        case SessionEnd::connectionLost: return "connectionLost";
        case SessionEnd::newStartUp: return "newStartUp";
    }
    return "unknown";
}

INSTANTIATE_TEST_SUITE_P(Ways, SessionEndTest,
                         ::testing::Values(SessionEnd::hostsDisconnect, SessionEnd::peersDisconnect,
                                           SessionEnd::connectionLost, SessionEnd::newStartUp),
                         sessionEndName);
