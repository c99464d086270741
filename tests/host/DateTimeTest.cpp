#include <quillon/host/DateTime.h>
#include <quillon/host/Host.h>

#include <gtest/gtest.h>

#include <climits>

#include <cstring>
#include <string>

namespace {

std::tm makeTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    time.tm_wday = 6; // wrong on purpose: the weekday is computed from the date
    return time;
}

// Formats through the services table, as the reader does.
std::string format(const std::tm &time, int nFormat, int32_t nOrder, int32_t b24Hour,
                   uint32_t cbBuffer = 64) {
    quillon::Host host;
    QLHAPI *pHAPI = host.services();
    std::string buffer(cbBuffer, '#');
    int cch = pHAPI->fpFormatDateTime(pHAPI, &time, nFormat, nOrder, b24Hour, buffer.data(), cbBuffer);
    if (cch == 0)
        return "<0>";
    EXPECT_EQ(buffer[static_cast<size_t>(cch)], '\0');
    return buffer.substr(0, static_cast<size_t>(cch));
}

TEST(FormatDateTime, WritesEveryNumberedFormat) {
    const std::tm morning = makeTime(2024, 3, 5, 9, 15, 42);
    const std::tm evening = makeTime(2024, 3, 5, 21, 5, 7);
    const std::tm midnight = makeTime(1999, 12, 31, 0, 0, 1);
    const std::tm noon = makeTime(2000, 1, 1, 12, 30, 0);
    struct Case {
        const std::tm *pTime;
        int nFormat;
        int32_t nOrder;
        int32_t b24Hour;
        const char *pszText;
    } cases[] = {
        {&morning, 0, 0, 0, "03/05/2024 09:15:42 AM"},
        {&morning, 0, 1, 0, "05/03/2024 09:15:42 AM"},
        {&morning, 0, 2, 1, "2024/03/05 09:15:42"},
        {&evening, 0, 0, 0, "03/05/2024 09:05:07 PM"},
        {&evening, 0, 0, 1, "03/05/2024 21:05:07"},
        {&midnight, 0, 0, 0, "12/31/1999 12:00:01 AM"},
        {&noon, 0, 0, 0, "01/01/2000 12:30:00 PM"},
        {&evening, 1, 0, 0, "2024-03-05T21:05:07"},
        {&evening, 2, 1, 0, "2024-03-05"},
        {&morning, 3, 0, 0, "Tue, 05 Mar 2024 09:15:42 +0000"},
        {&noon, 3, 0, 0, "Sat, 01 Jan 2000 12:30:00 +0000"},
        {&midnight, 3, 0, 0, "Fri, 31 Dec 1999 00:00:01 +0000"},
        {&morning, 4, 0, 0, "March 5, 2024 9:15 AM"},
        {&evening, 4, 0, 1, "March 5, 2024 21:05"},
        {&morning, 4, 0, 1, "March 5, 2024 09:15"},
        {&morning, 5, 0, 0, "03/05/2024"},
        {&morning, 5, 1, 0, "05/03/2024"},
        {&morning, 5, 2, 0, "2024/03/05"},
        {&evening, 6, 0, 0, "09:05:07 PM"},
        {&evening, 6, 0, 1, "21:05:07"},
        {&morning, 7, 0, 0, "Tuesday, March 5, 2024"},
        {&evening, 8, 0, 0, "21:05:07"},
        {&evening, 9, 1, 0, "05/03/2024 09:05 PM"},
        {&evening, 9, 0, 1, "03/05/2024 21:05"},
        // Unknown codes and orders fall back to the default.
        {&morning, 10, 0, 0, "03/05/2024 09:15:42 AM"},
        {&morning, -1, 0, 0, "03/05/2024 09:15:42 AM"},
        {&morning, 138, 7, 0, "03/05/2024 09:15:42 AM"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.nFormat) + "/" + std::to_string(c.nOrder) + "/" +
                     std::to_string(c.b24Hour));
        EXPECT_EQ(format(*c.pTime, c.nFormat, c.nOrder, c.b24Hour), c.pszText);
    }
}

TEST(FormatDateTime, ComputesWeekdaysAcrossCenturies) {
    EXPECT_EQ(format(makeTime(1970, 1, 1, 0, 0, 0), 7, 0, 0), "Thursday, January 1, 1970");
    EXPECT_EQ(format(makeTime(1900, 3, 1, 0, 0, 0), 7, 0, 0), "Thursday, March 1, 1900");
    EXPECT_EQ(format(makeTime(2024, 2, 29, 0, 0, 0), 7, 0, 0), "Thursday, February 29, 2024");
    EXPECT_EQ(format(makeTime(2099, 12, 31, 0, 0, 0), 7, 0, 0), "Thursday, December 31, 2099");
    EXPECT_EQ(format(makeTime(1601, 1, 1, 0, 0, 0), 7, 0, 0), "Monday, January 1, 1601");
}

TEST(FormatDateTime, RefusesOutOfRangeTimesAndSmallBuffers) {
    EXPECT_EQ(format(makeTime(2023, 2, 29, 0, 0, 0), 0, 0, 0), "<0>");
    EXPECT_EQ(format(makeTime(2024, 13, 1, 0, 0, 0), 0, 0, 0), "<0>");
    EXPECT_EQ(format(makeTime(2024, 1, 0, 0, 0, 0), 0, 0, 0), "<0>");
    EXPECT_EQ(format(makeTime(2024, 1, 1, 24, 0, 0), 0, 0, 0), "<0>");
    EXPECT_EQ(format(makeTime(2024, 1, 1, 0, 60, 0), 0, 0, 0), "<0>");
    EXPECT_EQ(format(makeTime(10000, 1, 1, 0, 0, 0), 0, 0, 0), "<0>");
    // "2024-03-05" needs 11 bytes with its terminator.
    EXPECT_EQ(format(makeTime(2024, 3, 5, 0, 0, 0), 2, 0, 0, 10), "<0>");
    EXPECT_EQ(format(makeTime(2024, 3, 5, 0, 0, 0), 2, 0, 0, 11), "2024-03-05");

    quillon::Host host;
    QLHAPI *pHAPI = host.services();
    char buffer[32];
    std::tm time = makeTime(2024, 3, 5, 0, 0, 0);
    EXPECT_EQ(pHAPI->fpFormatDateTime(pHAPI, nullptr, 0, 0, 0, buffer, sizeof buffer), 0);
    EXPECT_EQ(pHAPI->fpFormatDateTime(pHAPI, &time, 0, 0, 0, nullptr, sizeof buffer), 0);
}

TEST(TimeToFileTime, ConvertsAndClamps) {
    struct Case {
        int64_t tSeconds;
        uint64_t ticks;
    } cases[] = {
        {0, 116444736000000000ULL},
        {1, 116444736010000000ULL},
        {1709630142, 133541037420000000ULL}, // 2024-03-05 09:15:42 UTC
        {-11644473600, 0},                   // 1601-01-01
        {-11644473599, 10000000},
        {-11644473601, 0}, // before 1601: clamped
        {INT64_MIN, 0},
        {INT64_MAX, 0x7FFFFFFFFFFFFFFFULL},
    };
    quillon::Host host;
    QLHAPI *pHAPI = host.services();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.tSeconds);
        QL_FILETIME fileTime{0xDEADBEEF, 0xDEADBEEF};
        pHAPI->fpTimeToFILETIME(pHAPI, c.tSeconds, &fileTime);
        EXPECT_EQ(fileTime.dwLowDateTime, static_cast<uint32_t>(c.ticks));
        EXPECT_EQ(fileTime.dwHighDateTime, static_cast<uint32_t>(c.ticks >> 32));
    }
    pHAPI->fpTimeToFILETIME(pHAPI, 0, nullptr); // ignored, no crash
}

TEST(TimeToFileTime, PutsTheLowWordFirst) {
    QL_FILETIME fileTime = quillon::timeToFileTime(0);
    unsigned char bytes[8];
    std::memcpy(bytes, &fileTime, sizeof bytes);
    // 116444736000000000 = 0x019DB1DED53E8000
    const unsigned char expected[8] = {0x00, 0x80, 0x3E, 0xD5, 0xDE, 0xB1, 0x9D, 0x01};
    EXPECT_EQ(0, std::memcmp(bytes, expected, 8));
}

} // namespace
