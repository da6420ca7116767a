#pragma once

#include <utility>

namespace quorvane {

/// Hands `value` to `block` and returns it: configures an object where it is made,
/// `auto timer = quorvane::apply(std::make_shared<X>(), [](auto& x) { x->setUp(); });`.
/// An exception thrown by `block` reaches the caller unchanged. Call it qualified: std::apply
/// has the same name.
template <class T, class F>
T apply(T value, F&& block) {
    std::forward<F>(block)(std::as_const(value));
    return value;
}

}  // namespace quorvane
