#include <quillon/host/Host.h>

#include <gtest/gtest.h>

#include <string>

namespace {

class CharsetTest : public ::testing::Test {
protected:
    // Converts through the services table into a buffer of cbOut bytes followed by guard bytes;
    // fails the test when a guard byte changed.
    std::pair<int32_t, std::string> convert(int nFrom, int nTo, const std::string &input, uint32_t cbOut) {
        std::string buffer(cbOut + 8, '\x5A');
        QLHAPI *pHAPI = host_.services();
        int32_t result = pHAPI->fpConvertCharset(pHAPI, nFrom, nTo, input.data(),
                                                 static_cast<uint32_t>(input.size()), buffer.data(), cbOut);
        EXPECT_EQ(buffer.substr(cbOut), std::string(8, '\x5A')) << "wrote past cbOut";
        buffer.resize(cbOut);
        return {result, buffer};
    }

    quillon::Host host_;
};

TEST_F(CharsetTest, ConvertsLmbcsToUtf8) {
    struct Case {
        const char *pszName;
        std::string lmbcs;
        std::string utf8;
    } cases[] = {
        {"ASCII", "Hello, world", "Hello, world"},
        // Bytes 0x80..0xFF without a prefix are code page 850, the optimisation group of Notes.
        {"e acute (CP850 0x82)", "caf\x82", "caf\xC3\xA9"},
        {"a grave (CP850 0x85)", "\x85", "\xC3\xA0"},
        {"u umlaut (CP850 0x81)", "M\x81nchen", "M\xC3\xBCnchen"},
        {"explicit group 1 prefix", "\x01\x82", "\xC3\xA9"},
        // Group 0x06 is code page 852: 0xA5 is a with ogonek, U+0105.
        {"Latin-2 group", "\x06\xA5", "\xC4\x85"},
        // Group 0x10 is code page 932: 0x82 0xA0 is hiragana a, U+3042.
        {"Japanese group", "\x10\x82\xA0", "\xE3\x81\x82"},
        // Group 0x14 carries a UTF-16 unit high byte first: U+20AC, the euro sign.
        {"Unicode group", "\x14\x20\xAC", "\xE2\x82\xAC"},
        // ... and 0x14 0xF6 hh stands for U+hh00, whose low byte cannot be written.
        {"Unicode group, low byte zero", "\x14\xF6\x41", "\xE4\x84\x80"},
        {"mixed", "A\x82\x10\x82\xA0Z", "A\xC3\xA9\xE3\x81\x82Z"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszName);
        auto [result, output] = convert(QLCharset_LMBCS, QLCharset_UTF8, c.lmbcs, 64);
        ASSERT_EQ(result, static_cast<int32_t>(c.utf8.size()));
        EXPECT_EQ(output.substr(0, c.utf8.size()), c.utf8);
        EXPECT_EQ(output[c.utf8.size()], '\0'); // terminated: there is room
    }
}

TEST_F(CharsetTest, ConvertsBetweenEveryCharsetOfTheHeader) {
    struct Case {
        int nFrom;
        int nTo;
        std::string input;
        std::string output;
    } cases[] = {
        {QLCharset_UTF8, QLCharset_LMBCS, "caf\xC3\xA9", "caf\x82"},
        {QLCharset_UTF8, QLCharset_UTF16LE, "A\xC3\xA9", std::string("A\0\xE9\0", 4)},
        {QLCharset_UTF16LE, QLCharset_UTF8, std::string("A\0\xAC\x20", 4), "A\xE2\x82\xAC"},
        {QLCharset_Windows1252, QLCharset_UTF8, "\x80", "\xE2\x82\xAC"},
        {QLCharset_ISO8859_1, QLCharset_UTF8, "\x80\xE9", "\xC2\x80\xC3\xA9"},
        {QLCharset_UTF8, QLCharset_Windows1252, "\xE2\x82\xAC", "\x80"},
        {QLCharset_UTF8, QLCharset_UTF8, "plain", "plain"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.nFrom) + " -> " + std::to_string(c.nTo));
        auto [result, output] = convert(c.nFrom, c.nTo, c.input, 64);
        ASSERT_EQ(result, static_cast<int32_t>(c.output.size()));
        EXPECT_EQ(output.substr(0, c.output.size()), c.output);
    }
}

TEST_F(CharsetTest, TerminatesUtf16WithTwoZeroBytes) {
    auto [result, output] = convert(QLCharset_UTF8, QLCharset_UTF16LE, "AB", 6);
    ASSERT_EQ(result, 4);
    EXPECT_EQ(output, std::string("A\0B\0\0\0", 6));
}

TEST_F(CharsetTest, ReplacesInvalidInputInsteadOfFailing) {
    auto [result, output] = convert(QLCharset_UTF8, QLCharset_UTF8,
                                    "a\xFF"
                                    "b",
                                    16);
    ASSERT_EQ(result, 5);
    EXPECT_EQ(output.substr(0, 5), "a\xEF\xBF\xBD"
                                   "b");
    // A character the target cannot hold becomes its substitution byte.
    auto [cp1252, text] = convert(QLCharset_UTF8, QLCharset_Windows1252, "x\xE3\x81\x82y", 16);
    ASSERT_EQ(cp1252, 3);
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(text[2], 'y');
    // A UTF-16 input cut in the middle of a unit.
    auto [odd, oddText] = convert(QLCharset_UTF16LE, QLCharset_UTF8, std::string("A\0B", 3), 16);
    ASSERT_EQ(odd, 4);
    EXPECT_EQ(oddText.substr(0, 4), "A\xEF\xBF\xBD");
}

TEST_F(CharsetTest, FailsWithoutWritingPastTheOutput) {
    // Three bytes of UTF-8 for one LMBCS character: two bytes of room are not enough.
    EXPECT_EQ(convert(QLCharset_LMBCS, QLCharset_UTF8, "\x10\x82\xA0", 2).first, -1);
    EXPECT_EQ(convert(QLCharset_LMBCS, QLCharset_UTF8, "abc", 0).first, -1);
    // An exact fit succeeds without a terminator.
    auto [result, output] = convert(QLCharset_LMBCS, QLCharset_UTF8, "abc", 3);
    EXPECT_EQ(result, 3);
    EXPECT_EQ(output, "abc");
}

TEST_F(CharsetTest, RefusesUnknownCharsetsAndMissingBuffers) {
    EXPECT_EQ(convert(QLCharset_Unknown, QLCharset_UTF8, "abc", 16).first, -1);
    EXPECT_EQ(convert(QLCharset_UTF8, 99, "abc", 16).first, -1);
    QLHAPI *pHAPI = host_.services();
    char out[8];
    EXPECT_EQ(pHAPI->fpConvertCharset(pHAPI, QLCharset_UTF8, QLCharset_UTF8, nullptr, 3, out, 8), -1);
    EXPECT_EQ(pHAPI->fpConvertCharset(pHAPI, QLCharset_UTF8, QLCharset_UTF8, "abc", 3, nullptr, 8), -1);
}

TEST_F(CharsetTest, EmptyInputGivesAnEmptyTerminatedText) {
    auto [result, output] = convert(QLCharset_LMBCS, QLCharset_UTF8, "", 4);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(output[0], '\0');
}

TEST_F(CharsetTest, TellsLeadBytes) {
    QLHAPI *pHAPI = host_.services();
    auto lead = [&](int b, int nCharset) {
        return pHAPI->fpIsLeadByte(pHAPI, static_cast<unsigned char>(b), nCharset);
    };
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(lead(b, QLCharset_UTF8) != 0, b >= 0xC2 && b <= 0xF4);
        EXPECT_EQ(lead(b, QLCharset_Windows1252), 0);
        EXPECT_EQ(lead(b, QLCharset_ISO8859_1), 0);
        EXPECT_EQ(lead(b, QLCharset_UTF16LE), 0);
        EXPECT_EQ(lead(b, QLCharset_Unknown), 0);
    }
    // LMBCS: the group prefixes start characters of several bytes; ASCII, the fixed controls and
    // the bare bytes of the optimisation group stand alone.
    for (int b : {0x01, 0x02, 0x06, 0x08, 0x0B, 0x0F, 0x10, 0x13, 0x14})
        EXPECT_NE(lead(b, QLCharset_LMBCS), 0) << b;
    for (int b : {0x00, 0x09, 0x0A, 0x0D, 0x19, 0x20, 0x41, 0x7F, 0x82, 0xFF})
        EXPECT_EQ(lead(b, QLCharset_LMBCS), 0) << b;
}

} // namespace
