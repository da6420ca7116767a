// The host program's shell: every typed line is carried out with checked arguments or refused in
// one line, and none but "quit" ends it.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "Payloads.hpp"
#include "Shell.hpp"
#include "StopSignals.hpp"

namespace quorvane::session {
namespace {

/// Records each action as one line of text.
class RecordingActions : public ShellActions {
public:
    void chat(const std::string& text) override { record("chat " + text); }
    void notify(const std::string& text) override { record("notify " + text); }
    void command(const std::string& text, QVAcknowledgeOn acknowledgeOn, double timeout) override {
        record("command " + text + (acknowledgeOn == QVAcknowledgeOn::received ? " on receipt" : " when finished") +
               " within " + std::to_string(timeout));
    }
    void query(const std::string& text, double timeout) override {
        record("query " + text + " within " + std::to_string(timeout));
    }
    void bytes(std::size_t size) override { record("bytes " + std::to_string(size)); }
    void file(const std::string& name, std::vector<std::uint8_t> bytes, double timeout) override {
        record("file " + name + " of " + std::to_string(bytes.size()) + " within " + std::to_string(timeout));
    }
    void screen() override { record("screen"); }
    void startSession() override { record("session"); }
    void join(const std::string& pin) override { record("join " + pin); }
    void status() override { record("status"); }
    void disconnect() override { record("disconnect"); }

    std::vector<std::string> calls;

private:
    void record(std::string call) { calls.push_back(std::move(call)); }
};

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(folder);
        std::ofstream(folder + "/hello.txt") << "hello";
        ASSERT_EQ(mkfifo(pipePath.c_str(), 0600), 0);
    }
    void TearDown() override {
        std::fclose(out);
        std::filesystem::remove_all(folder);
    }

    /// What the console printed since the last call.
    std::string printed() {
        std::rewind(out);
        std::string text;
        char buffer[512];
        std::size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, got);
        std::rewind(out);
        EXPECT_EQ(ftruncate(fileno(out), 0), 0);
        return text;
    }

    const std::string folder = std::filesystem::temp_directory_path() / ("shell-test-" + std::to_string(getpid()));
    const std::string pipePath = folder + "/pipe";
    std::FILE* out = std::tmpfile();
    Console console{out, false};
    RecordingActions actions;
    Shell shell{console, actions};
};

TEST_F(ShellTest, RefusesEachBadLineInOneLineAndGoesOn) {
    const std::string most = std::to_string(messageLimit - std::string("application/octet-stream").size());
    const std::vector<std::pair<std::string, std::string>> refusals = {
        {"file .", "file: . is a folder, not a file (usage: file [-t SECONDS] PATH)"},
        {"file " + folder, "file: " + folder + " is a folder, not a file (usage: file [-t SECONDS] PATH)"},
        {"file " + pipePath, "file: " + pipePath + " is not a regular file (usage: file [-t SECONDS] PATH)"},
        {"file /proc/self/mem", "file: cannot read /proc/self/mem: Input/output error (usage: file [-t SECONDS] PATH)"},
        {"file " + folder + "/missing",
         "file: cannot read " + folder + "/missing: No such file or directory (usage: file [-t SECONDS] PATH)"},
        {"file", "file: a path is missing (usage: file [-t SECONDS] PATH)"},
        {"file -t -1 x", "file: -t takes seconds as a finite number from 0 up, not \"-1\" (usage: file [-t SECONDS] PATH)"},
        {"bytes -1", "bytes: \"-1\" is not a whole number from 0 to " + most + " (usage: bytes N)"},
        {"bytes 12abc", "bytes: \"12abc\" is not a whole number from 0 to " + most + " (usage: bytes N)"},
        {"bytes 1.5", "bytes: \"1.5\" is not a whole number from 0 to " + most + " (usage: bytes N)"},
        {"bytes 99999999999", "bytes: 99999999999 is over " + most + ", the most one message carries (usage: bytes N)"},
        {"bytes 99999999999999999999999", "bytes: 99999999999999999999999 is over " + most +
                                              ", the most one message carries (usage: bytes N)"},
        {"bytes", "bytes: a count is missing: a whole number from 0 to " + most + " (usage: bytes N)"},
        {"bytes 1 2", "bytes: unexpected 2 (usage: bytes N)"},
        {"command -t abc hello",
         "command: -t takes seconds as a finite number from 0 up, not \"abc\" (usage: command [-r] [-t SECONDS] TEXT)"},
        {"command -t nan hello",
         "command: -t takes seconds as a finite number from 0 up, not \"nan\" (usage: command [-r] [-t SECONDS] TEXT)"},
        {"command -t inf hello",
         "command: -t takes seconds as a finite number from 0 up, not \"inf\" (usage: command [-r] [-t SECONDS] TEXT)"},
        {"command -t 1e400 hello",
         "command: -t takes seconds as a finite number from 0 up, not \"1e400\" (usage: command [-r] [-t SECONDS] TEXT)"},
        {"command -t -2 hello",
         "command: -t takes seconds as a finite number from 0 up, not \"-2\" (usage: command [-r] [-t SECONDS] TEXT)"},
        {"command -t", "command: -t needs a number of seconds (usage: command [-r] [-t SECONDS] TEXT)"},
        {"command", "command: a text is missing (usage: command [-r] [-t SECONDS] TEXT)"},
        {"command -r -t 5  ", "command: a text is missing (usage: command [-r] [-t SECONDS] TEXT)"},
        {"query", "query: a text is missing (usage: query [-t SECONDS] TEXT)"},
        {"query -t 2", "query: a text is missing (usage: query [-t SECONDS] TEXT)"},
        {"chat", "chat: a text is missing (usage: chat TEXT)"},
        {"notify", "notify: a text is missing (usage: notify TEXT)"},
        {"chat caf\xc3", "chat: the text is not valid UTF-8, and every text is sent as UTF-8 (usage: chat TEXT)"},
        {"notify \xc0\xaf", "notify: the text is not valid UTF-8, and every text is sent as UTF-8 (usage: notify TEXT)"},
        {"query \xed\xa0\x80",
         "query: the text is not valid UTF-8, and every text is sent as UTF-8 (usage: query [-t SECONDS] TEXT)"},
        {"join", "join: a PIN is missing (usage: join PIN)"},
        {"join 1 2", "join: unexpected 2 (usage: join PIN)"},
        {"status now", "status: unexpected now (usage: status)"},
        {"disconnect now", "disconnect: unexpected now (usage: disconnect)"},
        {"quit now", "quit: unexpected now (usage: quit)"},
        {"help me", "help: unexpected me (usage: help)"},
        {"fly away", "unknown command fly (try help)"},
        // The user's words are echoed escaped.
        {"fly\x1b[2J\r away", "unknown command fly\\x1b[2J\\r (try help)"},
        {"bytes \x1b[31m", "bytes: \"\\x1b[31m\" is not a whole number from 0 to " + most + " (usage: bytes N)"},
        {"file /\x1b]0;t\x07",
         "file: cannot read /\\x1b]0;t\\x07: No such file or directory (usage: file [-t SECONDS] PATH)"},
        {"query -t \xe2\x80\xae" "1 x", "query: -t takes seconds as a finite number from 0 up, not \"\\xe2\\x80\\xae1\" "
                                     "(usage: query [-t SECONDS] TEXT)"},
    };
    for (const auto& [line, refusal] : refusals) {
        EXPECT_TRUE(shell.execute(line)) << line;
        EXPECT_EQ(printed(), refusal + "\n") << line;
    }
    EXPECT_EQ(actions.calls, std::vector<std::string>{});
}

TEST_F(ShellTest, HandsCheckedArgumentsToTheActions) {
    const std::vector<std::pair<std::string, std::string>> accepted = {
        {"chat  hello there ", "chat hello there "},
        {"notify caf\xc3\xa9 \xf0\x9f\x98\x80", "notify caf\xc3\xa9 \xf0\x9f\x98\x80"},
        {"command hi", "command hi when finished within 30.000000"},
        {"command -r -t 2.5 -r x", "command x on receipt within 2.500000"},
        {"command -t 0 -x", "command -x when finished within 0.000000"},
        {"query -r", "query -r within 30.000000"},
        {"query -t 1e3 parts 3", "query parts 3 within 1000.000000"},
        {"bytes 0", "bytes 0"},
        {"bytes 000123", "bytes 123"},
        {"file -t 4 " + folder + "/hello.txt", "file hello.txt of 5 within 4.000000"},
        {"screen", "screen"},
        {"session", "session"},
        {"join 123456", "join 123456"},
        {"status", "status"},
        {"disconnect", "disconnect"},
    };
    for (const auto& [line, call] : accepted) {
        actions.calls.clear();
        EXPECT_TRUE(shell.execute(line)) << line;
        EXPECT_EQ(actions.calls, std::vector<std::string>{call}) << line;
    }
    EXPECT_TRUE(shell.execute("   "));
    EXPECT_FALSE(shell.execute("quit"));
}

TEST(InputLinesTest, ACarriageReturnBeforeTheLineEndIsPartOfIt) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    const std::string input = "fly\r\nchat a\rb\r\n\r\n\nlast\r";
    ASSERT_EQ(write(ends[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(ends[1]);
    Doorbell stop;
    InputLines lines(ends[0], stop.fd());
    std::vector<std::string> got;
    while (auto line = lines.next()) got.push_back(*line);
    close(ends[0]);
    EXPECT_EQ(got, (std::vector<std::string>{"fly", "chat a\rb", "", "", "last"}));
}

}  // namespace
}  // namespace quorvane::session
