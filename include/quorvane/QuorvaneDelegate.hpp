#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "quorvane/CameraStreamController.hpp"
#include "quorvane/QVCommand.hpp"
#include "quorvane/QVCommandContext.hpp"
#include "quorvane/QVNotification.hpp"
#include "quorvane/QVQuery.hpp"
#include "quorvane/QVQueryContext.hpp"
#include "quorvane/ScreenCaptureController.hpp"

namespace quorvane {

/// What a QuorvaneClient reports to its host. Every method has an empty default body: override
/// only what you need.
///
/// Delivery: reports are always asynchronous, never made from inside a call of yours into the
/// client. Each runs on the dispatch queue the host gave the client, or on DispatchQueue::main()
/// when it gave none or that queue has been released. The delegate is read when the report runs;
/// when none is set (or it has been released) the report is dropped. On a serial queue the
/// reports arrive in the order the client made them.
///
/// The client holds the delegate weakly: the host keeps it alive for as long as it wants reports.
///
/// An exception thrown from one of these methods does not reach the library: it is caught and
/// logged at error level with the method's name, and later reports are delivered as usual. When
/// quorvaneDidReceiveCommand() throws for a command that waits for its completion, the peer is
/// answered with an error: the thrown error's status code and message when it is a
/// QVErrorResponse, else status code 500. When quorvaneDidReceiveQuery() throws, the query is
/// failed the same way, unless it was already answered.
class QuorvaneDelegate {
public:
    virtual ~QuorvaneDelegate() = default;

    /// A notification arrived. Its id() is the transport's number of the received message.
    virtual void quorvaneDidReceiveNotification(const QVNotification& notification) { (void)notification; }

    /// A command arrived. Settle it through `context`: complete() acknowledges it, error() answers
    /// the peer with the error. For a command sent with QVAcknowledgeOn::received the library has
    /// already acknowledged it and `context` is already completed; settling it again sends nothing.
    /// Copies of the context share one completion: only the first settlement is sent.
    virtual void quorvaneDidReceiveCommand(const QVCommand& command, const QVCommandContext& context) {
        (void)command;
        (void)context;
    }

    /// A query arrived. Answer it through `context`, in one or several parts (the last one with
    /// isLastMessage true), or fail it with error(). Once the last part or an error has been sent,
    /// further calls on the context send nothing. The context may be kept and answered later, from
    /// any thread.
    virtual void quorvaneDidReceiveQuery(const QVQuery& query, const QVQueryContext& context) {
        (void)query;
        (void)context;
    }

    /// Another chunk of a large incoming message arrived: its transport id, its category, the
    /// chunks received so far and the total.
    virtual void quorvaneWillReceiveMessage(std::uint16_t id, std::uint16_t category, std::uint16_t numChunksReceived,
                                            std::uint16_t totalChunks) {
        (void)id;
        (void)category;
        (void)numChunksReceived;
        (void)totalChunks;
    }

    /// A large incoming message was given up by the transport.
    virtual void quorvaneFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) {
        (void)id;
        (void)category;
    }

    /// The data channel to the peer opened; also after every reconnect.
    virtual void quorvaneDidConnect() {}

    /// The session's connection ended: `expected` is true when the peer ended the session in
    /// order, false when the connection was lost for good (a reconnect failed, or the offer side
    /// could not connect). A disconnect the host asked for is not reported.
    virtual void quorvaneDidDisconnect(bool expected) { (void)expected; }

    /// The connection went silent; the library is about to reset and reconnect it.
    virtual void quorvaneWillResetConnection() {}

    /// Every well-formed application message that arrived with an id: its bytes and the name of its
    /// kind ("Notification", "Command", "Query", "Command Acknowledgement", "Query Response", or
    /// "Invalid" for an unknown kind). It comes before the typed report of the same message, except
    /// for a part of the answer to a pending query: the query's handler is lent that part out of
    /// these very bytes, and this report follows once the handler has returned.
    virtual void quorvaneDidReceiveMessage(const std::vector<std::uint8_t>& data, const std::string& type) {
        (void)data;
        (void)type;
    }

    /// Never called by the library.
    virtual void quorvaneWillSend(const std::vector<std::uint8_t>& data, const std::string& type) {
        (void)data;
        (void)type;
    }

    /// A camera stream started capturing; drive it through `controller`. Reported again, with a
    /// new controller, each time the connection is re-established.
    virtual void quorvaneStartedVideoCapture(std::shared_ptr<CameraStreamController> controller) {
        (void)controller;
    }

    /// The screen stream started capturing; drive it through `controller`.
    virtual void quorvaneStartedScreenCapture(std::shared_ptr<ScreenCaptureController> controller) {
        (void)controller;
    }

    /// A camera stream could not start; `error` is the capturer's own error.
    virtual void quorvaneFailedToStartVideoCapture(std::exception_ptr error) { (void)error; }

    /// The screen stream could not start, or its capture ended by itself once started (its
    /// display went away); `error` is the recorder's own error.
    virtual void quorvaneFailedToStartScreenCapture(std::exception_ptr error) { (void)error; }
};

}  // namespace quorvane
