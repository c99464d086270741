#include "tessel/kit/NotesBitmapBuilder.h"
#include "tessel/kit/BmpReader.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace tessel::kit;

namespace {

std::uint32_t word(const Bytes &b, std::size_t off) {
    return b.at(off) | b.at(off + 1) << 8;
}

std::uint32_t dword(const Bytes &b, std::size_t off) {
    return word(b, off) | word(b, off + 2) << 16;
}

TEST(NotesBitmapUnits, AreWrittenByteExactly) {
    const Bytes pel8{0x2A};
    const Bytes pel16{0x34, 0x12};
    struct Case {
        const char *name;
        Bytes actual;
        Bytes expected;
    } cases[] = {
        {"literal of three 8-bit pels", bitmapunit::literal(Bytes{1, 2, 3}, 1), Bytes{0x03, 1, 2, 3}},
        {"literal of two 16-bit pels", bitmapunit::literal(Bytes{1, 2, 3, 4}, 2), Bytes{0x02, 1, 2, 3, 4}},
        {"short run", bitmapunit::shortRun(63, pel8), Bytes{0xFF, 0x2A}},
        {"short run of a 16-bit pel", bitmapunit::shortRun(5, pel16), Bytes{0xC5, 0x34, 0x12}},
        {"long run, high count bits first", bitmapunit::longRun(0x1234, pel8), Bytes{0x92, 0x34, 0x2A}},
        {"long run of the largest count", bitmapunit::longRun(16383, pel8), Bytes{0xBF, 0xFF, 0x2A}},
        {"pattern run", bitmapunit::patternRun(0x0102, 7), Bytes{0x41, 0x02, 7}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.name;
}

TEST(NotesBitmapUnits, LinesUseLongShortAndLiteralCodes) {
    Bytes pels;
    for (int i = 0; i < 107; ++i)
        pels.push_back(i < 100 ? 9 : i == 100 ? 1 : i == 101 ? 2 : 4);
    EXPECT_EQ(encodeBitmapLine(pels, 1), (Bytes{0x80, 100, 9, 0x02, 1, 2, 0xC5, 4}));
    const Bytes literal70 = [] {
        Bytes b;
        for (int i = 0; i < 70; ++i)
            b.push_back(static_cast<std::uint8_t>(i));
        return b;
    }();
    const Bytes coded = encodeBitmapLine(literal70, 1);
    ASSERT_EQ(coded.size(), 72u);
    EXPECT_EQ(coded[0], 63);
    EXPECT_EQ(coded[64], 7);
    EXPECT_THROW(encodeBitmapLine(Bytes{1, 2, 3}, 2), std::invalid_argument);
}

TEST(NotesBitmapUnits, PelsPackMonochromeMostSignificantBitFirst) {
    const std::uint16_t mono[] = {1, 0, 0, 0, 0, 0, 0, 1, 1, 0};
    EXPECT_EQ(bitmapScanlinePels(mono, 1), (Bytes{0x81, 0x80}));
    const std::uint16_t words[] = {0x7C00, 0x001F};
    EXPECT_EQ(bitmapScanlinePels(words, 16), (Bytes{0x00, 0x7C, 0x1F, 0x00}));
}

TEST(NotesBitmapBuilder, WritesHeaderTablesAndSegmentsWhole) {
    NotesBitmapBuilder builder(5, 2, 8);
    builder.colors({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    NotesBitmapBuilder::PatternEntry pattern{};
    pattern[0] = 0xEE;
    builder.patterns({pattern});
    builder.codedLine(bitmapunit::shortRun(5, Bytes{1}));
    builder.endSegment();
    builder.codedLine(bitmapunit::literal(Bytes{0, 1, 2, 1, 0}, 1));
    const std::vector<Bytes> records = builder.records();
    ASSERT_EQ(records.size(), 5u);
    const Bytes &header = records[0];
    EXPECT_EQ(word(header, 0), 0x0095u);
    EXPECT_EQ(dword(header, 2), 38u);
    EXPECT_EQ(word(header, 14), 1u) << "palette required";
    EXPECT_EQ(word(header, 22), 5u);
    EXPECT_EQ(word(header, 24), 2u);
    EXPECT_EQ(word(header, 26), 8u);
    EXPECT_EQ(word(header, 28), 1u);
    EXPECT_EQ(word(header, 30), 8u);
    EXPECT_EQ(word(header, 32), 2u) << "segments";
    EXPECT_EQ(word(header, 34), 3u) << "colours";
    EXPECT_EQ(word(header, 36), 1u) << "patterns";
    EXPECT_EQ(records[1], (Bytes{0x97, 0, 15, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(word(records[2], 0), 0x0098u);
    EXPECT_EQ(dword(records[2], 2), 30u);
    EXPECT_EQ(records[2][6], 0xEE);
    const Bytes &second = records[4];
    EXPECT_EQ(word(second, 0), 0x0096u);
    EXPECT_EQ(dword(second, 2), second.size());
    EXPECT_EQ(word(second, 14), 1u) << "scanlines";
    EXPECT_EQ(word(second, 16), 6u) << "data size";
    EXPECT_EQ(Bytes(second.begin() + 18, second.end()), (Bytes{5, 0, 1, 2, 1, 0}));
}

TEST(NotesBitmapBuilder, ConverterStreamHasNoFillerAndCompositeDataHas) {
    NotesBitmapBuilder builder(3, 1, 8);
    builder.colors({{1, 1, 1}}); // a 9-byte record: odd
    builder.codedLine(bitmapunit::shortRun(3, Bytes{0}));
    const Bytes stream = builder.converterStream();
    EXPECT_EQ(stream.size(), 38u + 9u + 20u);
    EXPECT_EQ(word(stream, 38 + 9), 0x0096u) << "the segment follows the odd table at once";

    CdWriter writer;
    builder.appendTo(writer);
    const auto records = cdRecords(writer.bytes());
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].signature, 0x0099u);
    EXPECT_EQ(word(writer.bytes(), records[0].offset + 6), 3u) << "graphic width in pixels";
    EXPECT_EQ(records[1].signature, 0x0095u);
    EXPECT_EQ(records[2].signature, 0x0097u);
    EXPECT_EQ(records[2].length, 9u);
    EXPECT_EQ(records[3].offset, records[2].offset + 10) << "filler after the odd record";
    EXPECT_EQ(Bytes(writer.bytes().begin() + static_cast<std::ptrdiff_t>(records[1].offset),
                    writer.bytes().begin() + static_cast<std::ptrdiff_t>(records[1].offset + 38)),
              Bytes(stream.begin(), stream.begin() + 38));
}

TEST(NotesBitmapBuilder, SplitsPixelsIntoSegmentsOfWholeLines) {
    std::vector<std::uint16_t> pixels;
    for (int i = 0; i < 4 * 10; ++i)
        pixels.push_back(static_cast<std::uint16_t>(i)); // no runs: 11 coded bytes per line
    NotesBitmapBuilder builder(10, 4, 8);
    builder.pixels(pixels, 25);
    const auto records = builder.records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(word(records[0], 32), 2u);
    EXPECT_EQ(word(records[1], 14), 2u);
    EXPECT_EQ(word(records[1], 16), 22u);
    EXPECT_EQ(word(records[2], 14), 2u);
    EXPECT_THROW(builder.pixels(std::vector<std::uint16_t>(7, 0)), std::invalid_argument);
}

// A 2 x 2 BMP of 24 bits written by hand, bottom-up, and the same top-down.
Bytes handMadeBmp(bool topDown) {
    Bytes b;
    ByteWriter w(b);
    w.str("BM").u32(14 + 40 + 16).u32(0).u32(54);
    w.u32(40).u32(2).u32(topDown ? static_cast<std::uint32_t>(-2) : 2u).u16(1).u16(24).u32(0).u32(16);
    w.u32(0).u32(0).u32(0).u32(0);
    const Bytes top{0, 0, 255, 0, 255, 0, 0, 0};        // red, green, padding
    const Bytes bottom{255, 0, 0, 255, 255, 255, 0, 0}; // blue, white, padding
    w.bytes(topDown ? top : bottom).bytes(topDown ? bottom : top);
    return b;
}

TEST(BmpReader, ReadsRowsInEitherOrder) {
    for (bool topDown : {false, true}) {
        SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
        const BmpPicture picture = readBmp(handMadeBmp(topDown));
        EXPECT_EQ(picture.topDown, topDown);
        EXPECT_EQ(picture.at(0, 0), rgb(255, 0, 0));
        EXPECT_EQ(picture.at(1, 0), rgb(0, 255, 0));
        EXPECT_EQ(picture.at(0, 1), rgb(0, 0, 255));
        EXPECT_EQ(picture.at(1, 1), rgb(255, 255, 255));
    }
}

TEST(BmpReader, ReadsPalettedBits) {
    Bytes b;
    ByteWriter w(b);
    w.str("BM").u32(14 + 40 + 8 + 4).u32(0).u32(62);
    w.u32(40).u32(9).u32(1).u16(1).u16(1).u32(0).u32(4).u32(0).u32(0).u32(2).u32(0);
    w.u8(0).u8(0).u8(0).u8(0).u8(0x30).u8(0x20).u8(0x10).u8(0);
    w.u8(0x81).u8(0x80).u8(0).u8(0);
    const BmpPicture picture = readBmp(b);
    EXPECT_EQ(picture.indices, (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(picture.at(0, 0), 0x102030u);
}

TEST(BmpReader, RefusesWhatItCannotRead) {
    const Bytes good = handMadeBmp(false);
    struct Case {
        const char *name;
        std::size_t offset;
        std::uint8_t value;
    } cases[] = {
        {"signature", 0, 'X'}, {"file size", 2, 0},    {"info header size", 14, 12},
        {"planes", 26, 2},     {"compression", 30, 1}, {"bit count", 28, 32},
    };
    for (const Case &c : cases) {
        Bytes bad = good;
        bad[c.offset] = c.value;
        EXPECT_THROW(readBmp(bad), std::runtime_error) << c.name;
    }
    EXPECT_THROW(readBmp(Bytes(good.begin(), good.end() - 1)), std::runtime_error) << "short";
}

} // namespace
