// The fields and limits of outgoing application messages.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "client/MessageIds.hpp"
#include "client/SendLimits.hpp"

using namespace quorvane;

TEST(MessageFieldsTest, TimestampsAreWholeSecondsClampedToThirtyTwoBits) {
    constexpr auto largest = std::numeric_limits<std::uint32_t>::max();
    struct Case {
        double seconds;
        std::uint32_t timestamp;
    };
    for (const auto& [seconds, timestamp] : {Case{1'700'000'000.9, 1'700'000'000}, Case{0.5, 0}, Case{-5, 0},
                                             Case{NAN, 0}, Case{5e9, largest}, Case{INFINITY, largest}}) {
        EXPECT_EQ(messageTimestamp(seconds), timestamp) << seconds;
    }
}

TEST(MessageFieldsTest, APayloadFitsWhenTheWholeMessageStaysWithinTheTransportsLimit) {
    constexpr std::size_t limit = std::size_t{65535} * 15360;
    EXPECT_TRUE(fitsInOneMessage(0, 0));
    EXPECT_TRUE(fitsInOneMessage(100, limit - 356));
    EXPECT_FALSE(fitsInOneMessage(100, limit - 355));
    EXPECT_FALSE(fitsInOneMessage(limit, 0));
    EXPECT_FALSE(fitsInOneMessage(std::numeric_limits<std::size_t>::max(), 1));
    EXPECT_FALSE(fitsInOneMessage(1, std::numeric_limits<std::size_t>::max()));
}
