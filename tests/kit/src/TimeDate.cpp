#include "tessel/kit/TimeDate.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace tessel::kit {

Bytes TimeDate::bytes() const {
    Bytes out;
    ByteWriter(out).u32(innards[0]).u32(innards[1]);
    return out;
}

// Howard Hinnant's civil-date algorithms.
std::int64_t daysFromCivil(int year, int month, int day) {
    const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t days, int &year, int &month, int &day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

static int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

DateTime DateTime::at(int year, int month, int day, int hour, int minute, int second, int hundredths,
                      int offsetMinutes, bool dst) {
    DateTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.hundredths = hundredths;
    t.offsetMinutes = offsetMinutes;
    t.dst = dst;
    t.validate();
    return t;
}

DateTime DateTime::dateOnly(int year, int month, int day) {
    DateTime t = at(year, month, day, 0, 0, 0);
    t.kind = Kind::DateOnly;
    return t;
}

DateTime DateTime::timeOnly(int hour, int minute, int second, int hundredths) {
    DateTime t = at(1970, 1, 1, hour, minute, second, hundredths);
    t.kind = Kind::TimeOnly;
    return t;
}

DateTime DateTime::fromUnix(std::int64_t secondsUtc, int offsetMinutes, bool dst, int hundredths) {
    const std::int64_t local = secondsUtc + static_cast<std::int64_t>(offsetMinutes) * 60;
    std::int64_t days = local / 86400;
    std::int64_t rest = local % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    DateTime t;
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.hundredths = hundredths;
    t.offsetMinutes = offsetMinutes;
    t.dst = dst;
    t.validate();
    return t;
}

void DateTime::validate() const {
    const bool dateOk =
        year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
    const bool timeOk = hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
                        hundredths >= 0 && hundredths < 100;
    const int standard = offsetMinutes - (dst ? 60 : 0);
    const bool zoneOk =
        offsetMinutes % 15 == 0 && std::abs(standard) <= 15 * 60 + 45 && std::abs(offsetMinutes) < 24 * 60;
    if (!dateOk || !timeOk || !zoneOk)
        throw std::invalid_argument("DateTime: field out of range");
}

std::string DateTime::toDxl() const {
    validate();
    char buf[40];
    if (kind == Kind::DateOnly) {
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", year, month, day);
        return buf;
    }
    if (kind == Kind::TimeOnly) {
        std::snprintf(buf, sizeof buf, "T%02d%02d%02d,%02d", hour, minute, second, hundredths);
        return buf;
    }
    const int absOffset = std::abs(offsetMinutes);
    const char sign = offsetMinutes < 0 ? '-' : '+';
    if (absOffset % 60 == 0)
        std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d,%02d%c%02d", year, month, day, hour, minute,
                      second, hundredths, sign, absOffset / 60);
    else
        std::snprintf(buf, sizeof buf, "%04d%02d%02dT%02d%02d%02d,%02d%c%02d%02d", year, month, day, hour,
                      minute, second, hundredths, sign, absOffset / 60, absOffset % 60);
    return buf;
}

TimeDate DateTime::toTimeDate() const {
    validate();
    TimeDate td;
    const std::uint32_t timeTicks =
        static_cast<std::uint32_t>(((hour * 60 + minute) * 60 + second) * 100 + hundredths);
    if (kind == Kind::TimeOnly) {
        td.innards = {timeTicks, kAnyDay};
        return td;
    }
    if (kind == Kind::DateOnly) {
        td.innards = {kAllDay,
                      static_cast<std::uint32_t>(daysFromCivil(year, month, day) + kJulianDayOfUnixEpoch)};
        return td;
    }
    std::int64_t ticks = daysFromCivil(year, month, day) * kTicksInDay + timeTicks -
                         static_cast<std::int64_t>(offsetMinutes) * 6000;
    std::int64_t days = ticks / kTicksInDay;
    std::int64_t rest = ticks % kTicksInDay;
    if (rest < 0) {
        rest += kTicksInDay;
        --days;
    }
    const int standard = offsetMinutes - (dst ? 60 : 0);
    const int absStandard = std::abs(standard);
    std::uint32_t zone =
        static_cast<std::uint32_t>(absStandard / 60) | static_cast<std::uint32_t>(absStandard % 60 / 15) << 4;
    if (standard > 0)
        zone |= 0x40;
    if (dst || dstObserved)
        zone |= 0x80;
    td.innards = {static_cast<std::uint32_t>(rest),
                  (static_cast<std::uint32_t>(days + kJulianDayOfUnixEpoch) & 0x00FFFFFF) | zone << 24};
    return td;
}

} // namespace tessel::kit
