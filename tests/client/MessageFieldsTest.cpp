// The fields and limits of outgoing application messages.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "client/MessageIds.hpp"
#include "client/SendLimits.hpp"

using namespace quorvane;

TEST(MessageFieldsTest, IdsAreTenCharactersOfTheAlphabetAndDiffer) {
    std::set<std::string> ids;
    for (int i = 0; i < 1000; ++i) {
        auto id = makeId(10);
        ASSERT_EQ(id.size(), 10u);
        EXPECT_EQ(id.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos) << id;
        ids.insert(std::move(id));
    }
    EXPECT_EQ(ids.size(), 1000u);
}

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

TEST(MessageFieldsTest, TimeOutsAreWaitedForWithinBounds) {
    struct Case {
        double given, waited;
    };
    for (const auto& [given, waited] : {Case{2.5, 2.5}, Case{-3, 0}, Case{INFINITY, 1e9}, Case{1e300, 1e9},
                                        Case{-INFINITY, 0}}) {
        EXPECT_EQ(usableTimeout(given), waited) << given;
    }
    EXPECT_FALSE(usableTimeout(NAN));
}
