// NSFItemConvertValueToText over value blocks of every kind, and the general number format.
#include "ValueText.h"
#include "Log.h"
#include "TestSupport.h"

#include <notes/notes.h>
#include <tessel/kit/CdWriter.h>
#include <tessel/kit/TimeDate.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace notesemu {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScopedEnv;

// A value placed in a memory object at a non-zero block offset, as a note's pool holds it.
class ValueBlock {
public:
    explicit ValueBlock(const Bytes &value, WORD offset = 6) {
        EXPECT_EQ(OSMemAlloc(0, static_cast<DWORD>(value.size() + offset), &handle_), NOERROR);
        auto *base = static_cast<std::uint8_t *>(OSLockObject(handle_));
        if (!value.empty())
            std::memcpy(base + offset, value.data(), value.size());
        OSUnlockObject(handle_);
        id_ = BLOCKID{handle_, offset};
    }
    ~ValueBlock() { OSMemFree(handle_); }
    BLOCKID id() const { return id_; }

private:
    DHANDLE handle_ = NULLHANDLE;
    BLOCKID id_{};
};

Bytes typed(WORD type, const Bytes &data) {
    Bytes value(data.size() + 2, 0);
    value[0] = static_cast<std::uint8_t>(type & 0xFF);
    value[1] = static_cast<std::uint8_t>(type >> 8);
    std::copy(data.begin(), data.end(), value.begin() + 2);
    return value;
}

template <typename T> void put(Bytes &out, const T &value) {
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(&value);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

Bytes textList(const std::vector<std::string> &entries) {
    Bytes out;
    put(out, static_cast<WORD>(entries.size()));
    for (const std::string &entry : entries)
        put(out, static_cast<WORD>(entry.size()));
    for (const std::string &entry : entries)
        out.insert(out.end(), entry.begin(), entry.end());
    return out;
}

TIMEDATE timeDate(const tessel::kit::DateTime &dateTime) {
    const auto kit = dateTime.toTimeDate();
    return TIMEDATE{{kit.innards[0], kit.innards[1]}};
}

class ValueToText : public ::testing::Test {
protected:
    void SetUp() override {
        tzset();
        ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    }
    void TearDown() override {
        NotesTerm();
        tz_.reset();
        tzset();
    }

    // Converts through the C entry point and returns the text (embedded NULs included).
    std::string convert(WORD type, const Bytes &data, char separator = ';', WORD bufferLength = 512) {
        const Bytes value = typed(type, data);
        ValueBlock block(value);
        std::vector<char> buffer(bufferLength + 8, '#');
        const WORD length = NSFItemConvertValueToText(type, block.id(), static_cast<DWORD>(value.size()),
                                                      buffer.data(), bufferLength, separator);
        EXPECT_LT(length, bufferLength);
        EXPECT_EQ(buffer[length], '\0') << "the text is terminated";
        return std::string(buffer.data(), length);
    }

    test::TempDir dir_;
    ScopedEnv path_{"PATH", dir_.path().string()};
    ScopedEnv notesIni_{"NOTES_INI", std::nullopt};
    std::optional<ScopedEnv> tz_{std::in_place, "TZ", "UTC"};
};

TEST_F(ValueToText, TextIsCopiedAsStoredWithItsLineBreaks) {
    const std::string stored("Hello\0World", 11);
    EXPECT_EQ(convert(TYPE_TEXT, Bytes(stored.begin(), stored.end())), stored);
    EXPECT_EQ(convert(TYPE_TEXT, {}), "");
    EXPECT_EQ(convert(TYPE_USERID, {'A', 'd', 'a'}), "Ada");
}

TEST_F(ValueToText, TextListEntriesAreJoinedWithTheSeparatorGiven) {
    const Bytes list = textList({"A", "BC", "", "D"});
    EXPECT_EQ(convert(TYPE_TEXT_LIST, list, ';'), "A;BC;;D");
    EXPECT_EQ(convert(TYPE_TEXT_LIST, list, ','), "A,BC,,D");
    EXPECT_EQ(convert(TYPE_TEXT_LIST, list, '\0'), std::string("A\0BC\0\0D", 7));
    EXPECT_EQ(convert(TYPE_TEXT_LIST, textList({})), "");
}

TEST_F(ValueToText, TextListWhoseCountsLieGivesWhatFitsAndLogs) {
    Bytes list;
    put(list, WORD{5});
    put(list, WORD{3});
    list.insert(list.end(), {'a', 'b', 'c'});
    LogCapture log;
    EXPECT_EQ(convert(TYPE_TEXT_LIST, list), "") << "the lengths of five entries do not fit the value";
    EXPECT_TRUE(log.contains("text list"));

    Bytes longEntry;
    put(longEntry, WORD{1});
    put(longEntry, WORD{50});
    longEntry.insert(longEntry.end(), {'x', 'y'});
    EXPECT_EQ(convert(TYPE_TEXT_LIST, longEntry), "xy");
    EXPECT_TRUE(log.contains("runs past the value"));
}

TEST(NumberFormat, GeneralFormatCases) {
    const struct {
        double value;
        const char *text;
    } cases[] = {
        {3, "3"},
        {3.5, "3.5"},
        {-120, "-120"},
        {0.001, "0.001"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3, "0.333333333333333"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1.0E+15"},
        {1e20, "1.0E+20"},
        {-2.5e21, "-2.5E+21"},
        {1.25e-7, "1.25E-07"},
        {2.5e-5, "2.5E-05"},
        {1e-300, "1.0E-300"},
        {-0.0, "0"},
        {0, "0"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(formatNumber(c.value), c.text) << c.value;
}

TEST_F(ValueToText, NumbersAndNumberRanges) {
    Bytes number;
    put(number, 3.5);
    EXPECT_EQ(convert(TYPE_NUMBER, number), "3.5");
    EXPECT_EQ(convert(TYPE_NUMBER, {1, 2, 3}), "") << "a number value too short for a NUMBER";

    Bytes range;
    put(range, RANGE{2, 1});
    put(range, 1.0);
    put(range, 2.25);
    put(range, NUMBER_PAIR{3, 4});
    EXPECT_EQ(convert(TYPE_NUMBER_RANGE, range, ','), "1,2.25,3 - 4");
    EXPECT_EQ(convert(TYPE_NUMBER_RANGE, range, '\0'), std::string("1\0"
                                                                   "2.25\0"
                                                                   "3 - 4",
                                                                   12));
}

TEST_F(ValueToText, TimesAndTimeRangesUseTheDefaultFormat) {
    using tessel::kit::DateTime;
    Bytes time;
    put(time, timeDate(DateTime::at(2024, 1, 15, 9, 25, 30)));
    EXPECT_EQ(convert(TYPE_TIME, time), "01/15/2024 09:25:30 AM");

    Bytes range;
    put(range, RANGE{1, 1});
    put(range, timeDate(DateTime::dateOnly(2024, 2, 29)));
    put(range, timeDate(DateTime::at(2024, 3, 1, 13, 0, 0)));
    put(range, timeDate(DateTime::at(2024, 3, 2, 0, 0, 0)));
    EXPECT_EQ(convert(TYPE_TIME_RANGE, range, ';'),
              "02/29/2024;03/01/2024 01:00:00 PM - 03/02/2024 12:00:00 AM");

    Bytes truncated;
    put(truncated, RANGE{3, 0});
    put(truncated, timeDate(DateTime::dateOnly(2024, 2, 29)));
    LogCapture log;
    EXPECT_EQ(convert(TYPE_TIME_RANGE, truncated), "02/29/2024");
    EXPECT_TRUE(log.contains("range cut short"));
}

TEST_F(ValueToText, CompositeShowsItsTextRunsAndParagraphBreaks) {
    tessel::kit::CdWriter cd;
    cd.pabDefinition({}).paragraph().pabReference(1).text({}, "Hello ").text({}, "you\nthere");
    cd.paragraph().pabReference(1).text({}, "World");
    EXPECT_EQ(convert(TYPE_COMPOSITE, cd.bytes()), "Hello you\r\nthere\r\nWorld");
}

TEST_F(ValueToText, OtherTypesGiveEmptyText) {
    for (int type : {TYPE_OBJECT, TYPE_NOTEREF_LIST, TYPE_ERROR, TYPE_UNAVAILABLE, TYPE_FORMULA, 0x7777})
        EXPECT_EQ(convert(static_cast<WORD>(type), {1, 2, 3, 4, 5, 6, 7, 8}), "") << type;
}

TEST_F(ValueToText, OutputIsCutToTheBufferAtACharacterBoundary) {
    EXPECT_EQ(convert(TYPE_TEXT, {'a', 'b', 'c', 'd', 'e', 'f'}, ';', 4), "abc");
    // "ab" then a three-byte LMBCS character (Unicode group) that does not fit in 3 bytes of text.
    EXPECT_EQ(convert(TYPE_TEXT, {'a', 'b', 0x14, 0x20, 0xAC, 'z'}, ';', 4), "ab");
    EXPECT_EQ(convert(TYPE_TEXT, {'a', 'b', 0x14, 0x20, 0xAC, 'z'}, ';', 6),
              std::string("ab\x14\x20\xAC", 5));
    EXPECT_EQ(convert(TYPE_TEXT, {'a'}, ';', 1), "") << "room for the terminator only";
}

TEST_F(ValueToText, LengthPastThePoolIsCutToThePool) {
    const Bytes value = typed(TYPE_TEXT, {'a', 'b', 'c'});
    ValueBlock block(value);
    char buffer[64];
    LogCapture log;
    const WORD length = NSFItemConvertValueToText(TYPE_TEXT, block.id(), 5000, buffer, sizeof buffer, ';');
    EXPECT_EQ(std::string(buffer, length), "abc");
    EXPECT_TRUE(log.contains("runs past its pool"));
}

TEST_F(ValueToText, UnusableArgumentsGiveNothing) {
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(NSFItemConvertValueToText(TYPE_TEXT, BLOCKID{0x1234, 0}, 10, buffer, sizeof buffer, ';'), 0);
    EXPECT_EQ(buffer[0], '\0');
    const Bytes value = typed(TYPE_TEXT, {'a'});
    ValueBlock block(value);
    EXPECT_EQ(NSFItemConvertValueToText(TYPE_TEXT, block.id(), 3, nullptr, 8, ';'), 0);
    EXPECT_EQ(NSFItemConvertValueToText(TYPE_TEXT, block.id(), 1, buffer, sizeof buffer, ';'), 0)
        << "shorter than the type word";
}


namespace rfc822 {

// A TYPE_RFC822_TEXT value without its type word: RFC822ITEMDESC (version 14), then the native
// value, the header name, the delimiter and the raw body.
Bytes value(DWORD flags, const Bytes &native, std::string_view name, std::string_view body,
            std::string_view delimiter = ": ", WORD version = 14) {
    Bytes out;
    put(out, version);
    put(out, flags);
    put(out, static_cast<WORD>(native.size()));
    put(out, static_cast<WORD>(name.size()));
    put(out, static_cast<WORD>(delimiter.size()));
    put(out, static_cast<WORD>(body.size()));
    out.insert(out.end(), native.begin(), native.end());
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), delimiter.begin(), delimiter.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

} // namespace rfc822

TEST_F(ValueToText, Rfc822HeaderItemsShowTheirNativeValue) {
    // The itemized shapes: flags 0x08 for addresses, 0x09 for the date, 0x0A for other text.
    Bytes posted;
    put(posted, TIMEDATE{{0x005265C0, 0x05258520}}); // 03/03/2020 15:00:00 GMT, zone 5 h west
    struct Case {
        const char *label;
        Bytes value;
        const char *expected;
    } cases[] = {
        {"address", rfc822::value(0x08, rfc822::text("\"Ann Example\" <ann@example.com>"), "From",
                                  "\"Ann Example\" <ann@example.com>\r\n"),
         "\"Ann Example\" <ann@example.com>"},
        {"text", rfc822::value(0x0A, rfc822::text("Hello"), "Subject", "Hello\r\n"), "Hello"},
        {"date", rfc822::value(0x09, posted, "Date", "Tue, 3 Mar 2020 10:00:00 -0500"),
         "03/03/2020 03:00:00 PM"},
        {"native list joined by the separator",
         rfc822::value(0x0A | 0x10, textList({"a@example.org", "b@example.org"}), "To",
                       "a@example.org, b@example.org\r\n"),
         "a@example.org;b@example.org"},
        {"empty address", rfc822::value(0x08, {}, "Cc", "\r\n"), ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        LogCapture log;
        EXPECT_EQ(convert(TYPE_RFC822_TEXT, c.value), c.expected);
        EXPECT_FALSE(log.contains("raw body")) << log.text();
    }
}

TEST_F(ValueToText, Rfc822ItemsTheRuntimeCannotInterpretShowTheirUnfoldedBody) {
    const std::string folded = "a long\r\n subject\r\n";
    struct Case {
        const char *label;
        Bytes value;
    } cases[] = {
        {"unknown version", rfc822::value(0x0A, rfc822::text("x"), "Subject", folded, ": ", 16)},
        {"unknown format", rfc822::value(0x0D, rfc822::text("x"), "Subject", folded)},
        {"date of the wrong size", rfc822::value(0x09, rfc822::text("abc"), "Subject", folded)},
        {"list whose counts do not add up", rfc822::value(0x1A, Bytes{5, 0, 1, 0}, "Subject", folded)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        LogCapture log;
        EXPECT_EQ(convert(TYPE_RFC822_TEXT, c.value), "a long subject");
        EXPECT_TRUE(log.contains("shown from its raw body")) << log.text();
    }
}

TEST_F(ValueToText, Rfc822ItemWhoseLengthsRunPastItsValueShowsNothingAndLogs) {
    Bytes value = rfc822::value(0x0A, rfc822::text("Hello"), "Subject", "Hello\r\n");
    value.resize(value.size() - 3);
    LogCapture log;
    EXPECT_EQ(convert(TYPE_RFC822_TEXT, value), "");
    EXPECT_TRUE(log.contains("run past its value")) << log.text();
    EXPECT_EQ(convert(TYPE_RFC822_TEXT, Bytes{14, 0, 8}), "");
}

} // namespace
} // namespace notesemu
