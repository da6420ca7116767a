#pragma once

#include <string>

namespace quorvane::session {

/// The program's command line.
struct Options {
    enum class Role { device, agent };

    Role role = Role::device;
    std::string url;
    std::string apiKey;
    std::string pin;  ///< agent only
    bool script = false;
    int timeout = 30;
    bool retainLogs = true;
    bool verbose = false;
    std::string saveFolder;
};

extern const char* const usage;

/// Reads the command line; throws std::invalid_argument with the reason when it is not usable.
/// Sets `help` instead when help was asked for.
Options parseOptions(int argc, char** argv, bool& help);

}  // namespace quorvane::session
