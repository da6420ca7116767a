// quorvane_session: a host application of the library's public API. `device` creates a support
// session and prints its PIN; `agent --pin PIN` joins it. Every report of the delegate is printed;
// commands typed on standard input send chat, notifications, commands, queries, bytes and files
// and share the screen. With --script the program follows the demo's walkthrough instead and
// exits 0 only when every step did what it should.

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "quorvane/DispatchQueue.hpp"
#include "quorvane/QuorvaneClient.hpp"

#include "AgentScript.hpp"
#include "Console.hpp"
#include "DeviceScript.hpp"
#include "HostLogger.hpp"
#include "Options.hpp"
#include "Payloads.hpp"
#include "SessionEvents.hpp"
#include "SessionHost.hpp"
#include "Shell.hpp"

using namespace quorvane;
using namespace quorvane::session;

namespace {

/// Starts or joins the session for the interactive mode; false when that failed.
bool start(Console& console, QuorvaneClient& client, const Options& options) {
    try {
        if (options.role == Options::Role::device) {
            console.line("PIN: " + client.initiateSupportSession().wait());
        } else {
            client.connectToSupportSession(options.pin).wait();
            console.line("joined; waiting for the device's offer");
        }
        return true;
    } catch (...) {
        console.line("could not start the session: " + describeError(std::current_exception()));
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        bool help = false;
        options = parseOptions(argc, argv, help);
        if (help) {
            std::cout << usage << "\n" << shellHelp;
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << "quorvane_session: " << error.what() << "\n" << usage;
        return 2;
    }

    Console console(stdout, isatty(STDOUT_FILENO) != 0);
    SessionEvents events;
    auto queue = DispatchQueue::create("host");
    SessionHost::Settings settings{options.saveFolder, std::nullopt};
    if (options.script && options.role == Options::Role::device) settings.chatReply = DeviceScript::chatReply;
    auto host = std::make_shared<SessionHost>(console, events, queue, settings);
    auto logger = std::make_shared<HostLogger>(events, options.verbose);
    auto client =
        QuorvaneClient::create(options.url, options.apiKey, options.retainLogs, options.timeout, logger, host, queue);
    host->attach(client);

    if (options.script) {
        const bool ok = options.role == Options::Role::device ? DeviceScript(console, events, client, *host).run()
                                                              : AgentScript(console, events, client, options.pin).run();
        return ok ? 0 : 1;
    }
    if (!start(console, *client, options)) return 1;
    Shell(console, client, *host).run(std::cin);
    return 0;
}
