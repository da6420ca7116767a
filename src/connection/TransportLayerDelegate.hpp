#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

namespace quorvane {

class CameraStreamController;
class ScreenCaptureController;

/// What the transport of a session (WebRtcClient) reports to its owner, the session client.
/// Reports are made on the thread of the code that raises them (the data channel's callback
/// thread, the message layer's queue, the signaling queue, the transport's own queue); the
/// receiver moves them to its own queues. The receiver is held weakly; a report is made only
/// while it is alive.
class TransportLayerDelegate {
public:
    virtual ~TransportLayerDelegate() = default;

    /// A whole application message arrived: its bytes, handed over, and its 16-bit transport id.
    virtual void transportLayerDidReceive(std::vector<std::uint8_t> data, std::uint16_t id) = 0;
    /// Another chunk of an incoming multi-chunk message arrived.
    virtual void transportLayerWillReceiveMessage(std::uint16_t id, std::uint16_t category,
                                                  std::uint16_t numChunksReceived, std::uint16_t totalChunks) = 0;
    /// An outgoing message was given up: the bytes given to sendMessage and its transport id.
    virtual void transportLayerFailedToSend(const std::vector<std::uint8_t>& data, std::uint16_t id) = 0;
    /// An incoming multi-chunk message was given up.
    virtual void transportLayerFailedToReceiveMessage(std::uint16_t id, std::uint16_t category) = 0;
    /// The data channel opened.
    virtual void transportLayerEstablishedConnection() = 0;
    /// The connection ended: `expected` is true when the peer sent its disconnect signal, false
    /// when a reconnect after a heartbeat time-out failed.
    virtual void transportLayerDidDisconnect(bool expected) = 0;
    /// The heartbeat timed out; the transport is about to reset and reconnect.
    virtual void transportLayerWillResetConnection() = 0;
    /// A camera stream started capturing; the controller is the one its container made.
    virtual void transportLayerAddedMediaStream(std::shared_ptr<CameraStreamController> controller) = 0;
    /// The screen stream started capturing.
    virtual void transportLayerAddedScreenCapture(std::shared_ptr<ScreenCaptureController> controller) = 0;
    /// A camera stream failed to start, with the container's own error.
    virtual void transportLayerFailedToAddMediaStream(std::exception_ptr error) = 0;
    /// The screen stream failed to start, with the container's own error.
    virtual void transportLayerFailedToAddScreenCapture(std::exception_ptr error) = 0;
};

}  // namespace quorvane
