// DXL rich text XML to composite item values, read back through EnumCompositeBuffer.
#include "RichText.h"
#include "Log.h"
#include "TestSupport.h"

#include <notes/notes.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace notesemu {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScopedEnv;

XmlNode text(std::string characters) {
    XmlNode node;
    node.isText = true;
    node.text = std::move(characters);
    return node;
}

XmlNode el(std::string name, std::vector<std::pair<std::string, std::string>> attributes = {},
           std::vector<XmlNode> children = {}) {
    XmlNode node;
    node.name = std::move(name);
    node.attributes = std::move(attributes);
    node.children = std::move(children);
    return node;
}

struct Record {
    WORD type;
    Bytes bytes; // the whole record as stored
};

WORD word(const Bytes &bytes, std::size_t offset) {
    return static_cast<WORD>(bytes[offset] | bytes[offset + 1] << 8);
}

DWORD dword(const Bytes &bytes, std::size_t offset) {
    return static_cast<DWORD>(word(bytes, offset)) | static_cast<DWORD>(word(bytes, offset + 2)) << 16;
}

STATUS LNCALLBACK collect(char *recordPtr, WORD recordType, DWORD recordLength, void *context) {
    auto *records = static_cast<std::vector<Record> *>(context);
    records->push_back({recordType, Bytes(recordPtr, recordPtr + recordLength)});
    return NOERROR;
}

class RichTextItems : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR); }
    void TearDown() override { NotesTerm(); }

    // Converts and walks every value with EnumCompositeBuffer; all records in order.
    std::vector<Record> records(const XmlNode &richtext) {
        values_ = richTextToCompositeItems(richtext);
        std::vector<Record> all;
        for (const Bytes &value : values_) {
            EXPECT_GE(value.size(), 2u);
            EXPECT_LE(value.size(), static_cast<std::size_t>(MAXONESEGSIZE));
            EXPECT_EQ(word(value, 0), TYPE_COMPOSITE);
            DHANDLE handle = NULLHANDLE;
            EXPECT_EQ(OSMemAlloc(0, static_cast<DWORD>(value.size()), &handle), NOERROR);
            std::memcpy(OSLockObject(handle), value.data(), value.size());
            OSUnlockObject(handle);
            EXPECT_EQ(
                EnumCompositeBuffer(BLOCKID{handle, 0}, static_cast<DWORD>(value.size()), collect, &all),
                NOERROR);
            OSMemFree(handle);
        }
        return all;
    }

    static std::vector<const Record *> ofType(const std::vector<Record> &all, WORD type) {
        std::vector<const Record *> found;
        for (const Record &record : all) {
            if (record.type == type)
                found.push_back(&record);
        }
        return found;
    }

    static std::string textOf(const Record &record) {
        return std::string(record.bytes.begin() + 8, record.bytes.end());
    }
    static FONTID fontOf(const Record &record) { return dword(record.bytes, 4); }

    std::vector<Bytes> values_;
    test::TempDir dir_;
    ScopedEnv path_{"PATH", dir_.path().string()};
    ScopedEnv notesIni_{"NOTES_INI", std::nullopt};
};

TEST_F(RichTextItems, ParagraphWithDefinitionRunsAndBreak) {
    const XmlNode richtext =
        el("richtext", {},
           {text("\n"),
            el("pardef", {{"id", "1"},
                          {"align", "center"},
                          {"leftmargin", "0.5in"},
                          {"spacebefore", "1.5"},
                          {"rightmargin", "2cm"},
                          {"tabs", "L1in D2in"},
                          {"keepwithnext", "true"}}),
            text("\n"),
            el("par", {{"def", "1"}},
               {text("Hello "),
                el("run", {},
                   {el("font", {{"style", "bold italic"}, {"size", "12pt"}, {"color", "red"}}), text("World"),
                    el("break"), text("Line 2")}),
                text(" Caf\xC3\xA9")})});
    const std::vector<Record> all = records(richtext);
    ASSERT_EQ(values_.size(), 1u);
    ASSERT_GE(all.size(), 6u);
    EXPECT_EQ(all[0].type, SIG_CD_PABDEFINITION);
    EXPECT_EQ(all[1].type, SIG_CD_PARAGRAPH);
    EXPECT_EQ(all[2].type, SIG_CD_PABREFERENCE);
    EXPECT_EQ(word(all[2].bytes, 2), 1);

    const Bytes &pab = all[0].bytes;
    ASSERT_EQ(pab.size(), 70u);
    EXPECT_EQ(word(pab, 4), 1);              // PABID
    EXPECT_EQ(word(pab, 6), JUSTIFY_CENTER); // JustifyMode
    EXPECT_EQ(word(pab, 10), 1);             // spacing before 1.5
    EXPECT_EQ(word(pab, 14), 720);           // left margin
    EXPECT_EQ(word(pab, 16), 1134);          // right margin 2cm
    EXPECT_EQ(word(pab, 18), 720);           // first line follows the left margin
    EXPECT_EQ(word(pab, 20), 2);             // tabs
    EXPECT_EQ(word(pab, 22), 1440);
    EXPECT_EQ(static_cast<SWORD>(word(pab, 24)), -2880) << "decimal tab";
    EXPECT_EQ(word(pab, 62), PABFLAG_KEEP_WITH_NEXT);
    EXPECT_EQ(dword(pab, 64), static_cast<DWORD>(TAB_DECIMAL) << 2);

    const auto texts = ofType(all, SIG_CD_TEXT);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(textOf(*texts[0]), "Hello ");
    EXPECT_EQ(fontOf(*texts[0]), DEFAULT_FONT_ID);
    EXPECT_EQ(textOf(*texts[1]), std::string("World\0Line 2", 12)) << "a break is a NUL in the run";
    EXPECT_EQ(fontOf(*texts[1]), static_cast<FONTID>(FONT_FACE_SWISS | (ISBOLD | ISITALIC) << 8 |
                                                     NOTES_COLOR_RED << 16 | 12U << 24));
    EXPECT_EQ(textOf(*texts[2]), " Caf\x82") << "LMBCS";
}

TEST_F(RichTextItems, StylesSizesColoursAndFaces) {
    const struct {
        std::vector<std::pair<std::string, std::string>> font;
        FONTID expected;
    } cases[] = {
        {{{"style", "underline"}}, FONT_FACE_SWISS | ISUNDERLINE << 8 | 10U << 24},
        {{{"style", "strikethrough"}}, FONT_FACE_SWISS | ISSTRIKEOUT << 8 | 10U << 24},
        {{{"style", "superscript"}}, FONT_FACE_SWISS | ISSUPER << 8 | 10U << 24},
        {{{"style", "subscript"}}, FONT_FACE_SWISS | ISSUB << 8 | 10U << 24},
        {{{"style", "bold emboss"}}, FONT_FACE_SWISS | (ISBOLD | ISEMBOSS) << 8 | 10U << 24},
        {{{"size", "24pt"}}, FONT_FACE_SWISS | 24U << 24},
        {{{"color", "navy"}}, FONT_FACE_SWISS | NOTES_COLOR_DKBLUE << 16 | 10U << 24},
        {{{"color", "#ff0000"}}, FONT_FACE_SWISS | NOTES_COLOR_RED << 16 | 10U << 24},
        {{{"color", "rgb(0,0,100%)"}}, FONT_FACE_SWISS | NOTES_COLOR_BLUE << 16 | 10U << 24},
        {{{"color", "#ffefce"}}, FONT_FACE_SWISS | 17U << 16 | 10U << 24},
        {{{"color", "#fe0202"}}, FONT_FACE_SWISS | NOTES_COLOR_RED << 16 | 10U << 24},
        {{{"name", "monospace"}}, FONT_FACE_TYPEWRITER | 10U << 24},
        {{{"name", "Times New Roman"}}, FONT_FACE_ROMAN | 10U << 24},
        {{{"name", "Some Face"}, {"familyid", "10"}}, FONT_FACE_ROMAN | 10U << 24},
    };
    for (const auto &c : cases) {
        const auto all =
            records(el("richtext", {}, {el("par", {}, {el("run", {}, {el("font", c.font), text("x")})})}));
        const auto texts = ofType(all, SIG_CD_TEXT);
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(fontOf(*texts[0]), c.expected) << c.font[0].first << "=" << c.font[0].second;
    }
}

TEST_F(RichTextItems, ListKindsAndHideFlags) {
    const auto all = records(
        el("richtext", {},
           {el("pardef", {{"id", "1"}, {"list", "circle"}, {"hide", "read print web"}}),
            el("par", {{"def", "1"}}, {text("item")}), el("pardef", {{"id", "2"}, {"list", "romanlower"}}),
            el("par", {{"def", "2"}}, {text("one")})}));
    const auto defs = ofType(all, SIG_CD_PABDEFINITION);
    ASSERT_EQ(defs.size(), 2u);
    EXPECT_EQ(word(defs[0]->bytes, 62), PABFLAG_BULLET | PABFLAG_HIDE_RO | PABFLAG_HIDE_PR);
    EXPECT_EQ(word(defs[0]->bytes, 68), PABFLAG2_CIRCLELIST | PABFLAG2_HIDE_WEB);
    EXPECT_EQ(word(defs[1]->bytes, 62), PABFLAG_NUMBEREDLIST);
    EXPECT_EQ(word(defs[1]->bytes, 68), PABFLAG2_CHECKEDLIST | PABFLAG2_SQUARELIST);
}

TEST_F(RichTextItems, ParagraphWithoutDefinitionGetsADefaultOne) {
    const auto all =
        records(el("richtext", {}, {el("par", {}, {text("a")}), el("par", {{"def", "9"}}, {text("b")})}));
    ASSERT_EQ(all.size(), 8u);
    EXPECT_EQ(all[0].type, SIG_CD_PABDEFINITION);
    EXPECT_EQ(word(all[2].bytes, 2), word(all[0].bytes, 4)) << "the reference names the implicit definition";
    EXPECT_EQ(all[4].type, SIG_CD_PABDEFINITION);
    EXPECT_EQ(word(all[4].bytes, 4), 9);
    EXPECT_EQ(word(all[6].bytes, 2), 9);
}

TEST_F(RichTextItems, WhitespaceRuleOfTheImporter) {
    const auto texts = [&](XmlNode par) {
        std::string joined;
        const std::vector<Record> all = records(el("richtext", {}, {std::move(par)}));
        for (const Record *record : ofType(all, SIG_CD_TEXT))
            joined += textOf(*record);
        return joined;
    };
    EXPECT_EQ(texts(el("par", {}, {text("Hello\n   world")})), "Hello world");
    EXPECT_EQ(texts(el("par", {}, {text("a \n  b")})), "a b");
    EXPECT_EQ(texts(el("par", {}, {text("\n  lead and trail\n ")})), "lead and trail");
    EXPECT_EQ(texts(el("par", {{"keepindentation", "true"}}, {text("  x\n  y")})), "  x\n  y");
}

TEST_F(RichTextItems, HighlightedRunIsBracketedWithItsColour) {
    const auto all =
        records(el("richtext", {}, {el("par", {}, {el("run", {{"highlight", "yellow"}}, {text("hi")})})}));
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all[3].type, SIG_CD_BEGIN);
    EXPECT_EQ(all[4].type, SIG_CD_COLOR);
    EXPECT_EQ(all[4].bytes[3], 0x80) << "the yellow application flag";
    EXPECT_EQ(all[5].type, SIG_CD_TEXT);
    EXPECT_EQ(all[6].type, SIG_CD_END);
}

TEST_F(RichTextItems, LinksPicturesTablesAndSectionsBecomeTheirRecords) {
    LogCapture log;
    // A 1x1 GIF.
    const char *gif = "R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==";
    const XmlNode richtext =
        el("richtext", {},
           {el("par", {},
               {text("see "), el("urllink", {{"href", "http://example.org"}}, {text("the site")}),
                el("picture", {{"width", "1px"}, {"height", "1px"}},
                   {el("gif", {}, {text(gif)}), el("caption", {}, {text("logo")})}),
                text(" and "), el("computedtext", {}, {el("code", {}, {el("formula", {}, {text("@Now")})})}),
                el("horizrule", {})}),
            el("table", {},
               {el("tablecolumn", {{"width", "50%"}}), el("tablecolumn", {{"width", "50%"}}),
                el("tablerow", {},
                   {el("tablecell", {{"bgcolor", "red"}}, {el("par", {}, {text("cell 1")})}),
                    el("tablecell", {}, {el("par", {}, {text("cell 2")})})}),
                el("tablerow", {}, {el("tablecell", {{"columnspan", "2"}}, {el("par", {}, {text("wide")})})})}),
            el("section", {}, {el("sectiontitle", {}, {text("Title")}), el("par", {}, {text("inside")})})});
    const auto all = records(richtext);
    std::vector<WORD> kinds;
    for (const Record &record : all) {
        if (record.type != SIG_CD_PARAGRAPH && record.type != SIG_CD_PABREFERENCE &&
            record.type != SIG_CD_PABDEFINITION)
            kinds.push_back(record.type);
    }
    const std::vector<WORD> expected{
        SIG_CD_TEXT,  SIG_CD_V4HOTSPOTBEGIN, SIG_CD_TEXT, SIG_CD_V4HOTSPOTEND, SIG_CD_GRAPHIC,
        SIG_CD_IMAGEHEADER, SIG_CD_IMAGESEGMENT, SIG_CD_CAPTION /* logo */, SIG_CD_TEXT /* and */, SIG_CD_V4HOTSPOTBEGIN,
        SIG_CD_V4HOTSPOTEND /* computed text */, SIG_CD_HORIZONTALRULE, SIG_CD_BEGIN, SIG_CD_PRETABLEBEGIN,
        SIG_CD_END, SIG_CD_TABLEBEGIN, SIG_CD_TABLECELL, SIG_CD_TEXT, SIG_CD_TABLECELL, SIG_CD_TEXT, SIG_CD_TABLECELL,
        SIG_CD_TEXT, SIG_CD_TABLEEND, SIG_CD_BEGIN, SIG_CD_BAR, SIG_CD_TEXT, SIG_CD_END};
    EXPECT_EQ(kinds, expected);
    for (const Record &record : all) {
        if (record.type == SIG_CD_V4HOTSPOTBEGIN && word(record.bytes, 4) == HOTSPOTREC_TYPE_HOTREGION) {
            EXPECT_EQ(dword(record.bytes, 6), DWORD{HOTSPOTREC_RUNFLAG_COMPUTED | HOTSPOTREC_RUNFLAG_FORMULA});
            EXPECT_EQ(std::string(record.bytes.begin() + 12, record.bytes.end()), "@Now");
        } else if (record.type == SIG_CD_V4HOTSPOTBEGIN) {
            EXPECT_EQ(word(record.bytes, 4), HOTSPOTREC_TYPE_HOTLINK);
            EXPECT_EQ(std::string(record.bytes.begin() + 12, record.bytes.end()), std::string("http://example.org\0", 19));
        } else if (record.type == SIG_CD_IMAGEHEADER) {
            EXPECT_EQ(word(record.bytes, 6), 1) << "GIF";
            EXPECT_EQ(dword(record.bytes, 12), 43u) << "the GIF's size";
        } else if (record.type == SIG_CD_TABLECELL && record.bytes[2] == 0 && record.bytes[3] == 0) {
            EXPECT_EQ(record.bytes[11] & CDTABLECELL_USE_BKGCOLOR, CDTABLECELL_USE_BKGCOLOR);
            EXPECT_EQ(word(record.bytes, 16), NOTES_COLOR_RED);
        } else if (record.type == SIG_CD_TABLECELL && record.bytes[2] == 1) {
            EXPECT_EQ(record.bytes[15], 2) << "the column span";
        } else if (record.type == SIG_CD_CAPTION) {
            EXPECT_EQ(word(record.bytes, 4), 4u);
            EXPECT_EQ(std::string(record.bytes.begin() + 28, record.bytes.end()), "logo");
        } else if (record.type == SIG_CD_BAR) {
            EXPECT_EQ(dword(record.bytes, 4) & BARREC_HAS_COLOR, DWORD{BARREC_HAS_COLOR});
            EXPECT_EQ(std::string(record.bytes.begin() + 14, record.bytes.end()), std::string("Title\0", 6));
        }
    }
    EXPECT_TRUE(log.contains("<computedtext formula> kept as its source text, not compiled")) << log.text();
}

TEST_F(RichTextItems, LargeRichTextIsSplitAtRecordBoundaries) {
    std::vector<XmlNode> children{el("pardef", {{"id", "1"}})};
    std::string all;
    for (int i = 0; i < 400; ++i) {
        std::string line =
            "Paragraph " + std::to_string(i) + " " + std::string(400, static_cast<char>('a' + i % 26));
        all += line;
        children.push_back(el("par", {{"def", "1"}}, {text(line)}));
    }
    const auto records_ = records(el("richtext", {}, std::move(children)));
    EXPECT_GE(values_.size(), 3u);
    std::size_t total = 0;
    for (const Bytes &value : values_) {
        EXPECT_LE(value.size(), static_cast<std::size_t>(MAXONESEGSIZE));
        total += value.size();
    }
    EXPECT_GT(total, 160000u);
    std::string joined;
    for (const Record *record : ofType(records_, SIG_CD_TEXT))
        joined += textOf(*record);
    EXPECT_EQ(joined, all);
}

TEST_F(RichTextItems, LongRunIsSplitIntoSeveralTextRecords) {
    const std::string long_(40000, 'z');
    const auto all = records(el("richtext", {}, {el("par", {}, {text(long_)})}));
    const auto texts = ofType(all, SIG_CD_TEXT);
    EXPECT_GE(texts.size(), 3u);
    std::string joined;
    for (const Record *record : texts)
        joined += textOf(*record);
    EXPECT_EQ(joined, long_);
}

TEST_F(RichTextItems, EmptyRichTextIsOneValueWithoutRecords) {
    values_ = richTextToCompositeItems(el("richtext"));
    ASSERT_EQ(values_.size(), 1u);
    EXPECT_EQ(values_[0], (Bytes{0x01, 0x00}));
}

} // namespace
} // namespace notesemu
