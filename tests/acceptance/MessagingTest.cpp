// Messages of every size class and commands and queries in every outcome, between two processes;
// what the peer sent as it is shown on screen.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "AcceptanceFixture.hpp"

namespace quorvane::testing {
namespace {

class MessagingAcceptanceTest : public AcceptanceTest {
protected:
    void SetUp() override { startBoth(); }
};

TEST_F(MessagingAcceptanceTest, MessagesOfEverySizeArriveIntactOnceBothWays) {
    struct Size {
        std::size_t bytes;
        bool chunked;
    };
    const std::vector<Size> sizes = {{0, false}, {1, false}, {15360, true}, {15361, true}, {16u << 20, true}};
    for (auto [from, to] : {std::pair{device.get(), agent.get()}, std::pair{agent.get(), device.get()}}) {
        for (const auto& size : sizes) {
            SCOPED_TRACE(std::to_string(size.bytes) + " bytes from the " + (from == device.get() ? "device" : "agent"));
            const auto mark = to->lineCount();
            from->send("bytes " + std::to_string(size.bytes));
            const auto checksum =
                expectLine(*from, "^sending " + std::to_string(size.bytes) + " bytes, sha256 ([0-9a-f]+)$", 30, 0)
                    .at(1);
            const std::string arrival = "^report: notification #(\\d+), category 0: " + std::to_string(size.bytes) +
                                        " bytes, sha256 " + checksum;
            const auto id = expectLine(*to, arrival, 60, mark).at(1);
            if (size.chunked) expectLine(*to, "^received #" + id + ": ", 5, mark);
            // A late duplicate would follow within the transport's retry time.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            EXPECT_EQ(to->count(arrival), 1u);
        }
    }
}

TEST_F(MessagingAcceptanceTest, CommandsAndQueriesEndInEveryOutcome) {
    struct Case {
        std::string command;
        std::string result;
    };
    const std::vector<Case> cases = {
        {"command -r restart", R"(^result: command "restart" acknowledged after)"},
        {"command restart-app", R"(^result: command "restart-app" acknowledged after)"},
        {"command refuse not on this device",
         R"(^result: command "refuse not on this device" failed after .*: error 403: not on this device$)"},
        {"command -t 1 ignore", R"(^result: command "ignore" failed after .*: Sending Command Timed Out)"},
        {"query parts 3", R"(^result: query "parts 3" answered after)"},
        {"query refuse not here", R"(^result: query "refuse not here" failed after .*: error 403: not here$)"},
        {"query -t 1 ignore", R"(^result: query "ignore" failed after .*: error 500: )"},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.command);
        const auto mark = agent->lineCount();
        agent->send(one.command);
        expectLine(*agent, one.result, 10, mark);
    }
    EXPECT_EQ(agent->count(R"(^answer to query "parts 3": "part \d of 3")"), 3u);
    EXPECT_EQ(agent->count(R"(^answer to query "parts 3": "part 3 of 3" \(last part\)$)"), 1u);
}

// A long text is shown shortened, with its length, the peer's errors included.
TEST_F(MessagingAcceptanceTest, ThePeersTextIsShownWithItsControlCharactersEscaped) {
    using namespace std::string_literals;
    struct Case {
        std::string line;  ///< typed on the agent
        std::string shown;  ///< the end of a line the device prints
    };
    const std::string longText(5000, 'y');
    const std::string longShown = std::string(200, 'y') + "... (5000 bytes)";
    const auto folder = std::filesystem::temp_directory_path() / ("long-name-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string longName(250, 'n');
    std::ofstream(folder / longName) << "hello";
    const std::vector<Case> cases = {
        {"chat a\x1b[2J\x1b]0;title\x07z", R"(chat from the peer: a\x1b[2J\x1b]0;title\x07z)"},
        {"chat cut\0here\rover"s, R"(chat from the peer: cut\0here\rover)"},
        {"command refuse no\x1b[31m", R"(answer: refusing the command (403 no\x1b[31m))"},
        {"query \xc2\x9b" "2J\x7f", R"(, category 0: "\xc2\x9b2J\x7f")"},
        {"chat " + longText, "chat from the peer: " + longShown},
        {"command " + longText, "answer: carrying out \"" + longShown + "\""},
        {"command refuse " + longText, "answer: refusing the command (403 " + longShown + ")"},
        {"query refuse " + longText, "answer: refusing the query (403 " + longShown + ")"},
        {"file " + (folder / longName).string(),
         "file \"" + std::string(200, 'n') + "... (250 bytes)\" arrived intact: 5 bytes, sha256 "
         "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824"},
    };
    for (const auto& one : cases) {
        SCOPED_TRACE(one.shown);
        const auto mark = device->lineCount();
        agent->send(one.line);
        expectLine(*device, literal(one.shown) + "$", 10, mark);
    }
    expectLine(*agent, literal(R"(: error 403: no\x1b[31m)") + "$");
    const std::string refusal = "\"refuse " + std::string(193, 'y') + "... (5007 bytes)\" failed after ";
    for (const std::string kind : {"command ", "query "}) {
        expectLine(*agent,
                   "^" + literal("result: " + kind + refusal) + ".*" + literal(": error 403: " + longShown) + "$");
    }
    expectLine(*agent, literal(R"(: "you asked: \xc2\x9b2J\x7f" (last part))") + "$");
    // Nor does a side echo its own text raw.
    expectLine(*agent, "^" + literal(R"(chat to the peer: cut\0here\rover)") + "$");
    for (auto* side : {device.get(), agent.get()}) {
        EXPECT_EQ(side->output().find_first_of("\x1b\r\x7f"s + '\0'), std::string::npos) << side->output();
    }
    std::filesystem::remove_all(folder);
}

TEST_F(MessagingAcceptanceTest, ALongChatIsEchoedOnceShortened) {
    agent->send("chat " + std::string(5u << 20, 'x'));
    expectLine(*agent, "^result: chat ", 60);
    // Read without regular expressions, which a line of megabytes would overwhelm.
    const std::string echo = "chat to the peer: " + std::string(200, 'x') + "... (5242880 bytes)";
    std::istringstream lines(agent->output());
    int echoes = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LT(line.size(), 1000u);
        echoes += line == echo ? 1 : 0;
    }
    EXPECT_EQ(echoes, 1);
}

TEST_F(AcceptanceTest, AReceivedFileIsKeptBesideTheOthersOrSaysWhyNot) {
    const auto folder = std::filesystem::temp_directory_path() / ("received-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder / "kept");
    std::ofstream(folder / "report.txt") << "the report";
    startBoth({"--save-folder", (folder / "kept").string()});
    const std::vector<std::string> saved = {"saved as " + (folder / "kept/report.txt").string(),
                                            "saved as " + (folder / "kept/report-1.txt").string()};
    for (const auto& line : saved) {
        agent->send("file " + (folder / "report.txt").string());
        expectLine(*device, "^" + literal(line) + "$");
    }
    std::filesystem::remove_all(folder / "kept");
    agent->send("file " + (folder / "report.txt").string());
    expectLine(*device, "^" + literal("could not save \"report.txt\" in " + (folder / "kept").string() +
                                      ": No such file or directory") + "$");
    // The sender learns that the file is not kept.
    expectLine(*agent, "^" + literal("result: file \"report.txt\" failed after ") + ".* s" +
                           literal(": error 500: the file arrived intact but was not saved: No such file or directory"));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace quorvane::testing
