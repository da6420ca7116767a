#pragma once

#include <string_view>

namespace quorvane {

/// The role of a session description handed to signaling. Only offers and answers are sent.
enum class SdpType { offer, prAnswer, answer, rollback };

/// "offer", "pranswer", "answer" or "rollback".
std::string_view textValue(SdpType type);

}  // namespace quorvane
