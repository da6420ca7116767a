#pragma once

#include <string>

#include "rest/HttpSession.hpp"

namespace quorvane {

/// The diagnostic lines of one completed request, each ending in a line feed: the method, a blank
/// and the URL; the HTTP status code, or "No response status code"; and, only when a body came
/// and is valid UTF-8, the body with its blank lines removed and the value of every "token" key
/// masked as "***" (to the end of the body when the value is cut off). Takes time linear in the
/// body's length whatever its shape.
std::string completionLines(const std::string& method, const std::string& url, const HttpResponse& response);

}  // namespace quorvane
