// The one calendar of the runtime: civil dates, day counts, Julian days and TIMEDATE of a moment.
#include "Calendar.h"

#include <gtest/gtest.h>

namespace notesemu {
namespace {

TEST(Calendar, CivilDatesAndDayCountsAgree) {
    const struct {
        int year, month, day;
        std::int64_t days;
    } cases[] = {
        {1970, 1, 1, 0},       {1969, 12, 31, -1},     {2000, 2, 29, 11016},  {1996, 12, 10, 9840},
        {1, 1, 1, -719162},    {9999, 12, 31, 2932896}, {2024, 3, 1, 19783},   {1900, 3, 1, -25508},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(daysFromCivil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month << "-" << c.day;
        const CivilDate date = civilFromDays(c.days);
        EXPECT_EQ(date.year, c.year);
        EXPECT_EQ(date.month, c.month);
        EXPECT_EQ(date.day, c.day);
    }
    // The published example: 1996-12-10 is Julian day 2 450 428.
    EXPECT_EQ(daysFromCivil(1996, 12, 10) + kJulianDayOfUnixEpoch, 2450428);
}

TEST(Calendar, MomentsBecomeGmtTimedates) {
    // 1996-12-10 19:49:04 GMT, the published example's time part.
    const std::int64_t ticks = 9840 * kTicksInDay + 7134400;
    const TIMEDATE value = timedateFromUnixTicks(ticks);
    EXPECT_EQ(value.Innards[0], 0x006CDCC0U);
    EXPECT_EQ(value.Innards[1], 2450428U);
    // Before the epoch the day goes back, the time of day stays positive.
    const TIMEDATE before = timedateFromUnixTicks(-1);
    EXPECT_EQ(before.Innards[0], static_cast<DWORD>(kTicksInDay - 1));
    EXPECT_EQ(before.Innards[1], static_cast<DWORD>(kJulianDayOfUnixEpoch - 1));
}

} // namespace
} // namespace notesemu
