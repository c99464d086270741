// Load, write and load again: the same notes, items and attachment bytes.
#include "DbTestSupport.h"
#include "DxlLoader.h"
#include "Ods.h"
#include "DxlWriter.h"
#include "Log.h"

#include <tessel/kit/Values.h>

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace notesemu {
namespace {

using namespace test;

void expectSameNotes(const Database &a, const Database &b);

void expectSameDatabase(const Database &a, const Database &b) {
    EXPECT_EQ(a.title, b.title);
    EXPECT_EQ(timedateHex(a.replicaId), timedateHex(b.replicaId));
    EXPECT_EQ(timedateHex(a.dbid), timedateHex(b.dbid));
    EXPECT_EQ(a.acl.defaultLevel, b.acl.defaultLevel);
    EXPECT_EQ(a.acl.consistent, b.acl.consistent);
    EXPECT_EQ(a.acl.roles, b.acl.roles);
    ASSERT_EQ(a.acl.entries.size(), b.acl.entries.size());
    for (std::size_t i = 0; i < a.acl.entries.size(); ++i) {
        EXPECT_EQ(a.acl.entries[i].name, b.acl.entries[i].name);
        EXPECT_EQ(a.acl.entries[i].level, b.acl.entries[i].level);
        EXPECT_EQ(a.acl.entries[i].roles, b.acl.entries[i].roles);
    }
    expectSameNotes(a, b);
}

void expectSameNotes(const Database &a, const Database &b) {
    ASSERT_EQ(a.notes.size(), b.notes.size());
    for (std::size_t n = 0; n < a.notes.size(); ++n) {
        const Note &x = a.notes[n], &y = b.notes[n];
        SCOPED_TRACE("note " + std::to_string(x.id));
        EXPECT_EQ(x.id, y.id);
        EXPECT_EQ(x.noteClass, y.noteClass);
        EXPECT_EQ(std::memcmp(&x.oid, &y.oid, sizeof x.oid), 0);
        EXPECT_EQ(std::memcmp(&x.modified, &y.modified, sizeof x.modified), 0);
        EXPECT_EQ(std::memcmp(&x.accessed, &y.accessed, sizeof x.accessed), 0);
        EXPECT_EQ(std::memcmp(&x.addedToFile, &y.addedToFile, sizeof x.addedToFile), 0);
        EXPECT_EQ(x.sealed, y.sealed);
        const auto xi = a.itemsOf(x), yi = b.itemsOf(y);
        ASSERT_EQ(xi.size(), yi.size());
        for (std::size_t i = 0; i < xi.size(); ++i) {
            SCOPED_TRACE(std::string(xi[i].name));
            EXPECT_EQ(xi[i].name, yi[i].name);
            EXPECT_EQ(xi[i].flags, yi[i].flags);
            EXPECT_EQ(xi[i].sealedData, yi[i].sealedData);
            EXPECT_EQ(xi[i].type(), yi[i].type());
            if (xi[i].type() == TYPE_OBJECT) {
                // The object IDs are handed out anew; the file object and its bytes must match.
                FILEOBJECT fx = fromOds<FILEOBJECT>(xi[i].data().data());
                FILEOBJECT fy = fromOds<FILEOBJECT>(yi[i].data().data());
                const auto ox = a.findObject(fx.Header.RRV), oy = b.findObject(fy.Header.RRV);
                ASSERT_TRUE(ox && oy);
                std::vector<std::uint8_t> sx, sy;
                std::span<const std::uint8_t> bx, by;
                ASSERT_EQ(a.readObject(*ox, sx, bx), NOERROR);
                ASSERT_EQ(b.readObject(*oy, sy, by), NOERROR);
                EXPECT_TRUE(std::equal(bx.begin(), bx.end(), by.begin(), by.end()));
                fx.Header.RRV = fy.Header.RRV = 0;
                EXPECT_EQ(toOds(fx), toOds(fy));
                const auto skip = static_cast<std::ptrdiff_t>(2 + odsSize<FILEOBJECT>());
                EXPECT_TRUE(std::equal(xi[i].value.begin() + skip, xi[i].value.end(),
                                       yi[i].value.begin() + skip, yi[i].value.end()));
                continue;
            }
            // Either side may hold the value in its file.
            std::vector<std::uint8_t> vx, vy;
            ASSERT_EQ(a.readValue(xi[i], vx), NOERROR);
            ASSERT_EQ(b.readValue(yi[i], vy), NOERROR);
            EXPECT_EQ(vx, vy);
        }
    }
}

std::shared_ptr<Database> reload(const Database &database) {
    std::ostringstream out;
    writeDatabaseDxl(out, database);
    LogCapture log;
    LoadResult again = loadDxlText(out.str(), "rewritten.dxl");
    EXPECT_EQ(again.status, NOERROR) << log.text();
    return again.database;
}

TEST(DxlRoundTrip, BuilderDatabaseSurvivesWriteAndLoad) {
    kit::Database source;
    source.info.title = "Round & 'trip' <db>";
    source.info.replicaId.value = 0x852585D0004D33F6;
    source.info.defaultAccess = "reader";
    source.info.roles = {"[Admin]", "[Reviewer]"};
    source.info.acl = {{"CN=Alice Smith/O=Acme", "manager", "person", {"[Admin]"}}, {"*/O=Other", "noaccess"}};
    kit::Note &memo = source.add(kit::Note::document("Memo"));
    memo.info.modified = kit::DateTime::at(2024, 7, 1, 8, 0, 0, 0, 120, true);
    memo.updatedBy = {"CN=Alice Smith/O=Acme"};
    memo.revisions = {kit::DateTime::at(2024, 6, 30, 7, 0, 0, 0, 60)};
    memo.add(kit::Item::text("Subject", "Lines\nand caf\xC3\xA9 & <tags>"));
    memo.add(kit::Item::textList("SendTo", {"CN=Bob/O=Acme", ""}).names());
    memo.add(kit::Item::number("N", 0.1));
    memo.add(kit::Item::numberList("NL", {}));
    memo.add(kit::Item::dateTime("D", kit::DateTime::at(2024, 1, 15, 9, 25, 30, 17, -300)));
    memo.add(kit::Item::dateTime("Half", kit::DateTime::at(2024, 1, 15, 9, 25, 30, 17, -570)));
    memo.add(kit::Item::dateTimeList(
        "DL", {kit::DateTime::dateOnly(2024, 2, 29)},
        {{kit::DateTime::timeOnly(1, 2, 3), kit::DateTime::at(2030, 1, 1, 0, 0, 0)}}));
    memo.add(kit::Item::raw("Zero", 0x400, kit::Bytes(8, 0)));
    memo.add(kit::Item::raw("Control", 0x500, {'a', 0x07, 'b'}));
    memo.add(kit::Item::raw("Range", 0x301, kit::numberRangeValue({1}, {{2, 3}})));
    memo.add(kit::Item::raw("User", 0x0E, {3, 'f', 'm', 't', 9}).summary().sealed());
    memo.add(kit::Item::richTextRaw("Body", {0x81, 0x02, 0x85, 0xFF, 0x0A, 0x00, 0, 0, 0, 0, 'h', 'i'})
                 .sign()
                 .seal());
    kit::FileAttachment file;
    file.name = "data set.bin";
    file.data = kit::Bytes(70000, 0x5A);
    file.desiredCompression = "lz1";
    memo.add(kit::Item::file(file));
    memo.add(kit::Item::textList("Readers", {"[Admin]", "CN=Alice Smith/O=Acme"}).readers());
    source.add(kit::Note::folder("Inbox"));
    kit::ImageFile png;
    png.format = kit::ImageFile::Format::Png;
    png.data = kit::Bytes(30000, 7);
    source.add(kit::Note::imageResource("pic.png", png));
    LogCapture log;
    const LoadResult first = loadDxlText(source.toDxl(), "source.dxl");
    ASSERT_EQ(first.status, NOERROR) << log.text();
    const auto second = reload(*first.database);
    ASSERT_TRUE(second);
    expectSameDatabase(*first.database, *second);
    const auto third = reload(*second);
    ASSERT_TRUE(third);
    expectSameDatabase(*second, *third);
}

TEST(DxlRoundTrip, SampleMailDatabaseSurvivesWriteAndLoad) {
    const LoadResult first = loadDxlFile(TESSEL_SAMPLE_MAIL);
    ASSERT_EQ(first.status, NOERROR);
    const auto second = reload(*first.database);
    ASSERT_TRUE(second);
    expectSameDatabase(*first.database, *second);
}

TEST(DxlRoundTrip, SingleNoteIsAStandaloneDocumentOnRequest) {
    kit::Database source;
    kit::Note &memo = source.add(kit::Note::document("Memo"));
    memo.add(kit::Item::text("Subject", "s"));
    const LoadResult loaded = loadDxlText(source.toDxl(), "one.dxl");
    ASSERT_EQ(loaded.status, NOERROR);
    const Database &db = *loaded.database;
    const std::string inner = noteDxl(db, db.notes[0], db.itemsOf(db.notes[0]), false);
    const std::string root = noteDxl(db, db.notes[0], db.itemsOf(db.notes[0]), true);
    EXPECT_EQ(inner.find("xmlns"), std::string::npos);
    EXPECT_NE(root.find("xmlns='http://www.lotus.com/dxl'"), std::string::npos);
    EXPECT_NE(root.find("<item name='Subject'><text>s</text></item>"), std::string::npos);
    // The inner form drops into a database element and loads back to the same note.
    const LoadResult again = loadDxlText("<database xmlns='http://www.lotus.com/dxl' replicaid='" +
                                             timedateHex(db.replicaId) + "'>" + inner + "</database>",
                                         "inner.dxl");
    ASSERT_EQ(again.status, NOERROR);
    expectSameNotes(db, *again.database);
}

} // namespace
} // namespace notesemu
