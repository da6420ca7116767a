// The data channel on loopback WebRTC, in one run:
//  (a) throughput in one process: two chunk adapters carrying a message, and in turn the bare
//      channel of a second connection carrying the message's frames behind the message layer's
//      buffered-amount gate (the baseline), for 1 MiB, 64 MiB and 256 MiB messages; the adapter
//      figure over its baseline;
//  (b) the round trip of 100-byte messages through the adapters (p50, p99);
//  (c) peak resident memory of sender and receiver of one 256 MiB message, each peer in a process
//      of its own, over the message size: through two adapters, then as a notification and as a
//      query response through two session clients (signaling through a TLS mosquitto broker, the
//      session made through the mock REST service, both started by this program on 127.0.0.1);
//  (d) stalls: fresh connections, each carrying 1 MiB and 16 MiB each way, counted when a
//      message needed a retry request or took over 5 s; each peer in its own process (with WebRTC
//      threads of its own), then both peers in this process; the kernel's UDP receive-buffer
//      drops beside them.
// Flags: --stall_runs=N (or QUORVANE_BENCH_STALL_RUNS; default 50), --memory_bytes=N (default
// 256 MiB), and Google Benchmark's own (--benchmark_filter=^$ skips (a) and (b)).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MockRestService.hpp"
#include "support/BrokerService.hpp"
#include "formats/MessageFrameWriter.hpp"
#include "log/ZephLogger.hpp"
#include "support/ChannelEndpoint.hpp"
#include "support/ChunkAdapterPair.hpp"
#include "support/LoopbackClientPair.hpp"
#include "support/LoopbackPeerPair.hpp"
#include "support/MosquittoBroker.hpp"
#include "support/Pattern.hpp"
#include "support/ResidentMemory.hpp"
#include "support/SocketPeer.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace {

using namespace quorvane;
using quorvane::testing::ChannelEndpoint;
using quorvane::testing::ChunkAdapterPair;
using quorvane::testing::LoopbackPeerPair;
using quorvane::testing::patternByte;
using quorvane::testing::ResidentMemory;
using quorvane::testing::SocketPeer;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

/// A fresh association loses a few frames in its first bulk transfer and needs time to reach
/// its full rate: every throughput benchmark moves this much first, unmeasured.
constexpr std::size_t warmUpBytes = 8 << 20;

// --- (a), (b): throughput and round trip in one process ------------------------------------------

/// The frames the adapter cuts a message of `size` bytes into (size above one frame).
std::vector<std::vector<std::uint8_t>> framesOf(std::size_t size) {
    const std::vector<std::uint8_t> piece(maxChunkBytes, 0x5a);
    const auto count = static_cast<std::uint16_t>((size + maxChunkBytes - 1) / maxChunkBytes);
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::uint16_t position = 0; position < count; ++position) {
        const std::size_t length = std::min(maxChunkBytes, size - std::size_t{position} * maxChunkBytes);
        frames.push_back(MessageFrameWriter::chunkedMessage(0, 1, position, count, {piece.data(), length}));
    }
    return frames;
}

/// The bare channel of a loopback pair carrying the frames of one message one way, written behind
/// the gate (closes at >= 10485760 bytes buffered, opens again at <= 16384).
class BareChannel {
public:
    explicit BareChannel(std::size_t messageBytes) : messageBytes_(messageBytes), frames_(framesOf(messageBytes)) {
        for (std::size_t sent = 0; sent < warmUpBytes / maxChunkBytes; ++sent) sender_->send(frames_[sent % frames_.size()]);
        receiver_->waitForMessagesOrQuiet(warmUpBytes / maxChunkBytes, 2s);
    }

    /// Sends the frames once; the seconds from the first write to the last arrival, and the
    /// message bytes carried (frames the channel gave up are not).
    std::pair<double, std::uint64_t> transfer() {
        const auto before = receiver_->messageCount();
        const auto start = SteadyClock::now();
        for (const auto& frame : frames_) sender_->send(frame);
        receiver_->waitForMessagesOrQuiet(before + frames_.size(), 2s);
        const auto arrived = receiver_->messageCount() - before;
        // Every frame but the last carries a full chunk.
        return {std::chrono::duration<double>(receiver_->lastArrival() - start).count(),
                std::min<std::uint64_t>(arrived * maxChunkBytes, messageBytes_)};
    }

private:
    const std::size_t messageBytes_;
    const std::vector<std::vector<std::uint8_t>> frames_;
    LoopbackPeerPair pair_;
    std::shared_ptr<ChannelEndpoint> sender_ = ChannelEndpoint::attach(pair_.offerChannel(), false, {10485760, 16384});
    std::shared_ptr<ChannelEndpoint> receiver_ = ChannelEndpoint::attach(pair_.answerChannel(), false);
};

/// A message of `size` bytes (at least 8): the time it is sent, then the pattern of `seed`.
std::vector<std::uint8_t> patternMessage(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> message(std::max(size, sizeof(std::int64_t)));
    for (std::size_t i = sizeof(std::int64_t); i < message.size(); ++i) message[i] = patternByte(i, seed);
    return message;
}

/// Writes the present time into the first bytes of `message`, right before it is sent.
std::vector<std::uint8_t>& stamp(std::vector<std::uint8_t>& message) {
    const std::int64_t now = SteadyClock::now().time_since_epoch().count();
    std::memcpy(message.data(), &now, sizeof now);
    return message;
}

/// What a peer hears from its adapter: each message the other side sent with the pattern of
/// `senderSeed`, checked as it comes, with the seconds since its stamp.
class Receiver : public ChunkAdapterDelegate {
public:
    struct Arrival {
        std::size_t size;
        bool intact;
        double seconds;  // from the sender's stamp to the delivery
    };

    explicit Receiver(std::uint8_t senderSeed) : senderSeed_(senderSeed) {}

    void dataChannelDidReceive(std::vector<std::uint8_t> data, std::uint16_t) override {
        const auto now = SteadyClock::now();
        bool intact = data.size() >= sizeof(std::int64_t);
        std::int64_t stamp = 0;
        if (intact) std::memcpy(&stamp, data.data(), sizeof stamp);
        for (std::size_t i = sizeof stamp; i < data.size() && intact; ++i) intact = data[i] == patternByte(i, senderSeed_);
        const double seconds = std::chrono::duration<double>(now.time_since_epoch() - SteadyClock::duration(stamp)).count();
        std::lock_guard lock(mutex_);
        arrivals_.push_back({data.size(), intact, seconds});
        changed_.notify_all();
    }
    void dataChannelFailedToSend(const std::vector<std::uint8_t>&, std::uint16_t) override { fail(); }
    void dataChannelFailedToReceiveMessage(std::uint16_t, std::uint16_t) override { fail(); }
    void dataChannelDidChange(DataChannelState) override {}
    void dataChannelWillReceiveMessage(std::uint16_t, std::uint16_t, std::uint16_t, std::uint16_t) override {}
    void dataChannelFiredHeartbeatTimeout() override {}

    /// The `count`-th arrival (1-based) once it is there; nothing after `timeout` or a failure.
    std::optional<Arrival> waitFor(std::size_t count, std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return arrivals_.size() >= count || failed_; });
        if (arrivals_.size() < count) return std::nullopt;
        return arrivals_[count - 1];
    }

private:
    void fail() {
        std::lock_guard lock(mutex_);
        failed_ = true;
        changed_.notify_all();
    }

    const std::uint8_t senderSeed_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Arrival> arrivals_;
    bool failed_ = false;
};

/// The adapter pair against the bare channel: one message of `state.range(0)` bytes at a time,
/// through two adapters (from sendData to its delivery on the other side) and, in turn, as bare
/// frames over a second loopback pair, so that both meet the same load of the machine. The
/// iteration time is the adapters'.
void adapterPairAndBareChannel(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    BareChannel bare(size);
    ChunkAdapterPair adapters(false);
    std::uint64_t delivered = 0;
    const std::vector<std::uint8_t> warmUp(std::min(size, warmUpBytes), 0x5a);
    for (std::size_t warm = 0; warm < warmUpBytes; warm += warmUp.size()) {
        adapters.sender->sendData(warmUp, 1);
        if (!adapters.receiverHears->waitFor(++delivered, 120s)) return state.SkipWithError("warm-up failed");
    }
    const std::vector<std::uint8_t> message(size, 0x5a);
    double adapterSeconds = 0;
    double bareSeconds = 0;
    std::uint64_t bareBytes = 0;
    for (auto _ : state) {
        const auto [seconds, carried] = bare.transfer();
        bareSeconds += seconds;
        bareBytes += carried;

        auto copy = message;  // sendData takes its bytes; the copy is not the adapter's cost
        const auto start = SteadyClock::now();
        adapters.sender->sendData(std::move(copy), 1);
        if (!adapters.receiverHears->waitFor(++delivered, 300s)) return state.SkipWithError("message not delivered");
        const double elapsed = std::chrono::duration<double>(adapters.receiverHears->lastArrival() - start).count();
        adapterSeconds += elapsed;
        state.SetIterationTime(elapsed);
    }
    const double adapterRate = static_cast<double>(state.iterations() * size) / adapterSeconds;
    const double bareRate = static_cast<double>(bareBytes) / bareSeconds;
    state.counters["adapter_MBps"] = adapterRate / 1e6;
    state.counters["bare_MBps"] = bareRate / 1e6;
    state.counters["ratio"] = adapterRate / bareRate;
    state.counters["bare_carried"] = static_cast<double>(bareBytes) / static_cast<double>(state.iterations() * size);
}

/// Round trip: a 100-byte message to the other side, which sends it back through its adapter.
void adapterRoundTrip(benchmark::State& state) {
    ChunkAdapterPair adapters(true);
    const std::vector<std::uint8_t> message(100, 0x5a);
    std::uint64_t returned = 0;
    for (int warm = 0; warm < 100; ++warm) {
        adapters.sender->sendData(message, 1);
        if (!adapters.senderHears->waitFor(++returned, 120s)) return state.SkipWithError("warm-up failed");
    }
    std::vector<double> microseconds;
    for (auto _ : state) {
        const auto start = SteadyClock::now();
        adapters.sender->sendData(message, 1);
        if (!adapters.senderHears->waitFor(++returned, 120s)) return state.SkipWithError("message not returned");
        const double seconds = std::chrono::duration<double>(adapters.senderHears->lastArrival() - start).count();
        state.SetIterationTime(seconds);
        microseconds.push_back(seconds * 1e6);
    }
    std::sort(microseconds.begin(), microseconds.end());
    auto quantile = [&](double q) { return microseconds[static_cast<std::size_t>(q * (microseconds.size() - 1))]; };
    state.counters["p50_us"] = quantile(0.50);
    state.counters["p99_us"] = quantile(0.99);
}

const std::vector<std::pair<std::int64_t, std::int64_t>> throughputSizes = {
    {1 << 20, 30}, {64 << 20, 4}, {256 << 20, 2}};  // message bytes, iterations

void registerBenchmarks() {
    for (const auto& [size, iterations] : throughputSizes) {
        benchmark::RegisterBenchmark("adapterPairAndBareChannel", adapterPairAndBareChannel)
            ->Arg(size)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(iterations);
    }
    benchmark::RegisterBenchmark("adapterRoundTrip", adapterRoundTrip)
        ->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(2000);
}

/// The console output, plus the counters of each run for the summary.
class CountersReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred) continue;
            for (const auto& [name, counter] : run.counters) counters[run.benchmark_name()][name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    /// The counters of the first run whose name starts with `prefix`.
    std::map<std::string, double> of(const std::string& prefix) const {
        for (const auto& [name, values] : counters) {
            if (name.rfind(prefix, 0) == 0) return values;
        }
        return {};
    }

private:
    std::map<std::string, std::map<std::string, double>> counters;
};

// --- (c), (d): peers that each run a script of transfers -----------------------------------------

/// One message of a script: which side sends it, and its size.
struct Transfer {
    SocketPeer::Role from;
    std::size_t size;
};

const char* nameOf(SocketPeer::Role role) { return role == SocketPeer::Role::offer ? "offer" : "answer"; }
std::uint8_t seedOf(SocketPeer::Role role) { return role == SocketPeer::Role::offer ? 11 : 97; }

/// "o1048576,a16777216": the offer side sends 1 MiB, then the answer side 16 MiB.
std::string scriptText(const std::vector<Transfer>& script) {
    std::string text;
    for (const auto& transfer : script) {
        if (!text.empty()) text += ',';
        text += (transfer.from == SocketPeer::Role::offer ? 'o' : 'a') + std::to_string(transfer.size);
    }
    return text;
}

std::vector<Transfer> parseScript(const std::string& text) {
    std::vector<Transfer> script;
    std::istringstream items(text);
    for (std::string item; std::getline(items, item, ',');) {
        script.push_back({item[0] == 'o' ? SocketPeer::Role::offer : SocketPeer::Role::answer, std::stoull(item.substr(1))});
    }
    return script;
}

/// The kernel's count of UDP datagrams dropped for a full receive buffer, machine-wide.
std::uint64_t udpReceiveBufferErrors() {
    std::ifstream snmp("/proc/net/snmp");
    std::vector<std::string> names;
    for (std::string line; std::getline(snmp, line);) {
        if (line.rfind("Udp:", 0) != 0) continue;
        std::istringstream fields(line.substr(4));
        std::vector<std::string> values{std::istream_iterator<std::string>(fields), {}};
        if (names.empty()) {
            names = values;
            continue;
        }
        for (std::size_t i = 0; i < names.size() && i < values.size(); ++i) {
            if (names[i] == "RcvbufErrors") return std::stoull(values[i]);
        }
    }
    return 0;
}

/// Counts the retry requests an adapter sends, from its log lines.
class RetryCounter : public Logger {
public:
    std::uint64_t count() const { return count_; }
    void debug(const std::string& message, const DataList&) override {
        if (message.rfind("Sent retry request", 0) == 0) ++count_;
    }
    void trace(const std::string&, const DataList&) override {}
    void error(const std::string&, const DataList&) override {}
    void info(const std::string&, const DataList&) override {}
    void warn(const std::string&, const DataList&) override {}

private:
    std::atomic<std::uint64_t> count_{0};
};

constexpr auto transferTimeout = 60s;

/// One peer: connects over `socket`, runs `script` through its adapter and writes what happened
/// to `report`, one line each: "transfer FROM SIZE SECONDS RETRIES INTACT" for each message it
/// received, "memory ROLE PEAK BEFORE" at the end, "failed WHAT" when something went wrong.
/// Returns 0 when the whole script ran.
int runPeer(SocketPeer::Role role, int socket, int report, const std::vector<Transfer>& script) {
    auto write = [report](std::string line) {
        line += '\n';
        return ::write(report, line.data(), line.size());
    };
    try {
        SocketPeer peer(socket, role);
        auto retries = std::make_shared<RetryCounter>();
        auto adapter = std::make_shared<WebRtcChunkAdapter>(std::make_shared<ZephLogger>(retries, LogLevel::DEBUG, false));
        const auto other = role == SocketPeer::Role::offer ? SocketPeer::Role::answer : SocketPeer::Role::offer;
        auto hears = std::make_shared<Receiver>(seedOf(other));
        adapter->setDelegate(hears);
        adapter->set(peer.channel());
        const auto before = ResidentMemory::read().now;
        std::size_t received = 0;
        for (const auto& transfer : script) {
            if (transfer.from == role) {
                auto message = patternMessage(transfer.size, seedOf(role));
                adapter->sendData(std::move(stamp(message)), 1);
                if (!peer.readLine(transferTimeout + 10s)) throw std::runtime_error("the receiver did not answer");
                continue;
            }
            const auto retriesBefore = retries->count();
            const auto arrival = hears->waitFor(++received, transferTimeout);
            if (!arrival) throw std::runtime_error(std::to_string(transfer.size) + "-byte message not delivered");
            write("transfer " + std::string(nameOf(transfer.from)) + " " + std::to_string(arrival->size) + " " +
                  std::to_string(arrival->seconds) + " " + std::to_string(retries->count() - retriesBefore) + " " +
                  (arrival->intact ? "1" : "0"));
            peer.sendLine("done");
        }
        write("memory " + std::string(nameOf(role)) + " " + std::to_string(ResidentMemory::read().peak) + " " +
              std::to_string(before));
        adapter->closeDataChannel();
        return 0;
    } catch (const std::exception& error) {
        write(std::string("failed ") + nameOf(role) + ": " + error.what());
        return 1;
    }
}

/// What the two peers of one connection reported.
struct Outcome {
    struct Received {
        std::string from;
        std::size_t size;
        double seconds;
        int retries;
        bool intact;
    };
    struct Memory {
        std::uint64_t peak, before;
    };
    std::vector<Received> received;
    std::map<std::string, Memory> memory;
    std::string failure;
};

Outcome parseReport(const std::string& text) {
    Outcome outcome;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "transfer") {
            Outcome::Received received;
            int intact = 0;
            fields >> received.from >> received.size >> received.seconds >> received.retries >> intact;
            received.intact = intact == 1;
            outcome.received.push_back(received);
        } else if (kind == "memory") {
            std::string role;
            Outcome::Memory memory{};
            fields >> role >> memory.peak >> memory.before;
            outcome.memory[role] = memory;
        } else if (kind == "failed") {
            outcome.failure += line.substr(7) + "; ";
        }
    }
    return outcome;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(got));
    return text;
}

/// Runs this program twice, once with each side's `arguments`, each with a socket to the other on
/// descriptor 3 and the shared report pipe on 4; what both wrote to the report, once both ended.
std::string runPeerProcesses(const std::array<std::vector<std::string>, 2>& arguments) {
    int sockets[2];
    int report[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0 || ::pipe(report) != 0) return "failed no socket\n";
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return "failed no path to this program\n";
    std::vector<pid_t> children;
    for (int side = 0; side < 2; ++side) {
        std::vector<std::string> texts = arguments[side];
        std::vector<char*> argv{self};
        for (auto& text : texts) argv.push_back(text.data());
        argv.push_back(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            // Only async-signal-safe calls until exec: its socket on 3, the report on 4, nothing else;
            // its standard output (the REST client's lines) goes nowhere.
            const int nowhere = ::open("/dev/null", O_WRONLY);
            ::dup2(nowhere, 1);
            ::dup2(sockets[side], 3);
            ::dup2(report[1], 4);
            ::close_range(5, ~0U, 0);
            ::execv(self, argv.data());
            ::_exit(127);
        }
        if (child > 0) children.push_back(child);
    }
    ::close(sockets[0]);
    ::close(sockets[1]);
    ::close(report[1]);
    auto text = readAll(report[0]);
    ::close(report[0]);
    for (pid_t child : children) ::waitpid(child, nullptr, 0);
    if (children.size() != 2) text += "failed could not start the peers\n";
    return text;
}

/// Runs `script` on a fresh connection: each peer in a process of its own (this program again,
/// started with --peer), or both in this process, on its WebRTC threads.
Outcome runConnection(const std::vector<Transfer>& script, bool separateProcesses) {
    const std::string scriptArgument = "--script=" + scriptText(script);
    if (separateProcesses) {
        return parseReport(runPeerProcesses({{{"--peer=offer", scriptArgument}, {"--peer=answer", scriptArgument}}}));
    }
    int sockets[2];
    int report[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets) != 0 || ::pipe(report) != 0) return {{}, {}, "no socket"};
    std::thread offer([&] { runPeer(SocketPeer::Role::offer, sockets[0], report[1], script); });
    std::thread answer([&] { runPeer(SocketPeer::Role::answer, sockets[1], report[1], script); });
    offer.join();
    answer.join();
    ::close(report[1]);
    const auto text = readAll(report[0]);
    ::close(report[0]);
    return parseReport(text);
}

// --- (c): the message through two session clients, each in a process of its own ----------------

const std::string clientApiKey = "mock-api-key";
const std::string clientTag = "application/octet-stream";
constexpr std::uint8_t clientSeed = 23;
constexpr std::uint16_t clientCategory = 1;

/// The pattern of `clientSeed` over `size` bytes.
std::vector<std::uint8_t> clientPayload(std::size_t size) { return quorvane::testing::patterned(size, clientSeed); }

bool isClientPayload(const QVTaggedData& data, std::size_t size) {
    const auto& bytes = data.data();
    if (bytes.size() != size || data.tag() != clientTag) return false;
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != patternByte(i, clientSeed)) return false;
    }
    return true;
}

/// One line to the other side, over the socket between the two processes.
void writeLine(int socket, std::string line) {
    line += '\n';
    if (::write(socket, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        throw std::runtime_error("the other side has gone");
    }
}

/// The next line from the other side; throws when none comes within `timeout`.
std::string readLine(int socket, std::chrono::seconds timeout) {
    std::string line;
    const auto deadline = SteadyClock::now() + timeout;
    for (char character = 0; character != '\n';) {
        pollfd readable{socket, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) != 1 ||
            ::read(socket, &character, 1) != 1) {
            throw std::runtime_error("no line from the other side");
        }
        if (character != '\n') line += character;
    }
    return line;
}

/// The host of one side: the sender answers a query with the payload; the receiver checks what
/// reaches it, as a notification or as the answer to its query.
class ClientHost : public QuorvaneDelegate {
public:
    explicit ClientHost(std::size_t size) : size_(size) {}

    void quorvaneDidReceiveQuery(const QVQuery&, const QVQueryContext& context) override {
        context.respond(QVTaggedData(clientTag, clientPayload(size_)), true);
    }
    void quorvaneDidReceiveNotification(const QVNotification& notification) override {
        arrived(notification.data());
    }
    void arrived(const QVTaggedData& data) {
        std::lock_guard lock(mutex_);
        intact_ = isClientPayload(data, size_);
        changed_.notify_all();
    }
    /// Whether the payload arrived intact; nothing when it did not arrive within `timeout`.
    std::optional<bool> waitForPayload(std::chrono::seconds timeout) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, timeout, [&] { return intact_.has_value(); });
        return intact_;
    }

private:
    const std::size_t size_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<bool> intact_;
};

/// One side of a client-level transfer, started by runClients: the sender makes the session and
/// sends `size` bytes as a notification, or answers the receiver's query with them. Writes the
/// lines of runPeer to `report` (as "offer" for the sender, "answer" for the receiver).
int runClientPeer(bool sending, bool notification, std::size_t size, const std::string& apiUrlBase,
                  const std::string& caFile, int socket, int report) {
    const std::string role = sending ? "offer" : "answer";
    auto write = [report](std::string line) {
        line += '\n';
        return ::write(report, line.data(), line.size());
    };
    try {
        auto host = std::make_shared<ClientHost>(size);
        auto client = quorvane::testing::makeLoopbackClient(apiUrlBase, clientApiKey, caFile, host, nullptr, false);
        const auto deadline = [] { return SteadyClock::now() + transferTimeout; };
        using quorvane::testing::settled;
        if (sending) {
            writeLine(socket, settled(client->initiateSupportSession(), deadline(), "initiateSupportSession"));
        } else {
            settled(client->connectToSupportSession(readLine(socket, transferTimeout)), deadline(),
                    "connectToSupportSession");
        }
        for (const auto until = deadline(); !client->isConnected(); std::this_thread::sleep_for(2ms)) {
            if (SteadyClock::now() > until) throw std::runtime_error("the data channel did not open");
        }
        writeLine(socket, "connected");
        readLine(socket, transferTimeout);

        const auto before = ResidentMemory::read().now;
        const auto start = SteadyClock::now();
        if (sending) {
            if (notification) {
                settled(client->sendNotification(QVNotification(clientCategory, QVTaggedData(clientTag, clientPayload(size)))),
                        deadline(), "sendNotification");
            }
            readLine(socket, transferTimeout);
        } else {
            if (!notification) {
                auto receipt = client->sendQuery(QVQuery(clientCategory, QVTaggedData(clientTag, {})),
                                                 transferTimeout.count(),
                                                 [host](const QVTaggedData& data, bool) { host->arrived(data); });
                settled(receipt.complete(), deadline(), "sendQuery");
            }
            const auto intact = host->waitForPayload(transferTimeout);
            if (!intact) throw std::runtime_error(std::to_string(size) + "-byte payload not delivered");
            const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
            write("transfer offer " + std::to_string(size) + " " + std::to_string(seconds) + " 0 " + (*intact ? "1" : "0"));
            writeLine(socket, "done");
        }
        write("memory " + role + " " + std::to_string(ResidentMemory::read().peak) + " " + std::to_string(before));
        settled(client->disconnect(false), deadline(), "disconnect");
        return 0;
    } catch (const std::exception& error) {
        write("failed " + role + ": " + error.what());
        return 1;
    }
}

/// One message of `size` bytes from one session client to another, each in a process of its own
/// (this program again, started with --client), as a notification or as a query response.
Outcome runClients(std::size_t size, bool notification) {
    quorvane::testing::MosquittoBroker broker(clientApiKey, "session-token");
    mock::MockRestService service(quorvane::testing::serviceOptionsFor(broker));
    const std::vector<std::string> common = {"--kind=" + std::string(notification ? "notification" : "query"),
                                             "--bytes=" + std::to_string(size), "--api=" + service.start(),
                                             "--ca=" + broker.caFile()};
    std::array<std::vector<std::string>, 2> arguments = {{{"--client=sender"}, {"--client=receiver"}}};
    for (auto& side : arguments) side.insert(side.end(), common.begin(), common.end());
    return parseReport(runPeerProcesses(arguments));
}

/// This program started as one peer of runConnection.
int runAsPeer(const std::string& role, const std::string& script) {
    return runPeer(role == "offer" ? SocketPeer::Role::offer : SocketPeer::Role::answer, 3, 4, parseScript(script));
}

/// Prints the peak of each side of `outcome`, one message of `messageBytes` under `what`; false
/// when the message did not arrive intact.
bool printPeaks(const char* what, const Outcome& outcome, std::size_t messageBytes) {
    std::printf("  %s:\n", what);
    if (!outcome.failure.empty() || outcome.memory.size() != 2 || outcome.received.size() != 1 ||
        !outcome.received[0].intact) {
        std::printf("    FAILED: %s\n", outcome.failure.c_str());
        return false;
    }
    for (const auto& [role, side] : {std::pair{"offer", "sender"}, std::pair{"answer", "receiver"}}) {
        const auto& memory = outcome.memory.at(role);
        std::printf("    %-8s peak %7.1f MB = %.2f x the message (%.2f x above its resident memory before the transfer)\n",
                    side, static_cast<double>(memory.peak) / 1e6,
                    static_cast<double>(memory.peak) / static_cast<double>(messageBytes),
                    static_cast<double>(memory.peak - std::min(memory.peak, memory.before)) /
                        static_cast<double>(messageBytes));
    }
    return true;
}

/// False when a message did not arrive intact.
bool reportMemory(std::size_t messageBytes) {
    std::printf("\nPeak resident memory, one %zu-byte message, each peer in its own process:\n", messageBytes);
    bool intact = printPeaks("message layer (two adapters)", runConnection({{SocketPeer::Role::offer, messageBytes}}, true),
                             messageBytes);
    intact = printPeaks("notification (two session clients)", runClients(messageBytes, true), messageBytes) && intact;
    return printPeaks("query response (two session clients)", runClients(messageBytes, false), messageBytes) && intact;
}

/// False when a message did not arrive intact.
bool reportStalls(int runs, bool separateProcesses) {
    const std::vector<Transfer> script = {{SocketPeer::Role::offer, 1 << 20},
                                          {SocketPeer::Role::offer, 16 << 20},
                                          {SocketPeer::Role::answer, 1 << 20},
                                          {SocketPeer::Role::answer, 16 << 20}};
    int stalledRuns = 0;
    int stalledTransfers = 0;
    int failedRuns = 0;
    bool intact = true;
    std::vector<double> largeSeconds;
    const auto dropsBefore = udpReceiveBufferErrors();
    for (int run = 0; run < runs; ++run) {
        const auto outcome = runConnection(script, separateProcesses);
        bool stalled = !outcome.failure.empty() || outcome.received.size() != script.size();
        if (stalled) {
            ++failedRuns;
            std::printf("  run %d failed: %s\n", run + 1, outcome.failure.c_str());
        }
        for (const auto& received : outcome.received) {
            const bool slow = received.retries > 0 || received.seconds > 5.0 || !received.intact;
            stalledTransfers += slow ? 1 : 0;
            intact = intact && received.intact;
            stalled = stalled || slow;
            if (received.size == (16u << 20)) largeSeconds.push_back(received.seconds);
            if (slow) {
                std::printf("  run %d: %zu bytes from the %s side took %.1f s, %d retry request(s)%s\n", run + 1,
                            received.size, received.from.c_str(), received.seconds, received.retries,
                            received.intact ? "" : ", corrupted");
            }
        }
        stalledRuns += stalled ? 1 : 0;
    }
    std::sort(largeSeconds.begin(), largeSeconds.end());
    const double median = largeSeconds.empty() ? 0 : largeSeconds[largeSeconds.size() / 2];
    std::printf("  %s: %d of %d runs stalled (%d of %d messages needed a retry request or over 5 s; %d runs "
                "failed); 16 MiB median %.2f s; UDP receive-buffer drops %llu\n",
                separateProcesses ? "each peer in its own process" : "both peers in this process", stalledRuns, runs,
                stalledTransfers, runs * static_cast<int>(script.size()), failedRuns, median,
                static_cast<unsigned long long>(udpReceiveBufferErrors() - dropsBefore));
    return intact && failedRuns == 0;
}

/// The value of `--name=value` among the arguments, if given.
std::optional<std::string> flag(int argc, char** argv, const std::string& name) {
    const std::string prefix = "--" + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]).rfind(prefix, 0) == 0) return std::string(argv[i]).substr(prefix.size());
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    if (auto role = flag(argc, argv, "peer")) return runAsPeer(*role, flag(argc, argv, "script").value_or(""));
    if (auto role = flag(argc, argv, "client")) {
        return runClientPeer(*role == "sender", flag(argc, argv, "kind") == "notification",
                             std::stoull(flag(argc, argv, "bytes").value_or("0")), flag(argc, argv, "api").value_or(""),
                             flag(argc, argv, "ca").value_or(""), 3, 4);
    }

    int stallRuns = 50;
    if (const char* runs = std::getenv("QUORVANE_BENCH_STALL_RUNS")) stallRuns = std::atoi(runs);
    if (auto runs = flag(argc, argv, "stall_runs")) stallRuns = std::stoi(*runs);
    std::size_t memoryBytes = 256 << 20;
    if (auto bytes = flag(argc, argv, "memory_bytes")) memoryBytes = std::stoull(*bytes);

    registerBenchmarks();
    benchmark::Initialize(&argc, argv);
    CountersReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [size, iterations] : throughputSizes) {
        auto values = reporter.of("adapterPairAndBareChannel/" + std::to_string(size) + "/");
        if (values.empty()) continue;
        std::printf("%4lld MiB messages: adapter pair %.1f MB/s, bare channel %.1f MB/s, ratio %.3f\n",
                    static_cast<long long>(size >> 20), values["adapter_MBps"], values["bare_MBps"], values["ratio"]);
    }
    benchmark::Shutdown();

    bool delivered = memoryBytes == 0 || reportMemory(memoryBytes);
    if (stallRuns > 0) {
        std::printf("\nStalls, %d fresh connections each carrying 1 MiB and 16 MiB each way:\n", stallRuns);
        delivered = reportStalls(stallRuns, true) && delivered;
        delivered = reportStalls(stallRuns, false) && delivered;
    }
    return delivered ? 0 : 1;
}
