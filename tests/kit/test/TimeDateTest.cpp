#include "tessel/kit/TimeDate.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace tessel::kit {
namespace {

TEST(TimeDate, WorkedExamplesOfTheTimedateLayout) {
    // 1996-12-10 14:49:04 EST: 19:49:04 GMT, Julian day 2 450 428, zone 5 h west, DST observed.
    DateTime est = DateTime::at(1996, 12, 10, 14, 49, 4, 0, -300);
    est.dstObserved = true;
    EXPECT_EQ(est.toTimeDate().innards[0], 0x006CDCC0u);
    EXPECT_EQ(est.toTimeDate().innards[1], 0x852563FCu);
    // The same wall clock in Bombay (+05:30, no DST): 09:19:04 GMT, east, 5 h + 2 quarters.
    const DateTime bombay = DateTime::at(1996, 12, 10, 14, 49, 4, 0, 330);
    EXPECT_EQ(bombay.toTimeDate().innards[0], (9u * 3600 + 19 * 60 + 4) * 100);
    EXPECT_EQ(bombay.toTimeDate().innards[1], 0x652563FCu);
    EXPECT_EQ(bombay.toTimeDate().bytes(), (Bytes{0x20, 0x2F, 0x33, 0x00, 0xFC, 0x63, 0x25, 0x65}));
}

TEST(TimeDate, DaylightSavingTakesAnHourOffTheStoredZone) {
    // London summer: offset +01 with dst; the standard zone is GMT with the DST bit.
    const DateTime london = DateTime::at(2024, 7, 1, 12, 0, 0, 0, 60, true);
    const TimeDate td = london.toTimeDate();
    EXPECT_EQ(td.innards[0], 11u * 3600 * 100);
    EXPECT_EQ(td.innards[1] >> 24, 0x80u);
    EXPECT_EQ(td.innards[1] & 0xFFFFFF, static_cast<std::uint32_t>(daysFromCivil(2024, 7, 1) + 2440588));
}

TEST(TimeDate, CrossingMidnightMovesTheJulianDay) {
    const TimeDate td = DateTime::at(2024, 1, 1, 1, 0, 0, 0, 180).toTimeDate();
    EXPECT_EQ(td.innards[0], 22u * 3600 * 100);
    EXPECT_EQ(td.innards[1] & 0xFFFFFF, static_cast<std::uint32_t>(daysFromCivil(2023, 12, 31) + 2440588));
}

TEST(TimeDate, WildcardsForDateOnlyAndTimeOnly) {
    const TimeDate date = DateTime::dateOnly(1970, 1, 1).toTimeDate();
    EXPECT_EQ(date.innards[0], kAllDay);
    EXPECT_EQ(date.innards[1], 2440588u);
    const TimeDate time = DateTime::timeOnly(12, 0, 0).toTimeDate();
    EXPECT_EQ(time.innards[0], 4320000u);
    EXPECT_EQ(time.innards[1], kAnyDay);
}

TEST(TimeDate, DxlTextForms) {
    struct Case {
        DateTime t;
        const char *text;
    };
    const Case cases[] = {
        {DateTime::at(2024, 1, 15, 9, 25, 30, 17, -300), "20240115T092530,17-05"},
        {DateTime::at(2024, 7, 20, 12, 0, 0, 0, 0), "20240720T120000,00+00"},
        {DateTime::at(2024, 7, 20, 12, 0, 0, 0, -150, true), "20240720T120000,00-0230"},
        {DateTime::at(2024, 1, 1, 0, 0, 0, 5, 345), "20240101T000000,05+0545"},
        {DateTime::dateOnly(2026, 7, 20), "20260720"},
        {DateTime::timeOnly(12, 0, 0), "T120000,00"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.t.toDxl(), c.text);
}

TEST(TimeDate, FromUnixShowsTheInstantInItsZone) {
    const DateTime t = DateTime::fromUnix(0, -300);
    EXPECT_EQ(t.toDxl(), "19691231T190000,00-05");
    EXPECT_EQ(t.toTimeDate().innards[0], 0u);
    EXPECT_EQ(t.toTimeDate().innards[1] & 0xFFFFFF, 2440588u);
}

TEST(TimeDate, RejectsImpossibleValues) {
    EXPECT_THROW(DateTime::at(2023, 2, 29, 0, 0, 0), std::invalid_argument);
    EXPECT_THROW(DateTime::at(2024, 1, 1, 24, 0, 0), std::invalid_argument);
    EXPECT_THROW(DateTime::at(2024, 1, 1, 0, 0, 0, 100), std::invalid_argument);
    EXPECT_THROW(DateTime::at(2024, 1, 1, 0, 0, 0, 0, 7), std::invalid_argument);
    EXPECT_NO_THROW(DateTime::at(2024, 2, 29, 0, 0, 0));
}

TEST(TimeDate, CivilDaysRoundTrip) {
    for (std::int64_t d : {-719468LL, -1LL, 0LL, 19723LL, 2932896LL}) {
        int y, m, day;
        civilFromDays(d, y, m, day);
        EXPECT_EQ(daysFromCivil(y, m, day), d);
    }
}

} // namespace
} // namespace tessel::kit
