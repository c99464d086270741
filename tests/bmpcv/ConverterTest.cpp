// Notes bitmaps of every depth and run-length code, converted and read back pixel by pixel.
#include "BitmapTestSupport.h"

#include <array>
#include <vector>

using namespace bmpcvtest;
using namespace tessel::kit;

namespace {

constexpr std::uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF;
const std::vector<Rgb> kFourColors = {{0, 0, 0}, {200, 0, 0}, {0, 150, 0}, {0, 0, 250}};
const std::uint32_t kFour[] = {0x000000, 0xC80000, 0x009600, 0x0000FA};

Bytes pel16(std::uint16_t word) {
    return Bytes{static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8)};
}

// The colours of a monochrome pel byte, leftmost pixel in the most significant bit, 1 white.
std::vector<std::uint32_t> monoColors(std::initializer_list<std::uint8_t> pels) {
    std::vector<std::uint32_t> out;
    for (std::uint8_t pel : pels)
        for (int bit = 7; bit >= 0; --bit)
            out.push_back(pel >> bit & 1 ? kWhite : kBlack);
    return out;
}

std::vector<std::uint32_t> repeated(std::size_t n, std::uint32_t color) {
    return std::vector<std::uint32_t>(n, color);
}

std::vector<std::uint32_t> times(std::size_t n, const std::vector<std::uint32_t> &part) {
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < n; ++i)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

NotesBitmapBuilder::PatternEntry patternOf(std::initializer_list<std::uint8_t> bytes) {
    NotesBitmapBuilder::PatternEntry entry{};
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        entry.at(i++) = b;
    return entry;
}

const NotesBitmapBuilder::PatternEntry kMonoPattern =
    patternOf({0xFF, 0x00, 0xF0, 0x0F, 0xAA, 0x55, 0x80, 0x01});
const NotesBitmapBuilder::PatternEntry kIndexPattern = patternOf({0, 1, 2, 3, 3, 2, 1, 0});
const NotesBitmapBuilder::PatternEntry kRgbPattern =
    patternOf({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 250, 0, 0, 0, 250, 0, 0, 0, 250, 128, 129, 130});

struct CodeCase {
    const char *name;
    std::uint16_t bitsPerPixel;
    std::uint16_t width;
    Bytes units; // one scanline
    std::vector<std::uint32_t> expected;
    bool withPattern = false;
};

std::vector<CodeCase> codeCases() {
    return {
        {"1 bpp literal", 1, 16, bitmapunit::literal(Bytes{0xF0, 0x0F}, 1), monoColors({0xF0, 0x0F})},
        {"1 bpp short run", 1, 16, bitmapunit::shortRun(2, Bytes{0xAA}), monoColors({0xAA, 0xAA})},
        {"1 bpp long run", 1, 16, bitmapunit::longRun(2, Bytes{0x81}), monoColors({0x81, 0x81})},
        {"1 bpp pattern run", 1, 128, bitmapunit::patternRun(2, 0),
         times(2, monoColors({0xFF, 0x00, 0xF0, 0x0F, 0xAA, 0x55, 0x80, 0x01})), true},
        {"1 bpp width not a multiple of 8", 1, 11, bitmapunit::literal(Bytes{0x5A, 0xE0}, 1),
         [] {
             auto c = monoColors({0x5A, 0xE0});
             c.resize(11);
             return c;
         }()},
        {"8 bpp literal",
         8,
         4,
         bitmapunit::literal(Bytes{1, 2, 3, 0}, 1),
         {kFour[1], kFour[2], kFour[3], kFour[0]}},
        {"8 bpp short run", 8, 5, bitmapunit::shortRun(5, Bytes{2}), repeated(5, kFour[2])},
        {"8 bpp long run", 8, 300, bitmapunit::longRun(300, Bytes{3}), repeated(300, kFour[3])},
        {"8 bpp pattern run", 8, 16, bitmapunit::patternRun(2, 0),
         times(2, {kFour[0], kFour[1], kFour[2], kFour[3], kFour[3], kFour[2], kFour[1], kFour[0]}), true},
        {"16 bpp literal",
         16,
         4,
         bitmapunit::literal(concat({pel16(0x7C00), pel16(0x03E0), pel16(0x001F), pel16(0x7FFF)}), 2),
         {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
        {"16 bpp short run", 16, 3, bitmapunit::shortRun(3, pel16(0x4210)), repeated(3, 0x848484)},
        {"16 bpp long run", 16, 70, bitmapunit::longRun(70, pel16(0x001F)), repeated(70, 0x0000FF)},
        {"16 bpp pattern run",
         16,
         8,
         bitmapunit::patternRun(1, 0),
         {0x010203, 0x040506, 0x070809, 0x0A0B0C, 0xFA0000, 0x00FA00, 0x0000FA, 0x808182},
         true},
        {"runs mixed in one line", 8, 80,
         concat({bitmapunit::shortRun(3, Bytes{1}), bitmapunit::literal(Bytes{2, 3}, 1),
                 bitmapunit::longRun(67, Bytes{0}), bitmapunit::patternRun(1, 0)}),
         [] {
             std::vector<std::uint32_t> c = {kFour[1], kFour[1], kFour[1], kFour[2], kFour[3]};
             auto zeros = repeated(67, kFour[0]);
             c.insert(c.end(), zeros.begin(), zeros.end());
             for (std::uint8_t i : {0, 1, 2, 3, 3, 2, 1, 0})
                 c.push_back(kFour[i]);
             return c;
         }(),
         true},
    };
}

TEST(ConvertNotesBitmap, DecodesEveryRunLengthCodeAtEveryDepth) {
    for (const CodeCase &c : codeCases()) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.expected.size(), c.width);
        NotesBitmapBuilder builder(c.width, 2, c.bitsPerPixel);
        if (c.bitsPerPixel == 8)
            builder.colors(kFourColors);
        if (c.withPattern)
            builder.patterns({c.bitsPerPixel == 1   ? kMonoPattern
                              : c.bitsPerPixel == 8 ? kIndexPattern
                                                    : kRgbPattern});
        builder.codedLine(c.units).codedLine(c.units);
        const BmpPicture picture = convertToPicture(builder.converterStream());
        ASSERT_EQ(picture.width, c.width);
        ASSERT_EQ(picture.height, 2);
        EXPECT_EQ(picture.bitCount, c.bitsPerPixel == 16 ? 24 : c.bitsPerPixel);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < c.width; ++x)
                ASSERT_EQ(picture.at(x, y), c.expected[x]) << "pixel " << x << "," << y;
    }
}

// Pixels with runs of every length, and the colour each stands for at its depth.
struct Sample {
    std::vector<std::uint16_t> pixels;
    std::vector<std::uint32_t> colors;
};

Sample samplePixels(std::uint16_t bitsPerPixel, std::size_t count) {
    Sample s;
    std::uint32_t state = 12345;
    while (s.pixels.size() < count) {
        state = state * 1103515245 + 12345;
        const std::size_t run = (state >> 16) % 5 == 0 ? 1 + (state >> 8) % 90 : 1;
        std::uint16_t value = static_cast<std::uint16_t>(state >> 12);
        value = bitsPerPixel == 1 ? value & 1 : bitsPerPixel == 8 ? value % 4 : value & 0x7FFF;
        for (std::size_t i = 0; i < run && s.pixels.size() < count; ++i)
            s.pixels.push_back(value);
    }
    auto widen = [](std::uint32_t v) { return v << 3 | v >> 2; };
    for (std::uint16_t px : s.pixels)
        s.colors.push_back(bitsPerPixel == 1 ? (px ? kWhite : kBlack)
                           : bitsPerPixel == 8
                               ? kFour[px]
                               : widen(px >> 10 & 31) << 16 | widen(px >> 5 & 31) << 8 | widen(px & 31));
    return s;
}

TEST(ConvertNotesBitmap, ReproducesPicturesSpreadOverSegments) {
    for (std::uint16_t bits : {1, 8, 16}) {
        SCOPED_TRACE(bits);
        const std::uint16_t width = 77, height = 23;
        const Sample sample = samplePixels(bits, std::size_t{width} * height);
        NotesBitmapBuilder builder(width, height, bits);
        if (bits == 8)
            builder.colors(kFourColors);
        builder.pixels(sample.pixels, bits == 1 ? 24 : 60);
        const std::size_t tables = bits == 8 ? 1 : 0;
        ASSERT_GE(builder.records().size(), 1 + tables + 3) << "several segments";
        const BmpPicture picture = convertToPicture(builder.converterStream());
        ASSERT_EQ(picture.pixels.size(), sample.colors.size());
        for (std::size_t i = 0; i < sample.colors.size(); ++i)
            ASSERT_EQ(picture.pixels[i], sample.colors[i]) << "pixel " << i % width << "," << i / width;
    }
}

TEST(ConvertNotesBitmap, FirstScanlineIsTheTopRowStoredLastInTheFile) {
    NotesBitmapBuilder builder(1, 3, 8);
    builder.colors(kFourColors);
    for (std::uint8_t index : {1, 2, 3})
        builder.codedLine(bitmapunit::literal(Bytes{index}, 1));
    const Conversion conversion = convert(builder.converterStream());
    ASSERT_EQ(conversion.status, Status::Ok) << conversion.message;
    const BmpPicture picture = readBmp(conversion.bmp);
    EXPECT_FALSE(picture.topDown);
    EXPECT_EQ(picture.at(0, 0), kFour[1]);
    EXPECT_EQ(picture.at(0, 2), kFour[3]);
    EXPECT_EQ(conversion.bmp.at(picture.pixelOffset), 3) << "BMP rows run bottom-up";
}

TEST(ConvertNotesBitmap, MonochromeTakesAColourTableWhenThereIsOne) {
    NotesBitmapBuilder builder(8, 1, 1);
    builder.colors({{10, 20, 30}, {40, 50, 60}});
    builder.codedLine(bitmapunit::literal(Bytes{0xC0}, 1));
    const BmpPicture picture = convertToPicture(builder.converterStream());
    EXPECT_EQ(picture.indices, (std::vector<std::uint8_t>{1, 1, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(picture.at(0, 0), 0x28323Cu);
    EXPECT_EQ(picture.at(2, 0), 0x0A141Eu);
}

TEST(ConvertNotesBitmap, LongRunCountsReadHighBitsFirst) {
    // 0x81 0x02: 258 pels high bits first; a low-byte-first reading would give 0x0201 & 0x3FFF = 513.
    const Bytes units{0x81, 0x02, 0x01};
    struct Case {
        std::uint16_t width;
        Status status;
    } cases[] = {{258, Status::Ok}, {513, Status::Truncated}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.width);
        NotesBitmapBuilder builder(c.width, 1, 8);
        builder.colors(kFourColors).codedLine(units);
        const Conversion conversion = convert(builder.converterStream());
        EXPECT_EQ(conversion.status, c.status) << conversion.message;
        if (conversion.status == Status::Ok) {
            EXPECT_EQ(readBmp(conversion.bmp).pixels, repeated(258, kFour[1]));
        }
    }
}

TEST(ConvertNotesBitmap, SixteenBitPelsAreLittleEndianRedGreenBlueAndIgnoreTheTopBit) {
    struct Case {
        std::uint16_t word;
        std::uint32_t color;
    } cases[] = {
        {0x7C00, 0xFF0000}, {0x03E0, 0x00FF00}, {0x001F, 0x0000FF}, {0xFC00, 0xFF0000},
        {0x8000, 0x000000}, {0x0421, 0x080808}, {0x2D6B, 0x5A5A5A},
    };
    for (const Case &c : cases) {
        NotesBitmapBuilder builder(1, 1, 16);
        builder.codedLine(bitmapunit::literal(pel16(c.word), 2));
        EXPECT_EQ(convertToPicture(builder.converterStream()).at(0, 0), c.color) << std::hex << c.word;
    }
}

TEST(ConvertNotesBitmap, EightBitWithoutColourTableUsesTheWindowsSixteenColours) {
    Bytes indices;
    for (std::uint8_t i = 0; i < 16; ++i)
        indices.push_back(i);
    indices.push_back(200);
    NotesBitmapBuilder builder(17, 1, 8);
    builder.header().flags = 1; // even when the header asks for a palette it does not carry
    builder.codedLine(bitmapunit::literal(indices, 1));
    const BmpPicture picture = convertToPicture(builder.converterStream());
    const std::vector<std::uint32_t> expected = {
        0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
        0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF, 0x000000,
    };
    EXPECT_EQ(picture.pixels, expected);
    EXPECT_EQ(picture.palette.size(), 256u);
}

TEST(ConvertNotesBitmap, IndicesBeyondTheColourTableAreBlack) {
    NotesBitmapBuilder builder(3, 1, 8);
    builder.colors({{255, 255, 255}});
    builder.codedLine(bitmapunit::literal(Bytes{0, 1, 255}, 1));
    const BmpPicture picture = convertToPicture(builder.converterStream());
    EXPECT_EQ(picture.pixels, (std::vector<std::uint32_t>{kWhite, kBlack, kBlack}));
    EXPECT_EQ(picture.palette.size(), 256u);
}

TEST(ConvertNotesBitmap, ZeroCountUnitsAddNothing) {
    NotesBitmapBuilder builder(4, 1, 8);
    builder.colors(kFourColors).patterns({kIndexPattern});
    builder.codedLine(Bytes{0x00, 0xC0, 0x02, 0x80, 0x00, 0x02, 0x40, 0x00, 0x00, 0xC4, 0x01});
    EXPECT_EQ(convertToPicture(builder.converterStream()).pixels, repeated(4, kFour[1]));
}

TEST(ConvertNotesBitmap, IgnoresFillerAfterScanlinesAndScanlinesBeyondTheHeight) {
    NotesBitmapBuilder builder(2, 2, 8);
    builder.colors(kFourColors);
    const Bytes line = bitmapunit::literal(Bytes{1, 2}, 1);
    builder.rawSegment(0, {});
    builder.rawSegment(1, concat({line, Bytes{0}}));
    builder.rawSegment(3, concat({line, line, line}));
    const BmpPicture picture = convertToPicture(builder.converterStream());
    EXPECT_EQ(picture.pixels, (std::vector<std::uint32_t>{kFour[1], kFour[2], kFour[1], kFour[2]}));
}

TEST(ConvertNotesBitmap, TakesTablesInAnyOrderSkipsOtherRecordsAndFillers) {
    NotesBitmapBuilder builder(9, 2, 8);
    builder.colors({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}).patterns({kIndexPattern}); // colour table: odd length
    builder.codedLine(concat({bitmapunit::patternRun(1, 0), bitmapunit::literal(Bytes{2}, 1)})); // odd
    builder.endSegment();
    builder.codedLine(bitmapunit::shortRun(9, Bytes{1}));
    const std::vector<Bytes> records = builder.records();
    ASSERT_EQ(records.size(), 5u);
    const Bytes reference = convert(builder.converterStream()).bmp;
    ASSERT_FALSE(reference.empty());

    const Bytes transparent{0xC5, 0, 13, 0, 0, 0, 0, 0, 1, 0, 9, 9, 9};
    const Bytes byteRecordSharingTheLowByte{0x96, 4, 0xAA, 0xBB};
    struct Case {
        const char *name;
        Bytes input;
    } cases[] = {
        {"segments before the tables", concat({records[0], records[3], records[4], records[2], records[1]})},
        {"filler after the odd colour table",
         concat({records[0], records[1], Bytes{0}, records[2], records[3], records[4]})},
        {"a transparency table and a foreign record",
         concat({records[0], transparent, Bytes{0}, byteRecordSharingTheLowByte, records[1], records[2],
                 records[3], records[4]})},
        {"a filler after the odd last record",
         concat({records[0], records[2], records[3], records[4], records[1], Bytes{0}})},
    };
    for (const Case &c : cases) {
        const Conversion conversion = convert(c.input);
        EXPECT_EQ(conversion.status, Status::Ok) << c.name << ": " << conversion.message;
        EXPECT_EQ(conversion.bmp, reference) << c.name;
    }

    // The same records as composite data (after the CDGRAPHIC), fillers and all.
    CdWriter writer;
    builder.appendTo(writer);
    const auto bounds = cdRecords(writer.bytes());
    const Bytes composite(writer.bytes().begin() + static_cast<std::ptrdiff_t>(bounds.at(1).offset),
                          writer.bytes().end());
    EXPECT_EQ(convert(composite).bmp, reference);
}

TEST(ConvertNotesBitmap, ConvertsAPictureAtThePixelBound) {
    // 8192 x 4096 = 2^25 pixels from 16 KB of long runs: the largest picture the converter takes.
    NotesBitmapBuilder builder(8192, 4096, 8);
    builder.colors(kFourColors);
    for (std::uint32_t y = 0; y < 4096; ++y) {
        builder.codedLine(bitmapunit::longRun(8192, Bytes{static_cast<std::uint8_t>(y == 0 ? 2 : 1)}));
        if (y % 2048 == 2047)
            builder.endSegment();
    }
    const Conversion conversion = convert(builder.converterStream());
    ASSERT_EQ(conversion.status, Status::Ok) << conversion.message;
    const std::size_t pixelOffset = 54 + 4 * 256;
    ASSERT_EQ(conversion.bmp.size(), pixelOffset + std::size_t{8192} * 4096);
    EXPECT_EQ(conversion.bmp[pixelOffset], 1) << "the bottom row";
    EXPECT_EQ(conversion.bmp.back(), 2) << "the top row, stored last";
}

TEST(ConvertNotesBitmap, WritesAWindowsBmpOfTheDepth) {
    struct Case {
        std::uint16_t bits, width;
        std::uint16_t bitCount;
        std::size_t paletteEntries, stride;
    } cases[] = {{1, 9, 1, 2, 4}, {8, 5, 8, 256, 8}, {16, 5, 24, 0, 16}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bits);
        NotesBitmapBuilder builder(c.width, 3, c.bits);
        builder.pixels(std::vector<std::uint16_t>(std::size_t{c.width} * 3, 1));
        const Conversion conversion = convert(builder.converterStream());
        ASSERT_EQ(conversion.status, Status::Ok) << conversion.message;
        const BmpPicture picture = readBmp(conversion.bmp); // checks sizes, offsets and row padding
        EXPECT_EQ(picture.bitCount, c.bitCount);
        EXPECT_EQ(picture.palette.size(), c.paletteEntries);
        EXPECT_EQ(picture.pixelOffset, 54 + 4 * c.paletteEntries);
        EXPECT_EQ(conversion.bmp.size(), picture.pixelOffset + 3 * c.stride);
    }
}

} // namespace
