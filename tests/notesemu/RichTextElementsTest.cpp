// DXL rich-text elements beyond paragraphs and runs: each fragment becomes the records Notes
// stores for it (links, attachment references, buttons, hotspots, computed text, regions, layers,
// raw composite data, shared images, table borders, columns and cell backgrounds, percentage
// margins, hide-when formulas), comes back from the exporter as the same XML, and reads back as
// the same records byte for byte. Hostile forms are skipped with a log line and lose nothing else.
#include "Composite.h"
#include "Database.h"
#include "DxlLoader.h"
#include "DxlValues.h"
#include "Log.h"
#include "RichTextExport.h"

#include <notes/notes.h>
#include <tessel/kit/CdWriter.h>

#include <gtest/gtest.h>
#ifndef _WIN32
#include <gif_lib.h>
#endif

#include <cstring>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace notesemu {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Rec {
    WORD type;
    Bytes bytes; // the whole record, header included
};

WORD wordAt(const Bytes &bytes, std::size_t offset) {
    return static_cast<WORD>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

DWORD dwordAt(const Bytes &bytes, std::size_t offset) {
    return static_cast<DWORD>(wordAt(bytes, offset)) | static_cast<DWORD>(wordAt(bytes, offset + 2)) << 16;
}

std::string tail(const Rec &record, std::size_t from) {
    return std::string(record.bytes.begin() + static_cast<std::ptrdiff_t>(from), record.bytes.end());
}

// The Body of a database whose one document has that rich-text XML.
Bytes bodyOf(const std::string &richtext) {
    const std::string dxl = "<?xml version='1.0'?><database xmlns='http://www.lotus.com/dxl'><document "
                            "form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/><item "
                            "name='Body'>" +
                            richtext + "</item></document></database>";
    const LoadResult loaded = loadDxlText(dxl, "elements.dxl");
    EXPECT_EQ(loaded.status, NOERROR);
    if (loaded.status != NOERROR)
        return {};
    const Item *body = findItem(loaded.database->itemsOf(loaded.database->notes[0]), "Body");
    EXPECT_NE(body, nullptr);
    return body ? Bytes(body->value.begin(), body->value.end()) : Bytes{};
}

std::vector<Rec> recordsOf(const Bytes &value) {
    std::vector<Rec> records;
    EXPECT_EQ(walkComposite(value,
                            [&](const CdRecord &record) -> STATUS {
                                records.push_back({record.type, Bytes(record.data, record.data + record.length)});
                                return NOERROR;
                            }),
              NOERROR);
    return records;
}

// The kinds of the records other than paragraph starts and definition references.
std::vector<WORD> kindsOf(const std::vector<Rec> &records) {
    std::vector<WORD> kinds;
    for (const Rec &record : records) {
        if (record.type != SIG_CD_PARAGRAPH && record.type != SIG_CD_PABREFERENCE &&
            record.type != SIG_CD_PABDEFINITION)
            kinds.push_back(record.type);
    }
    return kinds;
}

const Rec &first(const std::vector<Rec> &records, WORD type, std::size_t skip = 0) {
    for (const Rec &record : records) {
        if (record.type == type && skip-- == 0)
            return record;
    }
    static const Rec kNone{0, Bytes(64, 0)};
    ADD_FAILURE() << "no record of type " << std::hex << type;
    return kNone;
}

const char *const kGif = "R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==";

struct ElementCase {
    const char *name;
    std::string richtext;
    std::vector<WORD> kinds;
    std::function<void(const std::vector<Rec> &)> check;
};

void PrintTo(const ElementCase &c, std::ostream *os) {
    *os << c.name;
}

std::vector<ElementCase> elementCases() {
    return {
        {"doclink",
         "<richtext><pardef id='1'/><par def='1'>see <doclink database='C1257F0A00312B44' "
         "view='5A6B7C8D9EAFB0C1D2E3F405162738A9' document='0F1E2D3C4B5A69788796A5B4C3D2E1F1' "
         "description='Budget' server='CN=Mail1/O=Example' anchor='top'/></par></richtext>",
         {SIG_CD_TEXT, SIG_CD_LINKEXPORT2},
         [](const std::vector<Rec> &records) {
             const Rec &link = first(records, SIG_CD_LINKEXPORT2);
             EXPECT_EQ(dwordAt(link.bytes, 4), 0x00312B44u) << "replica ID, low DWORD first";
             EXPECT_EQ(dwordAt(link.bytes, 8), 0xC1257F0Au);
             // UNIDs: each half of the text is a little-endian 64-bit number.
             EXPECT_EQ(dwordAt(link.bytes, 12), 0x9EAFB0C1u) << "view UNID";
             EXPECT_EQ(dwordAt(link.bytes, 16), 0x5A6B7C8Du);
             EXPECT_EQ(dwordAt(link.bytes, 20), 0x162738A9u);
             EXPECT_EQ(dwordAt(link.bytes, 24), 0xD2E3F405u);
             EXPECT_EQ(dwordAt(link.bytes, 28), 0x4B5A6978u) << "document UNID";
             EXPECT_EQ(dwordAt(link.bytes, 40), 0x8796A5B4u);
             EXPECT_EQ(tail(link, 44), std::string("Budget\0CN=Mail1/O=Example\0top\0", 30));
         }},
        {"viewlink",
         "<richtext><pardef id='1'/><par def='1'><viewlink database='C1257F0A:00312B44' "
         "view='5A6B7C8D9EAFB0C1D2E3F405162738A9' description='All documents'/></par></richtext>",
         {SIG_CD_LINKEXPORT2},
         [](const std::vector<Rec> &records) {
             const Rec &link = first(records, SIG_CD_LINKEXPORT2);
             EXPECT_EQ(dwordAt(link.bytes, 8), 0xC1257F0Au) << "the colon form of a replica ID";
             EXPECT_EQ(dwordAt(link.bytes, 28), 0u) << "no document";
             EXPECT_EQ(tail(link, 44), std::string("All documents\0\0", 15));
         }},
        {"databaselink",
         "<richtext><pardef id='1'/><par def='1'><databaselink database='C1257F0A00312B44'/></par></richtext>",
         {SIG_CD_LINKEXPORT2},
         [](const std::vector<Rec> &records) {
             const Rec &link = first(records, SIG_CD_LINKEXPORT2);
             for (std::size_t at = 12; at < 44; at += 4)
                 EXPECT_EQ(dwordAt(link.bytes, at), 0u) << "view and document stay zero";
         }},
        {"attachmentref",
         std::string("<richtext><pardef id='1'/><par def='1'><attachmentref name='figures.xlsx' "
                     "displayname='Figures Q1.xlsx'><picture width='1px' height='1px'><gif>") +
             kGif + "</gif></picture></attachmentref></par></richtext>",
         {SIG_CD_HOTSPOTBEGIN, SIG_CD_GRAPHIC, SIG_CD_IMAGEHEADER, SIG_CD_IMAGESEGMENT, SIG_CD_HOTSPOTEND},
         [](const std::vector<Rec> &records) {
             const Rec &begin = first(records, SIG_CD_HOTSPOTBEGIN);
             EXPECT_EQ(wordAt(begin.bytes, 4), HOTSPOTREC_TYPE_FILE);
             EXPECT_EQ(wordAt(begin.bytes, 10), 29u);
             EXPECT_EQ(tail(begin, 12), std::string("figures.xlsx\0Figures Q1.xlsx\0", 29));
         }},
        {"button",
         "<richtext><pardef id='1'/><par def='1'><button width='1.5in' maxlines='2'><code "
         "event='click'><formula>@Command([FileSave])</formula></code>Approve</button></par></richtext>",
         {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_BUTTON, SIG_CD_V4HOTSPOTEND},
         [](const std::vector<Rec> &records) {
             const Rec &begin = first(records, SIG_CD_V4HOTSPOTBEGIN);
             EXPECT_EQ(wordAt(begin.bytes, 4), HOTSPOTREC_TYPE_BUTTON);
             EXPECT_EQ(dwordAt(begin.bytes, 6), DWORD{HOTSPOTREC_RUNFLAG_FORMULA});
             EXPECT_EQ(tail(begin, 12), "@Command([FileSave])") << "the formula as given";
             const Rec &button = first(records, SIG_CD_BUTTON);
             EXPECT_EQ(wordAt(button.bytes, 6), 2160u) << "width in twips";
             EXPECT_EQ(wordAt(button.bytes, 10), 2u) << "lines";
             EXPECT_EQ(tail(button, 16), "Approve");
         }},
        {"button with a script and a font",
         "<richtext><pardef id='1'/><par def='1'><run><font style='bold' color='blue'/><button><code "
         "event='click'><lotusscript>Sub Click(Source As Button)\nEnd Sub</lotusscript></code>Run</button>"
         "</run></par></richtext>",
         {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_BUTTON, SIG_CD_V4HOTSPOTEND},
         [](const std::vector<Rec> &records) {
             EXPECT_EQ(dwordAt(first(records, SIG_CD_V4HOTSPOTBEGIN).bytes, 6), DWORD{HOTSPOTREC_RUNFLAG_SCRIPT});
             const Rec &button = first(records, SIG_CD_BUTTON);
             EXPECT_EQ(wordAt(button.bytes, 4) & BUTTON_RUNFLAG_SCRIPT, BUTTON_RUNFLAG_SCRIPT);
             EXPECT_EQ(button.bytes[13], ISBOLD) << "the label's font";
             EXPECT_EQ(button.bytes[14], NOTES_COLOR_BLUE);
         }},
        {"actionhotspot",
         "<richtext><pardef id='1'/><par def='1'><actionhotspot hotspotstyle='none'><code "
         "event='click'><formula>@Prompt([Ok]; \"Hi\"; \"there\")</formula></code>click me</actionhotspot>"
         "</par></richtext>",
         {SIG_CD_V4HOTSPOTBEGIN, SIG_CD_TEXT, SIG_CD_V4HOTSPOTEND},
         [](const std::vector<Rec> &records) {
             const Rec &begin = first(records, SIG_CD_V4HOTSPOTBEGIN);
             EXPECT_EQ(wordAt(begin.bytes, 4), HOTSPOTREC_TYPE_HOTREGION);
             EXPECT_EQ(dwordAt(begin.bytes, 6), DWORD{HOTSPOTREC_RUNFLAG_FORMULA});
             EXPECT_EQ(tail(first(records, SIG_CD_TEXT), 8), "click me");
         }},
        {"computedtext",
         "<richtext><pardef id='1'/><par def='1'>by <computedtext><code event='value'><formula>@UserName"
         "</formula></code></computedtext></par></richtext>",
         {SIG_CD_TEXT, SIG_CD_V4HOTSPOTBEGIN, SIG_CD_V4HOTSPOTEND},
         [](const std::vector<Rec> &records) {
             const Rec &begin = first(records, SIG_CD_V4HOTSPOTBEGIN);
             EXPECT_EQ(dwordAt(begin.bytes, 6), DWORD{HOTSPOTREC_RUNFLAG_COMPUTED | HOTSPOTREC_RUNFLAG_FORMULA});
             EXPECT_EQ(tail(begin, 12), "@UserName");
         }},
        {"highlighted runs",
         "<richtext><pardef id='1'/><par def='1'>plain <run highlight='yellow'><font style='bold'/>marked</run> "
         "and <run highlight='pink'>pink</run></par></richtext>",
         {SIG_CD_TEXT, SIG_CD_BEGIN, SIG_CD_COLOR, SIG_CD_TEXT, SIG_CD_END, SIG_CD_TEXT, SIG_CD_BEGIN, SIG_CD_COLOR,
          SIG_CD_TEXT, SIG_CD_END},
         [](const std::vector<Rec> &records) {
             EXPECT_EQ(wordAt(first(records, SIG_CD_COLOR).bytes, 2), COLOR_VALUE_FLAGS_RESERVED1 | COLOR_VALUE_FLAGS_ISRGB);
             EXPECT_EQ(wordAt(first(records, SIG_CD_COLOR, 1).bytes, 2), COLOR_VALUE_FLAGS_RESERVED2 | COLOR_VALUE_FLAGS_ISRGB);
             EXPECT_EQ(first(records, SIG_CD_TEXT, 1).bytes[5], ISBOLD);
         }},
        {"region",
         "<richtext><pardef id='1'/><par def='1'><region>inside</region> after</par></richtext>",
         {SIG_CD_REGIONBEGIN, SIG_CD_TEXT, SIG_CD_REGIONEND, SIG_CD_TEXT},
         [](const std::vector<Rec> &records) {
             EXPECT_EQ(first(records, SIG_CD_REGIONBEGIN).bytes.size(), 46u);
             EXPECT_EQ(wordAt(first(records, SIG_CD_REGIONBEGIN).bytes, 8), 1u) << "region number";
             EXPECT_EQ(first(records, SIG_CD_REGIONEND).bytes.size(), 42u);
             EXPECT_EQ(wordAt(first(records, SIG_CD_REGIONEND).bytes, 4), 1u);
         }},
        {"layer",
         "<richtext><pardef id='1'/><layer><par def='1'>floating</par></layer></richtext>",
         {SIG_CD_BEGIN, SIG_CD_LAYER, SIG_CD_TEXT, SIG_CD_END},
         [](const std::vector<Rec> &records) {
             const Rec &begin = first(records, SIG_CD_BEGIN);
             EXPECT_EQ(wordAt(begin.bytes, 2), 2u) << "layer version";
             EXPECT_EQ(wordAt(begin.bytes, 4), SIG_CD_LAYER);
             EXPECT_EQ(first(records, SIG_CD_LAYER).bytes.size(), 18u);
         }},
        {"imageref",
         "<richtext><pardef id='1'/><par def='1'><picture width='16px' height='8px'><imageref "
         "name='logo.gif' database='C1257F0A00312B44' serverhint='CN=Mail1' filehint='ada.nsf'/></picture>"
         "</par></richtext>",
         {SIG_CD_GRAPHIC, SIG_CD_HREF},
         [](const std::vector<Rec> &records) {
             const Rec &graphic = first(records, SIG_CD_GRAPHIC);
             EXPECT_EQ(wordAt(graphic.bytes, 6), 240u) << "16 pixels in twips";
             const Rec &href = first(records, SIG_CD_HREF);
             EXPECT_EQ(wordAt(href.bytes, 8), CDRESOURCE_TYPE_NAMEDELEMENT);
             EXPECT_EQ(wordAt(href.bytes, 10), CDRESOURCE_CLASS_IMAGE);
             EXPECT_EQ(wordAt(href.bytes, 12), 8u);
             EXPECT_EQ(wordAt(href.bytes, 14), 8u);
             EXPECT_EQ(wordAt(href.bytes, 16), 7u);
             EXPECT_EQ(tail(href, 26).substr(0, 15), "CN=Mail1ada.nsf");
             EXPECT_EQ(dwordAt(href.bytes, 45), 0xC1257F0Au);
             EXPECT_EQ(tail(href, 49), "logo.gif");
         }},
        {"picture caption",
         std::string("<richtext><pardef id='1'/><par def='1'><picture width='1px' height='1px'><gif>") + kGif +
             "</gif><caption position='center'>Sales &amp; costs</caption></picture> after</par></richtext>",
         {SIG_CD_GRAPHIC, SIG_CD_IMAGEHEADER, SIG_CD_IMAGESEGMENT, SIG_CD_CAPTION, SIG_CD_TEXT},
         [](const std::vector<Rec> &records) {
             const Rec &caption = first(records, SIG_CD_CAPTION);
             EXPECT_EQ(wordAt(caption.bytes, 4), 13u);
             EXPECT_EQ(caption.bytes[6], 1) << "middle centre";
             EXPECT_EQ(wordAt(caption.bytes, 11), COLOR_VALUE_FLAGS_ISRGB);
             EXPECT_EQ(tail(caption, 28), "Sales & costs");
         }},
        {"percentage margins and a hide-when formula",
         "<richtext><pardef id='7' leftmargin='10%' rightmargin='0.5in' hide='print web'><code "
         "event='hidewhen'><formula>Status = \"Draft\"</formula></code></pardef><par def='7'>x</par></richtext>",
         {SIG_CD_PABHIDE, SIG_CD_TEXT},
         [](const std::vector<Rec> &records) {
             const Rec &pab = first(records, SIG_CD_PABDEFINITION);
             ASSERT_EQ(pab.bytes.size(), 82u) << "the margin tail";
             EXPECT_EQ(wordAt(pab.bytes, 62), PABFLAG_HIDE_PR | PABFLAG_HIDE_IF);
             EXPECT_EQ(wordAt(pab.bytes, 68),
                       PABFLAG2_HIDE_WEB | PABFLAG2_LM_PERCENT | PABFLAG2_FLLM_OFFSET | PABFLAG2_RM_OFFSET);
             EXPECT_EQ(wordAt(pab.bytes, 72), 10u) << "left margin percent";
             EXPECT_EQ(wordAt(pab.bytes, 78), 720u) << "right margin offset";
             const Rec &hide = first(records, SIG_CD_PABHIDE);
             EXPECT_EQ(wordAt(hide.bytes, 4), 7u) << "the definition it belongs to";
             EXPECT_EQ(tail(hide, 14), "Status = \"Draft\"");
         }},
        {"table with border, widths and a cell background",
         "<richtext><pardef id='1'/><table widthtype='fixedleft' leftmargin='0.5in'><border style='double' "
         "width='2px' color='#336699'/><tablecolumn width='1in'/><tablecolumn width='2in'/><tablerow><tablecell "
         "bgcolor='silver'><cellbackground repeat='tile'><imageref name='stripes.gif'/></cellbackground><par "
         "def='1'>a</par></tablecell><tablecell valign='center' borderwidth='0px'><par def='1'>b</par></tablecell>"
         "</tablerow><tablerow><tablecell columnspan='2'><par def='1'>wide</par></tablecell></tablerow></table>"
         "</richtext>",
         {SIG_CD_BEGIN, SIG_CD_PRETABLEBEGIN, SIG_CD_BORDERINFO, SIG_CD_END, SIG_CD_TABLEBEGIN, SIG_CD_TABLECELL,
          SIG_CD_CELLBACKGROUNDDATA, SIG_CD_TABLECELL_HREF, SIG_CD_TEXT, SIG_CD_TABLECELL, SIG_CD_TEXT,
          SIG_CD_TABLECELL, SIG_CD_TEXT, SIG_CD_TABLEEND},
         [](const std::vector<Rec> &records) {
             const Rec &pre = first(records, SIG_CD_PRETABLEBEGIN);
             EXPECT_EQ(dwordAt(pre.bytes, 4), 0u) << "fixed widths";
             EXPECT_EQ(pre.bytes[8], 2) << "rows";
             EXPECT_EQ(pre.bytes[9], 2) << "columns";
             const Rec &border = first(records, SIG_CD_BORDERINFO);
             EXPECT_EQ(wordAt(border.bytes, 8), CDBORDERSTYLE_DOUBLE);
             for (std::size_t at = 10; at <= 16; at += 2)
                 EXPECT_EQ(wordAt(border.bytes, at), 2u);
             EXPECT_EQ(border.bytes[44], 0x33);
             EXPECT_EQ(border.bytes[45], 0x66);
             EXPECT_EQ(border.bytes[46], 0x99);
             EXPECT_EQ(wordAt(first(records, SIG_CD_TABLEBEGIN).bytes, 2), 720u);
             const Rec &a = first(records, SIG_CD_TABLECELL), &b = first(records, SIG_CD_TABLECELL, 1),
                       &wide = first(records, SIG_CD_TABLECELL, 2);
             EXPECT_EQ(wordAt(a.bytes, 4), 0u);
             EXPECT_EQ(wordAt(a.bytes, 6), 1440u);
             EXPECT_EQ(wordAt(a.bytes, 8), 9600u) << "a third of 20 inches";
             EXPECT_EQ(wordAt(b.bytes, 4), 1440u);
             EXPECT_EQ(wordAt(b.bytes, 6), 4320u);
             EXPECT_EQ(b.bytes[10], 0) << "no borders";
             EXPECT_EQ(b.bytes[11] & CDTABLECELL_VALIGNCENTER, CDTABLECELL_VALIGNCENTER);
             EXPECT_EQ(wordAt(wide.bytes, 6), 4320u);
             EXPECT_EQ(wordAt(wide.bytes, 8), 28800u);
             EXPECT_EQ(first(records, SIG_CD_CELLBACKGROUNDDATA).bytes[4], REPEAT_BOTH);
             EXPECT_EQ(tail(first(records, SIG_CD_TABLECELL_HREF), 34), "stripes.gif");
         }},
        {"cell colours and gradients",
         "<richtext><pardef id='1'/><table><tablecolumn width='1in'/><tablecolumn width='1in'/><tablerow><tablecell "
         "bgcolor='#336699'><par def='1'>rgb</par></tablecell><tablecell bgcolor='#FFC800' colorstyle='hgradient' "
         "altbgcolor='#0064FF'><par def='1'>gradient</par></tablecell></tablerow></table></richtext>",
         {SIG_CD_BEGIN, SIG_CD_PRETABLEBEGIN, SIG_CD_END, SIG_CD_TABLEBEGIN, SIG_CD_TABLECELL, SIG_CD_TABLECELL_COLOR,
          SIG_CD_TEXT, SIG_CD_TABLECELL, SIG_CD_TABLECELL_COLOR, SIG_CD_TEXT, SIG_CD_TABLEEND},
         [](const std::vector<Rec> &records) {
             const Rec &plain = first(records, SIG_CD_TABLECELL_COLOR);
             ASSERT_EQ(plain.bytes.size(), 8u);
             EXPECT_EQ(wordAt(plain.bytes, 2), COLOR_VALUE_FLAGS_ISRGB);
             EXPECT_EQ(plain.bytes[4], 0x33);
             EXPECT_EQ(plain.bytes[5], 0x66);
             EXPECT_EQ(plain.bytes[6], 0x99);
             const Rec &gradient = first(records, SIG_CD_TABLECELL_COLOR, 1);
             ASSERT_EQ(gradient.bytes.size(), 14u);
             EXPECT_EQ(wordAt(gradient.bytes, 2), COLOR_VALUE_FLAGS_ISRGB | COLOR_VALUE_FLAGS_HASGRADIENT);
             EXPECT_EQ(gradient.bytes[10], 0x00);
             EXPECT_EQ(gradient.bytes[11], 0x64);
             EXPECT_EQ(gradient.bytes[12], 0xFF);
             const Rec &cell = first(records, SIG_CD_TABLECELL, 1);
             EXPECT_EQ(cell.bytes[11], CDTABLECELL_USE_BKGCOLOR | CDTABLECELL_USE_GRADIENT | CDTABLECELL_GRADIENT_LTR);
         }},
        {"nested table",
         "<richtext><pardef id='1'/><table><tablecolumn width='100%'/><tablerow><tablecell><table><tablecolumn "
         "width='50%'/><tablecolumn width='50%'/><tablerow><tablecell><par def='1'>in 1</par></tablecell>"
         "<tablecell><par def='1'>in 2</par></tablecell></tablerow></table></tablecell></tablerow></table>"
         "</richtext>",
         {SIG_CD_BEGIN, SIG_CD_PRETABLEBEGIN, SIG_CD_END, SIG_CD_TABLEBEGIN, SIG_CD_TABLECELL, SIG_CD_BEGIN,
          SIG_CD_PRETABLEBEGIN, SIG_CD_END, SIG_CD_NESTEDTABLEBEGIN, SIG_CD_NESTEDTABLECELL, SIG_CD_TEXT,
          SIG_CD_NESTEDTABLECELL, SIG_CD_TEXT, SIG_CD_NESTEDTABLEEND, SIG_CD_TABLEEND},
         [](const std::vector<Rec> &records) {
             EXPECT_EQ(wordAt(first(records, SIG_CD_NESTEDTABLECELL, 1).bytes, 4), 4680u)
                 << "half of the 6.5-inch reference width";
         }},
    };
}

class RichTextElements : public ::testing::TestWithParam<ElementCase> {};

TEST_P(RichTextElements, BecomeTheirRecords) {
    const ElementCase &c = GetParam();
    const auto records = recordsOf(bodyOf(c.richtext));
    EXPECT_EQ(kindsOf(records), c.kinds);
    c.check(records);
}

TEST_P(RichTextElements, RoundTripRecordForRecord) {
    const ElementCase &c = GetParam();
    const Bytes firstValue = bodyOf(c.richtext);
    const auto xml = compositeToRichTextXml(firstValue);
    ASSERT_TRUE(xml.has_value()) << "every record has an XML form";
    const Bytes secondValue = bodyOf(*xml);
    const auto a = recordsOf(firstValue), b = recordsOf(secondValue);
    ASSERT_EQ(a.size(), b.size()) << *xml;
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].type, b[i].type) << "record " << i << "\n" << *xml;
        EXPECT_EQ(a[i].bytes, b[i].bytes) << "record " << i << " of type " << std::hex << a[i].type << "\n"
                                          << *xml;
    }
    EXPECT_EQ(compositeToRichTextXml(secondValue), xml) << "the second export is the first";
}

INSTANTIATE_TEST_SUITE_P(Elements, RichTextElements, ::testing::ValuesIn(elementCases()),
                         [](const ::testing::TestParamInfo<ElementCase> &info) {
                             std::string name;
                             for (const char *p = info.param.name; *p != '\0'; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

// What the exporter writes for the new elements, in the attribute forms the importer reads.
TEST(RichTextElementsExport, WritesTheElementsTheImporterReads) {
    struct ExportCase {
        const char *source;
        const char *expected;
    };
    const ExportCase cases[] = {
        {"<par def='1'><doclink database='C1257F0A00312B44' view='5A6B7C8D9EAFB0C1D2E3F405162738A9' "
         "document='0F1E2D3C4B5A69788796A5B4C3D2E1F1' description='Budget'/></par>",
         "<doclink database='C1257F0A00312B44' view='5A6B7C8D9EAFB0C1D2E3F405162738A9' "
         "document='0F1E2D3C4B5A69788796A5B4C3D2E1F1' description='Budget'/>"},
        {"<par def='1'><attachmentref name='a.txt' displayname='A &amp; B'/></par>",
         "<attachmentref name='a.txt' displayname='A &amp; B'></attachmentref>"},
        {"<par def='1'><button><code event='click'><formula>@If(a &lt; b; 1; 2)</formula></code>Go</button></par>",
         "<button><code event='click'><formula>@If(a &lt; b; 1; 2)</formula></code>Go</button>"},
        {"<table><tablecolumn width='1in'/><tablecolumn width='2.5in'/><tablerow><tablecell><par def='1'>a</par>"
         "</tablecell><tablecell><par def='1'>b</par></tablecell></tablerow></table>",
         "<tablecolumn width='1.0000in'/><tablecolumn width='2.5000in'/>"},
        {"<pardef id='2' leftmargin='25%'><code event='hidewhen'><formula>1</formula></code></pardef>"
         "<par def='2'>x</par>",
         "<pardef id='2' leftmargin='25%'><code event='hidewhen'><formula>1</formula></code></pardef>"},
    };
    for (const ExportCase &c : cases) {
        SCOPED_TRACE(c.source);
        const auto xml = compositeToRichTextXml(bodyOf(std::string("<richtext><pardef id='1'/>") + c.source +
                                                       "</richtext>"));
        ASSERT_TRUE(xml.has_value());
        EXPECT_NE(xml->find(c.expected), std::string::npos) << *xml;
    }
}

// Hostile or incomplete forms: skipped with a log line; the text around them stays.
TEST(RichTextElementsHostile, AreSkippedWithALogLineAndLoseNothingElse) {
    // A CDHRULE record (16 bytes) in base64, and the same record claiming 200 bytes.
    const std::string rule = "yf8QAAQAAACgBWkAAAAAAA==";
    const std::string lying = "yf/IAAQAAACgBWkAAAAAAA==";
    // One CDIMAGESEGMENT record of 70 000 bytes: more than an item value holds.
    Bytes huge(70000, 0);
    huge[0] = 0x7C;
    huge[2] = static_cast<std::uint8_t>(70000 & 0xFF);
    huge[3] = static_cast<std::uint8_t>(70000 >> 8 & 0xFF);
    huge[4] = static_cast<std::uint8_t>(70000 >> 16);
    struct HostileCase {
        std::string element;
        const char *logged;
        std::vector<WORD> kinds;
    };
    const HostileCase cases[] = {
        {"<compositedata>" + rule + "</compositedata>", nullptr, {SIG_CD_TEXT, SIG_CD_HORIZONTALRULE, SIG_CD_TEXT}},
        {"<compositedata>" + lying + "</compositedata>", "<compositedata> whose records do not add up",
         {SIG_CD_TEXT}},
        {"<compositedata>" + base64Encode(huge) + "</compositedata>", "<compositedata> whose records do not add up",
         {SIG_CD_TEXT}},
        {"<compositedata>not base64!</compositedata>", "<compositedata> with data that is not valid base64",
         {SIG_CD_TEXT}},
        {"<doclink database='nothex' document='123'/>", "<doclink> target that is not a replica ID or UNID",
         {SIG_CD_TEXT, SIG_CD_LINKEXPORT2, SIG_CD_TEXT}},
        {"<attachmentref>icon text</attachmentref>", "<attachmentref> without a name",
         {SIG_CD_TEXT}},
        {"<picture><imageref/></picture>", "<imageref> without a name", {SIG_CD_TEXT, SIG_CD_GRAPHIC, SIG_CD_TEXT}},
        {"<button>no code</button>", nullptr,
         {SIG_CD_TEXT, SIG_CD_V4HOTSPOTBEGIN, SIG_CD_BUTTON, SIG_CD_V4HOTSPOTEND, SIG_CD_TEXT}},
    };
    for (const HostileCase &c : cases) {
        SCOPED_TRACE(c.element.substr(0, 80));
        LogCapture log;
        const auto records = recordsOf(bodyOf("<richtext><pardef id='1'/><par def='1'>before " + c.element +
                                              " after</par></richtext>"));
        EXPECT_EQ(kindsOf(records), c.kinds);
        std::string text;
        for (const Rec &record : records) {
            if (record.type == SIG_CD_TEXT)
                text += tail(record, 8);
        }
        EXPECT_EQ(text.substr(0, 7), "before ");
        EXPECT_TRUE(text.ends_with(" after")) << text;
        if (c.logged != nullptr) {
            EXPECT_TRUE(log.contains(c.logged)) << log.text().substr(0, 2000);
        }
    }
}

// A memo exported by Domino with links, an attachment reference, a button, computed text, a
// table with a border and a cell background, and shared images: every item present, and its
// body survives the round trip through the exporter record for record.
TEST(RichTextElementsCorpus, RealShapedMemoLoadsAndRoundTrips) {
    std::ifstream in(std::filesystem::path(TESSEL_TEST_DATA) / "notesemu" / "memo-richtext-links.dxl",
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    ASSERT_FALSE(text.str().empty());
    LogCapture log;
    const LoadResult loaded = loadDxlText(text.str(), "memo-richtext-links.dxl");
    ASSERT_EQ(loaded.status, NOERROR) << log.text();
    const auto items = loaded.database->itemsOf(loaded.database->notes.at(0));
    for (const char *name : {"From", "SendTo", "Subject", "PostedDate", "Body", "$FILE"})
        EXPECT_NE(findItem(items, name), nullptr) << name;
    const Item *body = findItem(items, "Body");
    ASSERT_NE(body, nullptr);
    const Bytes value(body->value.begin(), body->value.end());
    const auto records = recordsOf(value);
    const auto kinds = kindsOf(records);
    for (WORD kind : {SIG_CD_PABHIDE, SIG_CD_LINKEXPORT2, SIG_CD_HOTSPOTBEGIN, SIG_CD_BUTTON, SIG_CD_BORDERINFO,
                      SIG_CD_CELLBACKGROUNDDATA, SIG_CD_TABLECELL_HREF, SIG_CD_HREF, SIG_CD_PRETABLEBEGIN}) {
        EXPECT_NE(std::find(kinds.begin(), kinds.end(), kind), kinds.end()) << std::hex << kind;
    }
    EXPECT_FALSE(log.contains("kept as its text only")) << log.text();
    const auto xml = compositeToRichTextXml(value);
    ASSERT_TRUE(xml.has_value());
    const auto again = recordsOf(bodyOf(*xml));
    ASSERT_EQ(again.size(), records.size()) << *xml;
    for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(again[i].bytes, records[i].bytes) << "record " << i << "\n" << *xml;
}

// eConvertNotesbitmapsToGIF: a Notes bitmap goes out as a GIF of the same pixels, marked as a
// converted bitmap; one the decoder refuses stays <notesbitmap>, with a log line.
TEST(RichTextElementsExport, NotesBitmapsBecomeGifsOfTheSamePixels) {
    tessel::kit::NotesBitmap bitmap;
    bitmap.width = 12;
    bitmap.height = 5;
    bitmap.palette = {{0, 0, 0}, {255, 255, 255}, {200, 30, 30}};
    for (int i = 0; i < bitmap.width * bitmap.height; ++i)
        bitmap.pixels.push_back(static_cast<std::uint16_t>(i * 7 % 3));
    tessel::kit::CdWriter cd;
    cd.pabDefinition({}).paragraph().pabReference(1).notesBitmap(bitmap);
    Bytes value{TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8};
    value.insert(value.end(), cd.bytes().begin(), cd.bytes().end());

    EXPECT_NE(compositeToRichTextXml(value)->find("<notesbitmap>"), std::string::npos) << "without the option";
#ifdef _WIN32
    {
        // The Windows runtime is built without giflib: the bitmap stays a Notes bitmap, and the
        // log says why.
        LogCapture log;
        const auto xml = compositeToRichTextXml(value, true);
        ASSERT_TRUE(xml.has_value());
        EXPECT_NE(xml->find("<notesbitmap>"), std::string::npos) << *xml;
        EXPECT_EQ(xml->find("<gif"), std::string::npos) << *xml;
        EXPECT_TRUE(
            log.contains("a Notes bitmap is written as notesbitmap, not GIF: GIF encoding is not part of "
                         "this build of the runtime (no giflib)"))
            << log.text();
        EXPECT_EQ(kindsOf(recordsOf(bodyOf(*xml))), kindsOf(recordsOf(value)));
    }
#else
    const auto xml = compositeToRichTextXml(value, true);
    ASSERT_TRUE(xml.has_value());
    const std::string open = "<gif originalformat='notesbitmap'>";
    const std::size_t at = xml->find(open);
    ASSERT_NE(at, std::string::npos) << *xml;
    const std::size_t end = xml->find("</gif>", at);
    Bytes gif;
    Base64Decoder decoder(gif);
    decoder.feed(std::string_view(*xml).substr(at + open.size(), end - at - open.size()));
    ASSERT_TRUE(decoder.finish());

    struct Reader {
        const Bytes *data;
        std::size_t at = 0;
    } reader{&gif};
    int error = 0;
    GifFileType *file = DGifOpen(
        &reader,
        [](GifFileType *f, GifByteType *out, int length) {
            auto *r = static_cast<Reader *>(f->UserData);
            const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), r->data->size() - r->at);
            std::memcpy(out, r->data->data() + r->at, n);
            r->at += n;
            return static_cast<int>(n);
        },
        &error);
    ASSERT_NE(file, nullptr) << GifErrorString(error);
    ASSERT_EQ(DGifSlurp(file), GIF_OK);
    ASSERT_EQ(file->ImageCount, 1);
    EXPECT_EQ(file->SWidth, 12);
    EXPECT_EQ(file->SHeight, 5);
    const ColorMapObject *map = file->SColorMap;
    ASSERT_NE(map, nullptr);
    const SavedImage &image = file->SavedImages[0];
    for (int i = 0; i < bitmap.width * bitmap.height; ++i) {
        const GifColorType colour = map->Colors[image.RasterBits[i]];
        const auto &expected = bitmap.palette[bitmap.pixels[static_cast<std::size_t>(i)]];
        EXPECT_EQ(colour.Red, expected.r) << "pixel " << i;
        EXPECT_EQ(colour.Green, expected.g) << "pixel " << i;
        EXPECT_EQ(colour.Blue, expected.b) << "pixel " << i;
    }
    DGifCloseFile(file, &error);
    // Read back, the GIF is a GIF picture.
    const auto kinds = kindsOf(recordsOf(bodyOf(*xml)));
    EXPECT_EQ(kinds, (std::vector<WORD>{SIG_CD_GRAPHIC, SIG_CD_IMAGEHEADER, SIG_CD_IMAGESEGMENT}));

    // A bitmap of a depth Notes does not have (3 bits per pixel) is kept as its records.
    Bytes broken = value;
    bool found = false;
    walkComposite(broken, [&](const CdRecord &record) -> STATUS {
        if (record.type == SIG_CD_BITMAPHEADER) {
            const auto offset = static_cast<std::size_t>(record.data - broken.data());
            broken[offset + 26] = 3; // BitsPerPixel
            found = true;
        }
        return NOERROR;
    });
    ASSERT_TRUE(found);
    LogCapture log;
    const auto kept = compositeToRichTextXml(broken, true);
    ASSERT_TRUE(kept.has_value());
    EXPECT_NE(kept->find("<notesbitmap>"), std::string::npos) << *kept;
    EXPECT_TRUE(log.contains("a Notes bitmap is written as notesbitmap, not GIF")) << log.text();
#endif
}

// Every rich-text item of the sample database that the exporter writes as XML reads back as the
// same records, byte for byte.
TEST(RichTextElementsSample, ExportedRichTextReadsBackRecordForRecord) {
    LogCapture log;
    const LoadResult loaded = loadDxlFile(TESSEL_SAMPLE_MAIL);
    ASSERT_EQ(loaded.status, NOERROR) << log.text();
    std::size_t exported = 0;
    for (const Note &note : loaded.database->notes) {
        for (const Item &item : loaded.database->itemsOf(note)) {
            const Bytes value(item.value.begin(), item.value.end());
            if (value.size() < 2 || wordAt(value, 0) != TYPE_COMPOSITE)
                continue;
            const auto xml = compositeToRichTextXml(value);
            if (!xml)
                continue;
            ++exported;
            SCOPED_TRACE("note " + std::to_string(note.id) + " item " + std::string(item.name));
            const auto a = recordsOf(value), b = recordsOf(bodyOf(*xml));
            ASSERT_EQ(a.size(), b.size()) << *xml;
            for (std::size_t i = 0; i < a.size(); ++i)
                EXPECT_EQ(a[i].bytes, b[i].bytes) << "record " << i << " of type " << std::hex << a[i].type;
        }
    }
    // The XML rich-text memo and its raw twin at least; items holding records without an XML
    // form (font tables, captions, cell colours) stay item data.
    EXPECT_GE(exported, 2U);
}

} // namespace
} // namespace notesemu
