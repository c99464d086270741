// Databases, searches, ID tables, notes and items through the C API.
#include "Database.h"
#include "DbTestSupport.h"
#include "Log.h"
#include "Runtime.h"

#include <tessel/kit/Values.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace notesemu {
namespace {

using namespace test;

class Databases : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        kit::Note &form = source_.add(kit::Note::formDesign("Memo"));
        form.isDefault = true;
        const kit::Note &folder = source_.add(kit::Note::folder("Projects"));
        const kit::Unid folderUnid = folder.info.unid;
        folderId_ = folder.info.noteId;
        view_ = source_.add(kit::Note::view("All")).info.noteId;
        kit::Note &memo = source_.add(kit::Note::document("Memo"));
        memo.add(kit::Item::text("Subject", "Hello"));
        memo.add(kit::Item::text("Body", "line one\nline two").summary(false));
        memo.add(kit::Item::text("Body", "part two").summary(false));
        memo.add(kit::Item::textList("Categories", {"first", "second"}));
        memo.add(kit::Item::raw("Mime", kit::type::kMimePart, kit::MimePart{}.value()));
        kit::Note folderNote;
        folderNote.kind = kit::NoteKind::Folder;
        folderNote.info.unid = folderUnid;
        memo.addToFolder(folderNote);
        memo_ = memo.info.noteId;
        kit::Note &other = source_.add(kit::Note::document("Memo"));
        other.add(kit::Item::text("Subject", "Other"));
        other_ = other.info.noteId;
        db_ = open(writeDatabase(source_));
    }

    kit::Database source_;
    NOTEID folderId_ = 0, view_ = 0, memo_ = 0, other_ = 0;
    DBHANDLE db_ = NULLHANDLE;
};

TEST_F(Databases, OpenFailuresHaveTheirStatus) {
    DBHANDLE handle = 1234;
    EXPECT_EQ(NSFDbOpen((dir_.path() / "missing.dxl").string().c_str(), &handle), ERR_NOEXIST);
    EXPECT_EQ(handle, NULLHANDLE);
    const auto nsf = dir_.write("real.nsf", std::string("\x1A\x00\x00\x04\x00\x00\x00\x00", 8));
    EXPECT_EQ(NSFDbOpen(nsf.string().c_str(), &handle), ERR_NOT_NSF);
    char text[256] = {};
    OSLoadString(NULLHANDLE, ERR_NOT_NSF, text, sizeof text - 1);
    EXPECT_NE(std::string(text).find("DXL"), std::string::npos);
    EXPECT_EQ(NSFDbOpen("srv/Acme!!mail.nsf", &handle), ERR_SERVER_NOT_RESPONDING);
}

TEST_F(Databases, TwoOpensOfOnePathAreIndependent) {
    const DBHANDLE second = open(dir_.path() / "db.dxl");
    ASSERT_NE(second, db_);
    NoteHandle a(db_, memo_), b(second, memo_);
    ASSERT_EQ(a.status(), NOERROR);
    ASSERT_EQ(b.status(), NOERROR);
    BLOCKID valueA, valueB;
    ASSERT_EQ(NSFItemInfo(a.get(), "Subject", 7, nullptr, nullptr, &valueA, nullptr), NOERROR);
    ASSERT_EQ(NSFItemInfo(b.get(), "Subject", 7, nullptr, nullptr, &valueB, nullptr), NOERROR);
    // Changing one working copy changes neither the other nor a later open.
    char *bytes = OSLockBlock(char, valueA);
    bytes[2] = 'J';
    OSUnlockBlock(valueA);
    EXPECT_EQ(*b.value("Subject"), textValue("Hello"));
    NoteHandle again(db_, memo_);
    EXPECT_EQ(*again.value("Subject"), textValue("Hello"));
    EXPECT_EQ(*a.value("Subject"), textValue("Jello"));
    EXPECT_EQ(NSFDbClose(second), NOERROR);
    databases_.pop_back();
    EXPECT_EQ(searchAll(db_, NOTE_CLASS_DOCUMENT).size(), 2u);
    BUILDVERSION version{};
    EXPECT_EQ(NSFDbGetMajMinVersion(db_, &version), NOERROR);
    EXPECT_EQ(version.MajorVersion, 9u);
    EXPECT_EQ(version.QMRNumber, 1u);
    EXPECT_EQ(NSFDbGetMajMinVersion(second, &version), ERR_BAD_PARAM);
}

TEST_F(Databases, SearchReturnsTheAskedClassesInNoteIdOrder) {
    const auto documents = searchAll(db_, NOTE_CLASS_DOCUMENT);
    ASSERT_EQ(documents.size(), 2u);
    EXPECT_EQ(documents[0].id, memo_);
    EXPECT_EQ(documents[1].id, other_);
    for (const Match &match : documents) {
        EXPECT_EQ(match.noteClass, NOTE_CLASS_DOCUMENT);
        EXPECT_EQ(match.flags & SE_FMATCH, SE_FMATCH);
        EXPECT_FALSE(match.summaryGiven);
    }
    const auto all = searchAll(db_, NOTE_CLASS_ALL);
    ASSERT_EQ(all.size(), source_.notes.size());
    EXPECT_TRUE(
        std::is_sorted(all.begin(), all.end(), [](const Match &a, const Match &b) { return a.id < b.id; }));
    EXPECT_EQ(all[0].noteClass, NOTE_CLASS_FORM);
    EXPECT_EQ(searchAll(db_, NOTE_CLASS_DOCUMENT | NOTE_CLASS_VIEW).size(), 4u);
    EXPECT_EQ(searchAll(db_, NOTE_CLASS_FORM).size(), 1u);
}

TEST_F(Databases, SearchMatchCarriesIdentifiersAndTheSummaryWhenAsked) {
    struct Seen {
        SEARCH_MATCH match;
        std::vector<std::uint8_t> summary;
        bool summaryFollows = false;
    };
    std::vector<Seen> seen;
    ASSERT_EQ(NSFSearch(
                  db_, NULLHANDLE, nullptr, SEARCH_SUMMARY, NOTE_CLASS_DOCUMENT, nullptr,
                  [](void *parameter, SEARCH_MATCH *match, ITEM_TABLE *summary) LNCALLBACK -> STATUS {
                      Seen s;
                      std::memcpy(&s.match, match, sizeof s.match);
                      const auto *bytes = reinterpret_cast<const std::uint8_t *>(summary);
                      s.summary.assign(bytes, bytes + s.match.SummaryLength);
                      s.summaryFollows =
                          reinterpret_cast<const std::uint8_t *>(match) + sizeof(SEARCH_MATCH) == bytes;
                      static_cast<std::vector<Seen> *>(parameter)->push_back(s);
                      return NOERROR;
                  },
                  &seen, nullptr),
              NOERROR);
    ASSERT_EQ(seen.size(), 2u);
    const Seen &memo = seen[0];
    EXPECT_EQ(+memo.match.ID.NoteID, memo_);
    EXPECT_EQ(unidText({memo.match.OriginatorID.File, memo.match.OriginatorID.Note}),
              source_.notes[3].info.unid.text());
    EXPECT_EQ(+memo.match.OriginatorID.Sequence, 1u);
    EXPECT_TRUE(memo.summaryFollows);
    // ITEM_TABLE, ITEM entries, then name and value of each summary item (Body is not summary).
    const std::vector<std::uint8_t> &s = memo.summary;
    ASSERT_GE(s.size(), 4u);
    EXPECT_EQ(word(s.data()), s.size());
    const std::size_t count = word(s.data() + 2);
    std::vector<std::string> names;
    std::size_t at = 4 + 4 * count;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t nameLength = word(s.data() + 4 + 4 * i), valueLength = word(s.data() + 6 + 4 * i);
        names.emplace_back(reinterpret_cast<const char *>(s.data()) + at, nameLength);
        if (names.back() == "Subject") {
            EXPECT_EQ(std::vector<std::uint8_t>(s.begin() + static_cast<long>(at + nameLength),
                                                s.begin() + static_cast<long>(at + nameLength + valueLength)),
                      textValue("Hello"));
        }
        at += nameLength + valueLength;
    }
    EXPECT_EQ(at, s.size());
    EXPECT_EQ(names, (std::vector<std::string>{"Form", "Subject", "Categories", "$FolderRefs"}));
}

TEST_F(Databases, CallbackStatusStopsTheSearchAndIsReturned) {
    int calls = 0;
    EXPECT_EQ(NSFSearch(
                  db_, NULLHANDLE, nullptr, 0, NOTE_CLASS_ALL, nullptr,
                  [](void *parameter, SEARCH_MATCH *, ITEM_TABLE *) LNCALLBACK -> STATUS {
                      return ++*static_cast<int *>(parameter) == 2 ? ERR_CANCEL : NOERROR;
                  },
                  &calls, nullptr),
              ERR_CANCEL);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(NSFSearch(
                  db_, 5, nullptr, 0, NOTE_CLASS_ALL, nullptr,
                  [](void *, SEARCH_MATCH *, ITEM_TABLE *) LNCALLBACK -> STATUS { return NOERROR; }, nullptr,
                  nullptr),
              ERR_NOT_IMPLEMENTED);
}

TEST_F(Databases, IdTablesKeepASortedSet) {
    DHANDLE table = NULLHANDLE;
    ASSERT_EQ(IDCreateTable(sizeof(NOTEID), &table), NOERROR);
    DWORD id = 0;
    EXPECT_FALSE(IDScan(table, TRUE, &id));
    BOOL inserted = FALSE;
    for (DWORD value : {0x20u, 0x8u, 0x80000010u, 0x14u}) {
        EXPECT_EQ(IDInsert(table, value, &inserted), NOERROR);
        EXPECT_TRUE(inserted);
    }
    EXPECT_EQ(IDInsert(table, 0x14, &inserted), NOERROR);
    EXPECT_FALSE(inserted);
    EXPECT_EQ(IDInsert(table, 0x18, nullptr), NOERROR);
    EXPECT_EQ(IDEntries(table), 5u);
    std::vector<DWORD> scanned;
    for (BOOL more = IDScan(table, TRUE, &id); more; more = IDScan(table, FALSE, &id))
        scanned.push_back(id);
    EXPECT_EQ(scanned, (std::vector<DWORD>{0x8, 0x14, 0x18, 0x20, 0x80000010u}));
    EXPECT_EQ(IDDeleteAll(table), NOERROR);
    EXPECT_EQ(IDEntries(table), 0u);
    EXPECT_FALSE(IDScan(table, TRUE, &id));
    EXPECT_EQ(IDDestroyTable(table), NOERROR);
    EXPECT_EQ(IDInsert(table, 1, nullptr), ERR_BAD_PARAM);
    EXPECT_EQ(IDDestroyTable(table), ERR_BAD_PARAM);
}

TEST_F(Databases, NoteInfoGivesIdOidClassAndTimes) {
    NoteHandle note(db_, memo_, 0x03000000);
    ASSERT_EQ(note.status(), NOERROR);
    NOTEID id = 0;
    NSFNoteGetInfo(note.get(), _NOTE_ID, &id);
    EXPECT_EQ(id, memo_);
    ORIGINATORID oid{};
    NSFNoteGetInfo(note.get(), _NOTE_OID, &oid);
    EXPECT_EQ(unidText({oid.File, oid.Note}), source_.notes[3].info.unid.text());
    WORD noteClass = 0;
    NSFNoteGetInfo(note.get(), _NOTE_CLASS, &noteClass);
    EXPECT_EQ(noteClass, NOTE_CLASS_DOCUMENT);
    DBHANDLE db = NULLHANDLE;
    NSFNoteGetInfo(note.get(), _NOTE_DB, &db);
    EXPECT_EQ(db, db_);
    NoteHandle form(db_, source_.notes[0].info.noteId);
    NSFNoteGetInfo(form.get(), _NOTE_CLASS, &noteClass);
    EXPECT_EQ(noteClass, NOTE_CLASS_FORM | NOTE_CLASS_DEFAULT);
    NOTEHANDLE missing = NULLHANDLE;
    EXPECT_EQ(NSFNoteOpenExt(db_, 0, 0x03000000, &missing), ERR_INVALID_NOTE);
    EXPECT_EQ(NSFNoteOpenExt(db_, 0x7FFFFFF0, 0, &missing), ERR_INVALID_NOTE);
    EXPECT_TRUE(NSFNoteHasMIME(note.get()));
    EXPECT_TRUE(NSFNoteHasMIMEPart(note.get()));
    NoteHandle other(db_, other_);
    EXPECT_FALSE(NSFNoteHasMIME(other.get()));
    EXPECT_FALSE(NSFNoteHasMIMEPart(other.get()));
}

TEST_F(Databases, ItemsAreFoundWalkedAndLockedAsBlocks) {
    NoteHandle note(db_, memo_);
    ASSERT_EQ(note.status(), NOERROR);
    BLOCKID item, value;
    WORD type = 0;
    DWORD length = 0;
    ASSERT_EQ(NSFItemInfo(note.get(), "body", 4, &item, &type, &value, &length), NOERROR);
    EXPECT_EQ(type, TYPE_TEXT);
    EXPECT_EQ(length, 2u + 17u);
    const auto *bytes = OSLockBlock(std::uint8_t, value);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(word(bytes), TYPE_TEXT);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(bytes) + 2, 17),
              std::string("line one\0line two", 17));
    OSUnlockBlock(value);
    BLOCKID next, nextValue;
    ASSERT_EQ(NSFItemInfoNext(note.get(), item, "Body", 4, &next, &type, &nextValue, &length), NOERROR);
    EXPECT_EQ(length, 2u + 8u);
    EXPECT_EQ(NSFItemInfoNext(note.get(), next, "Body", 4, &item, &type, &value, &length),
              ERR_ITEM_NOT_FOUND);
    EXPECT_EQ(type, TYPE_INVALID_OR_UNKNOWN);
    EXPECT_EQ(NSFItemInfo(note.get(), "Nothing", 7, nullptr, &type, nullptr, nullptr), ERR_ITEM_NOT_FOUND);
    EXPECT_EQ(type, TYPE_INVALID_OR_UNKNOWN);
    EXPECT_TRUE(NSFItemIsPresent(note.get(), "Subject", 7));
    // A zero-length name is the first item; the next of it walks every item.
    ASSERT_EQ(NSFItemInfo(note.get(), nullptr, 0, &item, nullptr, nullptr, nullptr), NOERROR);
    std::size_t walked = 1;
    while (NSFItemInfoNext(note.get(), item, nullptr, 0, &item, nullptr, nullptr, nullptr) == NOERROR)
        ++walked;
    EXPECT_EQ(walked, note.itemNames().size());
    EXPECT_EQ(note.itemNames(), (std::vector<std::string>{"Form", "Subject", "Body", "Body", "Categories",
                                                          "Mime", "$FolderRefs"}));
}

TEST_F(Databases, ItemScanStopsAtTheRoutinesStatus) {
    NoteHandle note(db_, memo_);
    struct State {
        int calls = 0;
        WORD firstType = 0;
        DWORD firstLength = 0;
    } state;
    EXPECT_EQ(NSFItemScan(
                  note.get(),
                  [](WORD, WORD, char *, WORD, void *value, DWORD length, void *parameter)
                      LNCALLBACK -> STATUS {
                          auto &s = *static_cast<State *>(parameter);
                          if (s.calls++ == 0) {
                              s.firstType = word(static_cast<const std::uint8_t *>(value));
                              s.firstLength = length;
                          }
                          return s.calls == 3 ? ERR_CANCEL : NOERROR;
                      },
                  &state),
              ERR_CANCEL);
    EXPECT_EQ(state.calls, 3);
    EXPECT_EQ(state.firstType, TYPE_TEXT);
    EXPECT_EQ(state.firstLength, 2u + 4u); // Form: "Memo"
}

TEST_F(Databases, ItemGetTextCopiesTextAndTheFirstListEntry) {
    NoteHandle note(db_, memo_);
    char buffer[128];
    EXPECT_EQ(NSFItemGetText(note.get(), "Subject", buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "Hello");
    EXPECT_EQ(NSFItemGetText(note.get(), "Body", buffer, sizeof buffer), 17);
    EXPECT_EQ(std::string(buffer, 17), std::string("line one\0line two", 17));
    EXPECT_EQ(NSFItemGetText(note.get(), "Categories", buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "first");
    EXPECT_EQ(NSFItemGetText(note.get(), "Subject", buffer, 4), 3);
    EXPECT_STREQ(buffer, "Hel");
    EXPECT_EQ(NSFItemGetText(note.get(), "Mime", buffer, sizeof buffer), 0);
    EXPECT_EQ(NSFItemGetText(note.get(), "Missing", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
}

TEST_F(Databases, ExpandAndSummaryOpenFlagsShapeTheWorkingCopy) {
    NoteHandle expanded(db_, memo_, OPEN_EXPAND | OPEN_RAW_MIME);
    EXPECT_EQ(*expanded.value("Subject"), withType(TYPE_TEXT_LIST, kit::textListValue({"Hello"})));
    NoteHandle summary(db_, memo_, OPEN_SUMMARY);
    EXPECT_EQ(summary.itemNames(),
              (std::vector<std::string>{"Form", "Subject", "Categories", "$FolderRefs"}));
}

TEST_F(Databases, ClosingANoteFreesItsPool) {
    Runtime &runtime = Runtime::instance();
    const std::size_t before = runtime.handles().liveHandles();
    NOTEHANDLE handle = NULLHANDLE;
    ASSERT_EQ(NSFNoteOpenExt(db_, memo_, 0, &handle), NOERROR);
    BLOCKID value;
    ASSERT_EQ(NSFItemInfo(handle, "Subject", 7, nullptr, nullptr, &value, nullptr), NOERROR);
    EXPECT_GT(runtime.handles().liveHandles(), before);
    // The pool belongs to the note: OSMemFree refuses it.
    EXPECT_EQ(OSMemFree(value.pool), ERR_BAD_PARAM);
    EXPECT_EQ(NSFNoteClose(handle), NOERROR);
    EXPECT_EQ(runtime.handles().liveHandles(), before);
    EXPECT_EQ(OSLockObject(value.pool), nullptr);
    EXPECT_EQ(NSFNoteClose(handle), ERR_BAD_PARAM);
}

TEST_F(Databases, FolderContentsComeFromFolderRefs) {
    DHANDLE table = NULLHANDLE;
    ASSERT_EQ(NSFFolderGetIDTable(db_, db_, folderId_, 0, &table), NOERROR);
    DWORD id = 0;
    ASSERT_EQ(IDEntries(table), 1u);
    ASSERT_TRUE(IDScan(table, TRUE, &id));
    EXPECT_EQ(id, memo_);
    EXPECT_EQ(IDDestroyTable(table), NOERROR);
    EXPECT_EQ(NSFFolderGetIDTable(db_, db_, view_, 0, &table), ERR_NOTE_NOT_FOLDER);
    EXPECT_EQ(table, NULLHANDLE);
    EXPECT_EQ(NSFFolderGetIDTable(db_, db_, memo_, 0, &table), ERR_INVALID_NOTE);
}

} // namespace
} // namespace notesemu
