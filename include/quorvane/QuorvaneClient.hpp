#pragma once

// The library's front door.
//
// A host application builds one QuorvaneClient with the REST service's base URL and API key, and
// then either creates a support session (initiateSupportSession, the "offer" side, which yields
// the PIN to pass on to the other person) or joins one by its PIN (connectToSupportSession, the
// "answer" side). The two devices then meet over signaling, open a peer connection and exchange
// notifications, commands and queries, while the device may share its cameras and its screen.
// Everything the client has to tell the host arrives through a QuorvaneDelegate.
//
//     class Host : public quorvane::QuorvaneDelegate {
//         void quorvaneDidConnect() override { /* the data channel is open */ }
//         void quorvaneDidReceiveQuery(const quorvane::QVQuery& query,
//                                      const quorvane::QVQueryContext& context) override {
//             context.respond(quorvane::QVTaggedData("text/plain", {'o', 'k'}), true);
//         }
//     };
//
//     auto host = std::make_shared<Host>();               // the host keeps its delegate alive
//     auto client = quorvane::QuorvaneClient::create("https://api.example.test", "key",
//                                                    /*retainLogs*/ true, /*timeout*/ 30,
//                                                    nullptr, host, nullptr);
//     std::string pin = client->initiateSupportSession().wait();
//     client->sendChat("hello", quorvane::DefaultTag::Chat().get(), quorvane::DefaultCategory::Chat().get());
//
// Threads. Every operation may be called from any thread and returns at once; none of them
// blocks on the network or on the peer. Results arrive as promises (see Promise.hpp: their
// continuations run on the queue they name, the main queue when they name none), reports as
// delegate calls on the host's dispatch queue.
//
// Lifetime. The host holds the client through the shared pointer create() returns. When the host's
// last copy goes (after disconnect or without it), the client is released at once, on that thread:
// after its last log line ("QuorvaneClient deinitialized") no call of the client's into the host
// begins any more, on any thread: no delegate report (not even the rest of a message whose first
// report the host let go in: a received message is reported by quorvaneDidReceiveMessage and then
// by its notification, command or query report), no Logger line, no part to a query's
// `onReceived`. A call of any of these still under way on another thread is waited for before the
// release returns (one under way on the releasing thread itself, a host that drops the client
// inside a report, returns after it); so the Logger, the delegate and `onReceived` must never wait
// for what the releasing thread may hold, such as a lock of the host's or a `sync` on the queue it
// releases the client on. Reports still on their way are dropped, and every command and query
// still waiting for an answer is rejected with QuorvaneError::failedToInitialize (title
// "Deinitialized"). The release does not wait for the network: the session's transport is
// released too and goes on closing in the background, and what it logs meanwhile is kept only in
// the client's own store. Every message still waiting in the transport is rejected with
// WebRTCError::channelClosed. The release neither ends the session's metrics nor uploads the logs
// (disconnect first to tell the peer). The one kind of host code that still runs after the
// release is a continuation attached to a promise: it runs as its promise settles, on the queue it
// names, and may use what it captured, but must not reach what the host destroys when it ends
// (capture what outlives that, or hold it weakly; a continuation that holds the client keeps it
// from being released). Handlers that can outlive an exchange (the completion of a received
// command, the handlers of a query context) do nothing once the client is gone.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "quorvane/CameraFormat.hpp"
#include "quorvane/DispatchQueue.hpp"
#include "quorvane/Logger.hpp"
#include "quorvane/Promise.hpp"
#include "quorvane/QVCommand.hpp"
#include "quorvane/QVNotification.hpp"
#include "quorvane/QVQuery.hpp"
#include "quorvane/QVQueryReceipt.hpp"
#include "quorvane/QuorvaneDelegate.hpp"
#include "quorvane/ScreenFormat.hpp"
#include "quorvane/VideoStreamConfiguration.hpp"

namespace quorvane {

/// One session client. Build it with create(); see the top of this header for an overview.
///
/// Errors. Promises are rejected with std::exception_ptr values holding one of these:
/// - QuorvaneError: failedToInitialize (a start-up could not build the session's transport, the
///   host disconnected during it, or the client was released during it or while a command or
///   query waited for its answer), commandTimedOut,
///   failedToSend ("command" or "query": the transport gave the message up after writing it),
///   invalidUsage (an argument the library cannot use: an empty PIN, a time-out that is not a
///   number, text that is not UTF-8), networkRequestFailed and the other errors of the REST
///   service.
/// - WebRTCError: notInitialized (no session has been started: nothing can be sent),
///   cannotFormData (a payload too large for one message, or a value that cannot be written as
///   JSON), channelClosed (the session has ended: see "Sending" below), and the transport's own
///   failures to hand a message over, such as connectionReset.
/// - QVError: the peer's error answer to a command or query (its status code and message), a
///   query's time-out (status code 500), "The session ended before the peer answered" (status code
///   0) for a command or query without a time-out, and some of the transport's failures to connect
///   (status code 0), such as "The session has ended" for a start-up the host's disconnect overtook.
class QuorvaneClient {
public:
    /// A new client; no request reaches the service yet.
    ///
    /// - `apiUrlBase`: the REST service's base URL, for example "https://api.example.test".
    /// - `apiKey`: sent with every request (header "x-api-key"); also the signaling user name.
    /// - `retainLogs`: keep the library's log entries in memory; they are uploaded to the service,
    ///   with the session's metrics, when a session ends.
    /// - `timeout`: in seconds, from 1 to 86400 (a day); it bounds each session's connection to
    ///   signaling, a reconnect after the peer went silent, and the disconnect signal. Any other
    ///   value throws std::invalid_argument, and no client is made.
    /// - `logger`: where log lines are printed; null prints them to standard output (PrintLogger).
    /// - `delegate`: receives every report; held weakly.
    /// - `dispatchQueue`: where reports are delivered; held weakly; null, or a queue the host has
    ///   released, means DispatchQueue::main().
    ///
    /// The host must keep both `delegate` and `dispatchQueue` alive itself: the client does not.
    /// While the delegate is gone reports are dropped; once the queue is gone they fall back to
    /// the main queue.
    static std::shared_ptr<QuorvaneClient> create(std::string apiUrlBase, std::string apiKey, bool retainLogs,
                                                  int timeout, std::shared_ptr<Logger> logger,
                                                  const std::shared_ptr<QuorvaneDelegate>& delegate,
                                                  const DispatchQueuePtr& dispatchQueue);

    virtual ~QuorvaneClient() = default;
    QuorvaneClient(const QuorvaneClient&) = delete;
    QuorvaneClient& operator=(const QuorvaneClient&) = delete;

    // --- Reports and logging --------------------------------------------------------------------

    /// The receiver of reports, or null when none is set or it has been released.
    virtual std::shared_ptr<QuorvaneDelegate> delegate() const = 0;
    /// Reports that have not run yet go to the new delegate. Held weakly.
    virtual void setDelegate(const std::shared_ptr<QuorvaneDelegate>& delegate) = 0;
    /// The queue reports are delivered on, or null when none is set or it has been released (the
    /// main queue is then used).
    virtual DispatchQueuePtr dispatchQueue() const = 0;
    /// Reports made from now on are delivered on `queue`. Held weakly.
    virtual void setDispatchQueue(const DispatchQueuePtr& queue) = 0;
    /// Where log lines are printed; null when printing is off.
    virtual std::shared_ptr<Logger> logger() const = 0;
    /// Later log lines print through `logger`; null turns printing off (entries are still kept
    /// when logs are retained).
    virtual void setLogger(std::shared_ptr<Logger> logger) = 0;

    // --- Sessions -------------------------------------------------------------------------------

    /// Creates a new session and starts connecting to it as the offer side. Fulfilled with the
    /// session's PIN as soon as the transport has been built and its connection started, before
    /// the peer has joined: the connection's outcome arrives through the delegate
    /// (quorvaneDidConnect, or quorvaneDidDisconnect(false) when it cannot be made; like every
    /// quorvaneDidDisconnect, that ends the session's metrics and uploads its logs). Rejected with
    /// the REST service's error, or with QuorvaneError::failedToInitialize when the transport
    /// cannot be built or the host disconnects before it is (title "Disconnected": nothing is then
    /// built or connected). Camera and screen streams added so far are handed to the new transport.
    ///
    /// A client may start any number of sessions, one after the other: a new start-up replaces
    /// the previous session's transport, which is reset without telling its peer and from then on
    /// reports nothing; messages it had not written yet are rejected with
    /// WebRTCError::channelClosed. Commands and queries waiting for an answer keep waiting until
    /// their time-outs; those sent without one are rejected (see "Sending").
    virtual Promise<std::string> initiateSupportSession() = 0;

    /// Joins the session with this PIN as the answer side. Fulfilled once the transport has
    /// connected to signaling (the peer connection follows when the offer arrives; then
    /// quorvaneDidConnect). Rejected with QuorvaneError::invalidUsage for an empty PIN (nothing
    /// else happens then), with the REST service's error (for example for an unknown PIN), with
    /// QuorvaneError::failedToInitialize (as for initiateSupportSession, a disconnect before the
    /// transport is built included), or with the transport's failure to connect.
    virtual Promise<void> connectToSupportSession(const std::string& pin) = 0;

    /// Ends the current session for good. From the call on every send is rejected, and so is every
    /// message not yet written (see "Sending"). With `sendDisconnect` the peer is told first (it
    /// then sees quorvaneDidDisconnect(true)); the connection is closed in any case, also when
    /// telling the peer fails or takes longer than the client's time-out: the promise is then
    /// rejected with that failure once the connection is closed. A start-up still under way is
    /// stopped (its promise is rejected, see initiateSupportSession); without a transport the
    /// promise is fulfilled at once. The host gets no quorvaneDidDisconnect for its own
    /// disconnect, and the session's logs are not uploaded for it. A later start-up makes a new
    /// session.
    virtual Promise<void> disconnect(bool sendDisconnect) = 0;

    /// True while the current session's data channel is open.
    virtual bool isConnected() const = 0;

    /// Adds a camera stream. It is kept for every later session and handed at once to the current
    /// session's transport, if there is one; capture starts once the peer connection is up and is
    /// reported through quorvaneStartedVideoCapture. Returns the transport's answer while
    /// connected, else true.
    virtual bool addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) = 0;

    /// Adds the screen stream: a client shares its screen at most once in its life, so every call
    /// after the first returns false and does nothing. Otherwise as addVideoStream, reported
    /// through quorvaneStartedScreenCapture.
    virtual bool addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) = 0;

    // --- Sending --------------------------------------------------------------------------------
    //
    // Every sender needs a started session (else it fails with WebRTCError::notInitialized) and
    // refuses with WebRTCError::cannotFormData a payload too large for one message (tag and data
    // together close to 65535 x 15360 bytes). The message's own id() is not sent: each message
    // gets a fresh id on the wire. Time-outs are in seconds: a negative one counts as 0, an
    // infinite one, or one of a billion seconds (some 31 years) or more, as none at all (the command
    // or query then waits for its answer or its session's end, and holds no timer), and one that is
    // not a number is refused with QuorvaneError::invalidUsage before anything is sent; error texts
    // show the value as given. A command's or query's timer goes as soon as it is settled.
    //
    // Once the session has ended for good (the host's disconnect, the peer's disconnect, or a
    // reconnect after the peer went silent that failed), every send to it is rejected at once with
    // WebRTCError::channelClosed ("The data channel is closed"), and so is every message that was
    // still waiting to be written. A message the transport has written but the peer has not
    // acknowledged is not reported again: its command or query ends with its time-out, or, sent
    // without one (an infinite time-out), at once with QVError "The session ended before the peer
    // answered" (status code 0), since no answer can come any more. The session ends so also when a
    // new start-up replaces its transport. A command or query belongs to the session it was sent
    // in: only that session's end settles it so, also when it was sent while a new start-up was
    // installing its transport.
    //
    // Across a reset of the connection, a rejection is final: a message whose send is rejected
    // never reaches the peer. A short message (up to 15360 bytes with its envelope) that could not
    // be written at the reset is written on the next connection, and its send waits for that. A
    // larger message cut off by the reset is given up and its send rejected.

    /// Sends a notification. Fulfilled once the transport has written all of it to the
    /// connection; rejected when the transport gives it up before that.
    virtual Promise<void> sendNotification(QVNotification notification) = 0;

    /// Sends a command. Fulfilled when the peer acknowledges it (at once or once it has carried it
    /// out, as the command's acknowledgeOn() asks). Rejected with the peer's QVError, with
    /// QuorvaneError::failedToSend("command"), with the transport's error when it cannot take the
    /// message, or with QuorvaneError::commandTimedOut once `timeout` seconds have passed since it
    /// was sent, also while the transport still holds it.
    virtual Promise<void> sendCommand(QVCommand command, double timeout) = 0;

    /// Sends a query. Each part of the answer reaches `onReceived` (on the client's internal
    /// queue: return quickly, and do not wait there for anything the client must do), the last
    /// one with isLastMessage true; the receipt's promise is then fulfilled. From the release on
    /// no part reaches it (see "Lifetime"), and the receipt is rejected. The time-out measures
    /// the silence since the query was sent or since its last part, so an answer in several parts
    /// may take longer in total. The receipt is rejected with the peer's QVError, with a QVError
    /// of status code 500 when the time-out passes (also while the transport still holds the
    /// query), with QuorvaneError::failedToSend("query") when the transport gives it up after
    /// writing it, or with the transport's own error (a WebRTCError) when it cannot take it; after
    /// that no later part reaches `onReceived`.
    virtual QVQueryReceipt sendQuery(QVQuery query, double timeout, QVQueryReceipt::Handler onReceived) = 0;

    /// Sends raw bytes as a notification with the given tag and category.
    virtual Promise<void> sendBytes(std::vector<std::uint8_t> data, std::string tag, std::uint16_t category) = 0;

    /// Sends a line of chat as a notification of its UTF-8 bytes. Rejected with
    /// QuorvaneError::invalidUsage when `text` is not valid UTF-8.
    virtual Promise<void> sendChat(const std::string& text, std::string tag, std::uint16_t category) = 0;

    /// Sends a line of log text; the same as sendChat.
    virtual Promise<void> sendLog(const std::string& text, std::string tag, std::uint16_t category) = 0;

    /// Sends any value that nlohmann::json can hold (through its to_json) as a notification of its
    /// compact JSON text. Rejected with WebRTCError::cannotFormData when the conversion throws, or
    /// when the value holds a number that is not finite or a text that is not valid UTF-8.
    template <class T>
    Promise<void> sendEncodable(const T& encodable, std::string tag, std::uint16_t category) {
        nlohmann::json json;
        try {
            json = encodable;
        } catch (...) {
            return sendJson(nullptr, std::move(tag), category);
        }
        return sendJson(&json, std::move(tag), category);
    }

    // --- Defaults for the host's own use --------------------------------------------------------

    /// Sets DefaultCategory::Bytes() and DefaultTag::Bytes(), for every client of the process. The
    /// library itself never reads the defaults: senders use the tag and category they are given.
    static void setByteDefaults(std::uint16_t category, std::string tag);
    /// Sets DefaultCategory::Log() and DefaultTag::Log().
    static void setLogDefaults(std::uint16_t category, std::string tag);
    /// Sets DefaultCategory::Object() and DefaultTag::Object().
    static void setObjectDefaults(std::uint16_t category, std::string tag);

protected:
    QuorvaneClient() = default;

    /// sendEncodable's second half: `json` null stands for a conversion that failed.
    virtual Promise<void> sendJson(const nlohmann::json* json, std::string tag, std::uint16_t category) = 0;
};

}  // namespace quorvane
