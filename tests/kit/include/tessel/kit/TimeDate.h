// Deterministic Notes TIMEDATE values and their DXL text form.
#pragma once

#include "tessel/kit/Bytes.h"

#include <array>
#include <cstdint>
#include <string>

namespace tessel::kit {

constexpr std::uint32_t kAllDay = 0xFFFFFFFF; // time DWORD of a date-only value
constexpr std::uint32_t kAnyDay = 0xFFFFFFFF; // date DWORD of a time-only value
constexpr std::uint32_t kTicksInDay = 8640000;
constexpr std::uint32_t kJulianDayOfUnixEpoch = 2440588;

// The 8-byte TIMEDATE: [0] hundredths since midnight GMT, [1] Julian day | zone and DST bits.
struct TimeDate {
    std::array<std::uint32_t, 2> innards{0, 0};

    Bytes bytes() const;
    friend bool operator==(const TimeDate &, const TimeDate &) = default;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromCivil(int year, int month, int day);
void civilFromDays(std::int64_t days, int &year, int &month, int &day);

// A date/time as DXL writes it: the wall clock in its zone, that zone's actual UTC offset at the
// instant (daylight saving already applied) and whether daylight saving was in effect.
struct DateTime {
    enum class Kind { DateAndTime, DateOnly, TimeOnly };

    Kind kind = Kind::DateAndTime;
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0, hundredths = 0;
    int offsetMinutes = 0; // east of GMT positive; a multiple of 15
    bool dst = false;
    // The zone observes daylight saving (TIMEDATE bit 31) even though it is not in effect at this
    // instant; DXL shows nothing of it. Implied by dst.
    bool dstObserved = false;

    static DateTime at(int year, int month, int day, int hour, int minute, int second, int hundredths = 0,
                       int offsetMinutes = 0, bool dst = false);
    static DateTime dateOnly(int year, int month, int day);
    static DateTime timeOnly(int hour, int minute, int second, int hundredths = 0);
    // The instant secondsUtc after the Unix epoch shown in a zone of the given actual offset.
    static DateTime fromUnix(std::int64_t secondsUtc, int offsetMinutes = 0, bool dst = false,
                             int hundredths = 0);

    // "20240115T092530,17-05", "20240115", "T120000,00". Throws std::invalid_argument for fields out of
    // range.
    std::string toDxl() const;
    // The TIMEDATE Notes stores: GMT time, Julian day, the standard zone (offset less one hour when
    // dst) and the DST bit. Date-only values carry ALLDAY, time-only values ANYDAY.
    TimeDate toTimeDate() const;
    void validate() const;
};

} // namespace tessel::kit
