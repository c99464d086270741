// Hostile and damaged DXL: each gets a defined status or a skipped item with a log line, and
// whatever was readable still loads.
#include "DbTestSupport.h"
#include "DxlLoader.h"
#include "Log.h"

#include <gtest/gtest.h>

#include <fstream>

namespace notesemu {
namespace {

using namespace test;

constexpr const char *kHead =
    "<?xml version='1.0' encoding='utf-8'?>\n"
    "<database xmlns='http://www.lotus.com/dxl' version='9.0' replicaid='0123456789ABCDEF'>\n";
constexpr const char *kGoodNote =
    "<document form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/>"
    "<item name='Subject'><text>kept</text></item></document>\n";

std::string database(const std::string &notes) {
    return std::string(kHead) + notes + "</database>\n";
}

struct Refused {
    const char *name;
    std::string text;
    STATUS status;
    const char *logged;
};

TEST(DxlHostile, DocumentsThatCannotBeLoadedGiveADefinedStatusAndNoDatabase) {
    const std::string good = database(kGoodNote);
    const Refused cases[] = {
        {"empty file", "", ERR_NOT_NSF, "not an XML document"},
        {"binary NSF header", std::string("\x1A\x00\x00\x04\x00\x00", 6) + "NSF", ERR_NOT_NSF,
         "not an XML document"},
        {"plain text", "hello world", ERR_NOT_NSF, "not an XML document"},
        {"other root", "<html><body/></html>", ERR_NOT_NSF, "root element"},
        {"database outside the DXL namespace", "<database><note class='document'/></database>", ERR_NOT_NSF,
         "root element"},
        {"single note root", "<document xmlns='http://www.lotus.com/dxl'/>", ERR_NOT_NSF, "root element"},
        {"billion laughs",
         "<?xml version='1.0'?><!DOCTYPE database [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b "
         "'&a;&a;&a;&a;&a;&a;&a;&a;'>"
         "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;'>]><database xmlns='http://www.lotus.com/dxl'><note "
         "class='document'>"
         "<item name='x'><text>&c;&c;&c;</text></item></note></database>",
         ERR_NOT_NSF, "declares the entity"},
        {"external entity",
         "<?xml version='1.0'?><!DOCTYPE database [<!ENTITY x SYSTEM 'file:///etc/passwd'>]>"
         "<database xmlns='http://www.lotus.com/dxl'/>",
         ERR_NOT_NSF, "declares the entity"},
        {"malformed after the root",
         std::string(kHead) + "<document><item name='x'><text>a</item></document>", ERR_STRUCT,
         "malformed or truncated"},
        {"truncated", good.substr(0, good.size() / 2), ERR_STRUCT, "malformed or truncated"},
        {"truncated after the last note", good.substr(0, good.size() - 12), ERR_STRUCT,
         "malformed or truncated"},
    };
    for (const Refused &refused : cases) {
        LogCapture log;
        const LoadResult result = loadDxlText(refused.text, "hostile.dxl");
        EXPECT_EQ(result.status, refused.status) << refused.name;
        EXPECT_EQ(result.database, nullptr) << refused.name;
        EXPECT_TRUE(log.contains(refused.logged)) << refused.name << ": " << log.text();
        EXPECT_TRUE(log.contains("hostile.dxl: cannot be loaded")) << refused.name;
    }
}

struct Skipped {
    const char *name;
    std::string item;
    const char *logged;
};

TEST(DxlHostile, DamagedItemsAreSkippedAndTheRestLoads) {
    const Skipped cases[] = {
        {"invalid base64", "<item name='Bad'><rawitemdata type='1'>AAAA*AAA</rawitemdata></item>",
         "not valid base64"},
        {"truncated base64", "<item name='Bad'><rawitemdata type='e'>AQ</rawitemdata></item>",
         "not valid base64"},
        {"number of the wrong size", "<item name='Bad'><rawitemdata type='300'>AAAA</rawitemdata></item>",
         "does not fit type 0x300"},
        {"text list running past its end",
         "<item name='Bad'><rawitemdata type='501'>AQAJAGFi</rawitemdata></item>", "does not fit type 0x501"},
        {"not a number", "<item name='Bad'><number>twelve</number></item>", "is not a number"},
        {"not a date", "<item name='Bad'><datetime>yesterday</datetime></item>", "is not a DXL date/time"},
        {"unknown value element", "<item name='Bad'><sparkle/></item>", "not read by the emulated runtime"},
        {"no name", "<item><text>x</text></item>", "it has no name"},
    };
    for (const Skipped &skipped : cases) {
        LogCapture log;
        const std::string notes =
            "<document form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/>"
            "<item name='Before'><text>b</text></item>" +
            skipped.item + "<item name='After'><text>a</text></item></document>";
        const LoadResult result = loadDxlText(database(notes), "damaged.dxl");
        ASSERT_EQ(result.status, NOERROR) << skipped.name << ": " << log.text();
        const Note *note = result.database->findNote(0x10C);
        ASSERT_NE(note, nullptr);
        std::vector<std::string> names;
        for (const Item &item : result.database->itemsOf(*note))
            names.emplace_back(item.name);
        EXPECT_EQ(names, (std::vector<std::string>{"Form", "Before", "After"})) << skipped.name;
        EXPECT_TRUE(log.contains(skipped.logged)) << skipped.name << ": " << log.text();
    }
}

// Damaged rich text stays as it is stored, as in a real database: the records before the damage
// are still there for whoever walks them.
TEST(DxlHostile, DamagedRichTextIsKeptAsStored) {
    LogCapture log;
    const std::string notes =
        "<document form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/>"
        "<item name='Body'><rawitemdata type='1'>hQAgAA==</rawitemdata></item></document>";
    const LoadResult result = loadDxlText(database(notes), "damaged.dxl");
    ASSERT_EQ(result.status, NOERROR) << log.text();
    const Note *note = result.database->findNote(0x10C);
    ASSERT_NE(note, nullptr);
    bool bFound = false;
    for (const Item &item : result.database->itemsOf(*note)) {
        if (item.name == "Body") {
            bFound = true;
            EXPECT_EQ(item.type(), TYPE_COMPOSITE);
            EXPECT_EQ(item.data().size(), 4u) << "the stored bytes, as they were";
        }
    }
    EXPECT_TRUE(bFound);
    EXPECT_TRUE(log.contains("Item Body: its rich text is damaged")) << log.text();
}

TEST(DxlHostile, UnknownElementsAndAttributesAreLoggedOnceAndSkipped) {
    LogCapture log;
    const std::string notes =
        "<sparkle><note class='document'/></sparkle>"
        "<document form='Memo' glitter='1'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/>"
        "<mystery><item name='Inside'><text>x</text></item></mystery>"
        "<item name='Subject' shiny='yes'><text>kept</text></item>"
        "<item name='Other' shiny='yes'><text>kept</text></item></document>"
        "<x:other xmlns:x='urn:other'/>";
    const LoadResult result = loadDxlText(database(notes), "unknown.dxl");
    ASSERT_EQ(result.status, NOERROR) << log.text();
    ASSERT_EQ(result.database->notes.size(), 1u);
    const Note &note = result.database->notes[0];
    EXPECT_NE(findItem(result.database->itemsOf(note), "Subject"), nullptr);
    EXPECT_EQ(findItem(result.database->itemsOf(note), "Inside"), nullptr);
    EXPECT_TRUE(log.contains("skipped element <sparkle>"));
    EXPECT_TRUE(log.contains("skipped element <mystery>"));
    EXPECT_TRUE(log.contains("skipped item attribute 'shiny'"));
    EXPECT_TRUE(log.contains("skipped item attribute 'shiny' 2 times in all"));
    EXPECT_TRUE(log.contains("urn:other"));
}

TEST(DxlHostile, ValuesOverTheLimitStayVisibleWithoutBeingHeld) {
    TempDir dir;
    const std::filesystem::path path = dir.path() / "large.dxl";
    {
        std::ofstream out(path, std::ios::binary);
        out << kHead
            << "<document form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/>"
            << "<item name='Huge'><text>";
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 64; ++i)
            out << block;
        out << "</text></item><item name='HugeRaw'><rawitemdata type='1'>";
        const std::string base64(1 << 20, 'A');
        for (int i = 0; i < 4; ++i)
            out << base64;
        out << "</rawitemdata></item><item name='Small'><text>kept</text></item></document></database>\n";
    }
    LogCapture log;
    LoadOptions options;
    options.maxValueBytes = 1 << 20;
    const LoadResult result = loadDxlFile(path, options);
    ASSERT_EQ(result.status, NOERROR) << log.text();
    const Database &db = *result.database;
    const std::span<const Item> items = db.itemsOf(db.notes[0]);
    // Both stay in the note, with their type and without their value; reading them fails.
    const Item *huge = findItem(items, "Huge");
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(huge->type(), TYPE_TEXT);
    EXPECT_EQ(huge->value.size(), 2u);
    EXPECT_EQ(huge->readStatus, ERR_MEMORY);
    EXPECT_TRUE(huge->flags & ITEM_SUMMARY) << "flags as the source gives them";
    const Item *hugeRaw = findItem(items, "HugeRaw");
    ASSERT_NE(hugeRaw, nullptr);
    EXPECT_EQ(hugeRaw->type(), TYPE_COMPOSITE);
    EXPECT_EQ(hugeRaw->readStatus, ERR_MEMORY);
    EXPECT_NE(findItem(items, "Small"), nullptr);
    EXPECT_EQ(findItem(items, "Small")->readStatus, NOERROR);
    EXPECT_TRUE(log.contains("item 'Huge' of note 0x10C is too large to hold (its text is larger than the "
                             "limit of 1048576 bytes); it stays in the note"));
    EXPECT_TRUE(log.contains("item 'HugeRaw' of note 0x10C is too large to hold (its raw item data is larger "
                             "than the limit"));
    EXPECT_LT(db.arena.bytesUsed(), 1u << 20);
}

TEST(DxlHostile, DeepRichTextIsCutAtTheDepthLimit) {
    std::string deep = "<document><noteinfo noteid='10c' unid='00000000000000010000000000000002'/><item "
                       "name='Body'><richtext>";
    for (int i = 0; i < 5000; ++i)
        deep += "<block>";
    deep += "text";
    for (int i = 0; i < 5000; ++i)
        deep += "</block>";
    deep += "</richtext></item></document>";
    LogCapture log;
    const LoadResult result = loadDxlText(database(deep), "deep.dxl");
    ASSERT_EQ(result.status, NOERROR) << log.text();
    EXPECT_TRUE(log.contains("nested deeper than"));
    EXPECT_NE(findItem(result.database->itemsOf(result.database->notes[0]), "Body"), nullptr);
}

} // namespace
} // namespace notesemu
