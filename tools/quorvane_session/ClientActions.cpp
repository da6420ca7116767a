#include "ClientActions.hpp"

#include <cmath>

#include "Payloads.hpp"

namespace quorvane::session {

Promise<void> disconnectReporting(Console& console, QuorvaneClient& client) {
    auto ended = client.disconnect(true);
    ended.done([console = &console] { console->line("result: disconnected"); });
    (void)ended.catchError([console = &console](std::exception_ptr error) {
        console->line("result: disconnect failed: " + describeError(error));
    });
    return ended;
}

int SessionRecord::start(int disconnects) {
    std::lock_guard lock(mutex_);
    on_ = true;
    disconnectsBefore_ = disconnects;
    return ++number_;
}

void SessionRecord::end() {
    std::lock_guard lock(mutex_);
    on_ = false;
}

bool SessionRecord::endIfCurrent(int number) {
    std::lock_guard lock(mutex_);
    const bool current = on_ && number == number_;
    if (current) on_ = false;
    return current;
}

bool SessionRecord::isCurrent(int number) const {
    std::lock_guard lock(mutex_);
    return on_ && number == number_;
}

bool SessionRecord::isOn(int disconnects) const {
    std::lock_guard lock(mutex_);
    return on_ && disconnects == disconnectsBefore_;
}

std::function<Promise<void>(std::exception_ptr)> ClientActions::reportStartFailure(int number) {
    return [console = &console_, record = record_, number](std::exception_ptr error) {
        if (record->endIfCurrent(number)) console->line("could not start the session: " + describeError(error));
        return Promise<void>::error(error);
    };
}

Promise<void> ClientActions::beginSession() {
    const int number = record_->start(events_.snapshot().disconnects);
    return client_->initiateSupportSession()
        .done([console = &console_, record = record_, number](const std::string& pin) {
            if (record->isCurrent(number)) console->line("PIN: " + pin);
        })
        .recover(reportStartFailure(number));
}

Promise<void> ClientActions::joinSession(const std::string& pin) {
    const auto before = events_.snapshot();
    const int number = record_->start(before.disconnects);
    auto saySilence = [console = &console_, events = &events_, record = record_, number, connects = before.connects,
                       seconds = offerSeconds_] {
        if (!record->isCurrent(number) || events->snapshot().connects != connects) return;
        console->line("the device has not answered in " + std::to_string(std::lround(seconds)) +
                      " s: the session may have ended; still waiting (quit or Ctrl-C to leave)");
    };
    return client_->connectToSupportSession(pin)
        .done([console = &console_, record = record_, number, queue = queue_, saySilence, seconds = offerSeconds_] {
            if (!record->isCurrent(number)) return;
            console->line("joined; waiting for the device's offer");
            queue->asyncAfter(seconds, saySilence);
        })
        .recover(reportStartFailure(number));
}

Promise<void> ClientActions::endSession() {
    record_->end();
    return disconnectReporting(console_, *client_);
}

bool ClientActions::canStart(const std::string& verb) {
    if (!sessionOn()) return true;
    console_.line(verb + ": refused, a session is on; type disconnect first to end it");
    return false;
}

bool ClientActions::canSend(const std::string& verb) {
    if (sessionOn()) return true;
    console_.line(verb + ": refused, no session is on; type session or join to start one");
    return false;
}

void ClientActions::screen() {
    console_.line(host_.shareScreen() ? "sharing the screen once connected" : "the screen is shared already");
}

void ClientActions::status() { console_.line(client_->isConnected() ? "connected" : "not connected"); }

}  // namespace quorvane::session
