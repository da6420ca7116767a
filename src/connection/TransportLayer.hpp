#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quorvane/CameraFormat.hpp"
#include "quorvane/Promise.hpp"
#include "quorvane/ScreenFormat.hpp"
#include "quorvane/VideoStreamConfiguration.hpp"
#include "quorvane/WebRtcClientRole.hpp"
#include "rest/ConnectionInformation.hpp"
#include "rest/QuorvaneSession.hpp"

namespace quorvane {

class QuorvaneServices;
class SessionMetrics;
class TransportLayerDelegate;
class ZephLogger;

/// The transport of one support session, as the session client drives it: WebRtcClient in the
/// library, a paired in-memory fake in the session client's tests.
class TransportLayer {
public:
    virtual ~TransportLayer() = default;

    /// From now on reports go to `delegate` (held weakly); an empty pointer silences the
    /// transport: no report made after the call reaches the previous delegate.
    virtual void setDelegate(std::weak_ptr<TransportLayerDelegate> delegate) = 0;

    /// Offer side: resets the connection state (making a fresh peer connection), connects to
    /// signaling, opens the data channel and publishes the offer. Fulfilled once the offer is
    /// published.
    virtual Promise<void> connectAsOffer() = 0;
    /// Answer side: resets the connection state and connects to signaling; fulfilled once
    /// signaling is connected. The answer is made when the peer's offer arrives.
    virtual Promise<void> connectAsAnswer() = 0;
    /// Ends the session for good: with `sendDisconnect` and a peer connection, the disconnect
    /// signal goes to the peer first; the connection is closed and signaling reset in any case.
    /// When the signal fails or does not settle within the time-out, the promise is rejected with
    /// that failure after the local teardown, so the caller learns that the peer was not told. No
    /// peer connection is left behind. From the call on, every send is rejected, and so is every
    /// message still waiting to be written and every later connect. A reset asked for here raises
    /// no disconnect report.
    virtual Promise<void> resetState(bool sendDisconnect) = 0;

    /// Hands one application message to the data channel under the next 16-bit transport id.
    /// Fulfilled once every chunk of it is written (not when the peer acknowledges it); `metrics`,
    /// when given, counts the message after a successful send.
    virtual Promise<void> sendMessage(std::vector<std::uint8_t> data, std::uint16_t category,
                                      std::shared_ptr<SessionMetrics> metrics) = 0;

    /// True from the opening of the data channel until the next reset.
    virtual bool isConnected() const = 0;

    /// Records a camera stream; sets it up at once when the peer connection is connected.
    /// Always true.
    virtual bool addVideoStream(std::shared_ptr<VideoStreamConfiguration<CameraFormat>> configuration) = 0;
    /// Records the screen stream; false, and nothing else, when one was handed in before.
    virtual bool addScreenSharing(std::shared_ptr<VideoStreamConfiguration<ScreenFormat>> configuration) = 0;
};

/// What a session's transport is built from.
struct TransportLayerConfiguration {
    std::weak_ptr<TransportLayerDelegate> delegate;
    std::shared_ptr<QuorvaneServices> services;
    WebRtcClientRole role = WebRtcClientRole::offer;
    std::string username;  ///< the MQTT user name: the client's API key
    QuorvaneSession session;
    int timeout = 0;  ///< seconds: bounds connecting to signaling, a reconnect and the disconnect signal
    ConnectionInformation connectionInformation;
    std::shared_ptr<ZephLogger> logger;
};

/// Builds a session's transport; null when it cannot be built (for example when the broker
/// offers no usable port).
using TransportLayerFactory = std::function<std::shared_ptr<TransportLayer>(const TransportLayerConfiguration&)>;

/// The library's transport: a WebRtcClient. Defined with WebRtcClient.
std::shared_ptr<TransportLayer> makeWebRtcClient(const TransportLayerConfiguration& configuration);

}  // namespace quorvane
