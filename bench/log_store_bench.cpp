// The structured logger's store under a flood of small messages: the lines a host logs for each
// chat it receives (two per chat), with logs retained, as a peer that sends small messages fast
// makes them. Prints the process's resident memory and the rate of appends as the lines pile up,
// once with the store's default bound and once without a bound, each in a process of its own.
// Flags: --entries=N lines in all (default 400000).

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "log/ClassLogger.hpp"
#include "log/ZephLogger.hpp"
#include "support/ResidentMemory.hpp"

namespace {

using namespace quorvane;
using quorvane::testing::ResidentMemory;
using SteadyClock = std::chrono::steady_clock;

double mebibytes(std::uint64_t bytes) { return double(bytes) / (1 << 20); }

void flood(const char* name, std::size_t capacity, long entries) {
    const auto before = ResidentMemory::read().now;
    auto logger = std::make_shared<ZephLogger>(nullptr, LogLevel::TRACE, true, capacity);
    logger->setRole(WebRtcClientRole::answer);
    logger->setPin("482913");
    logger->setSessionId("9b2f64c1-7d3e-4a5b-8c6d-1e2f3a4b5c6d");
    ClassLogger log(logger, "QuorvaneClient");

    std::printf("%s store (%s)\n", name,
                capacity == std::numeric_limits<std::size_t>::max() ? "no bound"
                                                                    : (std::to_string(capacity) + " bytes").c_str());
    std::printf("  %9s  %12s  %14s  %12s\n", "entries", "RSS MiB", "RSS growth MiB", "appends/s");
    auto start = SteadyClock::now();
    long next = 0;
    for (long checkpoint = 25000; next < entries; checkpoint = std::min(checkpoint * 2, entries)) {
        for (; next < checkpoint; next += 2) {
            log.debug("transportLayerWillReceiveMessage", "[100.00%] Receiving message with category 1");
            log.debug("read", "Recieved Notification");
        }
        const auto now = ResidentMemory::read().now;
        const double seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
        std::printf("  %9ld  %12.1f  %14.1f  %12.0f\n", next, mebibytes(now), mebibytes(now - before),
                    double(next) / seconds);
    }
    const auto held = logger->getLogStore().size();
    std::printf("  entries held at the end: %zu\n\n", held);
}

}  // namespace

int main(int argc, char** argv) {
    long entries = 400000;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--entries=", 10) == 0) {
            entries = std::atol(argv[i] + 10);
        } else {
            std::fprintf(stderr, "usage: %s [--entries=N]\n", argv[0]);
            return 2;
        }
    }
    const struct {
        const char* name;
        std::size_t capacity;
    } runs[]{{"Bounded", ZephLogger::defaultStoreCapacity}, {"Unbounded", std::numeric_limits<std::size_t>::max()}};
    for (const auto& run : runs) {
        std::fflush(stdout);
        const pid_t child = fork();
        if (child == 0) {  // a fresh process, so that one run's freed memory does not hide the other's growth
            flood(run.name, run.capacity, entries);
            std::fflush(stdout);
            _exit(0);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            std::fprintf(stderr, "the %s run failed\n", run.name);
            return 1;
        }
    }
    return 0;
}
