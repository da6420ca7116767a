#include "model/FormatSeconds.hpp"

#include <charconv>
#include <cmath>

namespace quorvane {

std::string formatSeconds(double seconds) {
    if (!std::isfinite(seconds)) return std::isnan(seconds) ? "nan" : (seconds > 0 ? "inf" : "-inf");
    char buffer[512];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed);
    std::string text(buffer, result.ptr);
    if (text.find('.') == std::string::npos) text += ".0";
    return text;
}

}  // namespace quorvane
