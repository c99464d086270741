// Hostile composite data: streams cut anywhere, lengths past the end, zero lengths, bytes changed
// at random, deep nesting, huge counts, unterminated blocks and failing allocations. Each converts
// what can be converted, keeps every whole record before the damage, and logs what it skipped.
#include "RichTextSupport.h"

#include <NsfFixture.h>
#include <tessel/kit/Random.h>

#include <algorithm>

#include "nsf/base/status.h"

namespace tessel::test {
namespace {

using kit::Bytes;
using kit::CdWriter;

// A body with text between every kind of record the converter reads.
CdWriter richBody() {
    static const kit::Face faces[] = {{5, 0x22, "Arial"}};
    CdWriter cd;
    kit::PabDefinition plain, bullet;
    plain.id = 1;
    bullet.id = 2;
    bullet.flags = kit::PabDefinition::kBullet;
    cd.fontTable(faces).pabDefinition(plain).pabDefinition(bullet);
    cd.paragraph().pabReference(1).text({5, 1, 2, 12}, "alpha");
    cd.urlLinkBegin("http://example.com/").text({}, "bravo").urlLinkEnd();
    cd.paragraph().pabReference(2).text({}, "charlie");
    cd.beginRecord(kit::sig::kText, 0).color(kit::ColorValue{0x8001, 1, 2, 3, 0}).endRecord(kit::sig::kText, 0);
    cd.text({}, "delta");
    cd.preTableBegin({}).borderInfo({}).tableBegin({});
    kit::TableCell c;
    c.rightMargin = 1440;
    cd.tableCell(c).text({}, "echo");
    c.column = 1;
    cd.tableCell(c).color(kit::ColorValue::rgb(1, 2, 3), kit::sig::kTableCellColor).text({}, "foxtrot");
    c.row = 1;
    c.column = 0;
    cd.tableCell(c); // covered by the next cell, so without text of its own
    c.column = 1;
    c.columnSpan = 2;
    cd.tableCell(c).text({}, "kilo").tableEnd();
    cd.picture(kit::ImageType::Gif, 2, 2, Bytes(40, 0x47));
    cd.caption({"golf", 0, {}, kit::ColorValue::rgb(0, 0, 0)});
    kit::Bar bar;
    bar.title = "hotel";
    cd.bar(bar);
    kit::Button button;
    button.label = "india";
    cd.button(button).text({}, "juliet").horizontalRule({});
    return cd;
}

class Hostile : public ConverterTest {};

TEST_F(Hostile, StreamCutAnywhereKeepsEveryWholeRecord) {
    const CdWriter cd = richBody();
    const Bytes &all = cd.bytes();
    const auto records = kit::cdRecords(all);
    for (std::size_t cut = 0; cut <= all.size(); ++cut) {
        const Bytes part(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(cut));
        const std::string out = convert(part);
        ASSERT_NE(out.find(kBodyEnd), std::string::npos) << "cut at " << cut;
        ASSERT_TRUE(out.ends_with(std::string(kDelimiter) + "--")) << "cut at " << cut;
        // Every text record that ends before the cut is in the output.
        for (const auto &rec : records) {
            if ((rec.signature & 0xFF) != 0x85 || rec.offset + rec.length > cut)
                continue;
            const std::string text(all.begin() + static_cast<std::ptrdiff_t>(rec.offset + 8),
                                   all.begin() + static_cast<std::ptrdiff_t>(rec.offset + rec.length));
            EXPECT_NE(out.find(text), std::string::npos) << text << " lost when cut at " << cut;
        }
    }
}

TEST_F(Hostile, ChangedBytesNeverBreakTheFrame) {
    const Bytes original = richBody().bytes();
    kit::Random random(20261206);
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = original;
        const int changes = 1 + static_cast<int>(random.below(8));
        for (int i = 0; i < changes; ++i)
            bytes[random.below(bytes.size())] = static_cast<uint8_t>(random.below(256));
        const std::string out = convert(bytes);
        ASSERT_NE(out.find(kBodyEnd), std::string::npos) << "round " << round;
        ASSERT_TRUE(out.ends_with(std::string(kDelimiter) + "--")) << "round " << round;
    }
}

TEST_F(Hostile, LengthPastTheEndEndsTheWalkThere) {
    CdWriter cd;
    cd.text({}, "kept").raw(Bytes{0x85, 0xFF, 0xF0, 0x00, 'l', 'o', 's', 't'});
    EXPECT_EQ(body(cd), "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>kept</FONT>\r\n");
}

TEST_F(Hostile, ZeroLengthEndsTheWalk) {
    CdWriter cd;
    cd.text({}, "kept").raw(Bytes{0x7C, 0x00, 0, 0, 0, 0}).text({}, "after");
    EXPECT_EQ(body(cd), "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>kept</FONT>\r\n");
}

TEST_F(Hostile, RecordsTooShortForTheirKindGiveNothing) {
    // Every kind the converter reads, each only a header long, then a text that must still come.
    CdWriter cd;
    for (kit::Sig sig : {kit::sig::kText, kit::sig::kPabDefinition, kit::sig::kFontTable, kit::sig::kHotspotBegin,
                         kit::sig::kV4HotspotBegin, kit::sig::kButton, kit::sig::kCaption, kit::sig::kBar,
                         kit::sig::kImageHeader, kit::sig::kImageSegment, kit::sig::kBitmapHeader,
                         kit::sig::kPreTableBegin, kit::sig::kBorderInfo, kit::sig::kHref, kit::sig::kTableCellHref})
        cd.record(sig, {});
    for (kit::Sig sig : {kit::sig::kPabReference, kit::sig::kColor, kit::sig::kTableBegin, kit::sig::kTableCell,
                         kit::sig::kTableCellColor, kit::sig::kTableEnd})
        cd.record(sig, {});
    cd.text({}, "kept");
    EXPECT_EQ(body(cd), "<FONT FACE=3D\"SANS-SERIF\" SIZE=3D2 COLOR=3D#000000>kept</FONT>\r\n");
}

TEST_F(Hostile, DeepNestingIsBounded) {
    CdWriter cd;
    kit::TableCell c;
    c.rightMargin = 20;
    for (int depth = 0; depth < 200; ++depth) {
        cd.preTableBegin({}).tableBegin({}, depth > 0).tableCell(c, depth > 0).text({}, "t" + std::to_string(depth));
    }
    for (int depth = 199; depth >= 0; --depth)
        cd.tableEnd(depth > 0);
    cd.text({}, "after");
    const std::string html = body(cd);
    std::size_t tables = 0, closes = 0;
    for (std::size_t at = html.find("<TABLE"); at != std::string::npos; at = html.find("<TABLE", at + 1))
        ++tables;
    for (std::size_t at = html.find("</TABLE>"); at != std::string::npos; at = html.find("</TABLE>", at + 1))
        ++closes;
    EXPECT_EQ(tables, static_cast<std::size_t>(LOTUS_MAX_TABLE_DEPTH));
    EXPECT_EQ(closes, tables) << "each table made is closed once";
    for (int depth = 0; depth < 200; ++depth)
        EXPECT_NE(html.find(">t" + std::to_string(depth) + "<"), std::string::npos) << depth;
    EXPECT_NE(html.find(">after<"), std::string::npos);
}

TEST_F(Hostile, FontCountLargerThanTheRecord) {
    Bytes payload = {0xFF, 0xFF, 7, 0x20};
    const std::string name = "Hostile Face";
    payload.insert(payload.end(), name.begin(), name.end());
    payload.resize(2 + 34, 0);
    CdWriter cd;
    cd.record(kit::sig::kFontTable, payload).text({7, 0, 0, 10}, "x");
    EXPECT_EQ(body(cd), "<FONT FACE=3D\"Hostile Face                    \" SIZE=3D2 COLOR=3D#000000>x</FONT>\r\n");
}

TEST_F(Hostile, ManyBeginsWithoutEndsConvertEverything) {
    CdWriter cd;
    for (int i = 0; i < 2000; ++i)
        cd.beginRecord(kit::sig::kText, 0).text({}, "w" + std::to_string(i));
    const std::string html = body(cd);
    for (int i = 0; i < 2000; i += 111)
        EXPECT_NE(html.find(">w" + std::to_string(i) + "<"), std::string::npos) << i;
    EXPECT_EQ(html.find(">w0<"), html.rfind(">w0<")) << "written once";
}

TEST_F(Hostile, EveryFailingAllocationLeavesNoBlockBehind) {
    const CdWriter cd = richBody();
    for (uint64_t n = 1; n <= 12; ++n) {
        allocator.resetCounts();
        allocator.failAllocation(n);
        const std::string out = convert(cd);
        EXPECT_TRUE(out.ends_with(std::string(kDelimiter) + "--")) << "allocation " << n;
        EXPECT_EQ(allocator.liveCount(), 0u) << "allocation " << n;
    }
    allocator.failAllocation(0);
}

class HostileLogged : public NsfTest {};

TEST_F(HostileLogged, SkippedRecordsAndTheStopAreLogged) {
    CdWriter cd;
    cd.record(kit::sig::kCaption, Bytes{0xFF, 0x00}).text({}, "x").raw(Bytes{0x85, 0xFF, 0xF0, 0x00});
    Bytes all = {1, 0};
    all.insert(all.end(), cd.bytes().begin(), cd.bytes().end());
    std::vector<char> out(4096);
    uint32_t cbOut = 0;
    ASSERT_EQ(LotusRTConvertToMHT(pContext, pContext->services, "1", 0, all.data(), static_cast<uint32_t>(all.size()),
                                  out.data(), static_cast<uint32_t>(out.size()), &cbOut),
              NSF_STATUS_OK);
    const auto lines = logLines();
    auto has = [&](const std::string &text) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string &line) { return line.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(has("WARNING CLotusRTConverter::ConvertToMHT(): Invalid record at offset 16 (of 20): conversion ends "
                    "there"));
    EXPECT_TRUE(has("WARNING CLotusRTConverter::ConvertToMHT(): 1 records too short for their kind gave no output"));
    EXPECT_TRUE(has("DEBUG CLotusRTConverter::ConvertToMHT(): [00000000] record 0xff76 too short for its kind"));
}

} // namespace
} // namespace tessel::test
