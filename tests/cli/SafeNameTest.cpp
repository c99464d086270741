#include "SafeName.h"

#include <gtest/gtest.h>

#include <string>

namespace tessel::cli {
namespace {

struct NameCase {
    std::string input;
    std::string expected;
};

class SafeComponentTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(SafeComponentTest, NeutralisesTheName) {
    EXPECT_EQ(safeComponent(GetParam().input, "fallback"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafeComponentTest,
    ::testing::Values(NameCase{"report.pdf", "report.pdf"}, NameCase{"data set.bin", "data set.bin"},
                      NameCase{"../../etc/passwd", "etc_passwd"}, NameCase{"..", "fallback"},
                      NameCase{".", "fallback"}, NameCase{"", "fallback"}, NameCase{"   ", "fallback"},
                      NameCase{"/etc/passwd", "etc_passwd"}, NameCase{"a/../b", "a_b"},
                      NameCase{"C:\\Windows\\system32\\x.dll", "Windows_system32_x.dll"},
                      NameCase{"c:evil.exe", "evil.exe"}, NameCase{"\\\\server\\share\\f.txt", "server_share_f.txt"},
                      NameCase{"CON", "_CON"}, NameCase{"con.txt", "_con.txt"}, NameCase{"nul", "_nul"},
                      NameCase{"COM1.log", "_COM1.log"}, NameCase{"lpt9", "_lpt9"}, NameCase{"CONOUT$", "_CONOUT$"},
                      NameCase{"console.txt", "console.txt"}, NameCase{"COM10", "COM10"},
                      NameCase{"tab\there.txt", "tab_here.txt"}, NameCase{"line\nbreak", "line_break"},
                      NameCase{std::string("nul\0byte", 8), "nul_byte"}, NameCase{"esc\x1b[31m", "esc_[31m"},
                      NameCase{"del\x7f", "del_"}, NameCase{"c1\xc2\x9b" "x", "c1_x"},
                      NameCase{"bad\xff\xfe.txt", "bad__.txt"}, NameCase{"what?.txt", "what_.txt"},
                      NameCase{"a<b>c:d\"e|f*g", "a_b_c_d_e_f_g"}, NameCase{"trailing. . .", "trailing"},
                      NameCase{"  lead.txt", "lead.txt"}, NameCase{"caf\xc3\xa9.txt", "caf\xc3\xa9.txt"},
                      NameCase{".profile", ".profile"}));

TEST(SafeComponent, CutsLongNamesKeepingTheExtension) {
    const std::string name = std::string(400, 'a') + ".pdf";
    const std::string safe = safeComponent(name, "x");
    EXPECT_EQ(safe.size(), kMaxComponent);
    EXPECT_TRUE(safe.ends_with(".pdf"));
}

TEST(SafeComponent, CutsAtACharacterBoundary) {
    std::string name;
    for (int i = 0; i < 200; i++)
        name += "\xc3\xa9"; // 400 bytes of two-byte characters
    const std::string safe = safeComponent(name, "x");
    EXPECT_LE(safe.size(), kMaxComponent);
    EXPECT_EQ(safe.size() % 2, 0u);
}

TEST(SafeComponent, AnUnsafeFallbackIsMadeSafeToo) { EXPECT_EQ(safeComponent("..", "../x"), "x"); }

TEST(SplitExtension, SplitsAtTheLastDot) {
    EXPECT_EQ(splitExtension("a.tar.gz"), (std::pair<std::string, std::string>{"a.tar", ".gz"}));
    EXPECT_EQ(splitExtension(".profile"), (std::pair<std::string, std::string>{".profile", ""}));
    EXPECT_EQ(splitExtension("README"), (std::pair<std::string, std::string>{"README", ""}));
}

TEST(NameAllocator, NumbersClashingNames) {
    NameAllocator names;
    EXPECT_EQ(names.claim("same", ".txt"), "same.txt");
    EXPECT_EQ(names.claim("same", ".txt"), "same (2).txt");
    EXPECT_EQ(names.claim("Same", ".TXT"), "Same (3).TXT");
    EXPECT_EQ(names.claim("same", ""), "same");
    EXPECT_EQ(names.claim("same", ""), "same (2)");
}

TEST(NameAllocator, AFolderBesideAFileTakesBothNames) {
    NameAllocator names;
    EXPECT_EQ(names.claim("memo", ""), "memo"); // a file called "memo" is there already
    EXPECT_EQ(names.claimWithFolder("memo", ".mht"), "memo (2)");
    EXPECT_TRUE(names.taken("memo (2).mht"));
    EXPECT_TRUE(names.taken("MEMO (2)"));
    EXPECT_EQ(names.claim("memo (2)", ".mht"), "memo (2) (2).mht");
}

TEST(NameAllocator, SuffixesKeepNamesWithinTheLimit) {
    NameAllocator names;
    const std::string stem(kMaxComponent, 'n');
    const std::string first = names.claim(stem, ".txt");
    const std::string second = names.claim(stem, ".txt");
    EXPECT_NE(first, second);
    EXPECT_LE(first.size(), kMaxComponent);
    EXPECT_LE(second.size(), kMaxComponent);
    EXPECT_TRUE(second.ends_with(" (2).txt"));
}

} // namespace
} // namespace tessel::cli
