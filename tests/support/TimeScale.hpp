#pragma once

// GCC says which sanitizer a build has by its own definitions; Clang answers __has_feature.
#if defined(__SANITIZE_THREAD__)
#define QUORVANE_TEST_THREAD_SANITIZER 1
#elif defined(__SANITIZE_ADDRESS__)
#define QUORVANE_TEST_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUORVANE_TEST_THREAD_SANITIZER 1
#elif __has_feature(address_sanitizer)
#define QUORVANE_TEST_ADDRESS_SANITIZER 1
#endif
#endif

namespace quorvane::testing {

/// What a test multiplies a bound on the program's speed by (a bound against a hang is generous
/// already and stays as it is): 1 in a plain build, more in an AddressSanitizer or ThreadSanitizer
/// build, known from the compiler's own definitions (GCC's or Clang's), so that its tests run by
/// hand scale alike. AddressSanitizer's Debug build runs the library two to three times slower,
/// more on a busy machine; ThreadSanitizer slows instrumented code five to fifteen times, but its
/// build is optimised and the WebRTC archive it spends much of its time in is not instrumented.
/// UndefinedBehaviorSanitizer alone slows little and leaves the factor at 1.
constexpr int timeScale() {
#if defined(QUORVANE_TEST_THREAD_SANITIZER)
    return 6;
#elif defined(QUORVANE_TEST_ADDRESS_SANITIZER)
    return 4;
#else
    return 1;
#endif
}

}  // namespace quorvane::testing
