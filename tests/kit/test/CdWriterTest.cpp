#include "tessel/kit/CdWriter.h"

#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

namespace tessel::kit {
namespace {

std::uint16_t word(const Bytes &b, std::size_t off) {
    return static_cast<std::uint16_t>(b.at(off) | b.at(off + 1) << 8);
}
std::uint32_t dword(const Bytes &b, std::size_t off) {
    return static_cast<std::uint32_t>(word(b, off)) | static_cast<std::uint32_t>(word(b, off + 2)) << 16;
}

struct RecordCase {
    const char *name;
    std::function<void(CdWriter &)> write;
    Bytes expected;
};

Bytes withZeros(Bytes head, std::size_t zeros, Bytes tail = {}) {
    head.insert(head.end(), zeros, 0);
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// Expected bytes written by hand from the published record layouts.
std::vector<RecordCase> recordCases() {
    return {
        {"paragraph_bsig", [](CdWriter &w) { w.paragraph(); }, {0x81, 0x02}},
        {"pabreference_bsig", [](CdWriter &w) { w.pabReference(3); }, {0x83, 0x04, 0x03, 0x00}},
        {"text_wsig_odd_length_padded",
         [](CdWriter &w) {
             w.text(FontId{1, FontId::kBold, 2, 12}, "Hi!");
         },
         {0x85, 0xFF, 0x0B, 0x00, 0x01, 0x01, 0x02, 0x0C, 'H', 'i', '!', 0x00}},
        {"text_lmbcs_and_line_break",
         [](CdWriter &w) {
             w.text(FontId{0, 0, 0, 10}, "\xC3\xA9\n");
         },
         {0x85, 0xFF, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x82, 0x00}},
        {"v4_hotspot_end", [](CdWriter &w) { w.urlLinkEnd(); }, {0xAE, 0x02}},
        {"table_end", [](CdWriter &w) { w.tableEnd(); }, {0xA5, 0x06, 0, 0, 0, 0}},
        {"nested_table_end", [](CdWriter &w) { w.tableEnd(true); }, {0xD1, 0x06, 0, 0, 0, 0}},
        {"begin_pretable",
         [](CdWriter &w) { w.beginRecord(sig::kPreTableBegin, 1); },
         {0xDD, 0x06, 0x01, 0x00, 0xFB, 0xFF}},
        {"color",
         [](CdWriter &w) { w.color(ColorValue::rgb(0x12, 0x34, 0x56)); },
         {0xD2, 0x08, 0x01, 0x00, 0x12, 0x34, 0x56, 0x00}},
        {"image_segment_lsig_odd_data",
         [](CdWriter &w) {
             const Bytes data{1, 2, 3};
             w.imageSegment(data);
         },
         {0x7C, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x03, 0x00, 0x04, 0x00, 0x01, 0x02, 0x03, 0x00}},
        {"bitmap_segment_lsig_odd_length_padded",
         [](CdWriter &w) {
             const Bytes data{0xC3, 0x05, 0x00};
             w.bitmapSegment(1, data);
         },
         withZeros({0x96, 0x00, 0x15, 0x00, 0x00, 0x00}, 8,
                   {0x01, 0x00, 0x03, 0x00, 0xC3, 0x05, 0x00, 0x00})},
        {"link2_two_strings_padded",
         [](CdWriter &w) { w.link2(2, "Doc", ""); },
         {0x91, 0xFF, 0x0B, 0x00, 0x02, 0x00, 'D', 'o', 'c', 0x00, 0x00, 0x00}},
        {"horizontal_rule",
         [](CdWriter &w) { w.horizontalRule({}); },
         {0xC9, 0xFF, 0x10, 0x00, 0x04, 0, 0, 0, 0x20, 0x1C, 0x69, 0x00, 0, 0, 0, 0}},
        {"font_table",
         [](CdWriter &w) {
             const Face faces[] = {{5, 0x22, "Arial"}};
             w.fontTable(faces);
         },
         withZeros({0x8B, 0xFF, 0x28, 0x00, 0x01, 0x00, 0x05, 0x22, 'A', 'r', 'i', 'a', 'l'}, 27)},
        {"pab_definition_defaults", [](CdWriter &w) { w.pabDefinition({}); },
         withZeros(
             {0x82, 0xFF, 0x46, 0x00, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0xA0, 0x05, 0, 0, 0xA0, 0x05, 0, 0},
             40 + 2 + 4 + 2)},
        {"table_cell",
         [](CdWriter &w) {
             TableCell c;
             c.row = 1;
             c.column = 2;
             c.leftMargin = 0x0102;
             c.rightMargin = 0x0304;
             c.columnSpan = 3;
             c.flags = TableCell::kUseBackgroundColor;
             c.backgroundColor = 15;
             w.tableCell(c);
         },
         {0xA4, 0x12, 1, 2, 0x02, 0x01, 0x04, 0x03, 0, 0, 0x55, 0x01, 0, 0, 1, 3, 0x0F, 0x00}},
        {"url_hotspot_begin",
         [](CdWriter &w) { w.urlLinkBegin("a:b"); },
         {0xAD, 0xFF, 0x10, 0x00, 0x0B, 0x00, 0x00, 0x10, 0x00, 0x00, 0x04, 0x00, 'a', ':', 'b', 0x00}},
        {"file_hotspot_begin",
         [](CdWriter &w) { w.fileHotspotBegin("x", "y"); },
         {0xA9, 0xFF, 0x10, 0x00, 0x04, 0x00, 0, 0, 0, 0, 0x04, 0x00, 'x', 0x00, 'y', 0x00}},
        {"graphic",
         [](CdWriter &w) {
             Graphic g;
             g.destWidth = 300;
             g.destHeight = 150;
             w.graphic(g);
         },
         withZeros({0x99, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x2C, 0x01, 0x96, 0x00}, 12,
                   {0, 0, 0x02, 0x00, 0, 0})},
        {"image_header", [](CdWriter &w) { w.imageHeader(ImageType::Jpeg, 16, 8, 0x1234, 2); },
         withZeros({0x7D, 0x00, 0x1C, 0x00, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00,
                    0x08, 0x00, 0x34, 0x12, 0,    0,    0x02, 0,    0,    0},
                   8)},
    };
}

class CdRecordTest : public ::testing::TestWithParam<RecordCase> {};

TEST_P(CdRecordTest, WritesExpectedBytes) {
    CdWriter w;
    GetParam().write(w);
    EXPECT_EQ(w.bytes(), GetParam().expected);
    EXPECT_EQ(w.size() % 2, 0u) << "records must end on an even offset";
}

INSTANTIATE_TEST_SUITE_P(Layouts, CdRecordTest, ::testing::ValuesIn(recordCases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(CdWriter, RejectsRecordsTooLongForTheirHeader) {
    CdWriter w;
    const Bytes big(254, 0);
    EXPECT_THROW(w.record(sig::kParagraph, big), std::length_error);
    const Bytes huge(65532, 0);
    EXPECT_THROW(w.record(sig::kText, huge), std::length_error);
    EXPECT_TRUE(w.bytes().empty()) << "a rejected record leaves nothing behind";
    const Bytes fits(253, 0);
    w.record(sig::kParagraph, fits);
    EXPECT_EQ(w.bytes()[1], 0xFF);
}

TEST(CdWriter, RecordWalkFindsEveryRecordAtEvenOffsets) {
    CdWriter w;
    w.paragraph().pabReference(1).text({}, "odd").hotspotEnd().imageSegment(Bytes{9});
    const auto records = cdRecords(w.bytes());
    ASSERT_EQ(records.size(), 5u);
    const std::uint32_t lengths[] = {2, 4, 11, 2, 12};
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].offset % 2, 0u);
        EXPECT_EQ(records[i].length, lengths[i]);
    }
    EXPECT_EQ(records[2].signature, 0xFF85);
    EXPECT_EQ(records[3].signature, 0x02AA) << "a BSIG keeps its length in the high byte";
    EXPECT_EQ(records[4].signature, 0x007C);
    const Bytes truncated(w.bytes().begin(), w.bytes().end() - 3);
    EXPECT_THROW(cdRecords(truncated), std::invalid_argument);
}

TEST(CdWriter, CompositeValueStartsWithTypeWord) {
    CdWriter w;
    w.paragraph();
    EXPECT_EQ(compositeValue(w.bytes()), (Bytes{0x01, 0x00, 0x81, 0x02}));
}

TEST(CdWriter, PictureSplitsFileIntoSegments) {
    Bytes file(25);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(i * 7);
    CdWriter w;
    w.picture(ImageType::Gif, 5, 4, file, 10);
    const auto records = cdRecords(w.bytes());
    ASSERT_EQ(records.size(), 5u);
    const Bytes &b = w.bytes();
    EXPECT_EQ(word(b, records[0].offset), 0x0099);
    EXPECT_EQ(word(b, records[1].offset), 0x007D);
    EXPECT_EQ(dword(b, records[1].offset + 12), 25u);
    EXPECT_EQ(dword(b, records[1].offset + 16), 3u);
    Bytes joined;
    for (std::size_t i = 2; i < records.size(); ++i) {
        const std::size_t off = records[i].offset;
        const std::uint16_t dataSize = word(b, off + 6);
        EXPECT_EQ(word(b, off + 8), dataSize + dataSize % 2);
        joined.insert(joined.end(), b.begin() + off + 10, b.begin() + off + 10 + dataSize);
    }
    EXPECT_EQ(joined, file);
}

TEST(CdWriter, ScanlineRunLengthCodes) {
    EXPECT_EQ(encodeBitmapScanline(Bytes{5, 5, 5, 5, 1, 2}, 1), (Bytes{0xC4, 5, 0x02, 1, 2}));
    EXPECT_EQ(encodeBitmapScanline(Bytes{7, 7}, 1), (Bytes{0x02, 7, 7}));
    EXPECT_EQ(encodeBitmapScanline(Bytes{1, 2, 1, 2, 1, 2, 3, 4}, 2), (Bytes{0xC3, 1, 2, 0x01, 3, 4}));
    const Bytes long70(70, 9);
    EXPECT_EQ(encodeBitmapScanline(long70, 1), (Bytes{0xFF, 9, 0xC7, 9}));
    EXPECT_THROW(encodeBitmapScanline(Bytes{1, 2, 3}, 2), std::invalid_argument);
}

// Decodes the 11 / 00 codes back into pels, as a reader of Notes bitmaps would.
Bytes decodeScanlines(std::span<const std::uint8_t> data, std::size_t pelSize) {
    Bytes out;
    std::size_t i = 0;
    while (i < data.size()) {
        const std::uint8_t code = data[i++];
        const std::size_t count = code & 0x3F;
        if ((code & 0xC0) == 0xC0) {
            for (std::size_t k = 0; k < count; ++k)
                out.insert(out.end(), data.begin() + i, data.begin() + i + pelSize);
            i += pelSize;
        } else {
            out.insert(out.end(), data.begin() + i, data.begin() + i + count * pelSize);
            i += count * pelSize;
        }
    }
    return out;
}

TEST(CdWriter, NotesBitmapRoundTripsThroughItsSegments) {
    NotesBitmap bm;
    bm.width = 20;
    bm.height = 6;
    bm.bitsPerPixel = 8;
    bm.palette = {{0, 0, 0}, {255, 0, 0}, {0, 0, 255}};
    for (int y = 0; y < bm.height; ++y)
        for (int x = 0; x < bm.width; ++x)
            bm.pixels.push_back(static_cast<std::uint16_t>(x < 10 ? 1 : (x + y) % 3));
    CdWriter w;
    w.notesBitmap(bm, 40);
    const Bytes &b = w.bytes();
    const auto records = cdRecords(b);
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(word(b, records[0].offset), 0x0099);
    const std::size_t hdr = records[1].offset;
    EXPECT_EQ(word(b, hdr), 0x0095);
    EXPECT_EQ(word(b, hdr + 22), 20);
    EXPECT_EQ(word(b, hdr + 24), 6);
    EXPECT_EQ(word(b, hdr + 26), 8);
    EXPECT_EQ(word(b, hdr + 34), 3) << "colour count";
    EXPECT_EQ(word(b, hdr + 32), records.size() - 3) << "segment count";
    EXPECT_EQ(word(b, records[2].offset), 0x0097);
    EXPECT_EQ(records[2].length, 6u + 9u);
    Bytes pixels;
    std::uint32_t lines = 0;
    for (std::size_t i = 3; i < records.size(); ++i) {
        const std::size_t off = records[i].offset;
        EXPECT_EQ(word(b, off), 0x0096);
        lines += word(b, off + 14);
        const std::uint16_t size = word(b, off + 16);
        EXPECT_LE(size, 40u);
        const Bytes seg = decodeScanlines(std::span(b).subspan(off + 18, size), 1);
        pixels.insert(pixels.end(), seg.begin(), seg.end());
    }
    EXPECT_EQ(lines, 6u);
    ASSERT_EQ(pixels.size(), bm.pixels.size());
    for (std::size_t i = 0; i < pixels.size(); ++i)
        ASSERT_EQ(pixels[i], bm.pixels[i]) << "pixel " << i;
}

TEST(CdWriter, MonochromeBitmapPacksEightPixelsPerByteMsbFirst) {
    NotesBitmap bm;
    bm.width = 10;
    bm.height = 1;
    bm.bitsPerPixel = 1;
    bm.pixels = {1, 0, 0, 0, 0, 0, 0, 1, 1, 0};
    CdWriter w;
    w.notesBitmap(bm);
    const auto records = cdRecords(w.bytes());
    ASSERT_EQ(records.size(), 3u) << "no colour table for 1 bpp";
    const std::size_t seg = records[2].offset;
    const Bytes data = decodeScanlines(std::span(w.bytes()).subspan(seg + 18, word(w.bytes(), seg + 16)), 1);
    EXPECT_EQ(data, (Bytes{0x81, 0x80}));
}

TEST(CdWriter, NamedElementResourcePutsNameAfterHintsAndReplica) {
    CdWriter w;
    w.resource(Resource::namedElement("logo"));
    const Bytes &b = w.bytes();
    EXPECT_EQ(word(b, 0), 0xFFF6);
    EXPECT_EQ(word(b, 8), 3) << "NAMEDELEMENT";
    EXPECT_EQ(word(b, 10), 8) << "image class";
    EXPECT_EQ(word(b, 12), 4) << "name length";
    EXPECT_EQ(std::string(b.begin() + 34, b.begin() + 38), "logo");
    EXPECT_EQ(word(b, 2), 38);
}

TEST(CdWriter, SplitRichTextKeepsRecordsWholeAndUnderTheItemLimit) {
    CdWriter w;
    const std::string chunk(1001, 'x');
    for (int i = 0; i < 150; ++i)
        w.paragraph().pabReference(1).text({}, chunk);
    const auto pieces = splitRichText(w.bytes());
    ASSERT_GE(pieces.size(), 3u);
    Bytes joined;
    for (const Bytes &piece : pieces) {
        EXPECT_LE(piece.size() + 2, 65406u);
        EXPECT_NO_THROW(cdRecords(piece));
        joined.insert(joined.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(joined, w.bytes());

    CdWriter small;
    small.paragraph();
    EXPECT_EQ(splitRichText(small.bytes()).size(), 1u);

    CdWriter oversize;
    oversize.text({}, std::string(65500, 'y'));
    EXPECT_THROW(splitRichText(oversize.bytes()), std::length_error);
}

TEST(CdWriter, FieldPlacesNameAfterFormulas) {
    Field f;
    f.defaultValueFormula = {1, 2};
    f.inputValidationFormula = {3};
    f.name = "Subject";
    CdWriter w;
    w.field(f);
    const Bytes &b = w.bytes();
    EXPECT_EQ(word(b, 0), 0xFF8A);
    EXPECT_EQ(word(b, 22), 2);
    EXPECT_EQ(word(b, 28), 1);
    EXPECT_EQ(word(b, 30), 7);
    EXPECT_EQ(std::string(b.begin() + 36 + 3, b.begin() + 36 + 3 + 7), "Subject");
}

} // namespace
} // namespace tessel::kit
