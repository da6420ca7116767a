#include "quorvane/DefaultTag.hpp"

namespace quorvane {

// Each value is made on first use; the language makes that first use thread-safe.

SharedDefault<std::string>& DefaultTag::Chat() {
    static SharedDefault<std::string> value("text/plain; charset=utf-8");
    return value;
}

SharedDefault<std::string>& DefaultTag::Bytes() {
    static SharedDefault<std::string> value("application/octet-stream");
    return value;
}

SharedDefault<std::string>& DefaultTag::Log() {
    static SharedDefault<std::string> value("text/plain; charset=utf-8");
    return value;
}

SharedDefault<std::string>& DefaultTag::Object() {
    static SharedDefault<std::string> value("application/json");
    return value;
}

}  // namespace quorvane
