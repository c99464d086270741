#include "TimeText.h"

#include "Platform.h"

#include "Calendar.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

namespace notesemu {
namespace {

// 0 = Sunday.
int weekday(std::int64_t days) {
    const std::int64_t w = (days + 4) % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

// Day (since the epoch) of the n-th (1-based) Sunday of a month, or of the last one for n = 0.
std::int64_t sunday(int year, unsigned month, int n) {
    if (n == 0) {
        const std::int64_t nextMonth =
            month == 12 ? daysFromCivil(year + 1, 1, 1) : daysFromCivil(year, month + 1, 1);
        const std::int64_t last = nextMonth - 1;
        return last - weekday(last);
    }
    const std::int64_t first = daysFromCivil(year, month, 1);
    return first + (7 - weekday(first)) % 7 + 7 * (n - 1);
}

struct Shown {
    std::int64_t days = 0; // local date, days since the epoch
    int hour = 0, minute = 0, second = 0;
};

Shown breakDown(std::int64_t seconds) {
    Shown shown;
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    shown.days = days;
    shown.hour = static_cast<int>(rest / 3600);
    shown.minute = static_cast<int>(rest / 60 % 60);
    shown.second = static_cast<int>(rest % 60);
    return shown;
}

// The process's local zone at an instant: offset in effect, standard offset, and whether the
// zone observes daylight saving in that year.
struct LocalZone {
    long offsetSeconds = 0;
    long standardSeconds = 0;
    bool observesDst = false;
    bool dstNow = false;
};

// tzset reads the zone's rules again on every call (a stat of /etc/localtime at the least); they
// change only with TZ, so they are read again only when TZ has changed since the last time.
void refreshZoneRules() {
    static std::mutex mutex;
    static bool read = false;
    static std::optional<std::string> readFor;
    const char *tz = std::getenv("TZ");
    std::lock_guard lock(mutex);
    if (read && (tz == nullptr ? !readFor.has_value() : readFor.has_value() && *readFor == tz))
        return;
    tzset();
    read = true;
    readFor = tz == nullptr ? std::nullopt : std::optional<std::string>(tz);
}

LocalZone localZone(std::int64_t utcSeconds) {
    LocalZone zone;
    refreshZoneRules();
    const auto instant = static_cast<std::time_t>(utcSeconds);
    std::tm tm{};
    zone.offsetSeconds = localTimeWithOffset(instant, tm).value_or(0);
    zone.dstNow = tm.tm_isdst > 0;
    // Sample mid-January and mid-July of that year for the standard offset and the observance.
    const CivilDate date = civilFromDays(breakDown(utcSeconds).days);
    long standard = tm.tm_isdst > 0 ? zone.offsetSeconds - 3600 : zone.offsetSeconds;
    for (unsigned month : {1U, 7U}) {
        const auto sample = static_cast<std::time_t>(daysFromCivil(date.year, month, 15) * 86400 + 43200);
        std::tm sampled{};
        const std::optional<long> sampledOffset = localTimeWithOffset(sample, sampled);
        if (sampled.tm_isdst > 0)
            zone.observesDst = true;
        else if (sampledOffset)
            standard = *sampledOffset;
    }
    zone.standardSeconds = standard;
    return zone;
}

// Daylight saving for a zone other than the local one, by the rules named in the header.
bool ruleDst(std::int64_t utcSeconds, int standardMinutes) {
    const std::int64_t standardLocal = utcSeconds + static_cast<std::int64_t>(standardMinutes) * 60;
    const int year = civilFromDays(breakDown(standardLocal).days).year;
    if (standardMinutes < 0) {
        const std::int64_t start = sunday(year, 3, 2) * 86400 + 2 * 3600;
        const std::int64_t end = sunday(year, 11, 1) * 86400 + 1 * 3600;
        return standardLocal >= start && standardLocal < end;
    }
    const std::int64_t start = sunday(year, 3, 0) * 86400 + 3600;
    const std::int64_t end = sunday(year, 10, 0) * 86400 + 3600;
    return utcSeconds >= start && utcSeconds < end;
}

std::string zoneName(int standardMinutes, bool dst) {
    struct Named {
        int minutes;
        const char *standard;
        const char *daylight;
    };
    static constexpr Named kNames[] = {
        {0, "GMT", "GDT"},    {-300, "EST", "EDT"}, {-360, "CST", "CDT"}, {-420, "MST", "MDT"},
        {-480, "PST", "PDT"}, {-240, "AST", "ADT"}, {-540, "YST", "YDT"}, {-600, "HST", "HDT"},
        {60, "CET", "CEDT"},  {120, "EET", "EEDT"},
    };
    for (const Named &named : kNames) {
        if (named.minutes == standardMinutes)
            return dst ? named.daylight : named.standard;
    }
    const int shown = standardMinutes + (dst ? 60 : 0);
    const int magnitude = shown < 0 ? -shown : shown;
    char buffer[16];
    if (magnitude % 60 == 0)
        std::snprintf(buffer, sizeof buffer, "Z%c%d", shown < 0 ? 'W' : 'E', magnitude / 60);
    else
        std::snprintf(buffer, sizeof buffer, "Z%c%d:%02d", shown < 0 ? 'W' : 'E', magnitude / 60,
                      magnitude % 60);
    return buffer;
}

// The settings that shape the text: from an INTLFORMAT, or the emulated defaults.
struct Settings {
    WORD flags = DATE_MDY | DATE_4DIGIT_YEAR;
    std::string am = "AM", pm = "PM", dateSep = "/", timeSep = ":";
    std::string today = "Today", yesterday = "Yesterday", tomorrow = "Tomorrow";
};

std::string fixedString(const char *chars, std::size_t size) {
    return std::string(chars, strnlen(chars, size));
}

std::string twoDigits(int value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

std::string formatDate(const Settings &settings, const TFMT &format, std::int64_t days,
                       std::int64_t todayDays) {
    const CivilDate date = civilFromDays(days);
    const bool fourDigits = format.Date == TDFMT_FULL4 || format.Date == TDFMT_CPARTIAL4 ||
                            format.Date == TDFMT_DPARTIAL4 || (settings.flags & DATE_4DIGIT_YEAR) != 0;
    char yearText[8];
    if (fourDigits)
        std::snprintf(yearText, sizeof yearText, "%04d", date.year);
    else
        std::snprintf(yearText, sizeof yearText, "%02d", date.year % 100);
    bool showYear = true, showDay = true;
    switch (format.Date) {
    case TDFMT_CPARTIAL:
    case TDFMT_CPARTIAL4:
        showYear = civilFromDays(todayDays).year != date.year;
        break;
    case TDFMT_PARTIAL:
        showYear = false;
        break;
    case TDFMT_DPARTIAL:
    case TDFMT_DPARTIAL4:
        showDay = false;
        break;
    default:
        break;
    }
    std::string parts[3];
    int count = 0;
    const std::string month = twoDigits(date.month), day = twoDigits(date.day);
    if (settings.flags & DATE_YMD) {
        if (showYear)
            parts[count++] = yearText;
        parts[count++] = month;
        if (showDay)
            parts[count++] = day;
    } else if (settings.flags & DATE_DMY) {
        if (showDay)
            parts[count++] = day;
        parts[count++] = month;
        if (showYear)
            parts[count++] = yearText;
    } else {
        parts[count++] = month;
        if (showDay)
            parts[count++] = day;
        if (showYear)
            parts[count++] = yearText;
    }
    std::string text = parts[0];
    for (int i = 1; i < count; ++i)
        text += settings.dateSep + parts[i];
    return text;
}

std::string formatTime(const Settings &settings, const TFMT &format, int hour, int minute, int second) {
    const bool clock24 = (settings.flags & CLOCK_24_HOUR) != 0;
    const int shownHour = clock24 ? hour : (hour % 12 == 0 ? 12 : hour % 12);
    std::string text = twoDigits(shownHour);
    if (format.Time != TTFMT_HOUR)
        text += settings.timeSep + twoDigits(minute);
    if (format.Time == TTFMT_FULL)
        text += settings.timeSep + twoDigits(second);
    if (!clock24) {
        const std::string &marker = hour < 12 ? settings.am : settings.pm;
        if (settings.flags & TIME_AMPM_PREFIX)
            text = marker + " " + text;
        else
            text += " " + marker;
    }
    return text;
}

std::int64_t localToday() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    return breakDown(static_cast<std::int64_t>(now) + localTimeWithOffset(now, tm).value_or(0)).days;
}

} // namespace

STATUS timeDateToText(const INTLFORMAT *intl, const TFMT *format, const TIMEDATE &value, std::string &text) {
    text.clear();
    static constexpr TFMT kDefaultFormat{TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME};
    const TFMT tfmt = format != nullptr ? *format : kDefaultFormat;
    if (tfmt.Date > TDFMT_DPARTIAL4 || tfmt.Time > TTFMT_HOUR || tfmt.Zone > TZFMT_ALWAYS ||
        tfmt.Structure > TSFMT_CDATETIME)
        return ERR_TFMT;
    Settings settings;
    if (intl != nullptr) {
        if (intl->Length != sizeof(INTLFORMAT))
            return ERR_IFMT;
        settings.flags = intl->Flags;
        settings.am = fixedString(intl->AMString, ISTRMAX);
        settings.pm = fixedString(intl->PMString, ISTRMAX);
        settings.dateSep = fixedString(intl->DateString, ISTRMAX);
        settings.timeSep = fixedString(intl->TimeString, ISTRMAX);
        settings.yesterday = fixedString(intl->YesterdayString, YTSTRMAX);
        settings.today = fixedString(intl->TodayString, YTSTRMAX);
        settings.tomorrow = fixedString(intl->TomorrowString, YTSTRMAX);
    }

    const DWORD ticks = value.Innards[0];
    const DWORD dateWord = value.Innards[1];
    const bool noTime = ticks == ALLDAY;
    const bool noDate = dateWord == ANYDAY;
    if ((noTime && noDate) || (ticks == 0 && dateWord == 0))
        return NOERROR;
    if (!noTime && ticks >= static_cast<DWORD>(TICKS_IN_DAY))
        return ERR_TDO_CONV;
    const int seconds = noTime ? 0 : static_cast<int>(ticks / 100);
    if (noDate)
        return text = formatTime(settings, tfmt, seconds / 3600, seconds / 60 % 60, seconds % 60), NOERROR;

    const std::int64_t julian = dateWord & 0x00FFFFFF;
    const std::int64_t days = julian - kJulianDayOfUnixEpoch;
    if (days < daysFromCivil(1, 1, 1) || days > daysFromCivil(9999, 12, 31))
        return ERR_TDO_CONV;
    const std::int64_t today = localToday();
    if (noTime)
        return text = formatDate(settings, tfmt, days, today), NOERROR;

    const auto zoneByte = static_cast<BYTE>(dateWord >> 24);
    const int zoneHours = zoneByte & 0x0F;
    if (zoneHours > 14)
        return ERR_TDO_CONV;
    const int magnitude = zoneHours * 60 + ((zoneByte >> 4) & 0x03) * 15;
    const int storedStandard = (zoneByte & 0x40) ? magnitude : -magnitude;
    const bool storedObservesDst = (zoneByte & 0x80) != 0;

    const std::int64_t utc = days * 86400 + seconds;
    const LocalZone local = localZone(utc);
    const bool storedIsLocal =
        storedStandard * 60 == local.standardSeconds && storedObservesDst == local.observesDst;
    const bool useLocal = tfmt.Zone == TZFMT_NEVER || (tfmt.Zone == TZFMT_SOMETIMES && storedIsLocal);

    Shown shown;
    std::string zoneText;
    if (useLocal) {
        shown = breakDown(utc + local.offsetSeconds);
    } else {
        const bool dst = storedObservesDst && (storedIsLocal ? local.dstNow : ruleDst(utc, storedStandard));
        shown = breakDown(utc + (static_cast<std::int64_t>(storedStandard) + (dst ? 60 : 0)) * 60);
        zoneText = zoneName(storedStandard, dst);
    }

    std::string dateText;
    if (tfmt.Structure == TSFMT_CDATETIME && shown.days == today)
        dateText = settings.today;
    else if (tfmt.Structure == TSFMT_CDATETIME && shown.days == today - 1)
        dateText = settings.yesterday;
    else if (tfmt.Structure == TSFMT_CDATETIME && shown.days == today + 1)
        dateText = settings.tomorrow;
    else
        dateText = formatDate(settings, tfmt, shown.days, today);
    const std::string timeText = formatTime(settings, tfmt, shown.hour, shown.minute, shown.second);

    switch (tfmt.Structure) {
    case TSFMT_DATE:
        text = dateText;
        break;
    case TSFMT_TIME:
        text = timeText;
        break;
    default:
        text = dateText + " " + timeText;
        break;
    }
    if (!zoneText.empty())
        text += " " + zoneText;
    return NOERROR;
}

} // namespace notesemu
