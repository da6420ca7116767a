#include "ClientActions.hpp"

#include "Payloads.hpp"

namespace quorvane::session {

namespace {

/// Prints why a start-up failed and passes the failure on.
auto reportStartFailure(Console& console) {
    return [console = &console](std::exception_ptr error) {
        console->line("could not start the session: " + describeError(error));
        return Promise<void>::error(error);
    };
}

}  // namespace

Promise<void> ClientActions::beginSession() {
    return client_->initiateSupportSession()
        .done([console = &console_](const std::string& pin) { console->line("PIN: " + pin); })
        .recover(reportStartFailure(console_));
}

Promise<void> ClientActions::joinSession(const std::string& pin) {
    return client_->connectToSupportSession(pin)
        .done([console = &console_] { console->line("joined; waiting for the device's offer"); })
        .recover(reportStartFailure(console_));
}

Promise<void> ClientActions::endSession() {
    auto ended = client_->disconnect(true);
    ended.done([console = &console_] { console->line("result: disconnected"); });
    (void)ended.catchError([console = &console_](std::exception_ptr error) {
        console->line("result: disconnect failed: " + describeError(error));
    });
    return ended;
}

void ClientActions::screen() {
    if (auto refusal = host_.shareScreen()) return console_.line(*refusal);
    console_.line(client_->isConnected() ? "sharing the screen" : "sharing the screen once connected");
}

void ClientActions::status() { console_.line(client_->isConnected() ? "connected" : "not connected"); }

}  // namespace quorvane::session
