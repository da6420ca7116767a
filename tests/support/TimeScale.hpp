#pragma once

namespace quorvane::testing {

/// What a test multiplies a bound on the program's speed by (a bound against a hang is generous
/// already and stays as it is): 1 in a plain build, more in an AddressSanitizer or ThreadSanitizer
/// build, known from the compiler's own definitions, so that its tests run by hand scale alike.
/// AddressSanitizer's Debug build runs the library two to three times slower, more on a busy
/// machine; ThreadSanitizer slows instrumented code five to fifteen times, but its build is
/// optimised and the WebRTC archive it spends much of its time in is not instrumented.
/// UndefinedBehaviorSanitizer alone slows little and leaves the factor at 1.
constexpr int timeScale() {
#if defined(__SANITIZE_THREAD__)
    return 6;
#elif defined(__SANITIZE_ADDRESS__)
    return 4;
#else
    return 1;
#endif
}

}  // namespace quorvane::testing
