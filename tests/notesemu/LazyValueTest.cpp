// Values left in the DXL file and read on demand: read back they equal what a load from memory
// holds, whatever form their base64 takes in the file; a file changed after it was loaded is
// refused instead of misread; and every handle of an unchanged file shares one load.
#include "DatabaseCache.h"
#include "DbTestSupport.h"
#include "DxlLoader.h"
#include "DxlValues.h"
#include "Log.h"

#include <gtest/gtest.h>

#include <chrono>

namespace notesemu {
namespace {

using namespace test;

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 31 + seed + (i >> 7));
    return bytes;
}

// A MIME part as Notes stores it: MIME_PART header, then the part's headers and body.
constexpr const char *kMimePart = "AgACAAAAAQBmAAAAOAAAAAAAAABDb250ZW50LVR5cGU6IG11bHRpcGFydC9hbHRlcm5hdGl2ZTsg"
                                  "Ym91bmRhcnk9ImIxXzEiDQoNClRoaXMgaXMgYSBtdWx0aS1wYXJ0IG1lc3NhZ2UgaW4gTUlNRSBm"
                                  "b3JtYXQuDQo=";

// Base64 in lines of 76 characters ending in `eol`.
std::string inLines(const std::string &base64, std::string_view eol) {
    std::string out;
    for (std::size_t at = 0; at < base64.size(); at += 76)
        out += base64.substr(at, 76) + std::string(eol);
    return out;
}

// One memo with rich text, a MIME part and an attachment, each value's base64 passed through
// `form` (which decides how it appears in the file), lines ending in `eol`.
std::string memoDxl(std::string_view eol, const std::function<std::string(const std::string &)> &form) {
    const std::string body = base64Encode(pattern(3000, 7));
    const std::string file = base64Encode(pattern(5000, 3));
    std::string text = "<?xml version='1.0' encoding='utf-8'?>\n"
                       "<database xmlns='http://www.lotus.com/dxl' version='9.0' replicaid='0123456789ABCDEF'>\n"
                       "<document form='Memo'><noteinfo noteid='10c' unid='00000000000000010000000000000002'/>\n"
                       "<item name='Subject'><text>Lazy</text></item>\n"
                       "<item name='Body'><rawitemdata type='1'>\n" +
                       form(inLines(body, eol)) +
                       "</rawitemdata></item>\n"
                       "<item name='Part'><rawitemdata type='19'>\n" +
                       form(inLines(kMimePart, eol)) +
                       "</rawitemdata></item>\n"
                       "<item name='$FILE'><object><file hosttype='msdos' name='data.bin' size='5000'><filedata>" +
                       form(inLines(file, eol)) + "</filedata></file></object></item>\n</document>\n</database>\n";
    if (eol != "\n") {
        std::string converted;
        for (char c : text) {
            if (c == '\n')
                converted += eol;
            else
                converted += c;
        }
        text = converted;
    }
    return text;
}

// Every item value and attachment object of the first note, read in full.
struct NoteValues {
    std::vector<std::vector<std::uint8_t>> values;
    std::vector<std::vector<std::uint8_t>> objects;
};

NoteValues readAll(const Database &db) {
    NoteValues out;
    for (const Item &item : db.itemsOf(db.notes.at(0))) {
        std::vector<std::uint8_t> value;
        EXPECT_EQ(db.readValue(item, value), NOERROR) << std::string_view(item.name);
        out.values.push_back(value);
    }
    for (const auto &[rrv, object] : db.objects) {
        std::vector<std::uint8_t> storage;
        std::span<const std::uint8_t> bytes;
        EXPECT_EQ(db.readObject(object, storage, bytes), NOERROR);
        out.objects.emplace_back(bytes.begin(), bytes.end());
    }
    return out;
}

struct Form {
    const char *name;
    std::string_view eol;
    std::function<std::string(const std::string &)> form;
    std::size_t lazyValues; // how many values the file load leaves in the file
};

TEST(LazyValues, ReadBackTheyEqualTheValuesOfALoadFromMemory) {
    const auto asIs = [](const std::string &text) { return text; };
    const Form forms[] = {
        {"plain lines", "\n", asIs, 3},
        {"CR LF lines", "\r\n", asIs, 3},
        {"one long line", "", asIs, 3},
        {"a character reference", "\n",
         [](const std::string &text) { return text.substr(0, 100) + "&#" + std::to_string(int(text[100])) + ";" +
                                              text.substr(101); },
         0},
        {"a line break as a reference", "\n",
         [](const std::string &text) { return text.substr(0, 77) + "&#10;" + text.substr(77); }, 0},
        // The file data is all CDATA and stays in the file; the other two start with a line break
        // before their CDATA and are decoded while loading.
        {"all of it in CDATA", "\n", [](const std::string &text) { return "<![CDATA[" + text + "]]>"; }, 1},
        {"half of it in CDATA", "\n",
         [](const std::string &text) { return text.substr(0, 80) + "<![CDATA[" + text.substr(80) + "]]>"; }, 0},
        {"a comment inside", "\n",
         [](const std::string &text) { return text.substr(0, 80) + "<!-- x -->" + text.substr(80); }, 0},
    };
    for (const Form &form : forms) {
        SCOPED_TRACE(form.name);
        const std::string text = memoDxl(form.eol, form.form);
        TempDir dir;
        const std::filesystem::path path = dir.write("lazy file.dxl", text);
        const LoadResult fromFile = loadDxlFile(path);
        const LoadResult fromText = loadDxlText(text, "lazy.dxl");
        ASSERT_EQ(fromFile.status, NOERROR);
        ASSERT_EQ(fromText.status, NOERROR);
        EXPECT_EQ(fromFile.database->lazyValues.size(), form.lazyValues);
        EXPECT_TRUE(fromText.database->lazyValues.empty()) << "text in memory has no file to read from";
        const NoteValues lazy = readAll(*fromFile.database), eager = readAll(*fromText.database);
        ASSERT_EQ(lazy.values.size(), 5u) << "Form, Subject, Body, Part and $FILE";
        EXPECT_EQ(lazy.values, eager.values);
        ASSERT_EQ(lazy.objects.size(), 1u);
        EXPECT_EQ(lazy.objects, eager.objects);
        EXPECT_EQ(lazy.objects[0], pattern(5000, 3));
        EXPECT_EQ(lazy.values[2], withType(TYPE_COMPOSITE, pattern(3000, 7)));
    }
}

TEST(LazyValues, InvalidBase64StillSkipsTheItemWithALogLine) {
    const std::string text = memoDxl("\n", [](const std::string &base64) { return base64 + "*"; });
    TempDir dir;
    LogCapture log;
    const LoadResult loaded = loadDxlFile(dir.write("bad.dxl", text));
    ASSERT_EQ(loaded.status, NOERROR) << log.text();
    const auto items = loaded.database->itemsOf(loaded.database->notes.at(0));
    EXPECT_NE(findItem(items, "Subject"), nullptr);
    EXPECT_EQ(findItem(items, "Body"), nullptr);
    EXPECT_EQ(findItem(items, "Part"), nullptr);
    EXPECT_TRUE(log.contains("item 'Body' of note 0x10C skipped: its raw item data is not valid base64"))
        << log.text();
}

// The counter that checks rich text and attachments while loading agrees with the decoder.
TEST(LazyValues, TheBase64CounterAgreesWithTheDecoder) {
    const std::vector<std::vector<std::string>> inputs = {
        {"QUJD"},       {"QUI="},      {"QQ=="},      {"QQ", "=="},     {"QUI", "=", ""}, {"QU JD\n QQ=="},
        {"QQ==QQ=="},   {"Q==="},      {"QUJDQ"},     {"QUJD=="},       {"QQ=A"},         {"Q*JD"},
        {""},           {" \r\n\t"},   {"QQ=", "="},  {"QUJD", "QUJD"}, {"=QUJ"},         {"QUJDRA=="},
    };
    for (const auto &pieces : inputs) {
        std::string joined;
        std::vector<std::uint8_t> decoded;
        Base64Decoder decoder(decoded);
        Base64Counter counter;
        bool fedDecoder = true, fedCounter = true;
        for (const std::string &piece : pieces) {
            joined += piece + "|";
            fedDecoder = decoder.feed(piece) && fedDecoder;
            fedCounter = counter.feed(piece) && fedCounter;
        }
        SCOPED_TRACE(joined);
        EXPECT_EQ(fedCounter, fedDecoder);
        const bool valid = decoder.finish();
        EXPECT_EQ(counter.finish(), valid);
        if (valid) {
            EXPECT_EQ(counter.size(), decoded.size());
        }
    }
}

class LazyDatabases : public RuntimeTest {
protected:
    std::filesystem::path writeMemo(const std::string &name = "memo.dxl") {
        return dir_.write(name, memoDxl("\n", [](const std::string &text) { return text; }));
    }
};

TEST_F(LazyDatabases, AFileChangedAfterLoadingIsRefusedNotMisread) {
    const std::filesystem::path path = writeMemo();
    const DBHANDLE db = open(path);
    NoteHandle note(db, 0x10C);
    ASSERT_EQ(note.status(), NOERROR);
    // Read before the change, the value is whole.
    std::vector<std::uint8_t> part;
    Base64Decoder decoder(part);
    ASSERT_TRUE(decoder.feed(kMimePart) && decoder.finish());
    EXPECT_EQ(*note.value("Part"), withType(TYPE_MIME_PART, part));
    // Touched: same size, same bytes even, a later modification time.
    std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
    LogCapture log;
    BLOCKID value{};
    EXPECT_EQ(NSFItemInfo(note.get(), "Body", 4, nullptr, nullptr, &value, nullptr), ERR_STRUCT);
    EXPECT_TRUE(log.contains("changed after the database was opened")) << log.text();
    // What stays in memory is still read; presence needs no value.
    EXPECT_EQ(*note.value("Subject"), textValue("Lazy"));
    EXPECT_TRUE(NSFItemIsPresent(note.get(), "Body", 4));
    // An attachment is refused the same way.
    BLOCKID file{};
    ASSERT_EQ(NSFItemInfo(note.get(), "$FILE", 5, &file, nullptr, nullptr, nullptr), NOERROR);
    EXPECT_EQ(NSFNoteExtractFile(note.get(), file, (dir_.path() / "out.bin").string().c_str(), nullptr),
              ERR_STRUCT);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "out.bin"));
    // A new open loads the file as it is now.
    const DBHANDLE again = open(path);
    NoteHandle fresh(again, 0x10C);
    ASSERT_EQ(fresh.status(), NOERROR);
    EXPECT_TRUE(fresh.value("Body").has_value());
}

TEST_F(LazyDatabases, HandlesOfOneUnchangedFileShareOneLoad) {
    const std::filesystem::path path = writeMemo();
    DatabaseCache &cache = DatabaseCache::instance();
    const std::size_t before = cache.loads();
    const DBHANDLE first = open(path);
    const DBHANDLE second = open(path);
    EXPECT_EQ(cache.loads(), before + 1);
    // Closed and opened again, as a test of the next credential does: still no new load.
    EXPECT_EQ(NSFDbClose(first), NOERROR);
    EXPECT_EQ(NSFDbClose(second), NOERROR);
    databases_.clear();
    const DBHANDLE third = open(path);
    EXPECT_EQ(cache.loads(), before + 1);
    // Another file is another load.
    open(writeMemo("other.dxl"));
    EXPECT_EQ(cache.loads(), before + 2);
    // A changed file loads anew; the handle of the old load keeps the database it had.
    dir_.write("memo.dxl", memoDxl("\n", [](const std::string &text) { return text; }) + "<!-- later -->\n");
    const DBHANDLE fourth = open(path);
    EXPECT_EQ(cache.loads(), before + 3);
    NoteHandle oldNote(third, 0x10C), newNote(fourth, 0x10C);
    ASSERT_EQ(oldNote.status(), NOERROR);
    ASSERT_EQ(newNote.status(), NOERROR);
    EXPECT_EQ(*newNote.value("Subject"), textValue("Lazy"));
    EXPECT_EQ(searchAll(third, NOTE_CLASS_DOCUMENT).size(), 1u);
}

} // namespace
} // namespace notesemu
