#pragma once

#include <cstdint>
#include <fstream>
#include <string>

namespace quorvane::testing {

/// The resident memory of this process, in bytes: now, and at most since it started or since the
/// peak was last reset.
struct ResidentMemory {
    std::uint64_t now = 0;
    std::uint64_t peak = 0;

    static ResidentMemory read() {
        ResidentMemory memory;
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) memory.now = std::stoull(line.substr(6)) * 1024;
            if (line.rfind("VmHWM:", 0) == 0) memory.peak = std::stoull(line.substr(6)) * 1024;
        }
        return memory;
    }

    /// From now on, the peak counts from the present resident memory.
    static void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }
};

}  // namespace quorvane::testing
