#include "signaling/SdpType.hpp"

namespace quorvane {

std::string_view textValue(SdpType type) {
    switch (type) {
        case SdpType::offer: return "offer";
        case SdpType::prAnswer: return "pranswer";
        case SdpType::answer: return "answer";
        case SdpType::rollback: return "rollback";
    }
    return "";
}

}  // namespace quorvane
