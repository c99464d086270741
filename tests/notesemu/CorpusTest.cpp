// Databases in the shapes real exports have (tests/data/notesemu, written by hand from the
// published DXL facts): each loads with every item of its source present, and reads as Notes
// reads it.
#include "DbTestSupport.h"
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

// The item names each note element of a DXL text declares, by note ID (hex as written).
std::map<std::string, std::vector<std::string>> sourceItems(const std::string &dxl) {
    std::map<std::string, std::vector<std::string>> items;
    static const std::regex kToken("<noteinfo noteid='([0-9a-f]+)'|<item name='([^']*)'");
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

    // Every item the source gives each note is in the open note, as often as the source has it.
    void expectEveryItemPresent(DBHANDLE db) {
        const auto expected = sourceItems(source_);
        ASSERT_FALSE(expected.empty());
        for (const auto &[idText, names] : expected) {
            SCOPED_TRACE("note 0x" + idText);
            const NOTEID id = static_cast<NOTEID>(std::stoul(idText, nullptr, 16));
            NoteHandle note(db, id);
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

} // namespace
} // namespace notesemu
