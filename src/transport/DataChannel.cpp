#include "transport/DataChannel.hpp"

namespace quorvane {

std::string_view toString(DataChannelState state) {
    switch (state) {
        case DataChannelState::connecting: return "connecting";
        case DataChannelState::open: return "open";
        case DataChannelState::closing: return "closing";
        case DataChannelState::closed: return "closed";
    }
    return "unknown";
}

}  // namespace quorvane
