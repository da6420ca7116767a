#pragma once

#include <string>

#include "quorvane/SharedDefault.hpp"

namespace quorvane {

/// The process-wide default tags that the host takes when it builds messages. The library reads
/// none of them itself; QuorvaneClient's setters write Bytes, Log and Object.
class DefaultTag {
public:
    static SharedDefault<std::string>& Chat();    ///< initially "text/plain; charset=utf-8"
    static SharedDefault<std::string>& Bytes();   ///< initially "application/octet-stream"
    static SharedDefault<std::string>& Log();     ///< initially "text/plain; charset=utf-8"
    static SharedDefault<std::string>& Object();  ///< initially "application/json"
};

}  // namespace quorvane
