#include <quillon/host/DateTime.h>

#include <array>
#include <cstdio>
#include <cstring>

namespace quillon {

namespace {

constexpr std::array<const char *, 12> kMonthNames = {"January",   "February", "March",    "April",
                                                      "May",       "June",     "July",     "August",
                                                      "September", "October",  "November", "December"};
constexpr std::array<const char *, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                   "Thursday", "Friday", "Saturday"};

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month0) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month0 == 1 && isLeapYear(year) ? 29 : kDays[static_cast<size_t>(month0)];
}

// 0 = Sunday, for a date of the proleptic Gregorian calendar (days since 1970 from Howard
// Hinnant's days_from_civil).
int weekday(int year, int month0, int day) {
    int month = month0 + 1;
    year -= month <= 2;
    int era = (year >= 0 ? year : year - 399) / 400;
    int yearOfEra = year - era * 400;
    int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    long long days = static_cast<long long>(era) * 146097 + dayOfEra - 719468;
    return static_cast<int>(((days % 7) + 11) % 7); // 1970-01-01 was a Thursday (4)
}

template <typename... Args> std::string format(const char *pszFormat, Args... args) {
    char sz[128];
    int cch = std::snprintf(sz, sizeof sz, pszFormat, args...);
    return cch < 0 ? std::string() : std::string(sz, static_cast<size_t>(cch));
}

struct Fields {
    int year, month0, day, hour, minute, second;
};

std::string numericDate(const Fields &f, int32_t nDateOrder) {
    switch (static_cast<DateOrder>(nDateOrder)) {
    case DateOrder::DayMonthYear:
        return format("%02d/%02d/%04d", f.day, f.month0 + 1, f.year);
    case DateOrder::YearMonthDay:
        return format("%04d/%02d/%02d", f.year, f.month0 + 1, f.day);
    case DateOrder::MonthDayYear:
    default:
        return format("%02d/%02d/%04d", f.month0 + 1, f.day, f.year);
    }
}

// "09:15:42 AM", "09:15 AM", "09:15:42", "09:15"; hourWidth 1 drops the leading zero of the hour.
std::string clockTime(const Fields &f, bool b24Hour, bool bSeconds, int hourWidth = 2) {
    int hour = f.hour;
    const char *pszSuffix = "";
    if (!b24Hour) {
        pszSuffix = hour < 12 ? " AM" : " PM";
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    return bSeconds ? format("%0*d:%02d:%02d%s", hourWidth, hour, f.minute, f.second, pszSuffix)
                    : format("%0*d:%02d%s", hourWidth, hour, f.minute, pszSuffix);
}

} // namespace

std::string formatDateTime(const std::tm &time, int nFormat, int32_t nDateOrder, bool b24Hour) {
    if (time.tm_year < 1 - 1900 || time.tm_year > 9999 - 1900 || time.tm_mon < 0 || time.tm_mon > 11 ||
        time.tm_hour < 0 || time.tm_hour > 23 || time.tm_min < 0 || time.tm_min > 59 || time.tm_sec < 0 ||
        time.tm_sec > 60)
        return {};
    Fields f{time.tm_year + 1900, time.tm_mon, time.tm_mday, time.tm_hour, time.tm_min, time.tm_sec};
    if (f.day < 1 || f.day > daysInMonth(f.year, f.month0))
        return {};
    const char *pszMonth = kMonthNames[static_cast<size_t>(f.month0)];
    const char *pszDay = kDayNames[static_cast<size_t>(weekday(f.year, f.month0, f.day))];

    switch (static_cast<DateFormat>(nFormat)) {
    case DateFormat::Iso8601:
        return format("%04d-%02d-%02dT%02d:%02d:%02d", f.year, f.month0 + 1, f.day, f.hour, f.minute,
                      f.second);
    case DateFormat::IsoDate:
        return format("%04d-%02d-%02d", f.year, f.month0 + 1, f.day);
    case DateFormat::Rfc5322:
        return format("%.3s, %02d %.3s %04d %02d:%02d:%02d +0000", pszDay, f.day, pszMonth, f.year, f.hour,
                      f.minute, f.second);
    case DateFormat::Long:
        return format("%s %d, %d ", pszMonth, f.day, f.year) + clockTime(f, b24Hour, false, b24Hour ? 2 : 1);
    case DateFormat::NumericDate:
        return numericDate(f, nDateOrder);
    case DateFormat::Time:
        return clockTime(f, b24Hour, true);
    case DateFormat::LongDate:
        return format("%s, %s %d, %d", pszDay, pszMonth, f.day, f.year);
    case DateFormat::IsoTime:
        return format("%02d:%02d:%02d", f.hour, f.minute, f.second);
    case DateFormat::ShortDateTime:
        return numericDate(f, nDateOrder) + ' ' + clockTime(f, b24Hour, false);
    case DateFormat::Default:
    default:
        return numericDate(f, nDateOrder) + ' ' + clockTime(f, b24Hour, true);
    }
}

int formatDateTime(const std::tm &time, int nFormat, int32_t nDateOrder, bool b24Hour,
                   std::span<char> buffer) {
    std::string text = formatDateTime(time, nFormat, nDateOrder, b24Hour);
    if (text.empty() || text.size() >= buffer.size())
        return 0;
    std::memcpy(buffer.data(), text.data(), text.size());
    buffer[text.size()] = '\0';
    return static_cast<int>(text.size());
}

QL_FILETIME timeToFileTime(int64_t tSeconds) {
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    constexpr int64_t kTicksPerSecond = 10000000;
    constexpr uint64_t kMaxFileTime = 0x7FFFFFFFFFFFFFFF;
    uint64_t ticks;
    if (tSeconds < -kSecondsFrom1601To1970)
        ticks = 0;
    else if (tSeconds > static_cast<int64_t>(kMaxFileTime / kTicksPerSecond) - kSecondsFrom1601To1970)
        ticks = kMaxFileTime;
    else
        ticks = static_cast<uint64_t>(tSeconds + kSecondsFrom1601To1970) * kTicksPerSecond;
    return QL_FILETIME{static_cast<uint32_t>(ticks), static_cast<uint32_t>(ticks >> 32)};
}

} // namespace quillon
