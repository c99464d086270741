// Databases in the shapes real exports have (tests/data/notesemu, written by hand from the
// published DXL facts): each loads with every item of its source present, and reads as Notes
// reads it.
#include "DbTestSupport.h"
#include "Composite.h"
#include "Database.h"
#include "DxlLoader.h"
#include "Log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <regex>
#include <sstream>

namespace notesemu {
namespace {

using namespace test;

std::string readFile(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The item names each note element of a DXL text declares, by UNID (as written).
std::map<std::string, std::vector<std::string>> sourceItems(const std::string &dxl) {
    std::map<std::string, std::vector<std::string>> items;
    static const std::regex kToken("<noteinfo noteid='[0-9a-f]+' unid='([0-9A-F]{32})'|<item name='([^']*)'");
    std::string current;
    for (auto it = std::sregex_iterator(dxl.begin(), dxl.end(), kToken); it != std::sregex_iterator(); ++it) {
        if ((*it)[1].matched)
            current = (*it)[1].str();
        else
            items[current].push_back((*it)[2].str());
    }
    return items;
}

class Corpus : public RuntimeTest {
protected:
    // Copies a corpus file into the test's own folder and opens it.
    DBHANDLE openCorpus(const std::string &file) {
        source_ = readFile(std::filesystem::path(TESSEL_TEST_DATA) / "notesemu" / file);
        EXPECT_FALSE(source_.empty()) << file;
        return open(dir_.write(file, source_));
    }

    // The note ID of every note, by UNID text.
    std::map<std::string, NOTEID> noteIdsByUnid(DBHANDLE db) {
        std::map<std::string, NOTEID> ids;
        for (const Match &match : searchAll(db, 0x7FFF)) {
            NoteHandle note(db, match.id);
            ORIGINATORID oid{};
            NSFNoteGetInfo(note.get(), _NOTE_OID, &oid);
            UNIVERSALNOTEID unid{oid.File, oid.Note};
            ids[unidText(unid)] = match.id;
        }
        return ids;
    }

    // Every item the source gives each note is in the open note, as often as the source has it.
    void expectEveryItemPresent(DBHANDLE db) {
        const auto expected = sourceItems(source_);
        ASSERT_FALSE(expected.empty());
        const auto ids = noteIdsByUnid(db);
        for (const auto &[unid, names] : expected) {
            SCOPED_TRACE("note " + unid);
            ASSERT_TRUE(ids.count(unid)) << "the note is loaded";
            NoteHandle note(db, ids.at(unid));
            ASSERT_EQ(note.status(), NOERROR);
            std::vector<std::string> present = note.itemNames();
            for (const std::string &name : names) {
                const auto found = std::find(present.begin(), present.end(), name);
                EXPECT_NE(found, present.end()) << "item " << name;
                if (found != present.end())
                    present.erase(found);
            }
        }
    }

    std::string source_;
};

std::string itemText(NOTEHANDLE note, const char *name, char separator = ';') {
    BLOCKID value;
    WORD type = 0;
    DWORD length = 0;
    if (NSFItemInfo(note, name, static_cast<WORD>(std::strlen(name)), nullptr, &type, &value, &length) != NOERROR)
        return "<missing>";
    char buffer[512];
    const WORD size = NSFItemConvertValueToText(type, value, length, buffer, sizeof buffer, separator);
    return std::string(buffer, size);
}

std::string getText(NOTEHANDLE note, const char *name) {
    char buffer[256];
    const WORD size = NSFItemGetText(note, name, buffer, sizeof buffer);
    return std::string(buffer, size);
}

class SmtpMessage : public Corpus {
protected:
    void SetUp() override {
        Corpus::SetUp();
        tzset();
    }
    void TearDown() override {
        Corpus::TearDown();
        tz_.reset();
        tzset();
    }
    std::optional<ScopedEnv> tz_{std::in_place, "TZ", "UTC"};
};

TEST_F(SmtpMessage, HeaderItemsOfAnItemizedMessageReadAsText) {
    const DBHANDLE db = openCorpus("smtp-itemized.dxl");
    ASSERT_NE(db, NULLHANDLE);
    expectEveryItemPresent(db);
    NoteHandle note(db, 0x8fa);
    ASSERT_EQ(note.status(), NOERROR);
    const struct {
        const char *item, *converted, *first;
    } cases[] = {
        {"From", "\"Ann Example\" <ann@example.com>", "\"Ann Example\" <ann@example.com>"},
        {"SendTo", "bob@example.org", "bob@example.org"},
        {"CopyTo", "carl@example.org, dora@example.org", "carl@example.org, dora@example.org"},
        {"Subject", "Hello", "Hello"},
        {"PostedDate", "03/03/2020 03:00:00 PM", "03/03/2020 03:00:00 PM"},
        {"$MessageID", "<1234@example.com>", "<1234@example.com>"},
        {"Received", "from mx.example.com by mail1.example.org; Tue, 3 Mar 2020 10:00:04 -0500",
         "from mx.example.com by mail1.example.org; Tue, 3 Mar 2020 10:00:04 -0500"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.item);
        EXPECT_EQ(itemText(note.get(), c.item), c.converted);
        EXPECT_EQ(getText(note.get(), c.item), c.first);
    }
}

TEST_F(Corpus, DesignNotesLoadWithTheirBodiesAndOneSummaryLineEach) {
    LogCapture log;
    const DBHANDLE db = openCorpus("design-notes.dxl");
    ASSERT_NE(db, NULLHANDLE);
    expectEveryItemPresent(db);
    const auto ids = noteIdsByUnid(db);
    ASSERT_EQ(ids.size(), 7U) << "five design notes and two documents, none lost";

    // The form's body is its $Body rich text, with the text of its table.
    NoteHandle form(db, 0x11E);
    ASSERT_EQ(form.status(), NOERROR);
    const auto body = form.value("$Body");
    ASSERT_TRUE(body.has_value());
    EXPECT_EQ(word(body->data()), TYPE_COMPOSITE);
    const std::string text = itemText(form.get(), "$Body");
    EXPECT_NE(text.find("Order"), std::string::npos) << text;
    EXPECT_NE(text.find("Number"), std::string::npos) << text;

    // One line per note names what was skipped; no line per element.
    EXPECT_TRUE(log.contains("<form> Order|ord: design elements not modelled by the runtime skipped: "
                             "<actionbar>, <code> x2"))
        << log.text();
    EXPECT_TRUE(log.contains("<view> By Date|bydate: design elements not modelled by the runtime skipped: "
                             "<code>, <column> x2"))
        << log.text();
    EXPECT_TRUE(log.contains("<agent> Archive|arch: design elements not modelled by the runtime skipped: "
                             "<code>, <documentset>, <trigger>"))
        << log.text();
    EXPECT_TRUE(log.contains("<outline> Main|main: design elements not modelled by the runtime skipped: "
                             "<outlineentry> x2"))
        << log.text();
    EXPECT_FALSE(log.contains("skipped element <code>")) << log.text();
    EXPECT_FALSE(log.contains("<role>")) << "roles are understood";
    EXPECT_FALSE(log.contains("note time")) << "an empty noteinfo time is a zero time, without a line";
}

TEST_F(Corpus, FormulaSourceRepeatedNoteIdsAndEmptyListDatesKeepEverything) {
    LogCapture log;
    const DBHANDLE db = openCorpus("design-notes.dxl");
    ASSERT_NE(db, NULLHANDLE);
    const auto ids = noteIdsByUnid(db);
    const NOTEID first = ids.at("8C1F2E3D4C5B6A798897A6B5C4D3E2F6");
    const NOTEID second = ids.at("8C1F2E3D4C5B6A798897A6B5C4D3E2F7");
    EXPECT_EQ(first, 0x132U);
    EXPECT_NE(second, first);
    EXPECT_TRUE(log.contains("a second note has the note ID 0x132; it gets a fresh ID")) << log.text();

    NoteHandle form(db, 0x11E);
    const auto formula = form.value("$WindowTitle");
    ASSERT_TRUE(formula.has_value());
    EXPECT_EQ(word(formula->data()), TYPE_FORMULA);
    EXPECT_EQ(std::string(formula->begin() + 2, formula->end()), "\"Order \" + OrderNo");
    EXPECT_TRUE(log.contains("is a formula given as source text; kept as a formula item")) << log.text();

    NoteHandle order(db, first);
    const auto reminders = order.value("Reminders");
    ASSERT_TRUE(reminders.has_value());
    EXPECT_EQ(word(reminders->data()), TYPE_TIME_RANGE);
    EXPECT_EQ(word(reminders->data() + 2), 2U) << "the empty entry is dropped";
    EXPECT_EQ(word(reminders->data() + 4), 0U) << "the pair with an empty end is dropped";
    EXPECT_TRUE(log.contains("empty <datetime/> in a date list")) << log.text();
}

// The sample's memo whose body is DXL rich-text XML (a table, a section, a picture) converts to
// the same records as its raw twin, kind by kind, with the same text and the same picture bytes.
TEST(SampleTwins, XmlRichTextMemoMatchesItsRawTwin) {
    LogCapture log;
    const LoadResult loaded = loadDxlFile(TESSEL_SAMPLE_MAIL);
    ASSERT_EQ(loaded.status, NOERROR) << log.text();
    const Database &db = *loaded.database;
    std::map<std::string, std::vector<std::uint8_t>> bodies;
    for (const Note &note : db.notes) {
        const auto items = db.itemsOf(note);
        const Item *subject = findItem(items, "Subject");
        const Item *body = findItem(items, "Body");
        if (subject == nullptr || body == nullptr)
            continue;
        const std::string text(subject->data().begin(), subject->data().end());
        if (text.starts_with("Quarterly table")) {
            ASSERT_EQ(db.readValue(*body, bodies[text]), NOERROR);
        }
    }
    ASSERT_EQ(bodies.size(), 2U);
    struct Record {
        WORD type;
        std::string text; // text of a text record, title of a bar, bytes of an image segment
    };
    const auto walk = [](const std::vector<std::uint8_t> &value) {
        std::vector<Record> records;
        EXPECT_EQ(walkComposite(value, [&](const CdRecord &record) {
                      Record r{record.type, {}};
                      const auto *bytes = reinterpret_cast<const char *>(record.data);
                      if (record.type == SIG_CD_TEXT)
                          r.text.assign(bytes + 8, record.length - 8);
                      else if (record.type == SIG_CD_IMAGESEGMENT)
                          r.text.assign(bytes + 10, record.length - 10);
                      else if (record.type == SIG_CD_BAR)
                          r.text.assign(bytes + 12, record.length - 12);
                      if (record.type != SIG_CD_PABDEFINITION && record.type != SIG_CD_FONTTABLE)
                          records.push_back(r);
                      return NOERROR;
                  }),
                  NOERROR);
        return records;
    };
    const auto xml = walk(bodies.at("Quarterly table (XML rich text)"));
    const auto raw = walk(bodies.at("Quarterly table (raw twin)"));
    ASSERT_EQ(xml.size(), raw.size());
    EXPECT_GE(xml.size(), 20U) << "paragraphs, table, section and picture records";
    for (std::size_t i = 0; i < xml.size(); ++i) {
        EXPECT_EQ(xml[i].type, raw[i].type) << "record " << i;
        EXPECT_EQ(xml[i].text, raw[i].text) << "record " << i;
    }
}

// Two real-shaped exports whose -Default- has no access: the one that asks for a consistent
// access list refuses the local user, the one that does not lets it in.
TEST_F(Corpus, OnlyTheEnforcedAccessListRefusesTheLocalUser) {
    LogCapture log;
    const std::string enforced = readFile(std::filesystem::path(TESSEL_TEST_DATA) / "notesemu" / "export-enforced.dxl");
    ASSERT_FALSE(enforced.empty());
    DBHANDLE db = NULLHANDLE;
    EXPECT_EQ(NSFDbOpen(dir_.write("enforced.dxl", enforced).string().c_str(), &db), ERR_OPEN_FILE);
    EXPECT_TRUE(log.contains("enforced locally (consistentacl); Anonymous has noaccess access")) << log.text();
    const DBHANDLE unenforced = openCorpus("smtp-itemized.dxl");
    EXPECT_NE(unenforced, NULLHANDLE);
    EXPECT_TRUE(log.contains("not enforced on local copies")) << log.text();
}

} // namespace
} // namespace notesemu
