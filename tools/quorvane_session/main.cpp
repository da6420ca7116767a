// quorvane_session: a host application of the library's public API. `device` creates a support
// session and prints its PIN; `agent --pin PIN` joins it. Every report of the delegate is printed;
// commands typed on standard input send chat, notifications, commands, queries, bytes and files
// and share the screen. With --script the program follows the demo's walkthrough instead and
// exits 0 only when every step did what it should.

#include "HostProgram.hpp"

int main(int argc, char** argv) {
    return quorvane::session::runHostProgram(
        argc, argv, [](const auto& options, auto logger, const auto& delegate, const auto& queue) {
            return quorvane::QuorvaneClient::create(options.url, options.apiKey, options.retainLogs, options.timeout,
                                                    std::move(logger), delegate, queue);
        });
}
