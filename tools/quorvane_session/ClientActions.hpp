#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "Console.hpp"
#include "Sender.hpp"
#include "SessionEvents.hpp"
#include "SessionHost.hpp"
#include "ShellActions.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "quorvane/QuorvaneClient.hpp"

namespace quorvane::session {

/// Ends the client's session, telling the peer; prints the outcome once known.
Promise<void> disconnectReporting(Console& console, QuorvaneClient& client);

/// The session the shell started last, as far as the shell knows: shared with the handlers of its
/// start-up, which print nothing once it is no longer the current one.
class SessionRecord {
public:
    enum class State { none, starting, on };

    /// A new session starts, `disconnects` peer disconnects having been reported so far; returns
    /// its number.
    int start(int disconnects);
    /// The start-up of session `number` succeeded; true when it is the current one.
    bool establish(int number);
    /// The session ended: by the host, or because it could not be started.
    void end();
    /// Ends session `number` if it is the current one; true when it was.
    bool endIfCurrent(int number);
    /// True while session `number` is the last one started and has not been ended.
    bool isCurrent(int number) const;
    /// The current session's state, `disconnects` peer disconnects having been reported so far: a
    /// session the peer ended, or whose connection was lost, is over.
    State state(int disconnects) const;

private:
    bool isCurrentLocked(int number) const;

    mutable std::mutex mutex_;
    int number_ = 0;
    State state_ = State::none;
    int disconnectsBefore_ = 0;
};

/// The shell's commands carried out through the client; each prints what it did and, once known,
/// how it ended. One session at a time: starting one is refused while one is on, and sending
/// unless one is.
class ClientActions : public ShellActions {
public:
    /// `offerSeconds`: how long the agent waits for the device's offer before it says that none
    /// came (it goes on waiting).
    ClientActions(Console& console, SessionEvents& events, DispatchQueuePtr queue,
                  std::shared_ptr<QuorvaneClient> client, SessionHost& host, double offerSeconds)
        : console_(console),
          events_(events),
          queue_(std::move(queue)),
          client_(client),
          host_(host),
          offerSeconds_(offerSeconds),
          sender_(console, client) {}

    /// Creates a new session as the device; prints "PIN: " and its PIN, or why it failed.
    Promise<void> beginSession();
    /// Joins the session with `pin` as the agent; prints the outcome, and a line when the device's
    /// offer has not come within `offerSeconds`.
    Promise<void> joinSession(const std::string& pin);
    /// Ends the session, telling the peer; prints the outcome. A start-up still under way is
    /// stopped, and nothing more is printed of it.
    Promise<void> endSession();

    void chat(const std::string& text) override {
        if (canSend("chat")) (void)sender_.chat(text);
    }
    void notify(const std::string& text) override {
        if (canSend("notify")) (void)sender_.notify(text);
    }
    void command(const std::string& text, QVAcknowledgeOn acknowledgeOn, double timeout) override {
        if (canSend("command")) (void)sender_.command(text, acknowledgeOn, timeout);
    }
    void query(const std::string& text, double timeout) override {
        if (canSend("query")) (void)sender_.query(text, timeout);
    }
    void bytes(std::size_t size) override {
        if (canSend("bytes")) (void)sender_.bytes(size);
    }
    void file(const std::string& name, std::vector<std::uint8_t> bytes, double timeout) override {
        if (canSend("file")) (void)sender_.file(name, std::move(bytes), timeout);
    }
    void screen() override;
    void startSession() override {
        if (canStart("session")) (void)beginSession();
    }
    void join(const std::string& pin) override {
        if (canStart("join")) (void)joinSession(pin);
    }
    void status() override;
    void disconnect() override { (void)endSession(); }

private:
    SessionRecord::State sessionState() const { return record_->state(events_.snapshot().disconnects); }
    /// False, saying so, while a session is starting or on.
    bool canStart(const std::string& verb);
    /// False, saying so, unless a session is on.
    bool canSend(const std::string& verb);
    /// Prints why a start-up failed, unless it is no longer the current one, and passes the
    /// failure on.
    std::function<Promise<void>(std::exception_ptr)> reportStartFailure(int number);

    Console& console_;
    SessionEvents& events_;
    const DispatchQueuePtr queue_;
    const std::shared_ptr<QuorvaneClient> client_;
    SessionHost& host_;
    const double offerSeconds_;
    Sender sender_;
    const std::shared_ptr<SessionRecord> record_ = std::make_shared<SessionRecord>();
};

}  // namespace quorvane::session
