#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/QuorvaneClientDependencies.hpp"
#include "connection/TransportLayer.hpp"
#include "connection/TransportLayerDelegate.hpp"
#include "log/ClassLogger.hpp"
#include "quorvane/QuorvaneClient.hpp"
#include "util/BackgroundTimer.hpp"
#include "util/HostCallGate.hpp"

namespace quorvane {

class DataChannelMessageView;
class NetworkStatus;
class QuorvaneServices;
class SessionMetrics;
class ZephLogger;

/// Where a received message's tagged data lies in its bytes.
struct PayloadSpot {
    std::string tag;
    std::size_t offset = 0;
    std::size_t size = 0;
};

/// The session client behind the public QuorvaneClient: start-up and shut-down of sessions, the
/// transport's reports, the send and receive roads of application messages and their pending
/// tables.
///
/// Release. The host holds the client through a handle of its own (see makeQuorvaneClient): when
/// its last reference goes, release() cuts the client off from the host, while work the client
/// has queued may still hold it for a while.
///
/// Threads. Fields read from several threads (the delegate, the dispatch queue, the transport and
/// the queued stream configurations) are guarded by `mutex_`, which is never held while
/// calling out: a snapshot is taken and handed on. The pending tables are touched only on
/// `internalQueue_`, which also builds every outgoing message but a query response (written on
/// the host's thread, where the host's bytes are) and runs the receive road.
class QuorvaneClientImpl final : public QuorvaneClient,
                                 public TransportLayerDelegate,
                                 public std::enable_shared_from_this<QuorvaneClientImpl> {
public:
    QuorvaneClientImpl(std::string apiUrlBase, std::string apiKey, bool retainLogs, int timeout,
                       std::shared_ptr<Logger> logger, const std::shared_ptr<QuorvaneDelegate>& delegate,
                       const DispatchQueuePtr& dispatchQueue, QuorvaneClientDependencies dependencies);

    /// The host has let go of the client: logs "QuorvaneClient deinitialized", then shuts the
    /// host's delegate, its query part handlers and its logger out for good (a call of any of them
    /// still under way on another thread is waited for) and rejects every pending command and
    /// query. The session's transport goes on closing without reaching the host.
    void release();

    std::shared_ptr<QuorvaneDelegate> delegate() const override;
    void setDelegate(const std::shared_ptr<QuorvaneDelegate>& delegate) override;
    DispatchQueuePtr dispatchQueue() const override;
    void setDispatchQueue(const DispatchQueuePtr& queue) override;
    std::shared_ptr<Logger> logger() const override;
    void setLogger(std::shared_ptr<Logger> logger) override;

    Promise<std::string> initiateSupportSession() override;
    Promise<void> connectToSupportSession(const std::string& pin) override;
    Promise<void> disconnect(bool sendDisconnect) override;
    bool isConnected() const override;
    bool addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) override;
    bool addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) override;

    Promise<void> sendNotification(QVNotification notification) override;
    Promise<void> sendCommand(QVCommand command, double timeout) override;
    QVQueryReceipt sendQuery(QVQuery query, double timeout, QVQueryReceipt::Handler onReceived) override;
    Promise<void> sendBytes(std::vector<std::uint8_t> data, std::string tag, std::uint16_t category) override;
    Promise<void> sendChat(const std::string& text, std::string tag, std::uint16_t category) override;
    Promise<void> sendLog(const std::string& text, std::string tag, std::uint16_t category) override;

    void transportLayerDidReceive(std::vector<std::uint8_t> data, std::uint16_t id) override;
    void transportLayerWillReceiveMessage(std::uint16_t id, std::uint16_t category, std::uint16_t numChunksReceived,
                                          std::uint16_t totalChunks) override;
    void transportLayerFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) override;
    void transportLayerFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) override;
    void transportLayerEstablishedConnection() override;
    void transportLayerDidDisconnect(bool expected) override;
    void transportLayerWillResetConnection() override;
    void transportLayerAddedMediaStream(std::shared_ptr<CameraStreamController> controller) override;
    void transportLayerAddedScreenCapture(std::shared_ptr<ScreenCaptureController> controller) override;
    void transportLayerFailedToAddMediaStream(std::exception_ptr error) override;
    void transportLayerFailedToAddScreenCapture(std::exception_ptr error) override;

protected:
    Promise<void> sendJson(const nlohmann::json* json, std::string tag, std::uint16_t category) override;

private:
    using Bytes = std::vector<std::uint8_t>;
    using CameraConfiguration = std::shared_ptr<VideoStreamConfiguration<CameraFormat>>;
    using ScreenConfiguration = std::shared_ptr<VideoStreamConfiguration<ScreenFormat>>;
    /// Writes one message, given its fresh id and timestamp.
    using Build = std::function<Bytes(const std::string& id, std::uint32_t timestamp)>;

    /// What a start-up has built once the REST service has answered.
    struct StartedSession {
        std::shared_ptr<TransportLayer> transport;
        QuorvaneSession session;
    };
    /// The transport a send goes to, and the session it belongs to.
    struct Sending {
        std::shared_ptr<TransportLayer> transport;
        std::uint64_t session = 0;
    };
    struct PendingCommand {
        Resolver<void> resolver;
        std::uint64_t serial;   // tells entries under a repeated id apart
        std::uint64_t session;  // the session it was sent in
        bool untimed;           // sent without a time-out: its session's end settles it
        std::unique_ptr<BackgroundTimer> timer = nullptr;  // its time-out; none when untimed
    };
    /// Commands waiting for their answer, by message id; an answer settles the latest sent under it.
    using PendingCommands = std::multimap<std::string, PendingCommand>;
    struct PendingQuery {
        QVQueryReceipt receipt;
        double wait;            // the time-out as waited for
        double timeout;         // the time-out as the host gave it, for the error text
        std::uint64_t session;  // the session it was sent in
        bool untimed;           // sent without a time-out: its session's end settles it; no timer
        std::uint64_t timerGeneration = 0;  // tells an expiry whether its timer is still current
        std::shared_ptr<BackgroundTimer> timer = nullptr;
    };

    // --- Start-up and shut-down (QuorvaneClientImpl.cpp) ------------------------------------------

    /// Both sides' start-up once the session record is known: fetches the connection information
    /// and builds the transport. Holds the client weakly. A disconnect of the host's before the
    /// transport is installed stops it: nothing is installed and the start-up is rejected.
    Promise<StartedSession> startTransport(Promise<QuorvaneSession> session, WebRtcClientRole role);
    /// Builds the transport, installs it in place of the previous one (which is detached and reset
    /// without a signal) and hands it the queued stream configurations. Throws when the host has
    /// disconnected since `disconnects` were counted.
    std::shared_ptr<TransportLayer> installTransport(WebRtcClientRole role, const QuorvaneSession& session,
                                                     const ConnectionInformation& information,
                                                     std::uint64_t disconnects);
    /// Reports a failed connect of the offer side, unless the transport was replaced or the host
    /// disconnected it meanwhile.
    void offerConnectFailed(const std::shared_ptr<TransportLayer>& transport, const std::exception_ptr& error);
    /// disconnect() without stopping a start-up under way: resets the current transport.
    Promise<void> closeSession(bool sendDisconnect);
    void endSession();
    /// Once session `ended` is over no answer can come: the commands and queries sent in it (or
    /// earlier) without a time-out are rejected; the others end with their time-outs, and what was
    /// sent in a later session waits for that session's end.
    void settleUntimedWaits(std::uint64_t ended);
    /// Rejects with `error` the pending commands and queries: those sent without a time-out in
    /// session `ended` or before it, or all of them when no session is given; on the internal queue.
    void settleWaits(const std::exception_ptr& error, std::optional<std::uint64_t> ended);
    std::shared_ptr<TransportLayer> transport() const;
    Sending sending() const;
    std::uint64_t disconnectsSoFar() const;

    /// Runs `call` with the delegate on the host's dispatch queue (the main queue when it is gone),
    /// holding the client until it has run. Without a delegate nothing happens. An exception from
    /// `call` is logged under `method` and handed to `onThrow`.
    void deliver(const char* method, std::function<void(QuorvaneDelegate&)> call,
                 std::function<void(std::exception_ptr)> onThrow = {});
    /// The host's dispatch queue, the main queue when it is gone.
    DispatchQueuePtr hostQueue() const;
    /// `call` with `delegate` as deliver() runs it; nothing when `delegate` is null.
    void callHost(QuorvaneDelegate* delegate, const char* method, const std::function<void(QuorvaneDelegate&)>& call,
                  const std::function<void(std::exception_ptr)>& onThrow) const;
    /// Runs a host handler; an exception is logged under `method` and returned.
    std::exception_ptr runHostCode(const char* method, const std::function<void()>& code) const;

    // --- Send road (QuorvaneClientSend.cpp) -----------------------------------------------------

    /// The common road: on the internal queue, builds the message with a fresh id, lets `built`
    /// record it, and hands it to `transport`.
    Promise<void> send(const std::shared_ptr<TransportLayer>& transport, std::uint16_t category, Build build,
                       std::function<void(const std::string& id)> built = {});
    /// The same, for a caller already running on the internal queue.
    Promise<void> buildAndHandOver(const std::shared_ptr<TransportLayer>& transport, std::uint16_t category,
                                   const Build& build, const std::function<void(const std::string& id)>& built);
    Promise<void> sendCommandAcknowledgement(const std::string& id, std::uint16_t category,
                                             const QVErrorResponse* error);
    Promise<void> sendQueryResponse(const std::string& id, std::uint16_t category, const QVTaggedData& data,
                                    bool isLastMessage, const QVErrorResponse* error);
    /// The command pending under `id` that `serial` names, or without one the latest sent under
    /// `id`; end() when there is none.
    PendingCommands::iterator pendingCommand(const std::string& id, std::optional<std::uint64_t> serial = std::nullopt);
    /// Rejects the pending command under `id` (the one `serial` names, else the latest) with
    /// `error` and removes it with its timer.
    void failCommand(const std::string& id, std::optional<std::uint64_t> serial, const std::exception_ptr& error);
    void armQueryTimer(const std::string& id, PendingQuery& query);
    void queryExpired(const std::string& id, std::uint64_t timerGeneration);
    /// Rejects the pending query under `id` with `error` and removes it with its timer.
    void failQuery(const std::string& id, const std::exception_ptr& error);
    Promise<void> sendText(const std::string& text, std::string tag, std::uint16_t category);

    // --- Receive road (QuorvaneClientReceive.cpp) -----------------------------------------------

    /// A received message on its way to the host: its bytes, which the host's report of them
    /// shares, and the name of its kind.
    struct Received {
        std::shared_ptr<Bytes> bytes;
        std::string kind;
    };
    /// What follows the host's report of a message's bytes: the delegate (null when there is none)
    /// and the tagged data.
    using AfterReport = std::function<void(QuorvaneDelegate* delegate, QVTaggedData data)>;

    void receive(Bytes data, std::uint16_t id);
    /// In one step on the host's queue: the host's report of the message's bytes, then `then`, given
    /// with a payload, with the tagged data at `payload`, made of the message's buffer in place.
    /// With a payload, nothing on the internal queue reads the bytes any more once this is called.
    void reportReceived(Received message, std::optional<PayloadSpot> payload = std::nullopt, AfterReport then = {});
    /// reportReceived, followed by the host's typed report: `call` with the tagged data, as
    /// deliver() runs it.
    void deliverReceived(Received message, PayloadSpot payload, const char* method,
                         std::function<void(QuorvaneDelegate&, QVTaggedData)> call,
                         std::function<void(std::exception_ptr)> onThrow = {});
    void receiveNotification(Received message, const DataChannelMessageView& view, std::uint16_t id);
    void receiveCommand(Received message, const DataChannelMessageView& view, const std::string& messageId,
                        std::uint16_t id);
    void receiveQuery(Received message, const DataChannelMessageView& view, const std::string& messageId,
                      std::uint16_t id);
    void receiveCommandAcknowledgement(const DataChannelMessageView& message);
    /// Reports the message to the host, and feeds a part of an answer to its pending query: the
    /// part is lent to the receipt's handler out of the message's buffer, which is reported after.
    void receiveQueryResponse(Received message, const DataChannelMessageView& view);
    void sendFailed(const Bytes& data);
    /// The context of a received query; it answers at most once with a last part or an error.
    QVQueryContext makeQueryContext(const std::string& messageId, std::uint16_t category);

    // --- Fields ---------------------------------------------------------------------------------

    const std::shared_ptr<ZephLogger> internalLogger_;
    const ClassLogger log_;
    const std::shared_ptr<NetworkStatus> networkStatus_;
    const std::shared_ptr<QuorvaneServices> services_;
    const std::shared_ptr<SessionMetrics> sessionMetrics_;
    const DispatchQueuePtr internalQueue_;
    const DispatchQueuePtr logUploadQueue_;  // the upload at a session's end is prepared here
    const std::string username_;
    const int timeout_;
    const TransportLayerFactory makeTransport_;
    const std::function<std::string()> makeMessageId_;
    HostCallGate reports_;  // every call of the delegate and of a query's part handler passes through it

    mutable std::mutex mutex_;  // guards the fields below; never held while calling out
    std::weak_ptr<QuorvaneDelegate> delegate_;
    std::weak_ptr<DispatchQueue> dispatchQueue_;
    std::shared_ptr<TransportLayer> messages_;
    std::uint64_t session_ = 0;        // counts the transports installed: the session of `messages_`
    bool disconnectedByHost_ = false;  // the host asked to disconnect `messages_`
    std::uint64_t disconnects_ = 0;    // the host's disconnects: a start-up begun before one stops
    std::vector<CameraConfiguration> mediaStreams_;
    ScreenConfiguration screenCaptureInitializer_;

    // Touched on internalQueue_ only.
    PendingCommands pendingCommands_;
    std::map<std::string, PendingQuery> pendingQueries_;
    std::uint64_t nextSerial_ = 0;
};

}  // namespace quorvane
