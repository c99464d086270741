// The calendar arithmetic of TIMEDATE values, in one place: proleptic Gregorian dates as days
// since 1970-01-01 and back (H. Hinnant's algorithms), the Julian day of the Unix epoch and the
// ticks (hundredths of a second) of a day.
#pragma once

#include <notes/global.h>

#include <cstdint>

namespace notesemu {

// JD 2 440 588 is 1970-01-01; a TIMEDATE's date part is a Julian day.
inline constexpr std::int64_t kJulianDayOfUnixEpoch = 2440588;
inline constexpr std::int64_t kTicksInDay = 8640000;

struct CivilDate {
    int year;
    int month; // 1-12
    int day;   // 1-31
};

// Days since 1970-01-01 of a date, and the date of such a day count.
std::int64_t daysFromCivil(std::int64_t year, int month, int day);
CivilDate civilFromDays(std::int64_t days);

// The TIMEDATE (GMT, no zone) of a moment given as hundredths of a second since 1970-01-01 GMT.
TIMEDATE timedateFromUnixTicks(std::int64_t ticks);

} // namespace notesemu
