// Damaged and hostile Notes bitmaps: each gives a clear status and a message, never a BMP.
#include "BitmapTestSupport.h"

#include <functional>

using namespace bmpcvtest;
using namespace tessel::kit;

namespace {

const std::vector<Rgb> kColors = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}};

// A sound 8-bit picture, 6 x 3, in two segments, with a colour and a pattern table.
NotesBitmapBuilder soundBitmap() {
    NotesBitmapBuilder builder(6, 3, 8);
    builder.colors(kColors);
    NotesBitmapBuilder::PatternEntry pattern{};
    builder.patterns({pattern});
    builder.codedLine(bitmapunit::shortRun(6, Bytes{1}));
    builder.endSegment();
    builder.codedLine(bitmapunit::literal(Bytes{0, 1, 2, 2, 1, 0}, 1));
    builder.codedLine(bitmapunit::longRun(6, Bytes{2}));
    return builder;
}

void putWord(Bytes &b, std::size_t offset, std::uint16_t value) {
    b.at(offset) = static_cast<std::uint8_t>(value);
    b.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

void putDword(Bytes &b, std::size_t offset, std::uint32_t value) {
    putWord(b, offset, static_cast<std::uint16_t>(value));
    putWord(b, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

Bytes concat(const std::vector<Bytes> &parts) {
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The sound picture with one line's units replaced.
Bytes withLine(const Bytes &units, std::uint16_t width = 6, bool patterns = true) {
    NotesBitmapBuilder builder(width, 1, 8);
    builder.colors(kColors);
    if (patterns)
        builder.patterns({NotesBitmapBuilder::PatternEntry{}});
    builder.codedLine(units);
    return builder.converterStream();
}

struct HostileCase {
    const char *name;
    std::function<Bytes()> input;
    Status status;
    const char *messagePart;
};

std::vector<HostileCase> hostileCases() {
    return {
        {"empty input", [] { return Bytes{}; }, Status::Truncated, "no bitmap header"},
        {"one stray byte", [] { return Bytes{0x95}; }, Status::Truncated, "stray byte"},
        {"a segment first", [] { return soundBitmap().records().back(); }, Status::Malformed, "0x0096"},
        {"an image header instead", [] { return Bytes{0x7D, 0, 6, 0, 0, 0}; }, Status::Malformed, "0x007D"},
        {"header shorter than its fields",
         [] {
             Bytes b = soundBitmap().records()[0];
             b.resize(30);
             putDword(b, 2, 30);
             return b;
         },
         Status::Truncated, "bitmap header"},
        {"record length below its header",
         [] {
             Bytes b = soundBitmap().converterStream();
             putDword(b, 2, 3);
             return b;
         },
         Status::Malformed, "shorter than its header"},
        {"record length past the end",
         [] {
             Bytes b = soundBitmap().converterStream();
             putDword(b, 2, 0xFFFFFFF0u);
             return b;
         },
         Status::Truncated, "runs past the end"},
        {"4 bits per pixel",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().bitsPerPixel = 4;
             return b.converterStream();
         },
         Status::Malformed, "4 bits per pixel"},
        {"zero width",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().width = 0;
             return b.converterStream();
         },
         Status::Malformed, "empty"},
        {"zero height",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().height = 0;
             return b.converterStream();
         },
         Status::Malformed, "empty"},
        {"absurd dimensions",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().width = 65535;
             b.header().height = 65535;
             return b.converterStream();
         },
         Status::TooLarge, "65535 x 65535"},
        {"just past the pixel bound",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().width = 65535;
             b.header().height = 513; // 33,619,455 pixels > 2^25
             return b.converterStream();
         },
         Status::TooLarge, "pixels"},
        {"more than 256 colours",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().colorCount = 257;
             return b.converterStream();
         },
         Status::Malformed, "257 colours"},
        {"more than 64 patterns",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().patternCount = 65;
             return b.converterStream();
         },
         Status::Malformed, "65 patterns"},
        {"colour table shorter than its count",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().colorCount = 4; // the table holds 3
             return b.converterStream();
         },
         Status::Truncated, "colour table holds 3"},
        {"pattern table shorter than its count",
         [] {
             NotesBitmapBuilder b = soundBitmap();
             b.header().patternCount = 2;
             return b.converterStream();
         },
         Status::Truncated, "pattern table holds 1"},
        {"second bitmap header",
         [] {
             const auto r = soundBitmap().records();
             return concat({r[0], r[1], r[0], r[2], r[3], r[4]});
         },
         Status::Malformed, "second bitmap header"},
        {"second colour table",
         [] {
             const auto r = soundBitmap().records();
             return concat({r[0], r[1], r[1], r[2], r[3], r[4]});
         },
         Status::Malformed, "second colour table"},
        {"no segments",
         [] {
             const auto r = soundBitmap().records();
             return concat({r[0], r[1], r[2]});
         },
         Status::Truncated, "no bitmap segments"},
        {"segment record shorter than its fields",
         [] {
             Bytes b = soundBitmap().records()[0];
             const Bytes segment{0x96, 0, 10, 0, 0, 0, 0, 0, 0, 0};
             return concat({b, segment});
         },
         Status::Truncated, "bitmap segment"},
        {"segment data size past its record",
         [] {
             auto r = soundBitmap().records();
             putWord(r[3], 16, 200);
             return concat(r);
         },
         Status::Truncated, "it says 200"},
        {"fewer scanlines than the height",
         [] {
             auto r = soundBitmap().records();
             return concat({r[0], r[1], r[2], r[3]});
         },
         Status::Truncated, "1 of 3 scanlines"},
        {"segment counts more lines than its data holds",
         [] {
             auto r = soundBitmap().records();
             putWord(r[3], 14, 3);
             return concat({r[0], r[1], r[2], r[3]});
         },
         Status::Truncated, "ends after 0 of 6 pels"},
        {"more segments than a WORD counts",
         [] {
             const Bytes emptySegment{0x96, 0, 18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
             Bytes b = soundBitmap().records()[0];
             for (int i = 0; i < 0x10000; ++i)
                 b.insert(b.end(), emptySegment.begin(), emptySegment.end());
             return b;
         },
         Status::Malformed, "more than 65535 bitmap segments"},
        {"short run past the end of the line", [] { return withLine(bitmapunit::shortRun(7, Bytes{1})); },
         Status::Malformed, "gives 7 pels, 6 remain"},
        {"long run past the end of the line", [] { return withLine(bitmapunit::longRun(16383, Bytes{1})); },
         Status::Malformed, "gives 16383 pels"},
        {"literal past the end of the line", [] { return withLine(bitmapunit::literal(Bytes(9, 1), 1)); },
         Status::Malformed, "gives 9 pels"},
        {"pattern run past the end of the line", [] { return withLine(bitmapunit::patternRun(1, 0)); },
         Status::Malformed, "gives 8 pels"},
        {"pattern index outside the table", [] { return withLine(bitmapunit::patternRun(1, 1), 8); },
         Status::Malformed, "pattern 1 is outside"},
        {"pattern run without a pattern table",
         [] { return withLine(bitmapunit::patternRun(1, 0), 8, false); }, Status::Malformed, "(0 entries)"},
        {"data ends inside a literal",
         [] {
             return withLine(Bytes{0x06, 1, 1});
         },
         Status::Truncated, "literal"},
        {"data ends inside a long run count", [] { return withLine(Bytes{0x80}); }, Status::Truncated, "run"},
        {"data ends before a run's pel", [] { return withLine(Bytes{0xC6}); }, Status::Truncated, "run"},
        {"data ends before a pattern index",
         [] {
             return withLine(Bytes{0x40, 0x01}, 8);
         },
         Status::Truncated, "pattern"},
    };
}

TEST(HostileNotesBitmap, GetsAClearStatusAndNoPicture) {
    for (const HostileCase &c : hostileCases()) {
        SCOPED_TRACE(c.name);
        const Conversion conversion = convert(c.input());
        EXPECT_EQ(conversion.status, c.status) << conversion.message;
        EXPECT_NE(conversion.message.find(c.messagePart), std::string::npos) << conversion.message;
        EXPECT_TRUE(conversion.bmp.empty());
    }
}

TEST(HostileNotesBitmap, EveryCutOfASoundPictureIsTruncated) {
    const Bytes sound = soundBitmap().converterStream();
    ASSERT_EQ(convert(sound).status, Status::Ok);
    for (std::size_t size = 0; size < sound.size(); ++size) {
        const Conversion conversion =
            convert(Bytes(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(size)));
        EXPECT_EQ(conversion.status, Status::Truncated) << "cut at " << size << ": " << conversion.message;
        EXPECT_TRUE(conversion.bmp.empty());
    }
}

// Damaged copies of sound pictures: every one either converts to a BMP that reads back with the
// picture's size, or fails with a message. Deterministic, so a failure can be replayed.
TEST(HostileNotesBitmap, RandomDamageNeverGoesUnreported) {
    std::vector<Bytes> seeds;
    seeds.push_back(soundBitmap().converterStream());
    for (std::uint16_t bits : {1, 16}) {
        NotesBitmapBuilder builder(13, 5, bits);
        std::vector<std::uint16_t> pixels;
        for (int i = 0; i < 13 * 5; ++i)
            pixels.push_back(static_cast<std::uint16_t>(i / 7 * 0x1234));
        builder.patterns({NotesBitmapBuilder::PatternEntry{}}).pixels(pixels, 20);
        seeds.push_back(builder.converterStream());
    }
    std::uint32_t state = 2024;
    auto next = [&state] {
        state = state * 1664525 + 1013904223;
        return state >> 8;
    };
    int converted = 0, failed = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes input = seeds[round % seeds.size()];
        const int damage = 1 + static_cast<int>(next() % 4);
        for (int d = 0; d < damage; ++d) {
            const std::size_t at = next() % input.size();
            switch (next() % 3) {
            case 0:
                input[at] = static_cast<std::uint8_t>(next());
                break;
            case 1:
                input[at] ^= static_cast<std::uint8_t>(1u << (next() % 8));
                break;
            default:
                input.resize(at + 1);
                break;
            }
        }
        const Conversion conversion = convert(input);
        if (conversion.status == Status::Ok) {
            ++converted;
            ASSERT_TRUE(conversion.message.empty());
            ASSERT_NO_THROW(readBmp(conversion.bmp)) << "round " << round;
        } else {
            ++failed;
            ASSERT_FALSE(conversion.message.empty()) << "round " << round;
            ASSERT_TRUE(conversion.bmp.empty()) << "round " << round;
        }
    }
    EXPECT_GT(converted, 0);
    EXPECT_GT(failed, 0);
}

} // namespace
