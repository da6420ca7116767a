#pragma once

#include <cstdint>

#include "quorvane/SharedDefault.hpp"

namespace quorvane {

/// The process-wide default categories that the host takes when it builds messages. The library
/// reads none of them itself; QuorvaneClient's setters write Bytes, Log and Object.
class DefaultCategory {
public:
    static SharedDefault<std::uint16_t>& Chat();    ///< initially 1 (QVCategory::Chat)
    static SharedDefault<std::uint16_t>& Bytes();   ///< initially 0 (QVCategory::Default)
    static SharedDefault<std::uint16_t>& Log();     ///< initially 2 (QVCategory::Log)
    static SharedDefault<std::uint16_t>& Object();  ///< initially 0 (QVCategory::Default)
};

}  // namespace quorvane
