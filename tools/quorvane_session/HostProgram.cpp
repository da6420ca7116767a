#include "HostProgram.hpp"

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <thread>

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
#include "Text.hpp"

namespace quorvane::session {

namespace {

/// Says that the program leaves, ends the session with `end` and waits for that.
void leave(Console& console, const std::function<Promise<void>()>& end, int timeout) {
    console.line("leaving: ending the session");
    // The library bounds the disconnect signal by the client's time-out; the wait allows a margin.
    (void)waitFor(end(), timeout + 5);
}

/// The session started and typed commands carried out until "quit", the end of standard input or
/// a stop signal, which may come during the start-up too; then the session is ended as
/// "disconnect" does (a start-up still under way is stopped). Returns the exit status.
int runShell(const Options& options, Console& console, SessionEvents& events, const DispatchQueuePtr& queue,
             const std::shared_ptr<QuorvaneClient>& client, SessionHost& host) {
    StopSignals stops;
    ClientActions actions(console, events, queue, client, host, options.timeout);
    auto started = options.role == Options::Role::device ? actions.beginSession() : actions.joinSession(options.pin);
    auto settled = std::make_shared<Doorbell>();
    (void)started.ensure([settled] { settled->ring(); });
    int stoppedBy = waitUnlessStopped(settled->fd(), stops.fd());
    if (stoppedBy == 0) {
        if (started.error()) return 1;
        Shell shell(console, actions);
        InputLines lines(STDIN_FILENO, stops.fd());
        while (auto line = lines.next()) {
            if (!shell.execute(*line)) break;
        }
        stoppedBy = lines.stoppedBy();
    }
    leave(console, [&] { return actions.endSession(); }, options.timeout);
    return stoppedBy == 0 ? 0 : 128 + stoppedBy;
}

/// The scripted walkthrough of the role. A stop signal ends the session as the shell does, and
/// then the process at once: the walkthrough's waits are not cut short.
int runScript(const Options& options, Console& console, SessionEvents& events,
              const std::shared_ptr<QuorvaneClient>& client, SessionHost& host) {
    StopSignals stops;
    Doorbell finished;
    bool ok = false;
    std::thread walkthrough([&] {
        ok = options.role == Options::Role::device ? DeviceScript(console, events, client, host).run()
                                                   : AgentScript(console, events, client, options.pin).run();
        finished.ring();
    });
    if (const int signal = waitUnlessStopped(finished.fd(), stops.fd())) {
        leave(console, [&] { return disconnectReporting(console, *client); }, options.timeout);
        std::fflush(stdout);
        _exit(128 + signal);
    }
    walkthrough.join();
    return ok ? 0 : 1;
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
        // The refusal may quote the command line's words.
        std::cerr << "quorvane_session: " << printable(error.what()) << "\n" << usage;
        return 2;
    }

    // The console and what the session saw are never destroyed: a promise handler of the host's
    // (the result of a send that the session's end settles) may still run on one of the library's
    // threads while the process exits.
    static auto* const console = new Console(stdout, isatty(STDOUT_FILENO) != 0);
    static auto* const events = new SessionEvents;
    auto queue = DispatchQueue::create("host");
    SessionHost::Settings settings{options.saveFolder, std::nullopt};
    if (options.script && options.role == Options::Role::device) settings.chatReply = DeviceScript::chatReply;
    auto host = std::make_shared<SessionHost>(*console, *events, queue, settings);
    auto client = makeClient(options, std::make_shared<HostLogger>(*events, options.verbose), host, queue);
    host->attach(client);
    const int status = options.script ? runScript(options, *console, *events, client, *host)
                                      : runShell(options, *console, *events, queue, client, *host);
    // The library calls the logger and the delegate until the client is released: release it
    // here, on this thread, while all they use is alive, and not later in a report that holds it.
    client->setDelegate(nullptr);
    queue->sync([] {});
    client.reset();
    return status;
}

}  // namespace quorvane::session
