#include "Calendar.h"

namespace notesemu {

std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate civilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilDate date;
    date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    date.year = static_cast<int>(yoe + era * 400 + (date.month <= 2 ? 1 : 0));
    return date;
}

TIMEDATE timedateFromUnixTicks(std::int64_t ticks) {
    std::int64_t days = ticks / kTicksInDay;
    std::int64_t rest = ticks % kTicksInDay;
    if (rest < 0) {
        rest += kTicksInDay;
        --days;
    }
    TIMEDATE value;
    value.Innards[0] = static_cast<DWORD>(rest);
    value.Innards[1] = static_cast<DWORD>(days + kJulianDayOfUnixEpoch) & 0x00FFFFFF;
    return value;
}

} // namespace notesemu
