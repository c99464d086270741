// Date and time services: the numbered date formats and the FILETIME conversion.
#ifndef QUILLON_HOST_DATETIME_H
#define QUILLON_HOST_DATETIME_H

#include <quillon/quillon.h>

#include <cstdint>
#include <ctime>
#include <span>
#include <string>

namespace quillon {

// Orders of day, month and year in numeric dates (QLHAPI::nDateOrder).
enum class DateOrder : int32_t { MonthDayYear = 0, DayMonthYear = 1, YearMonthDay = 2 };

// The numbered formats of fpFormatDateTime; host/README.md shows each with an example.
enum class DateFormat : int {
    Default = 0,       // numeric date and time with seconds, in the settings' order and clock
    Iso8601 = 1,       // 2024-03-05T09:15:42
    IsoDate = 2,       // 2024-03-05
    Rfc5322 = 3,       // Tue, 05 Mar 2024 09:15:42 +0000
    Long = 4,          // March 5, 2024 9:15 AM
    NumericDate = 5,   // 03/05/2024
    Time = 6,          // 09:15:42 AM
    LongDate = 7,      // Tuesday, March 5, 2024
    IsoTime = 8,       // 09:15:42
    ShortDateTime = 9, // 03/05/2024 09:15 AM
};

// The text of a broken-down time in a numbered format (unknown codes give Default); an unknown
// order gives month-day-year. The fields are used as given, with no time zone applied; the weekday
// is computed from the date. Empty when a field is out of range (month 0..11, day 1..31 and within
// its month, hour 0..23, minute 0..59, second 0..60, year 1..9999).
std::string formatDateTime(const std::tm &time, int nFormat, int32_t nDateOrder, bool b24Hour);

// fpFormatDateTime: the text into the buffer, terminated; its length, or 0 when the time is out of
// range or the text and its terminator do not fit.
int formatDateTime(const std::tm &time, int nFormat, int32_t nDateOrder, bool b24Hour,
                   std::span<char> buffer);

// 100-nanosecond intervals since 1601-01-01 for seconds since 1970-01-01. Times before 1601 give 0,
// times beyond the largest FILETIME Windows accepts (0x7FFFFFFFFFFFFFFF) give that.
QL_FILETIME timeToFileTime(int64_t tSeconds);

} // namespace quillon

#endif
