// Stands in for the WebRTC transport until WebRtcClient is part of the library: until then no
// session transport can be built, and start-ups fail with "The data transfer client was not
// created". Remove this file when WebRtcClient defines makeWebRtcClient.

#include "connection/TransportLayer.hpp"

namespace quorvane {

std::shared_ptr<TransportLayer> makeWebRtcClient(const TransportLayerConfiguration&) { return nullptr; }

}  // namespace quorvane
