// The host program's walkthroughs and session start-up in this process, against a client whose
// peer answers at once: what the peer and the service send is shown escaped.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "AgentScript.hpp"
#include "ClientActions.hpp"
#include "DeviceScript.hpp"
#include "Outcome.hpp"
#include "Payloads.hpp"
#include "quorvane/Errors.hpp"
#include "quorvane/QVError.hpp"

namespace quorvane::session {
namespace {

/// A text a terminal would act on: a clear-screen, a bell, a carriage return, a right-to-left
/// override; and how it is shown.
const std::string hostile = "\x1b[2J\x07\r\xe2\x80\xae" "9";
const std::string hostileShown = "\\x1b[2J\\x07\\r\\xe2\\x80\\xae9";

std::string textOf(const QVTaggedData& data) { return {data.data().begin(), data.data().end()}; }

/// A client whose peer answers each command and query at once by the host program's rules, its
/// own texts (the PIN, the frame count) being `hostile`.
class AnsweringClient : public QuorvaneClient {
public:
    std::shared_ptr<QuorvaneDelegate> delegate() const override { return nullptr; }
    void setDelegate(const std::shared_ptr<QuorvaneDelegate>&) override {}
    DispatchQueuePtr dispatchQueue() const override { return nullptr; }
    void setDispatchQueue(const DispatchQueuePtr&) override {}
    std::shared_ptr<Logger> logger() const override { return nullptr; }
    void setLogger(std::shared_ptr<Logger>) override {}
    Promise<std::string> initiateSupportSession() override { return Promise<std::string>::value(hostile); }
    Promise<void> connectToSupportSession(const std::string&) override { return Promise<void>::value(); }
    Promise<void> disconnect(bool) override { return Promise<void>::value(); }
    bool isConnected() const override { return true; }
    bool addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>>) override { return false; }
    bool addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>>) override { return false; }
    Promise<void> sendNotification(QVNotification) override { return Promise<void>::value(); }
    Promise<void> sendCommand(QVCommand command, double timeout) override {
        const std::string text = textOf(command.data());
        if (text.starts_with("refuse ")) return rejected(QVError(text.substr(7), 403));
        if (text == "ignore") return rejected(QuorvaneError::commandTimedOut(timeout));
        return Promise<void>::value();
    }
    QVQueryReceipt sendQuery(QVQuery query, double, QVQueryReceipt::Handler onReceived) override {
        const std::vector<std::string> parts = answer(query.data());
        QVQueryReceipt receipt(std::move(onReceived));
        for (std::size_t k = 0; k < parts.size(); ++k) receipt.received()(textData(parts[k]), k + 1 == parts.size());
        receipt.completion.resolver.fulfill();
        return receipt;
    }
    Promise<void> sendBytes(std::vector<std::uint8_t>, std::string, std::uint16_t) override {
        return Promise<void>::value();
    }
    Promise<void> sendChat(const std::string&, std::string, std::uint16_t) override { return Promise<void>::value(); }
    Promise<void> sendLog(const std::string&, std::string, std::uint16_t) override { return Promise<void>::value(); }
    Promise<void> sendJson(const nlohmann::json*, std::string, std::uint16_t) override {
        return Promise<void>::value();
    }

private:
    template <class E>
    static Promise<void> rejected(const E& error) {
        return Promise<void>::error(std::make_exception_ptr(error));
    }
    static std::vector<std::string> answer(const QVTaggedData& data) {
        if (data.tag() != textTag()) return {"sha256 " + sha256Hex(data.data())};
        if (textOf(data) == "parts 3") return {"part 1 of 3", "part 2 of 3", "part 3 of 3"};
        return {hostile};
    }
};

class WalkthroughTest : public ::testing::Test {
protected:
    void SetUp() override {
        // What the host's reports would have brought: the connection, the device's chat line, its
        // screen track, the agent's goodbye.
        events.update([](SessionEvents::State& state) {
            state.connects = 1;
            state.chats = {hostile};
            state.remoteTracks = {hostile};
            state.disconnectExpected = true;
        });
    }
    void TearDown() override {
        std::fclose(out);
        std::free(buffer);
    }

    /// What the console printed since the last call.
    std::string printed() {
        std::fflush(out);
        const std::string text(buffer + shownSize, size - shownSize);
        shownSize = size;
        return text;
    }

    char* buffer = nullptr;
    std::size_t size = 0;
    std::size_t shownSize = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    Console console{out, false};
    SessionEvents events;
    DispatchQueuePtr queue = DispatchQueue::create("walkthrough-test");
    std::shared_ptr<AnsweringClient> client = std::make_shared<AnsweringClient>();
    SessionHost host{console, events, queue, {}};
};

TEST_F(WalkthroughTest, ThePeersAndTheServicesTextsAreShownEscaped) {
    const std::vector<std::pair<std::function<void()>, std::vector<std::string>>> prints = {
        {[&] { EXPECT_TRUE(AgentScript(console, events, client, "1").run()); },
         {"  ok: the device answered \"" + hostileShown + "\"\n",
          "  ok: the screen track arrived (" + hostileShown + "); the device captured " + hostileShown + " frames"}},
        {[&] { (void)DeviceScript(console, events, client, host).run(); }, {"PIN: " + hostileShown + "\n"}},
        {[&] { (void)waitFor(ClientActions(console, events, queue, client, host, 30).beginSession(), 10); },
         {"PIN: " + hostileShown + "\n"}},
    };
    for (const auto& [run, lines] : prints) {
        run();
        const std::string text = printed();
        for (const auto& line : lines) EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
        for (const char* raw : {"\x1b", "\x07", "\r", "\xe2\x80\xae"}) {
            EXPECT_EQ(text.find(raw), std::string::npos) << text;
        }
    }
}

}  // namespace
}  // namespace quorvane::session
