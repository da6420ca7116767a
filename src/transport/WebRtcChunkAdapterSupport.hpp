#pragma once

// What the chunk adapter's source files share: the operation names of its log lines and its clock.

#include <limits>

#include "async/Clock.hpp"
#include "transport/WebRtcChunkAdapter.hpp"

namespace quorvane {

inline constexpr const char* sendOperation = "sendData";
inline constexpr const char* receiveOperation = "dataChannel didReceive";
inline constexpr const char* receivedMessageOperation = "dataChannel didReceiveMessageWith";

inline double now() { return Clock::current()->monotonic(); }

// A timestamp that never expires: a message whose frames are still in the channel is not timed out.
inline constexpr double whileInChannel = std::numeric_limits<double>::infinity();

}  // namespace quorvane
