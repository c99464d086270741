#include "Json.h"
#include "Progress.h"
#include "TextOutput.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tessel::cli {
namespace {

struct EscapeCase {
    std::string input;
    std::string expected;
};

class EscapeTextTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTextTest, EscapesWhatBreaksLinesColumnsOrTerminals) {
    EXPECT_EQ(escapeText(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, EscapeTextTest,
    ::testing::Values(EscapeCase{"plain text", "plain text"}, EscapeCase{"a\nb", "a\\nb"},
                      EscapeCase{"a\tb", "a\\tb"}, EscapeCase{"a\rb", "a\\rb"}, EscapeCase{"a\\b", "a\\\\b"},
                      EscapeCase{"\x1b[2J", "\\x1B[2J"}, EscapeCase{std::string("\0", 1), "\\x00"},
                      EscapeCase{"\x7f", "\\x7F"}, EscapeCase{"\xc2\x9b" "1m", "\\xC2\\x9B1m"},
                      EscapeCase{"caf\xc3\xa9", "caf\xc3\xa9"}, EscapeCase{"\xe2\x82\xac", "\xe2\x82\xac"},
                      EscapeCase{"\xff", "\\xFF"}, EscapeCase{"\xc3", "\\xC3"},
                      EscapeCase{"\xed\xa0\x80", "\\xED\\xA0\\x80"}, // a surrogate is not UTF-8
                      EscapeCase{"\xc0\xaf", "\\xC0\\xAF"},          // nor an overlong form
                      EscapeCase{"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"}));

QL_FILETIME fileTime(uint64_t ticks) {
    return QL_FILETIME{static_cast<uint32_t>(ticks & 0xFFFFFFFFu), static_cast<uint32_t>(ticks >> 32)};
}

struct IsoTimeCase {
    uint64_t ticks; // 100 ns since 1601
    std::optional<std::string> text;
};

class IsoTimeTest : public ::testing::TestWithParam<IsoTimeCase> {};

TEST_P(IsoTimeTest, WritesUtcIso8601OrNothing) {
    EXPECT_EQ(isoTime(fileTime(GetParam().ticks)), GetParam().text);
}

constexpr uint64_t kUnixEpoch = 11644473600ull; // seconds from 1601 to 1970

INSTANTIATE_TEST_SUITE_P(
    Times, IsoTimeTest,
    ::testing::Values(IsoTimeCase{(1444048200ull + kUnixEpoch) * 10000000ull, "2015-10-05T12:30:00Z"},
                      IsoTimeCase{0, std::nullopt},           // zero is unknown
                      IsoTimeCase{1, "1601-01-01T00:00:00Z"}, // the first tick
                      IsoTimeCase{(kUnixEpoch - 1) * 10000000ull, "1969-12-31T23:59:59Z"},
                      IsoTimeCase{(951868800ull + kUnixEpoch) * 10000000ull, "2000-03-01T00:00:00Z"},
                      // beyond the year 3000, where some C libraries stop
                      IsoTimeCase{(253402300799ull + kUnixEpoch) * 10000000ull, "9999-12-31T23:59:59Z"},
                      IsoTimeCase{(253402300800ull + kUnixEpoch) * 10000000ull, std::nullopt},
                      IsoTimeCase{0x7FFFFFFFFFFFFFFFull, std::nullopt},
                      IsoTimeCase{0xFFFFFFFFFFFFFFFFull, std::nullopt}));

TEST(ProgressBar, ShowsDoneTotalAndRate) {
    EXPECT_EQ(ProgressBar::render(5, 10, 2.5, 10), "[#####-----] 5/10 subfiles, 2.5/s");
    EXPECT_EQ(ProgressBar::render(0, 0, 0, 4), "[####] 0/0 subfiles, 0.0/s");
}

TEST(Json, OutcomeRoundTripsThroughAWorkerRecord) {
    SubfileOutcome outcome;
    outcome.index = 7;
    outcome.kind = "attachment";
    outcome.name = "a\tb.txt";
    outcome.path = "out/x/a_b.txt";
    outcome.bytes = 1234;
    outcome.status = 16;
    outcome.error = "disk full";
    outcome.written = false;
    const auto back = outcomeFromJson(Json::parse(dumpJson(outcomeJson(outcome, std::nullopt))));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->index, 7);
    EXPECT_EQ(back->kind, "attachment");
    EXPECT_EQ(back->name, "a\tb.txt");
    EXPECT_EQ(back->path, "out/x/a_b.txt");
    EXPECT_EQ(back->bytes, 1234u);
    EXPECT_EQ(back->status, 16);
    EXPECT_EQ(back->error, "disk full");
}

TEST(Json, AMalformedRecordIsRefused) {
    EXPECT_FALSE(outcomeFromJson(Json::parse(R"({"index":"seven"})")).has_value());
    EXPECT_FALSE(outcomeFromJson(Json::parse(R"({"index":1})")).has_value());
}

TEST(Json, InvalidUtf8IsReplacedNotThrown) {
    quillon::SubFile subFile;
    subFile.name = std::string("bad\xff name");
    const std::string text = dumpJson(subfileJson(subFile));
    EXPECT_NE(text.find("bad\xef\xbf\xbd name"), std::string::npos) << text;
}

TEST(Json, MetaElementsCarryValidity) {
    std::vector<quillon::MetaElement> elements(2);
    elements[0].name = "Subject";
    elements[0].value = "Hi";
    elements[1].name = "Bcc";
    const Json json = metaJson(3, elements);
    EXPECT_EQ(dumpJson(json), R"({"index":3,"elements":[{"name":"Subject","valid":true,"value":"Hi"},)"
                              R"({"name":"Bcc","valid":false,"value":null}]})");
}

} // namespace
} // namespace tessel::cli
