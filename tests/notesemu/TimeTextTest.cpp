// ConvertTIMEDATEToText: formats, zones under two process time zones, special and invalid values.
#include "TestSupport.h"

#include <notes/notes.h>
#include <tessel/kit/TimeDate.h>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>

namespace notesemu {
namespace {

using tessel::kit::DateTime;
using test::ScopedEnv;

TIMEDATE timeDate(const DateTime &dateTime) {
    const auto kit = dateTime.toTimeDate();
    return TIMEDATE{{kit.innards[0], kit.innards[1]}};
}

struct Result {
    STATUS status;
    std::string text;
};

Result toText(const TIMEDATE &value, const TFMT *format = nullptr, const INTLFORMAT *intl = nullptr) {
    char buffer[MAXALPHATIMEDATE + 1];
    WORD length = 0xFFFF;
    const STATUS status = ConvertTIMEDATEToText(intl, format, &value, buffer, MAXALPHATIMEDATE, &length);
    return {status, status == NOERROR ? std::string(buffer, length) : std::string()};
}

// The process time zone for one test, restored (and re-read) afterwards.
class TimeZone : public ::testing::Test {
protected:
    void useZone(const char *zone) {
        tz_.emplace("TZ", zone);
        tzset();
    }
    void TearDown() override {
        tz_.reset();
        tzset();
    }

    std::optional<ScopedEnv> tz_;
};

// New York's and Tokyo's zones as TZ names them. The Windows C runtime reads only the POSIX form
// (standard name, hours west of UTC, daylight name), not the zone database's names.
#ifdef _WIN32
constexpr const char *kNewYork = "EST5EDT";
constexpr const char *kTokyo = "JST-9";
#else
constexpr const char *kNewYork = "America/New_York";
constexpr const char *kTokyo = "Asia/Tokyo";
#endif

// 2024-01-15 09:25:30 in New York (EST, a zone that observes daylight saving).
const DateTime kNewYorkWinter = [] {
    DateTime t = DateTime::at(2024, 1, 15, 9, 25, 30, 0, -300);
    t.dstObserved = true;
    return t;
}();
// 2024-07-04 12:00:00 in New York (EDT).
const DateTime kNewYorkSummer = DateTime::at(2024, 7, 4, 12, 0, 0, 0, -240, true);
const DateTime kUtc = DateTime::at(2024, 1, 15, 14, 25, 30);

TEST_F(TimeZone, FormatsUnderUtc) {
    useZone("UTC");
    const TIMEDATE value = timeDate(kUtc);
    const struct {
        TFMT format;
        const char *text;
    } cases[] = {
        {{TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME}, "01/15/2024 02:25:30 PM"},
        {{TDFMT_FULL4, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATE}, "01/15/2024"},
        {{TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_TIME}, "02:25:30 PM"},
        {{TDFMT_FULL, TTFMT_PARTIAL, TZFMT_NEVER, TSFMT_TIME}, "02:25 PM"},
        {{TDFMT_FULL, TTFMT_HOUR, TZFMT_NEVER, TSFMT_TIME}, "02 PM"},
        {{TDFMT_PARTIAL, TTFMT_PARTIAL, TZFMT_NEVER, TSFMT_DATETIME}, "01/15 02:25 PM"},
        {{TDFMT_DPARTIAL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATE}, "01/2024"},
        {{TDFMT_CPARTIAL4, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATE}, "01/15/2024"},
        {{TDFMT_FULL, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME}, "01/15/2024 02:25:30 PM GMT"},
        {{TDFMT_FULL, TTFMT_FULL, TZFMT_SOMETIMES, TSFMT_DATETIME}, "01/15/2024 02:25:30 PM"},
    };
    for (const auto &c : cases) {
        const Result result = toText(value, &c.format);
        EXPECT_EQ(result.status, NOERROR);
        EXPECT_EQ(result.text, c.text);
    }
    EXPECT_EQ(toText(value).text, "01/15/2024 02:25:30 PM") << "NULL format";
    EXPECT_EQ(toText(timeDate(DateTime::at(2024, 1, 15, 0, 0, 0))).text, "01/15/2024 12:00:00 AM");
    EXPECT_EQ(toText(timeDate(DateTime::at(2024, 1, 15, 12, 0, 0))).text, "01/15/2024 12:00:00 PM");
}

TEST_F(TimeZone, StoredZonesUnderUtc) {
    useZone("UTC");
    const TFMT never{TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME};
    const TFMT sometimes{TDFMT_FULL, TTFMT_FULL, TZFMT_SOMETIMES, TSFMT_DATETIME};
    const TFMT always{TDFMT_FULL, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME};
    EXPECT_EQ(toText(timeDate(kNewYorkWinter), &never).text, "01/15/2024 02:25:30 PM");
    EXPECT_EQ(toText(timeDate(kNewYorkWinter), &always).text, "01/15/2024 09:25:30 AM EST");
    EXPECT_EQ(toText(timeDate(kNewYorkWinter), &sometimes).text, "01/15/2024 09:25:30 AM EST");
    EXPECT_EQ(toText(timeDate(kNewYorkSummer), &always).text, "07/04/2024 12:00:00 PM EDT");
    EXPECT_EQ(toText(timeDate(DateTime::at(2024, 1, 15, 20, 0, 0, 0, 330)), &always).text,
              "01/15/2024 08:00:00 PM ZE5:30");
    EXPECT_EQ(toText(timeDate(DateTime::at(2024, 7, 1, 10, 0, 0, 0, 120, true)), &always).text,
              "07/01/2024 10:00:00 AM CEDT");
}

// Whether the C library applies the zone's daylight saving. Wine's C runtime, once TZ has been
// unset in the process (as a test before this one leaves it), keeps the system zone's rules for
// daylight saving, which are none on a machine that keeps UTC, and sees none in "EST5EDT" then.
bool cLibraryObservesDaylightSaving() {
    tzset();
    const std::time_t july = 1720094400; // 2024-07-04 12:00 UTC
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &july) != 0)
        return false;
#else
    if (localtime_r(&july, &local) == nullptr)
        return false;
#endif
    return local.tm_isdst > 0;
}

TEST_F(TimeZone, StoredZonesUnderNewYork) {
    useZone(kNewYork);
    const TFMT never{TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME};
    const TFMT sometimes{TDFMT_FULL, TTFMT_FULL, TZFMT_SOMETIMES, TSFMT_DATETIME};
    const TFMT always{TDFMT_FULL, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME};
    EXPECT_EQ(toText(timeDate(kUtc), &never).text, "01/15/2024 09:25:30 AM");
    EXPECT_EQ(toText(timeDate(kUtc), &sometimes).text, "01/15/2024 02:25:30 PM GMT");
    EXPECT_EQ(toText(timeDate(kNewYorkWinter), &always).text, "01/15/2024 09:25:30 AM EST");
    EXPECT_EQ(toText(timeDate(kNewYorkSummer), &always).text, "07/04/2024 12:00:00 PM EDT");
    // 04:30 UTC on 1 January is the previous evening in New York.
    EXPECT_EQ(toText(timeDate(DateTime::at(2024, 1, 1, 4, 30, 0)), &never).text, "12/31/2023 11:30:00 PM");
    // Before 1970 too (the Windows C runtime refuses local times there).
    EXPECT_EQ(toText(timeDate(DateTime::at(1960, 1, 15, 14, 0, 0)), &never).text, "01/15/1960 09:00:00 AM");
    EXPECT_EQ(toText(timeDate(DateTime::at(1970, 1, 1, 3, 0, 0)), &never).text, "12/31/1969 10:00:00 PM");
}

// A time stored in the local zone (same standard offset, daylight saving observed) shows no zone
// when the format asks for one only sometimes.
TEST_F(TimeZone, TheLocalZoneIsLeftOutWhenShownOnlySometimes) {
    useZone(kNewYork);
    if (!cLibraryObservesDaylightSaving())
        GTEST_SKIP() << "the C library sees no daylight saving in " << kNewYork
                     << " (Wine's C runtime keeps the system zone's daylight-saving rules once TZ was unset)";
    const TFMT sometimes{TDFMT_FULL, TTFMT_FULL, TZFMT_SOMETIMES, TSFMT_DATETIME};
    EXPECT_EQ(toText(timeDate(kNewYorkWinter), &sometimes).text, "01/15/2024 09:25:30 AM");
    EXPECT_EQ(toText(timeDate(kNewYorkSummer), &sometimes).text, "07/04/2024 12:00:00 PM");
}

// The runtime reads the zone's rules again by itself whenever TZ has changed since it last did.
TEST_F(TimeZone, AChangeOfTzBetweenConversionsIsSeenWithoutTzset) {
    const TFMT never{TDFMT_FULL, TTFMT_FULL, TZFMT_NEVER, TSFMT_DATETIME};
    const struct {
        const char *zone;
        const char *text;
    } steps[] = {
        {"UTC", "01/15/2024 02:25:30 PM"},    {kNewYork, "01/15/2024 09:25:30 AM"},
        {kNewYork, "01/15/2024 09:25:30 AM"}, {kTokyo, "01/15/2024 11:25:30 PM"},
        {"UTC", "01/15/2024 02:25:30 PM"},
    };
    for (const auto &step : steps) {
        tz_.emplace("TZ", step.zone);
        EXPECT_EQ(toText(timeDate(kUtc), &never).text, step.text) << step.zone;
    }
}

TEST_F(TimeZone, DateOnlyTimeOnlyWildcardAndClearedValues) {
    useZone(kNewYork);
    const TFMT always{TDFMT_FULL, TTFMT_FULL, TZFMT_ALWAYS, TSFMT_DATETIME};
    EXPECT_EQ(toText(timeDate(DateTime::dateOnly(2024, 2, 29)), &always).text, "02/29/2024");
    EXPECT_EQ(toText(timeDate(DateTime::timeOnly(23, 5, 9)), &always).text, "11:05:09 PM");
    const Result wildcard = toText(TIMEDATE{{ALLDAY, ANYDAY}});
    EXPECT_EQ(wildcard.status, NOERROR);
    EXPECT_EQ(wildcard.text, "");
    EXPECT_EQ(toText(TIMEDATE{{0, 0}}).text, "");
}

TEST_F(TimeZone, InvalidValuesAndFormatsAreRefused) {
    useZone("UTC");
    const TIMEDATE good = timeDate(kUtc);
    EXPECT_EQ(toText(TIMEDATE{{static_cast<DWORD>(TICKS_IN_DAY), good.Innards[1]}}).status, ERR_TDO_CONV);
    EXPECT_EQ(toText(TIMEDATE{{0, 0x00FFFFFF}}).status, ERR_TDO_CONV) << "a day past the year 9999";
    EXPECT_EQ(toText(TIMEDATE{{0, 1}}).status, ERR_TDO_CONV) << "a day before the year 1";
    EXPECT_EQ(toText(TIMEDATE{{0, (good.Innards[1] & 0x00FFFFFF) | 0x0F000000}}).status, ERR_TDO_CONV);
    for (TFMT bad : {TFMT{7, 0, 0, 2}, TFMT{0, 3, 0, 2}, TFMT{0, 0, 3, 2}, TFMT{0, 0, 0, 4}})
        EXPECT_EQ(toText(good, &bad).status, ERR_TFMT);
    INTLFORMAT intl{};
    intl.Length = 3;
    EXPECT_EQ(toText(good, nullptr, &intl).status, ERR_IFMT);
    WORD length = 0;
    EXPECT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, nullptr, nullptr, 0, &length), ERR_BAD_PARAM);
}

TEST_F(TimeZone, InternationalSettingsAreHonoured) {
    useZone("UTC");
    INTLFORMAT intl{};
    intl.Length = sizeof(INTLFORMAT);
    intl.Flags = DATE_DMY | CLOCK_24_HOUR;
    std::strcpy(intl.DateString, ".");
    std::strcpy(intl.TimeString, ":");
    EXPECT_EQ(toText(timeDate(kUtc), nullptr, &intl).text, "15.01.24 14:25:30");
    intl.Flags = DATE_YMD | DATE_4DIGIT_YEAR;
    std::strcpy(intl.DateString, "-");
    std::strcpy(intl.AMString, "am");
    std::strcpy(intl.PMString, "pm");
    EXPECT_EQ(toText(timeDate(kUtc), nullptr, &intl).text, "2024-01-15 02:25:30 pm");
}

TEST_F(TimeZone, TodayAndYesterdayForTheCasualForm) {
    useZone("UTC");
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    const TFMT casual{TDFMT_FULL, TTFMT_PARTIAL, TZFMT_NEVER, TSFMT_CDATETIME};
    EXPECT_EQ(toText(timeDate(DateTime::fromUnix(now)), &casual).text.rfind("Today ", 0), 0u);
    EXPECT_EQ(toText(timeDate(DateTime::fromUnix(now - 86400)), &casual).text.rfind("Yesterday ", 0), 0u);
    EXPECT_EQ(toText(timeDate(DateTime::at(2001, 5, 6, 7, 8, 9)), &casual).text, "05/06/2001 07:08 AM");
}

TEST_F(TimeZone, TextIsCutToTheBufferAndTerminatedOnlyWhenRoomRemains) {
    useZone("UTC");
    const TIMEDATE value = timeDate(kUtc);
    char buffer[40];
    std::memset(buffer, '#', sizeof buffer);
    WORD length = 0;
    ASSERT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &value, buffer, 22, &length), NOERROR);
    EXPECT_EQ(length, 22);
    EXPECT_EQ(std::string(buffer, 22), "01/15/2024 02:25:30 PM");
    EXPECT_EQ(buffer[22], '#') << "no terminator past the buffer length";
    ASSERT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &value, buffer, 30, &length), NOERROR);
    EXPECT_EQ(buffer[22], '\0');
    ASSERT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &value, buffer, 10, &length), NOERROR);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(std::string(buffer, 10), "01/15/2024");
}

} // namespace
} // namespace notesemu
