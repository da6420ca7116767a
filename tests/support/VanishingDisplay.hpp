#pragma once

#include <memory>
#include <string>

namespace quorvane::testing {

class XvfbDisplay;

/// An X display that the test makes go away while it is in use.
class VanishingDisplay {
public:
    enum class Way {
        /// Its Xvfb is killed; the display is the process's own (XvfbDisplay::ownName), so that
        /// no other test's server takes its place.
        serverKilled,
        /// It is reached over TCP on 127.0.0.1, as SSH's X forwarding gives, through a forwarder
        /// to a local Xvfb; the forwarder stops, closing every connection through it.
        forwardingStopped,
    };

    explicit VanishingDisplay(Way way);
    ~VanishingDisplay();
    VanishingDisplay(const VanishingDisplay&) = delete;
    VanishingDisplay& operator=(const VanishingDisplay&) = delete;

    /// The name for DISPLAY; empty when the display did not start.
    const std::string& name() const { return name_; }
    /// Makes the display go away, as its Way says.
    void goAway();

    static const char* nameOf(Way way) { return way == Way::serverKilled ? "ServerKilled" : "ForwardingStopped"; }

private:
    class Forwarder;

    std::unique_ptr<XvfbDisplay> server_;
    std::unique_ptr<Forwarder> forwarder_;
    std::string name_;
};

}  // namespace quorvane::testing
