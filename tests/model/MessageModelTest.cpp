#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>

#include "formats/FbAckOn.hpp"
#include "quorvane/DefaultCategory.hpp"
#include "quorvane/DefaultTag.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVCategory.hpp"
#include "quorvane/QVCommand.hpp"
#include "quorvane/QVCommandContext.hpp"
#include "quorvane/QVError.hpp"
#include "quorvane/QVNotification.hpp"
#include "quorvane/QVQuery.hpp"
#include "quorvane/QVQueryContext.hpp"
#include "quorvane/QVQueryReceipt.hpp"

using namespace quorvane;

namespace {

/// The error a settled promise was rejected with, as `E`; fails the test when it is another.
template <class E>
E rejection(const Promise<void>& promise) {
    try {
        promise.wait();
    } catch (const E& error) {
        return error;
    }
    throw std::logic_error("the promise was not rejected with the expected error");
}

/// A host's own error answer.
class TeapotError : public QVErrorResponse {
public:
    const std::string& message() const override { return message_; }
    std::uint32_t statusCode() const override { return 418; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_ = "short and stout";
};

}  // namespace

TEST(QVMessage, MessagesBuiltToBeSentCarryIdZero) {
    QVTaggedData data("t", {1});
    QVCommand command(7, data, QVAcknowledgeOn::finished);
    EXPECT_EQ(command.id(), 0);
    EXPECT_EQ(command.category(), 7);
    EXPECT_EQ(command.data(), data);
    command.setAcknowledgeOn(QVAcknowledgeOn::received);
    EXPECT_EQ(command.acknowledgeOn(), QVAcknowledgeOn::received);
    EXPECT_EQ(QVNotification(3, data).id(), 0);
    EXPECT_EQ(QVQuery(3, data).id(), 0);

    const QVMessage& received = QVQuery(65535, 9, data);
    EXPECT_EQ(received.id(), 65535);
    EXPECT_EQ(received.category(), 9);
}

TEST(QVTaggedData, ATaggedDataGoingAwayHandsItsBytesOverUncopied) {
    QVTaggedData data("t", std::vector<std::uint8_t>(1000, 7));
    const auto* bytes = data.data().data();
    const auto taken = std::move(data).data();
    EXPECT_EQ(taken.data(), bytes);
    EXPECT_EQ(taken.size(), 1000u);
}

TEST(QVMessage, RawValuesOutsideTheCasesGiveNone) {
    EXPECT_EQ(qvCategoryFromRawValue(2), QVCategory::Log);
    EXPECT_FALSE(qvCategoryFromRawValue(3));
    EXPECT_EQ(qvAcknowledgeOnFromRawValue(1), QVAcknowledgeOn::finished);
    EXPECT_FALSE(qvAcknowledgeOnFromRawValue(2));
    EXPECT_EQ(fbAckOn(QVAcknowledgeOn::received), CommandAcknowledgementType::received);
    EXPECT_EQ(fbAckOn(QVAcknowledgeOn::finished), CommandAcknowledgementType::finished);
    EXPECT_EQ(qvErrorMessageTypeFromRawValue("query"), QVError::MessageType::query);
    EXPECT_FALSE(qvErrorMessageTypeFromRawValue("Query"));
}

TEST(QVError, MessagesAndStatusCodes) {
    QVError plain("went wrong");
    EXPECT_EQ(plain.statusCode(), 0u);
    EXPECT_STREQ(plain.what(), "went wrong");
    EXPECT_EQ(plain.errorDescription(), "went wrong");

    auto query = QVError::getSystemDefaultError(QVError::MessageType::query);
    EXPECT_EQ(query.statusCode(), 500u);
    EXPECT_EQ(query.message(), "Runtime error occurred in user defined query response callback");
    EXPECT_EQ(QVError::getSystemDefaultError(QVError::MessageType::command).message(),
              "Runtime error occurred in user defined command response callback");
}

TEST(QVCommandContext, TheFirstSettlementWins) {
    QVCommandContext completed(true);
    EXPECT_TRUE(completed.completion.promise.isFulfilled());
    completed.error(QVError("late"));
    EXPECT_TRUE(completed.completion.promise.isFulfilled());

    QVCommandContext failed;
    EXPECT_TRUE(failed.completion.promise.isPending());
    QVCommandContext copy = failed;
    copy.error(TeapotError());
    failed.complete();
    auto error = rejection<QVError>(failed.completion.promise);
    EXPECT_EQ(error.statusCode(), 418u);
    EXPECT_EQ(error.message(), "short and stout");
}

TEST(QVCommandContext, RacingSettlementsSettleOnce) {
    for (int round = 0; round < 200; ++round) {
        QVCommandContext context;
        std::atomic<int> outcomes = 0;
        auto observed =
            context.completion.promise.done([&] { ++outcomes; }).catchError([&](auto) { ++outcomes; });
        std::barrier start(2);
        std::thread completer([&] { start.arrive_and_wait(); context.complete(); });
        std::thread failer([&] { start.arrive_and_wait(); context.error(QVError("lost", 1)); });
        completer.join();
        failer.join();
        EXPECT_FALSE(context.completion.promise.isPending());
        observed.wait();
        EXPECT_EQ(outcomes.load(), 1);
    }
}

TEST(QVQueryContext, ForwardsEveryCallAtOnce) {
    std::vector<std::pair<std::string, bool>> parts;
    std::vector<std::uint32_t> errors;
    QVQueryContext context([&](const QVTaggedData& data, bool last) { parts.emplace_back(data.tag(), last); },
                           [&](const QVErrorResponse& error) { errors.push_back(error.statusCode()); });
    context.respond(QVTaggedData("a", {}), false);
    context.respond(QVTaggedData("b", {}), true);
    context.respond(QVTaggedData("c", {}), true);  // after the last part: still forwarded
    context.error(TeapotError());
    EXPECT_EQ(parts, (std::vector<std::pair<std::string, bool>>{{"a", false}, {"b", true}, {"c", true}}));
    EXPECT_EQ(errors, std::vector<std::uint32_t>{418});

    QVQueryContext empty(nullptr, nullptr);
    empty.respond(QVTaggedData("a", {}), true);  // no handler: nothing happens
    empty.error(QVError("x"));
}

TEST(QVQueryReceipt, PendingOrFailedAtOnce) {
    QVQueryReceipt pending;
    EXPECT_TRUE(pending.complete().isPending());
    pending.received()(QVTaggedData("t", {}), true);  // the default handler does nothing

    QVQueryReceipt failed({}, true);
    EXPECT_TRUE(failed.complete().isRejected());
    EXPECT_STREQ(rejection<WebRTCError>(failed.complete()).what(), "WebRTC client is not initialized");

    QVQueryReceipt copy = pending;
    copy.completion.resolver.fulfill();
    EXPECT_TRUE(pending.complete().isFulfilled());
}

TEST(Defaults, InitialValuesAndGuardedWrites) {
    EXPECT_EQ(DefaultTag::Chat().get(), "text/plain; charset=utf-8");
    EXPECT_EQ(DefaultTag::Log().get(), "text/plain; charset=utf-8");
    EXPECT_EQ(DefaultTag::Object().get(), "application/json");
    EXPECT_EQ(DefaultCategory::Chat().get(), 1);
    EXPECT_EQ(DefaultCategory::Bytes().get(), 0);
    EXPECT_EQ(DefaultCategory::Log().get(), 2);
    EXPECT_EQ(DefaultCategory::Object().get(), 0);

    const std::string initial = DefaultTag::Bytes().get();
    EXPECT_EQ(initial, "application/octet-stream");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 2000; ++i) {
                DefaultTag::Bytes().set(std::string(64, static_cast<char>('a' + t)));
                auto value = DefaultTag::Bytes().get();
                EXPECT_EQ(value.size(), 64u);
                EXPECT_EQ(value.find_first_not_of(value[0]), std::string::npos);  // never torn
            }
        });
    }
    for (auto& thread : threads) thread.join();
    DefaultTag::Bytes().set("image/png");
    EXPECT_EQ(DefaultTag::Bytes().get(), "image/png");
    EXPECT_EQ(DefaultTag::Chat().get(), "text/plain; charset=utf-8");
    DefaultTag::Bytes().set(initial);
}
