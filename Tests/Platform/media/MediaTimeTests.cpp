#include "Platform/media/MediaTime.h"

#include <gtest/gtest.h>

#include <cmath>

using platform::MediaTime;
using platform::TimeRange;

TEST(MediaTime, RoundsToTheNearestTickStaysExactAndOrdersTheSpecialValues)
{
    EXPECT_EQ(MediaTime::fromSeconds(1.0 / 30.0).value(), 2000);
    // 1/120000 s lies halfway between two ticks of 1/60000 s.
    EXPECT_EQ(MediaTime::fromSeconds(0.0000251).value(), 2);
    EXPECT_EQ(MediaTime::fromSeconds(0.0000249).value(), 1);
    EXPECT_EQ(MediaTime::fromSeconds(-0.0000251).value(), -2);
    EXPECT_FALSE(MediaTime::fromSeconds(std::nan("")).isValid());
    EXPECT_FALSE(MediaTime::fromSeconds(INFINITY).isValid());

    EXPECT_LT(MediaTime(1, 30), MediaTime(2001, 60000));
    EXPECT_GT(MediaTime(-1, 30), MediaTime(-2001, 60000));
    EXPECT_EQ(MediaTime(1, 30) + MediaTime(1, 600), MediaTime(21, 600));
    EXPECT_EQ(MediaTime(1, 1) - MediaTime(1, 3), MediaTime(2, 3));
    // Times far apart in scale stay exact.
    EXPECT_EQ(MediaTime(1LL << 40, 15360) + MediaTime(1, 48000), MediaTime((1LL << 40) * 25 + 8, 384000));

    // Invalid and indefinite order at the ends; ranges are half open.
    const MediaTime invalid;
    const MediaTime open = MediaTime::indefinite();
    EXPECT_LT(invalid, MediaTime(-1000000, 1));
    EXPECT_GT(open, MediaTime(1000000, 1));
    EXPECT_FALSE((invalid + MediaTime(1, 1)).isValid());
    EXPECT_TRUE((open + MediaTime(1, 1)).isIndefinite());
    EXPECT_FALSE((MediaTime(1, 1) - open).isValid());

    const TimeRange r(MediaTime(1, 1), MediaTime(1, 2));
    EXPECT_TRUE(r.contains(MediaTime(1, 1)));
    EXPECT_FALSE(r.contains(MediaTime(3, 2)));
    EXPECT_FALSE(r.contains(MediaTime(99, 100)));
    EXPECT_TRUE(TimeRange(MediaTime(1, 1), MediaTime(0, 1)).isEmpty());
    EXPECT_EQ(TimeRange::fromStartEnd(MediaTime(1, 3), MediaTime(1, 1)).duration, MediaTime(2, 3));
    const TimeRange still(MediaTime::zero(), MediaTime::indefinite());
    EXPECT_TRUE(still.contains(MediaTime(1000000, 1)));
}
