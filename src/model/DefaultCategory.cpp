#include "quorvane/DefaultCategory.hpp"

#include "quorvane/QVCategory.hpp"

namespace quorvane {

namespace {
constexpr std::uint16_t raw(QVCategory category) { return static_cast<std::uint16_t>(category); }
}  // namespace

// Each value is made on first use; the language makes that first use thread-safe.

SharedDefault<std::uint16_t>& DefaultCategory::Chat() {
    static SharedDefault<std::uint16_t> value(raw(QVCategory::Chat));
    return value;
}

SharedDefault<std::uint16_t>& DefaultCategory::Bytes() {
    static SharedDefault<std::uint16_t> value(raw(QVCategory::Default));
    return value;
}

SharedDefault<std::uint16_t>& DefaultCategory::Log() {
    static SharedDefault<std::uint16_t> value(raw(QVCategory::Log));
    return value;
}

SharedDefault<std::uint16_t>& DefaultCategory::Object() {
    static SharedDefault<std::uint16_t> value(raw(QVCategory::Default));
    return value;
}

}  // namespace quorvane
