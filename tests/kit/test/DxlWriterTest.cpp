#include "XmlTree.h"

#include "tessel/kit/CdWriter.h"
#include "tessel/kit/Dxl.h"
#include "tessel/kit/Random.h"

#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace tessel::kit {
namespace {

using test::parseXml;
using test::XmlDocument;
using test::XmlNode;

constexpr const char *kNs = "http://www.lotus.com/dxl|";

Database sampleDatabase() {
    Database db;
    db.info.title = "Test & <Title>";
    db.info.replicaId.value = 0x852585D0004D33F6ULL;
    db.info.defaultAccess = "reader";
    db.info.acl = {{"CN=Alice/O=Acme", "manager", "person", {"[Admin]"}},
                   {"CN=Bob/O=Acme", "depositor", "", {}}};
    db.info.roles = {"[Admin]"};
    return db;
}

XmlDocument parsed(const Database &db) {
    XmlDocument doc = parseXml(db.toDxl());
    EXPECT_TRUE(doc.error.empty()) << doc.error;
    return doc;
}

const XmlNode *itemNamed(const XmlNode &note, std::string_view name) {
    for (const XmlNode *item : note.all("item"))
        if (item->attr("name") == name)
            return item;
    return nullptr;
}

TEST(DxlWriter, DatabaseRootAclAndNamespace) {
    Database db = sampleDatabase();
    db.add(Note::document("Memo"));
    const XmlDocument doc = parsed(db);
    ASSERT_TRUE(doc.root);
    EXPECT_EQ(doc.root->name, std::string(kNs) + "database");
    EXPECT_EQ(doc.root->attr("replicaid"), "852585D0004D33F6");
    EXPECT_EQ(doc.root->attr("title"), "Test & <Title>");
    EXPECT_EQ(doc.root->attr("version"), "9.0");
    const XmlNode *acl = doc.root->first("acl");
    ASSERT_TRUE(acl);
    const auto entries = acl->all("aclentry");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0]->attr("name"), "-Default-");
    EXPECT_EQ(entries[0]->attr("default"), "true");
    EXPECT_EQ(entries[0]->attr("level"), "reader");
    EXPECT_EQ(entries[1]->attr("level"), "manager");
    EXPECT_EQ(entries[1]->first("role")->text, "[Admin]");
    EXPECT_EQ(entries[2]->attr("level"), "depositor");
    EXPECT_EQ(acl->first("role")->text, "[Admin]");
}

TEST(DxlWriter, NoteElementsAndNoteInfo) {
    Database db = sampleDatabase();
    Note memo = Note::document("Memo");
    memo.info.noteId = 0x1A2;
    memo.info.unid = Unid{0x0F1E2D3C4B5A6978ULL, 0x8796A5B4C3D2E1F0ULL};
    memo.info.sequence = 3;
    memo.info.created = DateTime::at(2024, 1, 15, 9, 25, 30, 17, -300);
    memo.updatedBy = {"CN=Ada Writer/O=Example"};
    memo.revisions = {DateTime::at(2024, 1, 15, 9, 25, 31, 2, -300)};
    db.add(memo);
    db.add(Note::raw("icon")).isDefault = true;
    db.add(Note::formDesign("Memo")).alias = "M";
    db.add(Note::view("All"));
    db.add(Note::folder("Projects"));
    db.add(Note::imageResource("logo.png;logo", ImageFile{ImageFile::Format::Png, {0x89, 'P', 'N', 'G'}}));
    const XmlDocument doc = parsed(db);
    const auto &kids = doc.root->children;
    ASSERT_EQ(kids.size(), 7u);
    const XmlNode &d = *kids[1];
    EXPECT_EQ(d.local(), "document");
    EXPECT_EQ(d.attr("form"), "Memo");
    const XmlNode *info = d.first("noteinfo");
    EXPECT_EQ(info->attr("noteid"), "1a2");
    EXPECT_EQ(info->attr("unid"), "0F1E2D3C4B5A69788796A5B4C3D2E1F0");
    EXPECT_EQ(info->attr("sequence"), "3");
    EXPECT_EQ(info->first("created")->first("datetime")->text, "20240115T092530,17-05");
    EXPECT_EQ(d.first("updatedby")->first("name")->text, "CN=Ada Writer/O=Example");
    EXPECT_EQ(d.first("revisions")->first("datetime")->text, "20240115T092531,02-05");
    EXPECT_EQ(kids[2]->local(), "note");
    EXPECT_EQ(kids[2]->attr("class"), "icon");
    EXPECT_EQ(kids[2]->attr("default"), "true");
    EXPECT_EQ(kids[3]->local(), "form");
    EXPECT_EQ(kids[3]->attr("alias"), "M");
    EXPECT_EQ(kids[4]->local(), "view");
    EXPECT_EQ(kids[5]->local(), "folder");
    EXPECT_EQ(kids[5]->attr("name"), "Projects");
    EXPECT_EQ(kids[6]->local(), "imageresource");
    EXPECT_EQ(test::decodeBase64(kids[6]->first("png")->text), (Bytes{0x89, 'P', 'N', 'G'}));
    // Missing IDs were assigned: note IDs multiples of 4, distinct UNIDs.
    const std::string unid2 = kids[2]->first("noteinfo")->attr("unid");
    EXPECT_EQ(unid2.size(), 32u);
    EXPECT_NE(unid2, kids[3]->first("noteinfo")->attr("unid"));
    EXPECT_EQ(std::stoul(kids[3]->first("noteinfo")->attr("noteid"), nullptr, 16) % 4, 0u);
}

TEST(DxlWriter, ValueElementsAndSummaryRule) {
    Database db = sampleDatabase();
    Note &n = db.add(Note::document("Doc"));
    n.add(Item::text("T", "plain"));
    n.add(Item::text("NotSummary", "x").summary(false));
    n.add(Item::textList("L", {"a", ""}).names());
    n.add(Item::number("N", 1.5));
    n.add(Item::numberList("NL", {1, -2, 1e20}));
    n.add(Item::dateTime("D", DateTime::at(2024, 7, 1, 12, 0, 0, 0, 60, true)));
    n.add(Item::dateTimeList("DL", {DateTime::dateOnly(2024, 1, 2)},
                             {{DateTime::timeOnly(8, 0, 0), DateTime::timeOnly(9, 30, 0)}}));
    n.add(Item::raw("$REF", 0x0004, Bytes{1, 0}).summary());
    n.add(Item::raw("Hdr", 0x0502, Bytes{1}));
    n.add(Item::raw("Placeholder", 0, {}).placeholder());
    n.add(Item::formula("F", "@If(a < b; \"x\"; \"y\")"));
    n.add(Item::textList("R", {"[Admin]"}).readers());
    n.add(Item::textList("A", {"CN=A/O=B"}).authors().protect().sign().seal());
    const XmlDocument doc = parsed(db);
    const XmlNode &note = *doc.root->children[1];

    EXPECT_EQ(itemNamed(note, "T")->first("text")->text, "plain");
    EXPECT_EQ(itemNamed(note, "T")->attr("summary"), "");
    EXPECT_EQ(itemNamed(note, "NotSummary")->attr("summary"), "false");
    const XmlNode *list = itemNamed(note, "L");
    EXPECT_EQ(list->attr("names"), "true");
    ASSERT_EQ(list->first("textlist")->all("text").size(), 2u);
    EXPECT_EQ(itemNamed(note, "N")->first("number")->text, "1.5");
    const auto numbers = itemNamed(note, "NL")->first("numberlist")->all("number");
    ASSERT_EQ(numbers.size(), 3u);
    EXPECT_EQ(numbers[1]->text, "-2");
    EXPECT_EQ(numbers[2]->text, "1e+20");
    const XmlNode *dt = itemNamed(note, "D")->first("datetime");
    EXPECT_EQ(dt->text, "20240701T120000,00+01");
    EXPECT_EQ(dt->attr("dst"), "true");
    const XmlNode *dl = itemNamed(note, "DL")->first("datetimelist");
    EXPECT_EQ(dl->first("datetime")->text, "20240102");
    const auto pair = dl->first("datetimepair")->all("datetime");
    ASSERT_EQ(pair.size(), 2u);
    EXPECT_EQ(pair[1]->text, "T093000,00");
    EXPECT_EQ(dl->mixed, "<datetime><datetimepair>") << "single values come before pairs";
    const XmlNode *ref = itemNamed(note, "$REF");
    EXPECT_EQ(ref->attr("summary"), "true");
    EXPECT_EQ(ref->first("rawitemdata")->attr("type"), "4");
    EXPECT_EQ(itemNamed(note, "Hdr")->first("rawitemdata")->attr("type"), "502");
    EXPECT_EQ(itemNamed(note, "Hdr")->attr("summary"), "");
    EXPECT_EQ(itemNamed(note, "Placeholder")->attr("placeholder"), "true");
    EXPECT_EQ(itemNamed(note, "Placeholder")->first("rawitemdata")->attr("type"), "0");
    EXPECT_EQ(itemNamed(note, "F")->first("formula")->text, "@If(a < b; \"x\"; \"y\")");
    EXPECT_EQ(itemNamed(note, "R")->attr("readers"), "true");
    EXPECT_EQ(itemNamed(note, "R")->attr("names"), "true");
    const XmlNode *a = itemNamed(note, "A");
    for (const char *flag : {"authors", "names", "protected", "sign", "seal"})
        EXPECT_EQ(a->attr(flag), "true") << flag;
}

TEST(DxlWriter, HostileNamesAndValuesSurviveEscaping) {
    Database db = sampleDatabase();
    const std::string hostileName = "]]> <b>&amp; 'q' \"d\"\ttab\nline";
    Note &n = db.add(Note::document(hostileName));
    n.add(Item::text(hostileName, "a]]>b<c&d>e\rf"));
    n.add(Item::text("Controls", std::string("x\x01y\ny") + '\0' + "z\xEF\xBF\xBF"));
    n.add(Item::textList("List", {"<![CDATA[", "--><!--"}));
    RichText rt;
    rt.pardef({});
    Par p;
    p.def = 1;
    p.text("]]>&<x>\n\x02").run({"Cou'rier", "10pt", "#ff0000", "bold"}, "in <run>");
    rt.par(std::move(p));
    n.add(Item::richText("Body", std::move(rt)));
    const XmlDocument doc = parsed(db);
    const XmlNode &note = *doc.root->children[1];
    EXPECT_EQ(note.attr("form"), hostileName);
    const XmlNode *item = itemNamed(note, hostileName);
    ASSERT_TRUE(item);
    EXPECT_EQ(item->first("text")->text, "a]]>b<c&d>e\rf");

    const XmlNode *controls = itemNamed(note, "Controls")->first("text");
    EXPECT_EQ(controls->mixed, "x<nonxmlchar>y<break>y<nonxmlchar>z<nonxmlchar>");
    const auto nonxml = controls->all("nonxmlchar");
    ASSERT_EQ(nonxml.size(), 3u);
    EXPECT_EQ(nonxml[0]->attr("value"), "1");
    EXPECT_EQ(nonxml[1]->attr("value"), "0");
    EXPECT_EQ(nonxml[2]->attr("value"), "FFFF");
    const auto entries = itemNamed(note, "List")->first("textlist")->all("text");
    EXPECT_EQ(entries[0]->text, "<![CDATA[");
    EXPECT_EQ(entries[1]->text, "--><!--");

    const XmlNode *par = itemNamed(note, "Body")->first("richtext")->first("par");
    ASSERT_TRUE(par);
    EXPECT_EQ(par->mixed, "]]>&<x><break><nonxmlchar><run>");
    const XmlNode *run = par->first("run");
    EXPECT_EQ(run->text, "in <run>");
    EXPECT_EQ(run->first("font")->attr("name"), "Cou'rier");
    EXPECT_EQ(run->first("font")->attr("style"), "bold");
}

TEST(DxlWriter, RejectsWhatDxlCannotExpressWithoutWritingAnything) {
    std::ostringstream out;
    DxlWriter writer(out, sampleDatabase().info);
    const std::uint64_t before = writer.bytesWritten();
    Note badName = Note::document("Memo");
    badName.add(Item::text(std::string("a\x01") + "b", "x"));
    EXPECT_THROW(writer.write(badName), std::invalid_argument);
    Note badUtf8 = Note::document("Memo");
    badUtf8.add(Item::text("T", "\xC3("));
    EXPECT_THROW(writer.write(badUtf8), std::invalid_argument);
    Note overlong = Note::document("Memo");
    overlong.add(Item::text("T", "\xC0\xAF"));
    EXPECT_THROW(writer.write(overlong), std::invalid_argument);
    Note nan = Note::document("Memo");
    nan.add(Item::number("N", std::numeric_limits<double>::quiet_NaN()));
    EXPECT_THROW(writer.write(nan), std::invalid_argument);
    EXPECT_EQ(writer.bytesWritten(), before);
    writer.finish();
    EXPECT_EQ(writer.bytesWritten(), out.str().size());
    EXPECT_TRUE(parseXml(out.str()).error.empty());
}

TEST(DxlWriter, AttachmentsAreBase64ByteExact) {
    Database db = sampleDatabase();
    Note &n = db.add(Note::document("Memo"));
    Random random(5);
    for (std::size_t size : {0u, 1u, 2u, 3u, 57u, 1000u}) {
        FileAttachment f;
        f.name = "f" + std::to_string(size) + ".bin";
        f.data.resize(size);
        random.fill(f.data);
        f.created = DateTime::at(2024, 1, 1, 0, 0, 0);
        f.modified = DateTime::at(2024, 1, 2, 0, 0, 0);
        f.desiredCompression = "lz1";
        n.add(Item::file(std::move(f)).sign());
    }
    const std::string text = db.toDxl();
    const XmlDocument doc = parseXml(text);
    ASSERT_TRUE(doc.error.empty()) << doc.error;
    const auto items = doc.root->children[1]->all("item");
    ASSERT_EQ(items.size(), 6u);
    Random again(5);
    for (const XmlNode *item : items) {
        EXPECT_EQ(item->attr("name"), "$FILE");
        EXPECT_EQ(item->attr("summary"), "true");
        const XmlNode *file = item->first("object")->first("file");
        const std::size_t size = std::stoul(file->attr("size"));
        Bytes expected(size);
        again.fill(expected);
        EXPECT_EQ(test::decodeBase64(file->first("filedata")->text), expected) << file->attr("name");
        EXPECT_EQ(file->attr("hosttype"), "msdos");
        EXPECT_EQ(file->attr("compression"), "none");
        EXPECT_EQ(file->attr("desiredcompression"), "lz1");
        EXPECT_EQ(file->attr("flags"), "storedindoc");
        EXPECT_EQ(file->first("modified")->first("datetime")->text, "20240102T000000,00+00");
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.find('<') == std::string::npos) {
            EXPECT_LE(line.size(), 76u);
        }
    }
}

TEST(DxlWriter, RawRichTextIsTheCdStreamWithoutTypeWord) {
    CdWriter cd;
    cd.paragraph().pabReference(1).text({}, "Hi");
    Database db = sampleDatabase();
    db.add(Note::document("Memo")).add(Item::richTextRaw("Body", cd.bytes()).sign().seal());
    const XmlDocument doc = parsed(db);
    const XmlNode *raw = doc.root->children[1]->first("item")->first("rawitemdata");
    EXPECT_EQ(raw->attr("type"), "1");
    EXPECT_EQ(test::decodeBase64(raw->text), cd.bytes());
}

TEST(DxlWriter, FolderMembershipAndEncryptionConventions) {
    Database db = sampleDatabase();
    const Note inbox = db.add(Note::folder("Inbox"));
    const Note projects = db.add(Note::folder("Projects"));
    Note memo = Note::document("Memo");
    memo.addToFolder(inbox);
    memo.addToFolder(projects);
    memo.add(Item::text("Body", "secret").seal());
    memo.sealFor({"CN=Alice Smith/O=Acme"});
    memo.sealFor({"CN=Bob/O=Acme"});
    db.add(memo);
    EXPECT_THROW(memo.addToFolder(memo), std::invalid_argument);
    const XmlDocument doc = parsed(db);
    const XmlNode &note = *doc.root->children[3];
    const auto refs = itemNamed(note, "$FolderRefs")->first("textlist")->all("text");
    ASSERT_EQ(refs.size(), 2u);
    EXPECT_EQ(refs[0]->text, inbox.info.unid.text());
    EXPECT_EQ(refs[0]->text, doc.root->children[1]->first("noteinfo")->attr("unid"));
    EXPECT_EQ(refs[1]->text, projects.info.unid.text());
    const XmlNode *sealedFor = itemNamed(note, "$SealedFor");
    EXPECT_EQ(sealedFor->attr("names"), "true");
    EXPECT_EQ(sealedFor->first("textlist")->all("text").size(), 2u);
    EXPECT_EQ(itemNamed(note, "Body")->attr("seal"), "true");
}

TEST(DxlWriter, SameCallsGiveTheSameBytes) {
    auto build = [](std::uint64_t seed) {
        Database db = sampleDatabase();
        db.ids = IdAllocator(seed);
        for (int i = 0; i < 5; ++i)
            db.add(Note::document("Memo")).add(Item::text("Subject", "s" + std::to_string(i)));
        return db.toDxl();
    };
    EXPECT_EQ(build(3), build(3));
    EXPECT_NE(build(3), build(4));
}

} // namespace
} // namespace tessel::kit
