// Hostile DXL found by fuzzing: protection that cannot be read fails closed, nothing is lost
// without a trace, only regular files open, walks stay linear and tokens and trees stay bounded.
#include "DbTestSupport.h"
#include "DxlLoader.h"
#include "Log.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace notesemu {
namespace {

using namespace test;

std::string database(const std::string &notes) {
    return "<?xml version='1.0' encoding='utf-8'?>\n<database xmlns='http://www.lotus.com/dxl' "
           "replicaid='852585D0004D33F6'>\n" +
           notes + "\n</database>\n";
}

std::string document(const char *noteId, const std::string &items) {
    return std::string("<document form='Memo'><noteinfo noteid='") + noteId +
           "' unid='000000000000000100000000" + std::string(8 - std::strlen(noteId), '0') + noteId +
           "'/><item name='Subject'><text>visible</text></item>" + items + "</document>";
}

// NSFDbOpen's load options for one test.
class ScopedLoadOptions {
public:
    explicit ScopedLoadOptions(LoadOptions options) : saved_(defaultLoadOptions()) {
        defaultLoadOptions() = options;
    }
    ~ScopedLoadOptions() { defaultLoadOptions() = saved_; }

private:
    LoadOptions saved_;
};

class FailClosed : public RuntimeTest {};

TEST_F(FailClosed, AnEncryptionListThatCannotBeReadLeavesTheNoteSealedForNobody) {
    struct Case {
        const char *label, *sealedFor;
    } cases[] = {
        {"invalid base64", "<item name='$SealedFor' names='true'><rawitemdata type='501'>%%%</rawitemdata></item>"},
        {"raw data that does not fit its type",
         "<item name='$SealedFor' names='true'><rawitemdata type='501'>AQAJAGFi</rawitemdata></item>"},
        {"no value", "<item name='$SealedFor' names='true'></item>"},
        {"not a names list", "<item name='$SealedFor'><number>7</number></item>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        LogCapture log;
        const auto path = dir_.write(std::string(c.label) + ".dxl",
                                     database(document("10c", std::string(c.sealedFor) +
                                                                  "<item name='Body' seal='true'><text>secret</text>"
                                                                  "</item>")));
        const DBHANDLE db = open(path);
        ASSERT_NE(db, NULLHANDLE);
        NoteHandle note(db, 0x10C);
        ASSERT_EQ(note.status(), NOERROR);
        EXPECT_FALSE(note.value("Body").has_value()) << "the sealed item is not shown in clear";
        EXPECT_TRUE(note.value("Subject").has_value());
        EXPECT_EQ(NSFNoteDecrypt(note.get(), 0, nullptr), ERR_NOT_SEALED_FOR_YOU);
        EXPECT_FALSE(note.value("Body").has_value());
    }
}

TEST_F(FailClosed, AReadersItemThatCannotBeReadLeavesTheNoteReadableByNobody) {
    struct Case {
        const char *label, *readers;
    } cases[] = {
        {"invalid base64", "<item name='DocReaders' readers='true'><rawitemdata type='501'>%%%</rawitemdata></item>"},
        {"raw data that does not fit its type",
         "<item name='DocReaders' readers='true'><rawitemdata type='501'>AQAJAGFi</rawitemdata></item>"},
        {"not a names list", "<item name='DocReaders' readers='true'><number>1</number></item>"},
        {"unknown value element", "<item name='DocReaders' readers='true'><sparkle/></item>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const auto path =
            dir_.write(std::string(c.label) + ".dxl", database(document("10c", c.readers) + document("110", "")));
        LogCapture log;
        const DBHANDLE db = open(path);
        ASSERT_NE(db, NULLHANDLE);
        NoteHandle note(db, 0x10C);
        EXPECT_EQ(note.status(), ERR_NOACCESS);
        const auto matches = searchAll(db, NOTE_CLASS_DOCUMENT);
        ASSERT_EQ(matches.size(), 1U);
        EXPECT_EQ(matches[0].id, 0x110U);
    }
    LogCapture log;
    EXPECT_EQ(loadDxlText(database(document("10c", cases[0].readers)), "r.dxl").status, NOERROR);
    EXPECT_TRUE(log.contains("the readers item 'DocReaders' cannot be read; the note is readable by nobody"))
        << log.text();
}

TEST_F(FailClosed, GeneratedNoteIdsNeverTakeAGivenOne) {
    // The highest given ID leaves no room above it; a note without an ID and a second note with
    // a given ID both need fresh ones, which must avoid 4 and 8.
    const std::string text = database(document("fffffffc", "") + document("4", "") + document("8", "") +
                                      "<document form='Memo'><item name='Subject'><text>no id</text></item>"
                                      "</document>" +
                                      document("8", "<item name='Twin'><text>second</text></item>"));
    LogCapture log;
    const LoadResult loaded = loadDxlText(text, "ids.dxl");
    ASSERT_EQ(loaded.status, NOERROR) << log.text();
    const Database &db = *loaded.database;
    ASSERT_EQ(db.notes.size(), 5U) << "no note is lost";
    std::set<NOTEID> ids;
    for (const Note &note : db.notes) {
        EXPECT_TRUE(ids.insert(note.id).second) << "note ID 0x" << std::hex << note.id << " twice";
        EXPECT_EQ(note.id % 4, 0U);
        EXPECT_NE(note.id, 0U);
    }
    EXPECT_TRUE(ids.count(0xFFFFFFFC) && ids.count(4) && ids.count(8));
    EXPECT_TRUE(log.contains("a second note has the note ID 0x8; it gets a fresh ID")) << log.text();
    EXPECT_NE(findItem(db.itemsOf(*db.findNote(8)), "Twin"), findItem(db.itemsOf(*db.findNote(8)), "Subject"));
    EXPECT_EQ(findItem(db.itemsOf(*db.findNote(8)), "Twin"), nullptr) << "the first note keeps its ID";
}

TEST_F(FailClosed, ItemNamesAreKeptWholeAndAnOverlongNameIsRefused) {
    const std::string common(300, 'n');
    const std::string overlong(kMaxItemNameBytes + 1, 'x');
    const std::string text = database(document(
        "10c", "<item name='" + common + "A'><text>a</text></item><item name='" + common +
                   "B'><text>b</text></item><item name='" + overlong + "'><text>c</text></item>"));
    LogCapture log;
    const LoadResult loaded = loadDxlText(text, "names.dxl");
    ASSERT_EQ(loaded.status, NOERROR);
    const auto items = loaded.database->itemsOf(loaded.database->notes[0]);
    ASSERT_NE(findItem(items, common + "A"), nullptr);
    ASSERT_NE(findItem(items, common + "B"), nullptr);
    EXPECT_NE(findItem(items, common + "A"), findItem(items, common + "B"));
    EXPECT_EQ(findItem(items, overlong), nullptr);
    EXPECT_TRUE(log.contains("bytes is longer than the 65280 an item name may have")) << log.text().substr(0, 400);
    // The longest name the runtime holds goes through an open note whole.
    const std::string longest(kMaxItemNameBytes, 'L');
    const DBHANDLE db = open(dir_.write("longest.dxl", database(document(
                                                           "10c", "<item name='" + longest +
                                                                      "'><text>v</text></item><item "
                                                                      "name='After'><text>w</text></item>"))));
    NoteHandle note(db, 0x10C);
    ASSERT_EQ(note.status(), NOERROR);
    const auto names = note.itemNames();
    ASSERT_EQ(names.size(), 4U);
    EXPECT_EQ(names[2], longest);
    EXPECT_EQ(note.value("After"), textValue("w"));
}

TEST_F(FailClosed, ValuesTooLargeToHoldStayVisibleAndTheirReadFails) {
    LoadOptions options;
    options.maxValueBytes = 4096;
    ScopedLoadOptions scoped(options);
    const std::string big(6000, 'x');
    const std::string base64(8200, 'A');
    const auto path = dir_.write(
        "large.dxl",
        database(document("10c", "<item name='Huge'><text>" + big +
                                     "</text></item><item name='$FILE' summary='true'><object><file hosttype='msdos'"
                                     " name='big.bin' size='6150'><filedata>" +
                                     base64 + "</filedata></file></object></item><item name='After'><text>a</text></item>")));
    LogCapture log;
    const DBHANDLE db = open(path);
    ASSERT_NE(db, NULLHANDLE);
    NoteHandle note(db, 0x10C);
    ASSERT_EQ(note.status(), NOERROR);
    EXPECT_EQ(note.itemNames(), (std::vector<std::string>{"Form", "Subject", "Huge", "$FILE", "After"}));
    BLOCKID item{}, value{};
    WORD type = 0;
    DWORD length = 0;
    EXPECT_EQ(NSFItemInfo(note.get(), "Huge", 4, &item, &type, &value, &length), ERR_MEMORY);
    EXPECT_EQ(type, TYPE_TEXT);
    EXPECT_EQ(length, 2U) << "the type word alone";
    BLOCKID next{};
    EXPECT_EQ(NSFItemInfoNext(note.get(), item, nullptr, 0, &next, &type, &value, &length), NOERROR)
        << "a walk goes on past it";
    EXPECT_EQ(type, TYPE_OBJECT);
    const std::string out = (dir_.path() / "big.out").string();
    EXPECT_EQ(NSFNoteExtractFile(note.get(), next, out.c_str(), nullptr), ERR_MEMORY);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_TRUE(log.contains("item 'Huge' of note 0x10C is too large to hold")) << log.text();
    EXPECT_TRUE(log.contains("the attachment stays in the note and extracting it fails")) << log.text();
}

TEST_F(FailClosed, OnlyRegularFilesAreOpened) {
    LogCapture log;
    DBHANDLE db = NULLHANDLE;
#ifndef _WIN32
    // Windows has no FIFOs and no /dev/null; a folder is the one thing other than a file there.
    const std::filesystem::path fifo = dir_.path() / "pipe.dxl";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Nobody writes to the FIFO: an open that waited for data would never return.
    EXPECT_EQ(NSFDbOpen(fifo.string().c_str(), &db), ERR_NOT_NSF);
    EXPECT_EQ(db, NULLHANDLE);
    EXPECT_TRUE(log.contains("is not a regular file")) << log.text();
    EXPECT_EQ(NSFDbOpen("/dev/null", &db), ERR_NOT_NSF);
#endif
    EXPECT_EQ(NSFDbOpen(dir_.path().string().c_str(), &db), ERR_NOT_NSF);
    EXPECT_EQ(db, NULLHANDLE);
    EXPECT_TRUE(log.contains("is a directory, not a DXL database")) << log.text();
}

TEST_F(FailClosed, AnOversizedTokenIsRefused) {
    LoadOptions options;
    options.maxTokenBytes = 1 << 16;
    // Longer than the slices the text is parsed in, so the parser meets the token unfinished.
    const std::string hugeAttribute = database("<document form='" + std::string(3 << 20, 'f') + "'/>");
    const std::string hugeComment = database("<!--" + std::string(3 << 20, 'c') + "-->");
    for (const std::string *text : {&hugeAttribute, &hugeComment}) {
        LogCapture log;
        const LoadResult loaded = loadDxlText(*text, "token.dxl", options);
        EXPECT_EQ(loaded.status, ERR_STRUCT);
        EXPECT_TRUE(log.contains("runs on for more than 65536 bytes")) << log.text();
    }
    // Long text content arrives in pieces and is no token.
    const std::string longText = database(document("10c", "<item name='Long'><text>" +
                                                              std::string(3 << 20, 't') + "</text></item>"));
    EXPECT_EQ(loadDxlText(longText, "text.dxl", options).status, NOERROR);
}

TEST_F(FailClosed, ItemWalksFindTheirPlaceForEveryItem) {
    std::string items;
    for (int i = 0; i < 2000; ++i)
        items += "<item name='Subject'><text>" + std::to_string(i) + "</text></item>";
    const DBHANDLE db = open(dir_.write("many.dxl", database(document("10c", items))));
    NoteHandle note(db, 0x10C);
    ASSERT_EQ(note.status(), NOERROR);
    BLOCKID item{}, value{};
    DWORD length = 0;
    int count = 0;
    STATUS status = NSFItemInfo(note.get(), "Subject", 7, &item, nullptr, &value, &length);
    while (status == NOERROR) {
        ++count;
        status = NSFItemInfoNext(note.get(), item, "Subject", 7, &item, nullptr, &value, &length);
    }
    EXPECT_EQ(status, ERR_ITEM_NOT_FOUND);
    EXPECT_EQ(count, 2001) << "the fixed Subject and the 2000 given";
}

TEST_F(FailClosed, RichTextTreesAreBoundedAndLetGoBlockByBlock) {
    LoadOptions options;
    options.maxValueBytes = 1 << 20;
    // Many empty elements inside one paragraph cost far more memory than their bytes in the file:
    // the item goes over the limit, stays visible and fails to read.
    std::string oneBlock = "<item name='Body'><richtext><par>";
    for (int i = 0; i < 60000; ++i)
        oneBlock += "<x/>";
    oneBlock += "</par></richtext></item>";
    LogCapture log;
    LoadResult loaded = loadDxlText(database(document("10c", oneBlock)), "tree.dxl", options);
    ASSERT_EQ(loaded.status, NOERROR);
    const Item *body = findItem(loaded.database->itemsOf(loaded.database->notes[0]), "Body");
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->readStatus, ERR_MEMORY);
    EXPECT_EQ(body->type(), TYPE_COMPOSITE);
    // The same number of elements spread over top-level paragraphs is converted as it streams past.
    std::string manyBlocks = "<item name='Body'><richtext>";
    for (int i = 0; i < 60000; ++i)
        manyBlocks += "<par/>";
    manyBlocks += "</richtext></item>";
    loaded = loadDxlText(database(document("10c", manyBlocks)), "blocks.dxl", options);
    ASSERT_EQ(loaded.status, NOERROR);
    body = findItem(loaded.database->itemsOf(loaded.database->notes[0]), "Body");
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->readStatus, NOERROR);
}

} // namespace
} // namespace notesemu
