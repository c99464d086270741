// The DXL loader: item values in canonical form, note metadata, attachments, image resources and
// rich text, as a real database holds them.
#include "DxlLoader.h"
#include "Ods.h"
#include "Composite.h"
#include "DbTestSupport.h"
#include "DxlValues.h"
#include "Log.h"
#include "ValueText.h"

#include <tessel/kit/Values.h>

#include <gtest/gtest.h>

#include <cstring>

namespace notesemu {
namespace {

using namespace test;

std::shared_ptr<Database> load(const kit::Database &source) {
    LoadResult result = loadDxlText(source.toDxl(), "test.dxl");
    EXPECT_EQ(result.status, NOERROR);
    return result.database;
}

std::vector<std::uint8_t> bytesOf(const Item &item) {
    return {item.value.begin(), item.value.end()};
}

const Item &itemOf(const Database &database, NOTEID id, std::string_view name) {
    const Note *note = database.findNote(id);
    EXPECT_NE(note, nullptr);
    const Item *item = note ? findItem(database.itemsOf(*note), name) : nullptr;
    EXPECT_NE(item, nullptr) << name;
    static const Item kMissing;
    return item ? *item : kMissing;
}

TEST(DxlLoader, EveryValueElementBecomesItsCanonicalValue) {
    kit::Database source;
    const kit::DateTime summer = kit::DateTime::at(2024, 7, 15, 9, 25, 30, 17, -240, true);
    const kit::DateTime india = kit::DateTime::at(2024, 3, 1, 13, 24, 22, 81, 330);
    const kit::DateTime dateOnly = kit::DateTime::dateOnly(2026, 7, 20);
    const kit::DateTime timeOnly = kit::DateTime::timeOnly(12, 0, 0, 5);
    kit::Note &note = source.add(kit::Note::document("Memo"));
    note.add(kit::Item::text("Plain", "Hello"));
    note.add(kit::Item::text("Lines", "one\ntwo"));
    note.add(kit::Item::text("Accented", "Caf\xC3\xA9"));
    note.add(kit::Item::textList("List", {"a", "", "ccc"}));
    note.add(kit::Item::number("Number", -12.5));
    note.add(kit::Item::numberList("Numbers", {1, 2.25, 1e300}));
    note.add(kit::Item::dateTime("Summer", summer));
    note.add(kit::Item::dateTime("India", india));
    note.add(kit::Item::dateTime("DateOnly", dateOnly));
    note.add(kit::Item::dateTime("TimeOnly", timeOnly));
    note.add(kit::Item::dateTimeList("Times", {summer, india}, {{dateOnly, summer}}));
    const kit::Unid parent{0x0123456789ABCDEF, 0x1122334455667788};
    note.add(kit::Item::raw("$REF", kit::type::kNoteRefList, kit::noteRefListValue({parent})).summary());
    const auto db = load(source);
    ASSERT_TRUE(db);
    const NOTEID id = source.notes[0].info.noteId;

    EXPECT_EQ(bytesOf(itemOf(*db, id, "Plain")), textValue("Hello"));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "Lines")), textValue(std::string_view("one\0two", 7)));
    // The kit's text list carries the LMBCS bytes of its one entry after the count and length words.
    const kit::Bytes accented = kit::textListValue({"Caf\xC3\xA9"});
    EXPECT_EQ(bytesOf(itemOf(*db, id, "Accented")),
              textValue(std::string_view(reinterpret_cast<const char *>(accented.data()) + 4,
                                         accented.size() - 4)));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "List")),
              withType(TYPE_TEXT_LIST, kit::textListValue({"a", "", "ccc"})));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "Number")), scalarValue(TYPE_NUMBER, -12.5));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "Numbers")),
              withType(TYPE_NUMBER_RANGE, kit::numberRangeValue({1, 2.25, 1e300})));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "Summer")), withType(TYPE_TIME, summer.toTimeDate().bytes()));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "India")), withType(TYPE_TIME, india.toTimeDate().bytes()));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "DateOnly")), withType(TYPE_TIME, dateOnly.toTimeDate().bytes()));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "TimeOnly")), withType(TYPE_TIME, timeOnly.toTimeDate().bytes()));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "Times")),
              withType(TYPE_TIME_RANGE, kit::timeRangeValue({summer.toTimeDate(), india.toTimeDate()},
                                                            {{dateOnly.toTimeDate(), summer.toTimeDate()}})));
    EXPECT_EQ(bytesOf(itemOf(*db, id, "$REF")), withType(TYPE_NOTEREF_LIST, kit::noteRefListValue({parent})));
}

TEST(DxlLoader, TimeDateFieldsFollowThePublishedLayout) {
    // 1996-12-10 14:49:04 EST (daylight saving observed, not in effect) is 0x006CDCC0 / 0x852563FC in
    // the published example; DXL cannot show "observed" for a winter time, so only the date, time
    // and zone parts are compared.
    const auto td = parseDxlDateTime("19961210T144904,00-05", false);
    ASSERT_TRUE(td);
    EXPECT_EQ(td->Innards[0], 0x006CDCC0u);
    EXPECT_EQ(td->Innards[1] & 0x7FFFFFFF, 0x052563FCu);
    // Bombay, 5:30 east: 09:19:04 GMT and 0x652563FC.
    const auto bombay = parseDxlDateTime("19961210T144904,00+0530", false);
    ASSERT_TRUE(bombay);
    EXPECT_EQ(bombay->Innards[0], ((9 * 60 + 19) * 60 + 4) * 100u);
    EXPECT_EQ(bombay->Innards[1], 0x652563FCu);
    for (const char *bad : {"", "2024", "20241301T000000,00+00", "20240230", "20240101T250000,00+00",
                            "20240101T000000,00+5", "20240101T000000,00+0510", "T9999"})
        EXPECT_FALSE(parseDxlDateTime(bad, false)) << bad;
}

TEST(DxlLoader, ItemFlagsFollowTheAttributesAndTheImpliedSummaryRule) {
    kit::Database source;
    kit::Note &note = source.add(kit::Note::document("Memo"));
    note.add(kit::Item::text("Implied", "x"));
    note.add(kit::Item::text("NotSummary", "x").summary(false));
    note.add(kit::Item::raw("RawDefault", 0x0E, {1, 'a'}));
    note.add(kit::Item::raw("RawSummary", 0x0E, {1, 'a'}).summary());
    note.add(kit::Item::textList("Readers", {"CN=A/O=B"}).readers());
    note.add(kit::Item::textList("Authors", {"CN=A/O=B"}).authors());
    note.add(kit::Item::text("Flags", "x").sign().seal().protect());
    note.add(kit::Item::raw("Placeholder", 0, {}).placeholder());
    const auto db = load(source);
    ASSERT_TRUE(db);
    const NOTEID id = source.notes[0].info.noteId;
    const std::pair<const char *, WORD> expected[] = {
        {"Implied", ITEM_SUMMARY},
        {"NotSummary", 0},
        {"RawDefault", 0},
        {"RawSummary", ITEM_SUMMARY},
        {"Readers", ITEM_SUMMARY | ITEM_READERS | ITEM_NAMES},
        {"Authors", ITEM_SUMMARY | ITEM_READWRITERS | ITEM_NAMES},
        {"Flags", ITEM_SUMMARY | ITEM_SIGN | ITEM_SEAL | ITEM_PROTECTED},
        {"Placeholder", ITEM_PLACEHOLDER},
    };
    for (const auto &[name, flags] : expected)
        EXPECT_EQ(itemOf(*db, id, name).flags, flags) << name;
    EXPECT_EQ(bytesOf(itemOf(*db, id, "Placeholder")), (std::vector<std::uint8_t>{0, 0}));
}

TEST(DxlLoader, NotesKeepTheirIdsClassesOriginatorIdsAndItemOrder) {
    kit::Database source;
    kit::Note &form = source.add(kit::Note::formDesign("Memo"));
    form.isDefault = true;
    kit::Note &view = source.add(kit::Note::view("All"));
    view.alias = "AllDocs";
    source.add(kit::Note::folder("Projects"));
    kit::Note raw = kit::Note::raw("filter");
    raw.add(kit::Item::text("$TITLE", "Agent"));
    source.add(std::move(raw));
    kit::Note &memo = source.add(kit::Note::document("Memo"));
    memo.info.sequence = 7;
    memo.info.modified = kit::DateTime::at(2024, 2, 29, 20, 19, 41, 22, -300);
    memo.info.revised = kit::DateTime::at(2024, 2, 29, 20, 0, 0, 0, -300);
    memo.updatedBy = {"CN=Alice Smith/O=Acme"};
    memo.add(kit::Item::text("Subject", "s"));
    memo.add(kit::Item::text("Body", "b"));
    memo.add(kit::Item::text("Subject", "second"));
    const auto db = load(source);
    ASSERT_TRUE(db);
    ASSERT_EQ(db->notes.size(), 5u);
    const WORD classes[] = {NOTE_CLASS_FORM | NOTE_CLASS_DEFAULT, NOTE_CLASS_VIEW, NOTE_CLASS_VIEW,
                            NOTE_CLASS_FILTER, NOTE_CLASS_DOCUMENT};
    for (std::size_t i = 0; i < 5; ++i) {
        const Note *note = db->findNote(source.notes[i].info.noteId);
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->noteClass, classes[i]);
        EXPECT_EQ(unidText({note->oid.File, note->oid.Note}), source.notes[i].info.unid.text());
    }
    EXPECT_EQ(bytesOf(itemOf(*db, source.notes[1].info.noteId, "$TITLE")), textValue("All|AllDocs"));
    EXPECT_EQ(bytesOf(itemOf(*db, source.notes[2].info.noteId, "$Flags")), textValue("F"));
    const Note &note = *db->findNote(memo.info.noteId);
    EXPECT_EQ(note.oid.Sequence, 7u);
    EXPECT_EQ(std::memcmp(&note.modified, memo.info.modified->toTimeDate().innards.data(), 8), 0);
    EXPECT_EQ(std::memcmp(&note.oid.SequenceTime, memo.info.revised->toTimeDate().innards.data(), 8), 0);
    std::vector<std::string> names;
    for (const Item &item : db->itemsOf(note))
        names.emplace_back(item.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Form", "$UpdatedBy", "Subject", "Body", "Subject"}));
    EXPECT_EQ(bytesOf(itemOf(*db, memo.info.noteId, "$UpdatedBy")),
              withType(TYPE_TEXT_LIST, kit::textListValue({"CN=Alice Smith/O=Acme"})));
    EXPECT_EQ(itemOf(*db, memo.info.noteId, "$UpdatedBy").flags, ITEM_SUMMARY | ITEM_NAMES);
}

TEST(DxlLoader, AttachmentsBecomeFileObjectsWithTheirBytesInTheDatabase) {
    kit::Database source;
    kit::Note &memo = source.add(kit::Note::document("Memo"));
    kit::FileAttachment file;
    file.name = "report \xC3\xA9.pdf";
    file.data = {'%', 'P', 'D', 'F', 0, 1, 2, 0xFF};
    file.flags = {"sign", "storedindoc"};
    file.attributes = {"readonly"};
    file.created = kit::DateTime::at(2024, 2, 29, 14, 56, 38, 34, 0);
    file.modified = kit::DateTime::at(2024, 2, 29, 18, 10, 16, 45, -300);
    memo.add(kit::Item::file(file).sign().seal());
    kit::FileAttachment ole = file;
    ole.name = "ole.bin";
    ole.hostType = "bytearrayext";
    ole.flags = {};
    ole.attributes = {};
    memo.add(kit::Item::file(ole));
    const auto db = load(source);
    ASSERT_TRUE(db);
    const Note &note = *db->findNote(memo.info.noteId);
    std::vector<const Item *> files;
    for (const Item &item : db->itemsOf(note))
        if (item.name == "$FILE")
            files.push_back(&item);
    ASSERT_EQ(files.size(), 2u);
    const Item &item = *files[0];
    EXPECT_EQ(item.type(), TYPE_OBJECT);
    EXPECT_EQ(item.flags, ITEM_SUMMARY | ITEM_SIGN | ITEM_SEAL);
    ASSERT_GE(item.data().size(), odsSize<FILEOBJECT>());
    const FILEOBJECT object = fromOds<FILEOBJECT>(item.data().data());
    EXPECT_EQ(+object.Header.ObjectType, OBJECT_FILE);
    EXPECT_EQ(+object.HostType, HOST_MSDOS);
    EXPECT_EQ(+object.CompressionType, COMPRESS_NONE);
    EXPECT_EQ(+object.FileAttributes, ATTRIB_READONLY);
    EXPECT_EQ(+object.Flags, FILEFLAG_SIGN | FILEFLAG_INDOC);
    EXPECT_EQ(+object.FileSize, file.data.size());
    EXPECT_EQ(std::memcmp(&object.FileCreated, file.created->toTimeDate().innards.data(), 8), 0);
    EXPECT_EQ(std::memcmp(&object.FileModified, file.modified->toTimeDate().innards.data(), 8), 0);
    const std::string name(reinterpret_cast<const char *>(item.data().data()) + odsSize<FILEOBJECT>(),
                           object.FileNameLength);
    EXPECT_EQ(item.data().size(), odsSize<FILEOBJECT>() + object.FileNameLength);
    EXPECT_EQ(name.substr(0, 7), "report ");
    const DatabaseObject *bytes = db->findObject(object.Header.RRV);
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes->bytes.begin(), bytes->bytes.end()), file.data);
    const FILEOBJECT second = fromOds<FILEOBJECT>(files[1]->data().data());
    EXPECT_EQ(+second.HostType, HOST_BYTEARRAY_EXT);
    EXPECT_NE(+second.Header.RRV, +object.Header.RRV);
}

TEST(DxlLoader, ImageResourcesCarryTheirPictureAsImageRecords) {
    kit::Database source;
    kit::ImageFile gif;
    gif.format = kit::ImageFile::Format::Gif;
    gif.data = {'G', 'I', 'F', '8', '9', 'a', 40, 0, 30, 0};
    for (int i = 0; i < 25000; ++i)
        gif.data.push_back(static_cast<std::uint8_t>(i * 7));
    kit::Note &image = source.add(kit::Note::imageResource("logo.gif;companylogo", gif));
    const auto db = load(source);
    ASSERT_TRUE(db);
    const Note &note = *db->findNote(image.info.noteId);
    EXPECT_EQ(note.noteClass, NOTE_CLASS_FORM);
    EXPECT_EQ(bytesOf(itemOf(*db, image.info.noteId, "$TITLE")), textValue("logo.gif;companylogo"));
    EXPECT_EQ(bytesOf(itemOf(*db, image.info.noteId, "$Flags")), textValue("i"));
    // What a reader of the picture does: walk the records, take the header's type and the
    // segments' bytes.
    std::vector<std::uint8_t> picture;
    WORD imageType = 0, width = 0, height = 0;
    std::vector<WORD> signatures;
    for (const Item &item : db->itemsOf(note)) {
        if (item.name != "$ImageData")
            continue;
        EXPECT_LE(item.value.size(), 65406u);
        ASSERT_EQ(walkComposite(item.value,
                                [&](const CdRecord &record) -> STATUS {
                                    signatures.push_back(record.type);
                                    if (record.type == 0x007D) {
                                        imageType = word(record.data + 6);
                                        width = word(record.data + 8);
                                        height = word(record.data + 10);
                                    } else if (record.type == 0x007C) {
                                        const std::size_t size = word(record.data + 6);
                                        picture.insert(picture.end(), record.data + 10,
                                                       record.data + 10 + size);
                                    }
                                    return NOERROR;
                                }),
                  NOERROR);
    }
    ASSERT_GE(signatures.size(), 5u);
    EXPECT_EQ(signatures[0], 0x0099);
    EXPECT_EQ(signatures[1], 0x007D);
    EXPECT_EQ(imageType, 1);
    EXPECT_EQ(width, 40);
    EXPECT_EQ(height, 30);
    EXPECT_EQ(picture, gif.data);
}

TEST(DxlLoader, RichTextXmlBecomesCompositeItems) {
    kit::Database source;
    kit::Note &memo = source.add(kit::Note::document("Memo"));
    kit::RichText body;
    body.pardef(kit::ParDef{}).par(1, "First paragraph").par(1, "Second");
    memo.add(kit::Item::richText("Body", body).sign());
    const auto db = load(source);
    ASSERT_TRUE(db);
    const Item &item = itemOf(*db, memo.info.noteId, "Body");
    EXPECT_EQ(item.type(), TYPE_COMPOSITE);
    EXPECT_EQ(item.flags, ITEM_SIGN);
    const std::string text = compositeToText(item.value);
    EXPECT_NE(text.find("First paragraph"), std::string::npos);
    EXPECT_NE(text.find("Second"), std::string::npos);
}

TEST(DxlLoader, SampleMailDatabaseLoads) {
    LogCapture log;
    const LoadResult result = loadDxlFile(TESSEL_SAMPLE_MAIL);
    ASSERT_EQ(result.status, NOERROR) << log.text();
    const Database &db = *result.database;
    EXPECT_EQ(db.title, "Mail of Alice Smith");
    EXPECT_EQ(timedateHex(db.replicaId), "C1257F0A00000001");
    EXPECT_GT(db.notes.size(), 10u);
    EXPECT_TRUE(std::is_sorted(db.notes.begin(), db.notes.end(),
                               [](const Note &a, const Note &b) { return a.id < b.id; }));
    EXPECT_EQ(db.acl.levelOf("CN=Bob Jones/O=Acme"), AccessLevel::Reader);
    EXPECT_EQ(db.acl.levelOf("Anonymous"), AccessLevel::Reader) << "a sample anyone can open";
    EXPECT_FALSE(db.objects.empty());
}

} // namespace
} // namespace notesemu
