// The base64 encoder: alphabet, padding, line breaks after 72 characters, the line position carried
// across calls, and the size of the output block.
#include <gtest/gtest.h>

#include <tessel/kit/Bytes.h>
#include <tessel/kit/Random.h>

#include <string>
#include <vector>

#include "nsf/richtext/base64.h"

namespace {

using tessel::kit::Bytes;

std::string encode(const Bytes &in, int32_t *pnLineLen) {
    std::vector<char> out(nsfBase64Size(static_cast<uint32_t>(in.size())), '\x7F');
    uint32_t n = encode_base64(in.data(), static_cast<uint32_t>(in.size()), out.data(), pnLineLen);
    EXPECT_LT(n, out.size()) << "room for the terminator";
    return std::string(out.data(), n);
}

Bytes bytesOf(const std::string &s) {
    return Bytes(s.begin(), s.end());
}

struct EncodeCase {
    const char *name;
    Bytes input;
    int32_t lineIn;
    std::string expected;
    int32_t lineOut;
};

class Base64Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Base64Encode, GivesTheTextAndLinePosition) {
    const EncodeCase &c = GetParam();
    int32_t nLine = c.lineIn;
    EXPECT_EQ(encode(c.input, &nLine), c.expected);
    EXPECT_EQ(nLine, c.lineOut);
}

std::string line72() {
    // 54 bytes of "Man" give 18 groups of "TWFu".
    std::string s;
    for (int i = 0; i < 18; ++i)
        s += "TWFu";
    return s;
}

std::string repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Base64Encode,
    ::testing::Values(EncodeCase{"Empty", {}, 0, "", 0}, EncodeCase{"OneByte", bytesOf("M"), 0, "TQ==", 0},
                      EncodeCase{"TwoBytes", bytesOf("Ma"), 0, "TWE=", 0},
                      EncodeCase{"ThreeBytes", bytesOf("Man"), 0, "TWFu", 4},
                      EncodeCase{"AllSixBitValues", Bytes{0x00, 0x10, 0x83, 0x10, 0x51, 0x87, 0x20, 0x92, 0x8B,
                                                          0x30, 0xD3, 0x8F, 0x41, 0x14, 0x93, 0x51, 0x55, 0x97,
                                                          0x61, 0x96, 0x9B, 0x71, 0xD7, 0x9F, 0x82, 0x18, 0xA3,
                                                          0x92, 0x59, 0xA7, 0xA2, 0x9A, 0xAB, 0xB2, 0xDB, 0xAF,
                                                          0xC3, 0x1C, 0xB3, 0xD3, 0x5D, 0xB7, 0xE3, 0x9E, 0xBB,
                                                          0xF3, 0xDF, 0xBF},
                                 0, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/", 64},
                      EncodeCase{"FiftyFourBytesFillOneLine", bytesOf(repeat("Man", 18)), 0, line72() + "\r\n", 0},
                      EncodeCase{"FiftyFiveBytes", bytesOf(repeat("Man", 18) + "M"), 0, line72() + "\r\nTQ==", 0},
                      EncodeCase{"TwoLines", bytesOf(repeat("Man", 37)), 0, line72() + "\r\n" + line72() + "\r\nTWFu",
                                 4},
                      EncodeCase{"ContinuesALine", bytesOf("ManMan"), 64, "TWFuTWFu\r\n", 0},
                      EncodeCase{"PartialGroupEndsTheLine", bytesOf("ManM"), 60, "TWFuTQ==", 0}),
    [](const auto &info) { return info.param.name; });

TEST(Base64, MatchesTheKitEncoderOverManySizes) {
    tessel::kit::Random random(11);
    for (std::size_t n = 0; n < 400; n += 7) {
        Bytes in(n);
        random.fill(in);
        int32_t nLine = 0;
        std::string text = encode(in, &nLine);
        std::string joined;
        std::size_t lineChars = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                ASSERT_EQ(text.substr(i, 2), "\r\n");
                EXPECT_EQ(lineChars, 72u) << "a line break only after 72 characters, size " << n;
                lineChars = 0;
                ++i;
                continue;
            }
            joined += text[i];
            ++lineChars;
        }
        EXPECT_EQ(joined, tessel::kit::base64(in)) << "size " << n;
    }
}

TEST(Base64, SizeCoversEveryLineStart) {
    tessel::kit::Random random(5);
    for (uint32_t n : {0u, 1u, 2u, 3u, 53u, 54u, 55u, 108u, 1000u, 4096u}) {
        Bytes in(n);
        random.fill(in);
        for (int32_t start : {0, 1, 35, 68, 71, 72, 500}) {
            int32_t nLine = start;
            std::vector<char> out(nsfBase64Size(n) + 64, '\x7F');
            uint32_t written = encode_base64(in.data(), n, out.data(), &nLine);
            EXPECT_LT(written, nsfBase64Size(n)) << n << " bytes from position " << start;
            EXPECT_EQ(out[nsfBase64Size(n)], '\x7F');
        }
    }
}

TEST(Base64, SizeSaturatesInsteadOfWrapping) {
    EXPECT_EQ(nsfBase64Size(0), 3u);
    EXPECT_EQ(nsfBase64Size(0xFFFFFFFFu), 0x80000000u);
    EXPECT_EQ(nsfBase64Size(0x7FFFFFFFu), 0x80000000u);
    EXPECT_LT(nsfBase64Size(1000000), 0x80000000u);
}

} // namespace
