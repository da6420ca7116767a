#include "client/LogTexts.hpp"

#include <charconv>

namespace quorvane {

std::string formatPercent(float percent) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, percent, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (text.find('.') == std::string::npos) text += ".0";
    return text;
}

}  // namespace quorvane
