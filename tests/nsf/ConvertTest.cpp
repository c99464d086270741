// Text and time conversion: TIMEDATEs to broken-down times, date texts, FILETIMEs under several
// time zones, and the text chain from composite text to escaped HTML.
#include "NsfFixture.h"

#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

#include <chrono>

namespace tessel::test {
namespace {

// FILETIME of a UTC calendar time, computed independently of the reader.
uint64_t fileTimeOf(int year, int month, int day, int hour, int minute, int second) {
    using namespace std::chrono;
    const sys_seconds at = sys_days{std::chrono::year{year} / month / day} + hours{hour} + minutes{minute} +
                           seconds{second};
    return (static_cast<uint64_t>(at.time_since_epoch().count()) + 11644473600ull) * 10000000ull;
}

uint64_t value(const QL_FILETIME &ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

class ConvertTest : public NsfTest {
protected:
    void SetUp() override {
        NsfTest::SetUp();
        ASSERT_EQ(nsfInitBuffers(pContext), NSF_STATUS_OK);
    }
    void TearDown() override {
        for (int32_t i = 0; i < pContext->numBuffers; i++)
            nsfFreeBuffer(pContext, &pContext->buffers[i]);
        nsfFree(pContext, pContext->buffers);
        NsfTest::TearDown();
    }
    void setTimeZone(const char *pszZone) {
        env.set("TZ", pszZone);
        tzset();
    }
    void put(NSFBUFFER *pBuffer, const std::string &bytes) {
        pBuffer->ucbData = 0;
        ASSERT_EQ(nsfCheckBuffer(pContext, pBuffer, static_cast<uint32_t>(bytes.size())), NSF_STATUS_OK);
        std::memcpy(pBuffer->rgbData, bytes.data(), bytes.size());
        pBuffer->ucbData = static_cast<uint32_t>(bytes.size());
    }
    // The calendar fields of a scanned time.
    static void expectFields(const struct tm &t, int nYear, int nMonth, int nDay, int nHour) {
        EXPECT_EQ(t.tm_year + 1900, nYear);
        EXPECT_EQ(t.tm_mon + 1, nMonth);
        EXPECT_EQ(t.tm_mday, nDay);
        EXPECT_EQ(t.tm_hour, nHour);
    }
    std::string get(const NSFBUFFER *pBuffer) {
        return std::string(reinterpret_cast<const char *>(pBuffer->rgbData), pBuffer->ucbData);
    }
};

TEST_F(ConvertTest, TimeDateToBrokenDownTime) {
    TIMEDATE td;
    td.Innards[0] = 4500000; // 12:30:00 in hundredths of a second
    td.Innards[1] = 2457301;
    struct tm t;
    struct tm zone;
    ASSERT_EQ(nsfConvertTIMEDATEtoTM(pContext, &td, &t, &zone), NSF_STATUS_OK);
    EXPECT_EQ(t.tm_year, 115);
    EXPECT_EQ(t.tm_mon, 9);
    EXPECT_EQ(t.tm_mday, 5);
    EXPECT_EQ(t.tm_hour, 12);
    EXPECT_EQ(t.tm_min, 30);
    EXPECT_EQ(t.tm_sec, 0);
    EXPECT_EQ(zone.tm_hour, 0);

    // East of GMT by one hour and 45 minutes, daylight saving observed.
    td.Innards[1] = 2457301u | (1u << 24) | (3u << 28) | (1u << 30) | (1u << 31);
    ASSERT_EQ(nsfConvertTIMEDATEtoTM(pContext, &td, &t, &zone), NSF_STATUS_OK);
    EXPECT_EQ(zone.tm_hour, -1);
    EXPECT_EQ(zone.tm_min, 45);
    EXPECT_EQ(zone.tm_isdst, 1);
    EXPECT_EQ(t.tm_mday, 5) << "the zone does not move the GMT fields";

    // Five hours west, no daylight saving: the holder's hour is positive.
    td.Innards[1] = 2457301u | (5u << 24);
    ASSERT_EQ(nsfConvertTIMEDATEtoTM(pContext, &td, &t, nullptr), NSF_STATUS_OK);
}

TEST_F(ConvertTest, SupportedYearsAre1900To2099) {
    struct Case {
        DWORD dwJulianDay;
        DWORD dwTime;
        bool bAccepted;
        const char *pszLine;
    };
    const Case cases[] = {
        {2415020, 0, false, "[0/0] ERROR nsfConvertTIMEDATEtoTM(): Invalid date/time: 12/31/1899 00:00:00"},
        {2415021, 0, true, nullptr},       // 1 January 1900
        {2488069, 8639999, true, nullptr}, // 31 December 2099, 23:59:59
        {2488070, 0, false, "[0/0] ERROR nsfConvertTIMEDATEtoTM(): Error converting Julian day to date"},
        {0xFFFFFF, 0, false, "[0/0] ERROR nsfConvertTIMEDATEtoTM(): Error converting Julian day to date"},
        {2457301, 0xFFFFFFFF, false, nullptr}, // a date without a time
        {2457301, 8640000, false, nullptr},    // 24:00:00
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.dwJulianDay);
        TIMEDATE td{{c.dwTime, c.dwJulianDay}};
        struct tm t;
        EXPECT_EQ(nsfConvertTIMEDATEtoTM(pContext, &td, &t, nullptr) == NSF_STATUS_OK, c.bAccepted);
        if (c.pszLine != nullptr) {
            EXPECT_TRUE(contains(logLines(), c.pszLine));
        }
    }
    int32_t nYear, nMonth, nDay;
    EXPECT_TRUE(nsfJulianDayToDate(2440588, &nYear, &nMonth, &nDay));
    EXPECT_EQ(nYear * 10000 + nMonth * 100 + nDay, 19700101);
    EXPECT_TRUE(nsfJulianDayToDate(2378862, &nYear, &nMonth, &nDay)); // 1801-01-01
    EXPECT_EQ(nYear * 10000 + nMonth * 100 + nDay, 18010101);
    EXPECT_FALSE(nsfJulianDayToDate(2378861, &nYear, &nMonth, &nDay));
}

TEST_F(ConvertTest, ScanTimeReadsTwelveAndTwentyFourHourTexts) {
    setTimeZone("UTC");
    struct Case {
        const char *pszText;
        int nYear, nMonth, nDay, nHour;
    };
    const Case cases[] = {
        {"10/5/2015 3:04:05 PM", 2015, 10, 5, 15},  {"10/5/2015 12:04:05 AM", 2015, 10, 5, 0},
        {"10/5/2015 12:04:05 PM", 2015, 10, 5, 12}, {"10/5/2015 15:04:05", 2015, 10, 5, 15},
        {"1/31/2015 3:00:00 PM", 2015, 1, 31, 15},  {"2/29/2016 1:00:00 PM", 2016, 2, 29, 13},
        {"4/30/2015 23:00:00 PM", 2015, 5, 1, 11},  {"12/31/2015 23:30:00 PM", 2016, 1, 1, 11},
        // February by the Gregorian rule: centuries are leap years only when divisible by 400.
        {"2/29/2000 1:00:00 PM", 2000, 2, 29, 13},  {"2/29/2400 1:00:00 PM", 2400, 2, 29, 13},
        {"2/28/2000 23:00:00 PM", 2000, 2, 29, 11},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszText);
        struct tm t;
        ASSERT_EQ(nsfScanTime(pContext, c.pszText, &t), NSF_STATUS_OK);
        expectFields(t, c.nYear, c.nMonth, c.nDay, c.nHour);
    }
    struct tm t;
    EXPECT_EQ(nsfScanTime(pContext, "10/5/2015", &t), NSF_STATUS_INTERNAL);
    EXPECT_TRUE(
        contains(logLines(), "[0/0] ERROR nsfScanTime(): Error parsing \"M/D/Y H:M:S\" from date..."));
    EXPECT_EQ(nsfScanTime(pContext, "13/5/2015 1:00:00", &t), NSF_STATUS_INTERNAL);
    EXPECT_EQ(nsfScanTime(pContext, "1/5/1899 1:00:00", &t), NSF_STATUS_INTERNAL);
    EXPECT_EQ(nsfScanTime(pContext, "", &t), NSF_STATUS_INTERNAL);
}

// A sent time goes text -> scanned broken-down time -> FILETIME with the fields taken as GMT. The
// result names the same wall-clock fields in every zone, in and out of daylight saving, and the
// process's time zone is left as it was.
// 1900 was no leap year; the time is before the C runtime's epoch.
// The Windows C runtime's mktime and _mkgmtime64 refuse these times; the reader must not.
TEST_F(ConvertTest, ScanTimeReadsTimesBefore1970) {
    struct Case {
        const char *pszZone;
        const char *pszText;
        int nYear, nMonth, nDay, nHour, nWeekday;
        int64_t llZoneSeconds; // west of UTC
    };
    const Case cases[] = {
        {"UTC", "2/29/1900 1:00:00 PM", 1900, 3, 1, 13, 4, 0},
        {"UTC", "12/31/1969 11:59:59 PM", 1969, 12, 31, 23, 3, 0},
        {"UTC", "1/1/1970 12:00:00 AM", 1970, 1, 1, 0, 4, 0},
        {"EST5EDT", "1/15/1960 12:00:00", 1960, 1, 15, 12, 5, 5 * 3600},
        {"EST5EDT", "2/30/1960 12:00:00", 1960, 3, 1, 12, 2, 5 * 3600},
        {"EST5EDT", "12/31/1969 10:00:00 PM", 1969, 12, 31, 22, 3, 5 * 3600},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.pszZone) + " " + c.pszText);
        setTimeZone(c.pszZone);
        struct tm t;
        ASSERT_EQ(nsfScanTime(pContext, c.pszText, &t), NSF_STATUS_OK);
        expectFields(t, c.nYear, c.nMonth, c.nDay, c.nHour);
        EXPECT_EQ(t.tm_wday, c.nWeekday);
        int64_t llTime = 0;
        ASSERT_TRUE(nsfMakeLocalTime(&t, &llTime));
        const int64_t llUtc =
            static_cast<int64_t>(fileTimeOf(c.nYear, c.nMonth, c.nDay, c.nHour, t.tm_min, t.tm_sec) / 10000000ull) -
            11644473600;
        EXPECT_EQ(llTime, llUtc + c.llZoneSeconds);
    }
}

// A broken-down time becomes the FILETIME of its fields read as UTC, before 1970 as after, with
// fields out of their range carried into the next larger one.
TEST_F(ConvertTest, FileTimeOfBrokenDownTimesAcrossTheCalendar) {
    setTimeZone("EST5EDT"); // the process's zone plays no part
    struct Case {
        int nYear, nMonth, nDay, nHour, nMin, nSec; // as put into the tm (month 1-based)
        uint64_t ullExpected;
    };
    const Case cases[] = {
        {1601, 1, 1, 0, 0, 0, 0},
        {1801, 1, 1, 0, 0, 0, fileTimeOf(1801, 1, 1, 0, 0, 0)},
        {1900, 3, 1, 13, 0, 0, fileTimeOf(1900, 3, 1, 13, 0, 0)},
        {1969, 12, 31, 23, 59, 59, fileTimeOf(1969, 12, 31, 23, 59, 59)},
        {1970, 1, 1, 0, 0, 0, 116444736000000000ull},
        {2000, 2, 29, 12, 0, 0, fileTimeOf(2000, 2, 29, 12, 0, 0)},
        {2099, 12, 31, 23, 59, 59, fileTimeOf(2099, 12, 31, 23, 59, 59)},
        {1999, 13, 1, 0, 0, 0, fileTimeOf(2000, 1, 1, 0, 0, 0)},    // month 13
        {2000, 3, 0, 0, 0, 0, fileTimeOf(2000, 2, 29, 0, 0, 0)},    // day 0
        {1960, 0, 1, 0, 0, 0, fileTimeOf(1959, 12, 1, 0, 0, 0)},    // month 0
        {1969, 12, 31, 24, 0, 0, fileTimeOf(1970, 1, 1, 0, 0, 0)},  // hour 24
        {1970, 1, 1, 0, 0, -1, fileTimeOf(1969, 12, 31, 23, 59, 59)}, // second -1
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.nYear << "-" << c.nMonth << "-" << c.nDay << " " << c.nHour << ":"
                                        << c.nMin << ":" << c.nSec);
        struct tm t {};
        t.tm_year = c.nYear - 1900;
        t.tm_mon = c.nMonth - 1;
        t.tm_mday = c.nDay;
        t.tm_hour = c.nHour;
        t.tm_min = c.nMin;
        t.tm_sec = c.nSec;
        QL_FILETIME ft{};
        ASSERT_EQ(nsfConvertTMtoFILETIME(pContext, &t, &ft), NSF_STATUS_OK);
        EXPECT_EQ(value(ft), c.ullExpected);
    }
}

TEST_F(ConvertTest, FileTimeOfScannedTimesIsTheSameInEveryZone) {
#ifdef _WIN32
    // The Windows C runtime knows no Olson names, only the POSIX form with US daylight-saving rules.
    const char *const rgpszZones[] = {"UTC", "EST5EDT", "PST8PDT", "IST-5:30"};
#else
    const char *const rgpszZones[] = {"UTC", "America/New_York", "Europe/Berlin", "Asia/Kolkata"};
#endif
    struct Case {
        const char *pszText;
        uint64_t ullExpected;
    };
    const Case cases[] = {
        {"7/4/2015 12:00:00 PM", fileTimeOf(2015, 7, 4, 12, 0, 0)},
        {"1/15/2015 12:00:00 PM", fileTimeOf(2015, 1, 15, 12, 0, 0)},
        {"3/29/2015 2:30:00 AM", fileTimeOf(2015, 3, 29, 2, 30, 0)}, // inside the European spring gap
        {"12/31/2015 11:59:59 PM", fileTimeOf(2015, 12, 31, 23, 59, 59)},
    };
    for (const char *pszZone : rgpszZones) {
        setTimeZone(pszZone);
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(pszZone) + " " + c.pszText);
            struct tm t;
            ASSERT_EQ(nsfScanTime(pContext, c.pszText, &t), NSF_STATUS_OK);
            QL_FILETIME ft{};
            ASSERT_EQ(nsfConvertTMtoFILETIME(pContext, &t, &ft), NSF_STATUS_OK);
            if (std::string(pszZone) == "Europe/Berlin" &&
                std::string(c.pszText).rfind("3/29/2015", 0) == 0) {
                // 2:30 does not exist in Berlin that night; the C library moves it to 3:30.
                EXPECT_EQ(value(ft), fileTimeOf(2015, 3, 29, 3, 30, 0));
            } else {
                EXPECT_EQ(value(ft), c.ullExpected);
            }
            EXPECT_STREQ(getenv("TZ"), pszZone);
        }
    }

    // A broken-down time is taken exactly as GMT, whatever its daylight-saving flag says.
    TIMEDATE td{{4500000, 2457301}};
    struct tm t;
    ASSERT_EQ(nsfConvertTIMEDATEtoTM(pContext, &td, &t, nullptr), NSF_STATUS_OK);
    for (int bDST : {0, 1}) {
        t.tm_isdst = bDST;
        QL_FILETIME ft{};
        ASSERT_EQ(nsfConvertTMtoFILETIME(pContext, &t, &ft), NSF_STATUS_OK);
        EXPECT_EQ(value(ft), fileTimeOf(2015, 10, 5, 12, 30, 0));
    }
}

TEST_F(ConvertTest, CompositeTextToLMBCSEndsLinesWithCRLF) {
    put(pContext->BufferCD, std::string("a\0b\nc\rd", 7));
    ASSERT_EQ(nsfConvertCDtoLMBCS(pContext), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferLMBCS), "a\r\nb\r\ncd");
    EXPECT_EQ(pContext->BufferCD->ucbData, 0u);
    EXPECT_EQ(pContext->BufferLMBCS->rgbData[pContext->BufferLMBCS->ucbData], 0);
}

TEST_F(ConvertTest, UTF8ToHTMLEscapesForAQuotedPrintableBody) {
    put(pContext->BufferUTF8, "a<b>=c\n\xC3\xA9&\"");
    ASSERT_EQ(nsfConvertUTF8toHTML(pContext), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferHTML), "a&lt;b&gt;=3Dc<BR>\r\n\xC3\xA9&\"");
    EXPECT_EQ(pContext->BufferUTF8->ucbData, 0u);

    // A lead byte takes the next byte along whatever it is, so the room is reserved by what each
    // byte really produces: a lead byte before a CR (which alone would produce nothing).
    std::string leadBeforeCR;
    for (int i = 0; i < 3000; i++)
        leadBeforeCR += "\xC3\r";
    put(pContext->BufferUTF8, leadBeforeCR);
    ASSERT_EQ(nsfConvertUTF8toHTML(pContext), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferHTML), leadBeforeCR);

    // Escaping can grow a text fourfold; there must be room for all of it.
    put(pContext->BufferUTF8, std::string(5000, '<'));
    ASSERT_EQ(nsfConvertUTF8toHTML(pContext), NSF_STATUS_OK);
    EXPECT_EQ(pContext->BufferHTML->ucbData, 20000u);

    // A lead byte at the very end takes nothing from beyond the text.
    put(pContext->BufferUTF8, "x\xC3");
    ASSERT_EQ(nsfConvertUTF8toHTML(pContext), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferHTML), "x\xC3");
}

TEST_F(ConvertTest, LMBCSToUTF8KeepsLongTextWhole) {
    // 40000 CP850 letters become 80000 bytes of UTF-8: more than one API call can return.
    put(pContext->BufferLMBCS, std::string(40000, '\x82'));
    ASSERT_EQ(nsfConvertLMBCStoUTF8(pContext), NSF_STATUS_OK);
    std::string expected;
    for (int i = 0; i < 40000; i++)
        expected += "\xC3\xA9";
    EXPECT_EQ(get(pContext->BufferUTF8), expected);
    EXPECT_EQ(pContext->BufferLMBCS->ucbData, 0u);

    // Text longer than 65535 bytes, with three-byte characters and a surrogate pair at every offset
    // where a piece could end.
    std::string lmbcs;
    std::string utf8;
    for (int i = 0; i < 9000; i++) {
        lmbcs += "ab\x14\x20\xAC"; // a b EURO SIGN
        utf8 += "ab\xE2\x82\xAC";
        lmbcs += "\x14\xD8\x3D\x14\xDE\x01"; // U+1F601 as two surrogate units
        utf8 += "\xF0\x9F\x98\x81";
    }
    ASSERT_GT(lmbcs.size(), 65535u);
    put(pContext->BufferLMBCS, lmbcs);
    ASSERT_EQ(nsfConvertLMBCStoUTF8(pContext), NSF_STATUS_OK);
    EXPECT_EQ(get(pContext->BufferUTF8), utf8);
}

} // namespace
} // namespace tessel::test
