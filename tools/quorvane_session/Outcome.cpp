#include "Outcome.hpp"

#include <cstdio>

#include "Payloads.hpp"

namespace quorvane::session {

std::string Outcome::describe() const {
    char text[64];
    if (!settled) {
        std::snprintf(text, sizeof text, "still pending after %.1f s", seconds);
        return text;
    }
    if (error) return describeError(error);
    std::snprintf(text, sizeof text, "fulfilled after %.2f s", seconds);
    return text;
}

}  // namespace quorvane::session
