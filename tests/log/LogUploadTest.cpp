#include <gtest/gtest.h>

#include <stdexcept>

#include "async/Clock.hpp"
#include "log/LogPoster.hpp"
#include "log/SessionMetrics.hpp"
#include "log/ZephLogger.hpp"
#include "support/Queues.hpp"

using namespace quorvane;

namespace {

class FakePoster : public LogPoster {
public:
    struct Post {
        nlohmann::json body;
        std::string sessionId;
        WebRtcClientRole role;
        Resolver<void> resolver;
    };

    Promise<void> postLogs(nlohmann::json logs, std::string sessionId, WebRtcClientRole role) override {
        auto pending = Promise<void>::pending();
        posts.push_back({std::move(logs), std::move(sessionId), role, pending.resolver});
        return pending.promise;
    }

    std::vector<Post> posts;
};

struct Fixture {
    // A promise left pending keeps its continuations (and itself) alive: settle every post.
    ~Fixture() {
        for (auto& post : poster->posts) post.resolver.reject(std::make_exception_ptr(std::runtime_error("end")));
        quorvane::testing::drain(DispatchQueue::main());
    }

    ScopedVirtualClock clock;
    std::shared_ptr<ZephLogger> logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, false);
    std::shared_ptr<FakePoster> poster = std::make_shared<FakePoster>();

    void startSession(const std::string& id, WebRtcClientRole role) {
        logger->setSessionId(id);
        logger->setPin("pin-" + id);
        logger->setRole(role);
    }

    std::vector<std::string> messages(const nlohmann::json& list) const {
        std::vector<std::string> out;
        for (const auto& item : list) out.push_back(item["message"]);
        return out;
    }

    // A store of 8 KiB, and flagged lines of one size, some fifteen of which fill it.
    void useSmallStore() { logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, false, 8 << 10); }
    void logLines(int count) {
        for (int i = 0; i < count; ++i) {
            logger->error(true, "P", "K", "op", "line " + std::to_string(1000 + next++) + std::string(200, '.'));
        }
    }
    int next = 0;

    /// The number the upload's drop notice gives, or -1 when it has none.
    static long long droppedIn(const FakePoster::Post& post) {
        const auto& entries = post.body["entries"];
        if (entries.empty() || entries[0]["class"] != "ZephLogger") return -1;
        return entries[0]["data"]["droppedEntries"];
    }
    /// What the store let go of: lines logged that it no longer holds, or never held.
    long long droppedSoFar(int logged) const { return logged - (long long)logger->getLogStore().size(); }
};

}  // namespace

TEST(LogUpload, NothingIsPostedWithoutSessionIdAndRole) {
    Fixture f;
    f.logger->error(true, "P", "K", "op", "kept");
    f.logger->sendToServer(f.poster);
    f.logger->setRole(WebRtcClientRole::offer);
    f.logger->sendToServer(f.poster);
    EXPECT_TRUE(f.poster->posts.empty());

    auto other = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, false);
    other->setSessionId("s");
    other->sendToServer(f.poster);
    EXPECT_TRUE(f.poster->posts.empty());
    EXPECT_EQ(f.logger->getLogStore().size(), 1u);
}

TEST(LogUpload, EmptyStorePostsTwoEmptyLists) {
    Fixture f;
    f.startSession("s-1", WebRtcClientRole::answer);
    f.logger->sendToServer(f.poster);
    ASSERT_EQ(f.poster->posts.size(), 1u);
    EXPECT_EQ(f.poster->posts[0].body, (nlohmann::json{{"entries", nlohmann::json::array()},
                                                       {"metrics", nlohmann::json::array()}}));
    EXPECT_EQ(f.poster->posts[0].sessionId, "s-1");
    EXPECT_EQ(f.poster->posts[0].role, WebRtcClientRole::answer);
}

TEST(LogUpload, MetricsGoUnderMetricsAndEverythingElseUnderEntries) {
    Fixture f;
    SessionMetrics metrics(f.logger);
    f.logger->debug(false, "P", "K", "op", "not stored");
    f.logger->error(true, "P", "K", "op", "flagged error");
    f.startSession("s-2", WebRtcClientRole::offer);
    metrics.startCollection();
    f.logger->sensitive(true, "P", "K", "op", "sensitive");
    f.logger->dataChannelMessage(true, "P", "K", "op", "message info", "id", 4);
    metrics.endCollection();

    f.logger->sendToServer(f.poster);
    ASSERT_EQ(f.poster->posts.size(), 1u);
    const auto& body = f.poster->posts[0].body;
    EXPECT_EQ(body.size(), 2u);
    EXPECT_EQ(f.messages(body["entries"]), (std::vector<std::string>{"flagged error", "sensitive", "message info"}));
    ASSERT_EQ(body["metrics"].size(), 5u);
    for (const auto& metric : body["metrics"]) {
        EXPECT_EQ(metric["type"], "METRIC");
        EXPECT_EQ(metric["package"], "Quorvane.Util");
        EXPECT_EQ(metric["role"], "offer");
        EXPECT_EQ(metric["sessionId"], "s-2");
    }
    EXPECT_EQ(body["metrics"][1]["data"], (nlohmann::json{{"Num Messages", 0}}));
    EXPECT_EQ(body["entries"][0]["sessionId"], "not set");  // stamped before the session was known
    EXPECT_FALSE(body["entries"][0].contains("role"));
    EXPECT_EQ(body["entries"][1]["type"], "SENSITIVE");
}

TEST(LogUpload, PostedEntriesLeaveTheStoreOnlyAfterSuccess) {
    Fixture f;
    f.startSession("first", WebRtcClientRole::offer);
    f.logger->error(true, "P", "K", "op", "a");
    f.logger->error(true, "P", "K", "op", "b");
    f.logger->sendToServer(f.poster);
    f.logger->error(true, "P", "K", "op", "logged while posting");
    EXPECT_EQ(f.logger->getLogStore().size(), 3u);

    f.poster->posts[0].resolver.reject(std::make_exception_ptr(std::runtime_error("offline")));
    quorvane::testing::drain(DispatchQueue::main());
    EXPECT_EQ(f.logger->getLogStore().size(), 3u);  // a failed post keeps everything

    f.startSession("second", WebRtcClientRole::answer);
    f.logger->sendToServer(f.poster);
    ASSERT_EQ(f.poster->posts.size(), 2u);
    EXPECT_EQ(f.poster->posts[1].sessionId, "second");
    EXPECT_EQ(f.messages(f.poster->posts[1].body["entries"]),
              (std::vector<std::string>{"a", "b", "logged while posting"}));
    EXPECT_EQ(f.poster->posts[1].body["entries"][0]["sessionId"], "first");

    f.logger->error(true, "P", "K", "op", "c");
    f.poster->posts[1].resolver.fulfill();
    quorvane::testing::drain(DispatchQueue::main());
    auto store = f.logger->getLogStore();
    ASSERT_EQ(store.size(), 1u);
    EXPECT_EQ(store[0].message, "c");

    f.logger->sendToServer(f.poster);  // the next upload carries only what is new
    EXPECT_EQ(f.messages(f.poster->posts[2].body["entries"]), std::vector<std::string>{"c"});
}

TEST(LogUpload, BodyWithInvalidUtf8SerialisesAndLoggerMayGoFirst) {
    Fixture f;
    f.startSession("s\xFF", WebRtcClientRole::offer);
    f.logger->error(true, "P", "K", "op", "peer said \xC3", LogData{{"text\xF5", "\xE2\x28\xA1"}});
    f.logger->sendToServer(f.poster);
    ASSERT_EQ(f.poster->posts.size(), 1u);
    EXPECT_NO_THROW(f.poster->posts[0].body.dump());

    f.logger.reset();  // released before the service answers
    f.poster->posts[0].resolver.fulfill();
    quorvane::testing::drain(DispatchQueue::main());
}

TEST(LogUpload, UploadStartsWithHowManyEntriesWereDropped) {
    Fixture f;
    f.useSmallStore();
    f.startSession("s", WebRtcClientRole::offer);
    f.logLines(100);
    f.logger->error(true, "P", "K", "op", std::string(10 << 10, 'x'));  // larger than the whole store
    const auto kept = f.logger->getLogStore();
    ASSERT_GT(kept.size(), 1u);
    ASSERT_LT(kept.size(), 100u);
    EXPECT_EQ(kept.back().message.substr(0, 10), "line 1099.");

    f.logger->sendToServer(f.poster);
    ASSERT_EQ(f.poster->posts.size(), 1u);
    const auto& body = f.poster->posts[0].body;
    EXPECT_EQ(body.size(), 2u);
    EXPECT_EQ(Fixture::droppedIn(f.poster->posts[0]), 101 - (long long)kept.size());
    const auto& notice = body["entries"][0];
    EXPECT_EQ(notice["level"], "WARN");
    EXPECT_EQ(notice["sessionId"], "s");
    EXPECT_EQ(notice["role"], "offer");
    EXPECT_EQ(notice["data"].size(), 1u);
    ASSERT_EQ(body["entries"].size(), kept.size() + 1);
    EXPECT_EQ(body["entries"][1]["message"], kept.front().message);
}

TEST(LogUpload, DropCountStartsAgainOnlyAfterASuccessfulUpload) {
    Fixture f;
    f.useSmallStore();
    f.startSession("s", WebRtcClientRole::answer);
    f.logLines(100);
    f.logger->sendToServer(f.poster);
    EXPECT_EQ(Fixture::droppedIn(f.poster->posts[0]), f.droppedSoFar(100));

    f.poster->posts[0].resolver.reject(std::make_exception_ptr(std::runtime_error("offline")));
    quorvane::testing::drain(DispatchQueue::main());
    f.logLines(10);
    f.logger->sendToServer(f.poster);  // a failed upload keeps the count, and drops since add to it
    EXPECT_EQ(Fixture::droppedIn(f.poster->posts[1]), f.droppedSoFar(110));

    const auto posted = f.logger->getLogStore().size();
    f.logLines(5);  // while the post is under way: the oldest five posted entries make room
    f.poster->posts[1].resolver.fulfill();
    quorvane::testing::drain(DispatchQueue::main());
    ASSERT_EQ(f.logger->getLogStore().size(), 5u);
    f.logger->sendToServer(f.poster);  // what the service got counts as delivered, not dropped
    EXPECT_EQ(Fixture::droppedIn(f.poster->posts[2]), -1);
    EXPECT_EQ(f.poster->posts[2].body["entries"].size(), 5u);

    f.poster->posts[2].resolver.fulfill();
    quorvane::testing::drain(DispatchQueue::main());
    f.logLines(int(posted) + 3);
    f.logger->sendToServer(f.poster);
    EXPECT_EQ(Fixture::droppedIn(f.poster->posts[3]), 3);
}
