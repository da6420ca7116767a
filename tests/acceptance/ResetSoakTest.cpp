// Steady traffic both ways while one side, the device and the agent in turn, is frozen past the
// heartbeat time-out again and again: every message arrives once or is reported failed (never both),
// every command and query ends within its time-out, and those sent just before a freeze are answered
// once the frozen side is back and the session has reconnected. QUORVANE_RESET_SOAK_SECONDS sets the
// length of the traffic (default two minutes), QUORVANE_RESET_SOAK_FREEZE_EVERY the seconds from one
// freeze to the next (default 20, more than a freeze's 7).

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "AcceptanceFixture.hpp"
#include "support/TimeScale.hpp"

namespace quorvane::testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto roundLength = 350ms;
constexpr int largeEvery = 10;
constexpr auto frozenFor = 7s;
constexpr int answerSeconds = 30;
// A command or query sent in the second before a freeze waits out the freeze and one reconnect, no more:
// both sides reset as the frozen one wakes. Counted from the freeze's start, since what it spent before
// (the peer carries a command out for half a second) is no wait for the reconnect; the reconnect is
// slower in a sanitizer build, the freeze is not.
constexpr auto beforeFreeze = 1s;
constexpr double beforeFreezeAnsweredWithin = std::chrono::duration<double>(frozenFor + 500ms * timeScale()).count();
// Past every time-out, well before the transport's 90 s resend of a message on a live channel.
constexpr auto settleAtMost = 40s;
constexpr std::size_t namedAtMost = 10;

std::chrono::seconds secondsFromEnvironment(const char* name, int byDefault) {
    const char* text = std::getenv(name);
    return std::chrono::seconds(text ? std::atoi(text) : byDefault);
}

/// What one side printed: how each of its sends ended, how often each of the peer's arrived; and
/// how many large messages its library gave up after the hand-over (its log names them by their
/// transport id only).
struct Printed {
    struct Result {
        bool failed = false;
        double seconds = 0;
        std::string error;
    };
    std::map<std::string, Result> results;
    std::map<std::string, int> arrivals;
    std::size_t largeGivenUp = 0;

    explicit Printed(const PeerProcess& peer)
        : largeGivenUp(peer.loggedCount("Failed to send large message with id")) {
        static const std::regex result(
            R"re(^result: (?:\w+ "([^"]*)"|(\d+) bytes) (.+?) after ([0-9.]+) s(?:: (.*))?$)re");
        static const std::regex arrival(
            R"re(^(?:chat from the peer: (.*)|report: (?:command|query) #\d+, .*: "([^"]*)"|)re"
            R"re(report: notification #\d+, category 0: (\d+) bytes, sha256 .*)$)re");
        std::istringstream lines(peer.output());
        std::smatch match;
        for (std::string line; std::getline(lines, line);) {
            if (std::regex_match(line, match, result)) {
                results[match[1].matched ? match[1].str() : match[2].str()] = {match[3] == "failed",
                                                                               std::stod(match[4]), match[5]};
            } else if (std::regex_match(line, match, arrival)) {
                ++arrivals[match[1].matched ? match[1].str() : match[2].matched ? match[2].str() : match[3].str()];
            }
        }
    }
};

/// Messages of one kind (chats, large notifications): each arrives once or is reported failed.
struct MessageTally {
    int sent = 0, delivered = 0, failed = 0, failedAndDelivered = 0, failedInLogOnly = 0, twice = 0, lost = 0;
    std::vector<std::string> named;  // the lost, the twice delivered and the failed delivered, for the failure message

    void add(const std::string& key, const Printed& sender, const Printed& receiver) {
        ++sent;
        const auto result = sender.results.find(key);
        const bool reportedFailed = result != sender.results.end() && result->second.failed;
        const auto found = receiver.arrivals.find(key);
        const int arrived = found == receiver.arrivals.end() ? 0 : found->second;
        failed += reportedFailed ? 1 : 0;
        delivered += arrived > 0 ? 1 : 0;
        if (arrived > 1) ++twice;
        if (arrived == 0 && !reportedFailed) ++lost;
        if (arrived > 0 && reportedFailed) ++failedAndDelivered;
        const char* problem = arrived > 1                        ? " (twice)"
                              : arrived == 0 && !reportedFailed ? " (neither delivered nor failed)"
                              : arrived > 0 && reportedFailed   ? " (reported failed and delivered)"
                                                                : nullptr;
        if (problem && named.size() < namedAtMost) named.push_back(key + problem);
    }
    /// As many of the lost as the sender's library logged given up count as reported failed.
    void account(std::size_t givenUp) {
        failedInLogOnly = std::min(lost, static_cast<int>(givenUp));
        lost -= failedInLogOnly;
    }
    void operator+=(const MessageTally& other) {
        sent += other.sent, delivered += other.delivered, failed += other.failed;
        failedAndDelivered += other.failedAndDelivered, failedInLogOnly += other.failedInLogOnly, twice += other.twice, lost += other.lost;
        named.insert(named.end(), other.named.begin(), other.named.end());
    }
    bool settled() const { return lost == 0; }
    std::string summary(const std::string& kind) const {
        return kind + " sent " + std::to_string(sent) + ", delivered " + std::to_string(delivered) + ", failed " +
               std::to_string(failed) + ", failed and delivered " + std::to_string(failedAndDelivered) +
               ", failed in the log only " + std::to_string(failedInLogOnly) + ", twice " +
               std::to_string(twice) + ", silently lost " + std::to_string(lost);
    }
};

/// Commands or queries: each is answered, or fails with an error other than its time-out and never
/// reaches the peer.
struct RequestTally {
    int sent = 0, answered = 0, failed = 0, failedAndDelivered = 0, timedOut = 0, pending = 0, twice = 0;
    double slowest = 0;
    double slowestAfterHead = 0;  // less the head each was added with
    std::vector<std::string> named;

    /// `head`: the seconds the request had been on its way at some moment (a freeze's start) that
    /// slowestAfterHead counts from.
    void add(const std::string& key, const Printed& sender, const Printed& receiver, double head = 0) {
        ++sent;
        std::string problem;
        const auto result = sender.results.find(key);
        if (result == sender.results.end()) {
            ++pending;
            problem = " (pending)";
        } else if (!result->second.failed) {
            ++answered;
            slowest = std::max(slowest, result->second.seconds);
            slowestAfterHead = std::max(slowestAfterHead, result->second.seconds - head);
        } else if (result->second.error.find("Timeout (") != std::string::npos) {
            ++timedOut;
            problem = " (timed out)";
        } else {
            ++failed;
        }
        const auto found = receiver.arrivals.find(key);
        if (found != receiver.arrivals.end() && found->second > 1) {
            ++twice;
            problem += " (received twice)";
        }
        if (found != receiver.arrivals.end() && result != sender.results.end() && result->second.failed &&
            problem.empty()) {
            ++failedAndDelivered;
            problem = " (failed with \"" + result->second.error + "\" and delivered)";
        }
        if (!problem.empty() && named.size() < namedAtMost) named.push_back(key + problem);
    }
    bool settled() const { return pending == 0; }
    std::string summary(const std::string& kind) const {
        char slowestText[16];
        std::snprintf(slowestText, sizeof slowestText, "%.2f s", slowest);
        return kind + " sent " + std::to_string(sent) + ", answered " + std::to_string(answered) + " (slowest " +
               slowestText + "), failed " + std::to_string(failed) + ", failed and delivered " +
               std::to_string(failedAndDelivered) + ", timed out " + std::to_string(timedOut) +
               ", pending " + std::to_string(pending) + ", twice " + std::to_string(twice);
    }
};

struct Tally {
    MessageTally chats, large;
    RequestTally commands, queries;

    Tally(int rounds, const Printed& agent, const Printed& device) {
        MessageTally largeFromDevice;
        for (int n = 1; n <= rounds; ++n) {
            const auto number = std::to_string(n);
            chats.add("a2d-" + number, agent, device);
            chats.add("d2a-" + number, device, agent);
            commands.add("cmd-" + number, agent, device);
            queries.add("q-" + number, agent, device);
            queries.add("dq-" + number, device, agent);
            if (n % largeEvery == 0) {
                large.add(std::to_string(400000 + n), agent, device);
                largeFromDevice.add(std::to_string(200000 + n), device, agent);
            }
        }
        large.account(agent.largeGivenUp);
        largeFromDevice.account(device.largeGivenUp);
        large += largeFromDevice;
    }
    bool settled() const { return chats.settled() && large.settled() && commands.settled() && queries.settled(); }
};

std::string names(const std::vector<std::string>& keys) {
    std::string text;
    for (const auto& key : keys) text += " " + key;
    return text;
}

class ResetSoakAcceptanceTest : public AcceptanceTest {
protected:
    void SetUp() override { startBoth(); }

    /// One round of traffic: from each side a chat and a query, from the agent a command, every
    /// tenth round a few hundred kB from each side (each of its own size, to tell them apart).
    void sendRound(int n) {
        const auto number = std::to_string(n);
        const auto wait = " -t " + std::to_string(answerSeconds) + " ";
        agent->send("chat a2d-" + number);
        agent->send("command" + wait + "cmd-" + number);
        agent->send("query" + wait + "q-" + number);
        device->send("chat d2a-" + number);
        device->send("query" + wait + "dq-" + number);
        if (n % largeEvery == 0) {
            agent->send("bytes " + std::to_string(400000 + n));
            device->send("bytes " + std::to_string(200000 + n));
        }
    }

    Tally tally(int rounds) const { return Tally(rounds, Printed(*agent), Printed(*device)); }

    /// How the commands and queries of the rounds sent before a freeze, both ways, ended: [n] is
    /// how long round n had been on its way when the freeze began.
    RequestTally requests(const std::map<int, double>& sentBeforeFreeze) const {
        RequestTally tally;
        const Printed fromAgent(*agent), fromDevice(*device);
        for (const auto& [n, head] : sentBeforeFreeze) {
            const auto number = std::to_string(n);
            tally.add("cmd-" + number, fromAgent, fromDevice, head);
            tally.add("q-" + number, fromAgent, fromDevice, head);
            tally.add("dq-" + number, fromDevice, fromAgent, head);
        }
        return tally;
    }
};

TEST_F(ResetSoakAcceptanceTest, EveryMessageArrivesOnceOrIsReportedFailedWhileEitherSideFreezesAgainAndAgain) {
    const auto length = secondsFromEnvironment("QUORVANE_RESET_SOAK_SECONDS", 120);
    const auto freezeEvery = secondsFromEnvironment("QUORVANE_RESET_SOAK_FREEZE_EVERY", 20);
    ASSERT_GT(freezeEvery, frozenFor) << "QUORVANE_RESET_SOAK_FREEZE_EVERY leaves no time between freezes";
    const auto start = Clock::now();
    int rounds = 0;
    int freezes = 0;
    PeerProcess* frozen = nullptr;
    std::vector<Clock::time_point> sentAt{start};  // [n]: when round n was sent
    std::map<int, double> sentBeforeFreeze;
    while (Clock::now() - start < length) {
        // One side frozen for the last 7 s of every freezeEvery, the device first: both sides pass
        // their heartbeat time-out.
        const bool freeze = (Clock::now() - start) % freezeEvery >= freezeEvery - frozenFor;
        if (freeze != (frozen != nullptr)) {
            for (int n = rounds; freeze && n > 0 && sentAt[n] >= Clock::now() - beforeFreeze; --n) {
                sentBeforeFreeze[n] = std::chrono::duration<double>(Clock::now() - sentAt[n]).count();
            }
            if (freeze) frozen = freezes % 2 == 0 ? device.get() : agent.get();
            frozen->signal(freeze ? SIGSTOP : SIGCONT);
            if (!freeze) frozen = nullptr;
            freezes += freeze ? 1 : 0;
        }
        sentAt.push_back(Clock::now());
        sendRound(++rounds);
        std::this_thread::sleep_until(start + rounds * roundLength);
    }
    if (frozen) frozen->signal(SIGCONT);

    const auto settleEnd = Clock::now() + settleAtMost;
    while (Clock::now() < settleEnd && !tally(rounds).settled()) std::this_thread::sleep_for(1s);
    const auto counts = tally(rounds);
    const auto lastBeforeFreeze = requests(sentBeforeFreeze);
    const auto resets = [](const PeerProcess& peer) { return peer.count("^report: the connection went silent"); };
    std::cout << "reset soak: " << length.count() << " s, " << rounds << " rounds, " << freezes
              << " freezes, resets device " << resets(*device) << " agent " << resets(*agent) << "; "
              << counts.chats.summary("chats") << "; " << counts.large.summary("large") << "; "
              << counts.commands.summary("commands") << "; " << counts.queries.summary("queries") << "; "
              << lastBeforeFreeze.summary("commands and queries of the second before a freeze") << ", slowest "
              << lastBeforeFreeze.slowestAfterHead << " s from the freeze's start" << std::endl;

    EXPECT_GT(resets(*agent), 0u);
    EXPECT_GT(resets(*device), 0u);
    EXPECT_EQ(counts.chats.lost + counts.chats.twice + counts.chats.failedAndDelivered, 0) << names(counts.chats.named);
    EXPECT_EQ(counts.large.lost + counts.large.twice + counts.large.failedAndDelivered, 0) << names(counts.large.named);
    EXPECT_EQ(counts.commands.timedOut + counts.commands.pending + counts.commands.twice +
                  counts.commands.failedAndDelivered,
              0)
        << names(counts.commands.named);
    EXPECT_EQ(counts.queries.timedOut + counts.queries.pending + counts.queries.twice + counts.queries.failedAndDelivered,
              0)
        << names(counts.queries.named);
    EXPECT_GT(lastBeforeFreeze.sent, 0);
    EXPECT_EQ(lastBeforeFreeze.answered, lastBeforeFreeze.sent) << names(lastBeforeFreeze.named);
    EXPECT_LE(lastBeforeFreeze.slowestAfterHead, beforeFreezeAnsweredWithin);
}

}  // namespace
}  // namespace quorvane::testing
