// The factor of the tests' speed bounds follows the sanitizer the tests run under, whichever
// compiler built them.

#include <gtest/gtest.h>

#include "support/TimeScale.hpp"

// Defined by the sanitizers' runtimes, GCC's and Clang's alike; null without them.
extern "C" void __asan_init() __attribute__((weak));
extern "C" void __tsan_init() __attribute__((weak));

namespace quorvane::testing {
namespace {

TEST(TimeScaleTest, FollowsTheSanitizerRuntimeTheTestsRunWith) {
    const int expected = __tsan_init != nullptr ? 6 : __asan_init != nullptr ? 4 : 1;
    EXPECT_EQ(timeScale(), expected);
}

}  // namespace
}  // namespace quorvane::testing
