#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvane::rtc {

/// One STUN or TURN server; any field may be missing. A peer connection uses the URLs with the
/// user name and credential when all three are present, the URLs alone when either of the other
/// two is missing, and skips a server without URLs.
struct IceServer {
    std::optional<std::vector<std::string>> urls;
    std::optional<std::string> username;
    std::optional<std::string> credential;

    bool operator==(const IceServer&) const = default;
};

}  // namespace quorvane::rtc
