#include "ClientActions.hpp"

#include <cmath>

#include "Payloads.hpp"
#include "Text.hpp"

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
    state_ = State::starting;
    disconnectsBefore_ = disconnects;
    return ++number_;
}

bool SessionRecord::isCurrentLocked(int number) const { return state_ != State::none && number == number_; }

bool SessionRecord::establish(int number) {
    std::lock_guard lock(mutex_);
    const bool current = isCurrentLocked(number);
    if (current) state_ = State::on;
    return current;
}

void SessionRecord::end() {
    std::lock_guard lock(mutex_);
    state_ = State::none;
}

bool SessionRecord::endIfCurrent(int number) {
    std::lock_guard lock(mutex_);
    const bool current = isCurrentLocked(number);
    if (current) state_ = State::none;
    return current;
}

bool SessionRecord::isCurrent(int number) const {
    std::lock_guard lock(mutex_);
    return isCurrentLocked(number);
}

SessionRecord::State SessionRecord::state(int disconnects) const {
    std::lock_guard lock(mutex_);
    return disconnects == disconnectsBefore_ ? state_ : State::none;
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
            if (record->establish(number)) console->line("PIN: " + shown(pin));
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
            if (!record->establish(number)) return;
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
    if (sessionState() == SessionRecord::State::none) return true;
    console_.line(verb + ": refused, a session is on; type disconnect first to end it");
    return false;
}

bool ClientActions::canSend(const std::string& verb) {
    switch (sessionState()) {
        case SessionRecord::State::on: return true;
        case SessionRecord::State::starting: console_.line(verb + ": refused, the session is still starting"); break;
        case SessionRecord::State::none:
            console_.line(verb + ": refused, no session is on; type session or join to start one");
            break;
    }
    return false;
}

void ClientActions::screen() {
    if (auto refusal = host_.shareScreen()) return console_.line(*refusal);
    console_.line(client_->isConnected() ? "sharing the screen" : "sharing the screen once connected");
}

void ClientActions::status() { console_.line(client_->isConnected() ? "connected" : "not connected"); }

}  // namespace quorvane::session
