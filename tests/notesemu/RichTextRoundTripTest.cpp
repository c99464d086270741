// DXL rich text both ways: XML -> composite -> XML -> composite keeps the records, their text
// and their pictures; records without an XML form keep the whole item as item data.
#include "Composite.h"
#include "DxlLoader.h"
#include "Log.h"
#include "RichTextExport.h"

#include <notes/notes.h>
#include <tessel/kit/CdWriter.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace notesemu {
namespace {

struct Record {
    WORD type;
    std::string content; // text, picture bytes, section title, URL
};

std::vector<Record> recordsOf(const std::vector<std::uint8_t> &value) {
    std::vector<Record> records;
    walkComposite(value, [&](const CdRecord &record) -> STATUS {
        const auto *bytes = reinterpret_cast<const char *>(record.data);
        Record r{record.type, {}};
        if (record.type == SIG_CD_TEXT)
            r.content.assign(bytes + 8, record.length - 8);
        else if (record.type == SIG_CD_IMAGESEGMENT)
            r.content.assign(bytes + 10, record.length - 10);
        else if (record.type == SIG_CD_BAR || record.type == SIG_CD_V4HOTSPOTBEGIN)
            r.content.assign(bytes + 12, record.length - 12);
        records.push_back(r);
        return NOERROR;
    });
    return records;
}

// The Body of a database whose one document has that rich-text XML.
std::vector<std::uint8_t> bodyOf(const std::string &richtext) {
    const std::string dxl = "<?xml version='1.0'?><database xmlns='http://www.lotus.com/dxl'><document "
                            "form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/><item "
                            "name='Body'>" +
                            richtext + "</item></document></database>";
    const LoadResult loaded = loadDxlText(dxl, "roundtrip.dxl");
    EXPECT_EQ(loaded.status, NOERROR);
    if (loaded.status != NOERROR)
        return {};
    const Item *body = findItem(loaded.database->itemsOf(loaded.database->notes[0]), "Body");
    EXPECT_NE(body, nullptr);
    return body ? std::vector<std::uint8_t>(body->value.begin(), body->value.end()) : std::vector<std::uint8_t>{};
}

TEST(RichTextRoundTrip, XmlToCompositeToXmlToCompositeKeepsEveryRecord) {
    const char *gif = "R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==";
    const std::string source =
        std::string("<richtext><pardef id='1' align='center' leftmargin='0.5in'/><par def='1'>Plain, <run><font "
                    "style='bold italic' size='12pt' color='red'/>styled</run><break/>next line &amp; "
                    "<urllink href='http://example.org/?a=1&amp;b=2'>a link</urllink></par><par def='1'><picture "
                    "width='1px' height='1px'><gif>") +
        gif +
        "</gif></picture></par><table><tablecolumn width='50%'/><tablecolumn width='50%'/><tablerow><tablecell "
        "bgcolor='silver'><par def='1'>a</par></tablecell><tablecell><par def='1'>b</par></tablecell></tablerow>"
        "<tablerow><tablecell columnspan='2'><par def='1'>wide</par></tablecell></tablerow></table><section>"
        "<sectiontitle>Title</sectiontitle><par def='1'>inside</par></section><par def='1'><horizrule/></par>"
        "</richtext>";
    const std::vector<std::uint8_t> first = bodyOf(source);
    ASSERT_FALSE(first.empty());
    const auto xml = compositeToRichTextXml(first);
    ASSERT_TRUE(xml.has_value());
    EXPECT_NE(xml->find("<urllink href='http://example.org/?a=1&amp;b=2'>"), std::string::npos) << *xml;
    EXPECT_NE(xml->find("<sectiontitle>Title</sectiontitle>"), std::string::npos) << *xml;
    EXPECT_NE(xml->find("<font size='12pt' style='bold italic' color='red'/>"), std::string::npos) << *xml;
    EXPECT_NE(xml->find("<tablecell columnspan='2'>"), std::string::npos) << *xml;
    const std::vector<std::uint8_t> second = bodyOf(*xml);
    const auto a = recordsOf(first), b = recordsOf(second);
    ASSERT_EQ(a.size(), b.size()) << *xml;
    EXPECT_GE(a.size(), 25U);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].type, b[i].type) << "record " << i;
        EXPECT_EQ(a[i].content, b[i].content) << "record " << i;
    }
    // And the second export is the first one again.
    EXPECT_EQ(compositeToRichTextXml(second), xml);
}

TEST(RichTextRoundTrip, RecordsWithoutAnXmlFormKeepTheItemAsItemData) {
    // A CDBUTTON the writer does not express: the whole value stays item data.
    std::vector<std::uint8_t> value{TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8, 0xAB, 0xFF, 16, 0};
    value.resize(2 + 16, 0);
    EXPECT_FALSE(compositeToRichTextXml(value).has_value());
    // An unterminated hotspot or table is not written half.
    std::vector<std::uint8_t> open = bodyOf("<richtext><table><tablerow><tablecell><par>x</par></tablecell>"
                                            "</tablerow></table></richtext>");
    ASSERT_FALSE(open.empty());
    open.resize(open.size() - 6); // drop CDTABLEEND
    EXPECT_FALSE(compositeToRichTextXml(open).has_value());
}

// A Notes bitmap goes out as <notesbitmap> (its records in base64) and comes back as the same
// records after a CDGRAPHIC.
TEST(RichTextRoundTrip, NotesBitmapsTravelAsTheirRecords) {
    tessel::kit::CdWriter cd;
    cd.pabDefinition({}).paragraph().pabReference(1);
    tessel::kit::NotesBitmap bitmap;
    bitmap.width = 12;
    bitmap.height = 5;
    bitmap.palette = {{0, 0, 0}, {255, 255, 255}, {200, 30, 30}};
    for (int i = 0; i < bitmap.width * bitmap.height; ++i)
        bitmap.pixels.push_back(static_cast<std::uint16_t>(i % 3));
    cd.notesBitmap(bitmap);
    std::vector<std::uint8_t> value{TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8};
    value.insert(value.end(), cd.bytes().begin(), cd.bytes().end());
    const auto xml = compositeToRichTextXml(value);
    ASSERT_TRUE(xml.has_value());
    EXPECT_NE(xml->find("<notesbitmap>"), std::string::npos) << *xml;
    const std::vector<std::uint8_t> back = bodyOf(*xml);
    const auto a = recordsOf(value), b = recordsOf(back);
    std::vector<WORD> bitmapKinds;
    for (const Record &r : a)
        if (r.type != SIG_CD_PABDEFINITION && r.type != SIG_CD_PARAGRAPH && r.type != SIG_CD_PABREFERENCE)
            bitmapKinds.push_back(r.type);
    ASSERT_FALSE(bitmapKinds.empty());
    EXPECT_EQ(bitmapKinds.front(), SIG_CD_GRAPHIC);
    std::vector<WORD> backKinds;
    for (const Record &r : b)
        if (r.type != SIG_CD_PABDEFINITION && r.type != SIG_CD_PARAGRAPH && r.type != SIG_CD_PABREFERENCE)
            backKinds.push_back(r.type);
    EXPECT_EQ(backKinds, bitmapKinds);
    // The bitmap records themselves are byte for byte the ones exported.
    const std::string tailA(reinterpret_cast<const char *>(value.data()) + value.size() - 40,
                            reinterpret_cast<const char *>(value.data()) + value.size());
    const std::string tailB(reinterpret_cast<const char *>(back.data()) + back.size() - 40,
                            reinterpret_cast<const char *>(back.data()) + back.size());
    EXPECT_EQ(tailA, tailB);
}

} // namespace
} // namespace notesemu
