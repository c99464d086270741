// OSTranslate: LMBCS round trips through ICU, UTF-16, case and accent modes, and cutting output.
#include "Log.h"
#include "Translate.h"

#include <notes/notes.h>

#include <gtest/gtest.h>
#include <unicode/ucnv.h>

#include <string>

namespace notesemu {
namespace {

std::string translate(WORD mode, const std::string &input, WORD room = 1024) {
    std::string out(room + 4, '#');
    const WORD length = OSTranslate(mode, input.data(), static_cast<WORD>(input.size()), out.data(), room);
    EXPECT_LE(length, room);
    if (length < room) {
        EXPECT_EQ(out[length], '\0') << "terminated when room remains";
    }
    EXPECT_EQ(out[room], '#') << "nothing written past the room";
    return out.substr(0, length);
}

TEST(OsTranslate, Utf8RoundTripsThroughLmbcs) {
    const struct {
        const char *what;
        std::string utf8;
    } cases[] = {
        {"ASCII", "Hello, World! 123"},
        {"Latin-1 accents", "Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBB"
                            "l\xC3\xA9"
                            "e \xC3\x85"
                            "ngstr\xC3\xB6m"},
        {"Greek", "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC"},
        {"Cyrillic", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
        {"CJK", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E \xE4\xB8\xAD\xE6\x96\x87 \xED\x95\x9C"},
        {"emoji", "smile \xF0\x9F\x98\x80!"},
        {"embedded NUL", std::string("a\0b", 3)},
    };
    for (const auto &c : cases) {
        const std::string lmbcs = translate(OS_TRANSLATE_UTF8_TO_LMBCS, c.utf8);
        EXPECT_FALSE(lmbcs.empty()) << c.what;
        EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs), c.utf8) << c.what;
        EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_NATIVE, translate(OS_TRANSLATE_NATIVE_TO_LMBCS, c.utf8)),
                  c.utf8)
            << c.what;
    }
}

TEST(OsTranslate, LmbcsBytesAreTheNotesOnes) {
    // Group 1 (code page 850) characters lose their prefix; ASCII is unchanged.
    EXPECT_EQ(translate(OS_TRANSLATE_UTF8_TO_LMBCS, "Caf\xC3\xA9"), "Caf\x82");
    EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UTF8, "\x82t\x82"), "\xC3\xA9t\xC3\xA9");
    // Greek goes through its group prefix, an emoji through two Unicode-group surrogates.
    const std::string alpha = translate(OS_TRANSLATE_UTF8_TO_LMBCS, "\xCE\xB1");
    ASSERT_EQ(alpha.size(), 2u);
    EXPECT_EQ(alpha[0], '\x02');
    const std::string emoji = translate(OS_TRANSLATE_UTF8_TO_LMBCS, "\xF0\x9F\x98\x80");
    // U+1F600 is D83D DE00; a unit whose low byte is 0 is written 0x14 0xF6 <high byte>.
    EXPECT_EQ(emoji, "\x14\xD8\x3D\x14\xF6\xDE");
}

TEST(OsTranslate, Utf16LittleEndian) {
    const std::string units = translate(OS_TRANSLATE_LMBCS_TO_UNICODE, "A\x82");
    EXPECT_EQ(units, std::string("A\0\xE9\0", 4));
    EXPECT_EQ(translate(OS_TRANSLATE_UNICODE_TO_LMBCS, units), "A\x82");
}

TEST(OsTranslate, CaseAndAccentModes) {
    const std::string lmbcs = translate(OS_TRANSLATE_UTF8_TO_LMBCS, "Stra\xC3\x9F"
                                                                    "e caf\xC3\xA9");
    EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UTF8, translate(OS_TRANSLATE_LOWER_TO_UPPER, lmbcs)),
              "STRASSE CAF\xC3\x89");
    EXPECT_EQ(translate(OS_TRANSLATE_UPPER_TO_LOWER, "ABC d"), "abc d");
    EXPECT_EQ(translate(OS_TRANSLATE_UNACCENT, lmbcs), "Stra\xE1"
                                                       "e cafe")
        << "sharp s has no accent";
    EXPECT_EQ(
        translate(OS_TRANSLATE_LMBCS_TO_ASCII, translate(OS_TRANSLATE_UTF8_TO_LMBCS, "\xC3\xA9\xCE\xB1x")),
        "e?x");
}

TEST(OsTranslate, OutputIsCutAtACharacterBoundary) {
    // Two CJK characters are three LMBCS bytes each: four bytes of room hold one.
    EXPECT_EQ(translate(OS_TRANSLATE_UTF8_TO_LMBCS, "\xE6\x97\xA5\xE6\x9C\xAC", 4).size(), 3u);
    // "é€": two and three UTF-8 bytes; four bytes of room hold "é".
    const std::string lmbcs = translate(OS_TRANSLATE_UTF8_TO_LMBCS, "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs, 4), "\xC3\xA9");
    EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UTF8, lmbcs, 5), "\xC3\xA9\xE2\x82\xAC") << "exact fit";
    // A surrogate pair is never split.
    const std::string emoji = translate(OS_TRANSLATE_UTF8_TO_LMBCS, "\xF0\x9F\x98\x80");
    EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UNICODE, emoji, 3), "");
    EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UNICODE, emoji, 4).size(), 4u);
    EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UTF8, "abcdef", 3), "abc");
}

// Printable ASCII is copied without a converter; what it gives must be what ICU gives.
TEST(OsTranslate, PrintableAsciiReadsTheSameAsThroughTheConverter) {
    std::string printable;
    for (char c = 0x20; c < 0x7F; ++c)
        printable.push_back(c);
    for (const WORD mode : {OS_TRANSLATE_LMBCS_TO_UTF8, OS_TRANSLATE_LMBCS_TO_NATIVE, OS_TRANSLATE_UTF8_TO_LMBCS,
                            OS_TRANSLATE_NATIVE_TO_LMBCS}) {
        SCOPED_TRACE(mode);
        EXPECT_TRUE(translatesToItself(mode, printable));
        EXPECT_EQ(translate(mode, printable), *notesemu::translate(mode, printable));
        EXPECT_EQ(translate(mode, printable, 10), printable.substr(0, 10));
    }
    // Anything else goes through the converter.
    EXPECT_FALSE(translatesToItself(OS_TRANSLATE_LMBCS_TO_UTF8, "tab\there"));
    EXPECT_FALSE(translatesToItself(OS_TRANSLATE_LMBCS_TO_UTF8, "\x7F"));
    EXPECT_FALSE(translatesToItself(OS_TRANSLATE_LMBCS_TO_UTF8, "caf\x02\x82"));
    EXPECT_FALSE(translatesToItself(OS_TRANSLATE_LOWER_TO_UPPER, "abc"));
    EXPECT_EQ(translate(OS_TRANSLATE_LMBCS_TO_UTF8, "caf\x02\x82"), "caf\xC3\xA9");
}

TEST(OsTranslate, MaxwordInputLengthMeansUpToTheNul) {
    char out[16] = {};
    const char input[] = "abc\0def";
    EXPECT_EQ(OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, input, MAXWORD, out, sizeof out), 3);
    EXPECT_STREQ(out, "abc");
}

TEST(OsTranslate, UnknownModeAndBadArgumentsWriteNothing) {
    char out[8] = "xxxxxxx";
    LogCapture log;
    EXPECT_EQ(OSTranslate(99, "abc", 3, out, sizeof out), 0);
    EXPECT_TRUE(log.contains("unknown translate mode 99"));
    EXPECT_EQ(OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, nullptr, 3, out, sizeof out), 0);
    EXPECT_EQ(OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, "abc", 3, nullptr, 8), 0);
    EXPECT_EQ(OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, "abc", 3, out, 0), 0);
    EXPECT_EQ(std::string(out), "xxxxxxx");
}

// The runtime cuts LMBCS text where ICU's converter ends a character: for every lead byte, the
// length the runtime gives is the number of bytes ICU consumes for that character.
TEST(LmbcsCharacters, LengthsAreIcusForEveryLeadByte) {
    UErrorCode error = U_ZERO_ERROR;
    UConverter *converter = ucnv_open("LMBCS-1", &error);
    ASSERT_TRUE(U_SUCCESS(error));
    for (int lead = 0; lead < 0x100; ++lead) {
        for (const unsigned char second : {static_cast<unsigned char>(0x82), static_cast<unsigned char>(lead)}) {
            const char bytes[4] = {static_cast<char>(lead), static_cast<char>(second), static_cast<char>(0xA0),
                                   'A'};
            const char *source = bytes;
            error = U_ZERO_ERROR;
            ucnv_reset(converter);
            ucnv_getNextUChar(converter, &source, bytes + sizeof bytes, &error);
            EXPECT_EQ(lmbcsCharLength(std::string_view(bytes, sizeof bytes), 0),
                      static_cast<std::size_t>(source - bytes))
                << "lead byte 0x" << std::hex << lead << ", second byte 0x" << +second;
        }
    }
    ucnv_close(converter);
    // Never past the end of the text.
    EXPECT_EQ(lmbcsCharLength(std::string_view("\x14\x30", 2), 0), 2U);
    EXPECT_EQ(lmbcsCharLength(std::string_view("a"), 1), 0U);
}

} // namespace
} // namespace notesemu
