#include "HostProgram.hpp"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <stdexcept>

#include "AgentScript.hpp"
#include "ClientActions.hpp"
#include "Console.hpp"
#include "DeviceScript.hpp"
#include "HostLogger.hpp"
#include "Outcome.hpp"
#include "SessionEvents.hpp"
#include "SessionHost.hpp"
#include "Shell.hpp"
#include "StopSignals.hpp"

namespace quorvane::session {

namespace {

/// The session started and typed commands carried out until "quit", the end of standard input or
/// a stop signal; then the session is ended as "disconnect" does. Returns the exit status.
int runShell(const Options& options, Console& console, const std::shared_ptr<QuorvaneClient>& client,
             SessionHost& host) {
    // Before the start-up, so that a stop signal during it is kept for when it is over.
    StopSignals stops;
    ClientActions actions(console, client, host);
    auto started = options.role == Options::Role::device ? actions.beginSession() : actions.joinSession(options.pin);
    try {
        started.wait();
    } catch (...) {
        return 1;
    }
    Shell shell(console, actions);
    InputLines lines(STDIN_FILENO, stops.fd());
    while (auto line = lines.next()) {
        if (!shell.execute(*line)) break;
    }
    console.line("leaving: ending the session");
    // The library bounds the disconnect signal by the client's time-out; the wait allows a margin.
    (void)waitFor(actions.endSession(), options.timeout + 5);
    return lines.stoppedBy() == 0 ? 0 : 128 + lines.stoppedBy();
}

}  // namespace

int runHostProgram(int argc, char** argv, const ClientFactory& makeClient) {
    Options options;
    try {
        bool help = false;
        options = parseOptions(argc, argv, help);
        if (help) {
            std::cout << usage << "\n" << shellHelp();
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
    std::shared_ptr<QuorvaneClient> client;
    try {
        client = makeClient(options, std::make_shared<HostLogger>(events, options.verbose), host, queue);
    } catch (const std::invalid_argument& error) {
        // The library refuses the options it cannot work with (a time-out out of its range).
        std::cerr << "quorvane_session: " << error.what() << "\n" << usage;
        return 2;
    }
    host->attach(client);

    if (options.script) {
        const bool ok = options.role == Options::Role::device ? DeviceScript(console, events, client, *host).run()
                                                              : AgentScript(console, events, client, options.pin).run();
        return ok ? 0 : 1;
    }
    return runShell(options, console, client, *host);
}

}  // namespace quorvane::session
