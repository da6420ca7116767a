#include <gtest/gtest.h>

#include "rtc/FactoryCheck.hpp"

TEST(WebRtcLink, FactoryCanBeCreatedAndDestroyedRepeatedly) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(quorvane::rtc::createAndDestroyFactory());
    }
}
