// The extraction dispatcher: the rendering table for mail and other notes under every flag
// combination, the root entry, bad indexes and arguments, slot 7 with and without extra subfile
// info (the catalogue restored), and DXL export with and without the pure-XML option.
#include "ExtractFixture.h"

#include <deque>

namespace tessel::test {
namespace {

using kit::Item;
using kit::Note;

enum class Rendering { Dxl, MhtWithHeader, MhtWithoutHeader, AllFields, PlainWithHeader, BodyOnly, Unknown };

const char *renderingName(Rendering r) {
    switch (r) {
    case Rendering::Dxl:
        return "DXL";
    case Rendering::MhtWithHeader:
        return "MHT with header";
    case Rendering::MhtWithoutHeader:
        return "MHT without header";
    case Rendering::AllFields:
        return "all fields";
    case Rendering::PlainWithHeader:
        return "plain with header";
    case Rendering::BodyOnly:
        return "body only";
    default:
        return "unknown";
    }
}

// Tells the rendering from the bytes written.
Rendering classify(const std::string &out) {
    if (out.find("<note class='document' xmlns='http://www.lotus.com/dxl'") != std::string::npos)
        return Rendering::Dxl;
    if (out.rfind(kEnvelope + kHead, 0) == 0)
        return out.find("<B>From: </B>") != std::string::npos ? Rendering::MhtWithHeader
                                                              : Rendering::MhtWithoutHeader;
    if (out.rfind("Form: ", 0) == 0)
        return Rendering::AllFields;
    if (out.rfind("From: Alice\r\n", 0) == 0)
        return Rendering::PlainWithHeader;
    if (out == "\r\nThe body text")
        return Rendering::BodyOnly;
    return Rendering::Unknown;
}

struct TableRow {
    const char *name;
    bool dxl, allFields, mail;
    uint32_t flags;
    Rendering expected;
};
void PrintTo(const TableRow &c, std::ostream *os) {
    *os << c.name;
}

class RenderingTable : public ExtractTest, public ::testing::WithParamInterface<TableRow> {};

TEST_P(RenderingTable, FirstMatchingRowWins) {
    const TableRow &row = GetParam();
    option("ExportDXL", row.dxl ? "1" : "0");
    option("ExtractAllFields", row.allFields ? "1" : "0");
    kit::Database db;
    Note note = Note::document(row.mail ? "Memo" : "Report");
    if (row.mail)
        note.add(Item::text("From", "Alice"));
    note.add(Item::text("Body", "The body text"));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(sub(0).bNoteIsMail, row.mail ? 1 : 0);

    std::string out = extractOk(0, row.flags);
    Rendering got = classify(out);
    EXPECT_EQ(got, row.expected) << "got " << renderingName(got) << ", expected "
                                 << renderingName(row.expected) << ":\n"
                                 << out;
}

// Every option combination, note kind and flag value, with the rendering the table gives it.
std::vector<TableRow> tableRows() {
    using R = Rendering;
    static std::deque<std::string> names; // the rows point into it
    std::vector<TableRow> rows;
    for (uint32_t flags : {0u, 2u, 4u, 6u}) {
        for (bool mail : {true, false}) {
            const bool formattedMail = mail && (flags & QLExtractFlag_GetFormattedBody);
            const R mht = (flags & QLExtractFlag_ExcludeMailHeader) ? R::MhtWithoutHeader : R::MhtWithHeader;
            const R plain =
                mail && !(flags & QLExtractFlag_ExcludeMailHeader) ? R::PlainWithHeader : R::BodyOnly;
            const std::string suffix =
                std::string(mail ? "Mail" : "Document") + "Flags" + std::to_string(flags);
            auto add = [&](const char *prefix, bool dxl, bool allFields, R expected) {
                names.push_back(prefix + suffix);
                rows.push_back({names.back().c_str(), dxl, allFields, mail, flags, expected});
            };
            add("Dxl", true, false, R::Dxl);
            add("DxlBeforeAllFields", true, true, R::Dxl);
            add("AllFields", false, true, formattedMail ? mht : R::AllFields);
            add("Default", false, false, formattedMail ? mht : plain);
        }
    }
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Dispatch, RenderingTable, ::testing::ValuesIn(tableRows()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ExtractTest, TemplatesWriteTheFieldsOfAFormattedMemo) {
    option("ExtractByTemplate", "1");
    host->setHostDirectory(shareDirectory());
    kit::Database db;
    db.add(memo("templated"));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(openStatus, 0);
    ASSERT_GT(pOpen->cTemplates, 0);
    std::string out = extractOk(0, QLExtractFlag_GetFormattedBody);
    EXPECT_TRUE(startsWith(out, kEnvelope)) << out;
    EXPECT_FALSE(startsWith(out, kEnvelope + kHead)) << "the template writes the HTML part";
    EXPECT_TRUE(out.ends_with(kClosing));
    EXPECT_TRUE(logged("INFO nsfExtractMailFields(): Extracting mail fields..."));
    // With the header left out the templates are not used; the plain rendering never uses them.
    EXPECT_TRUE(startsWith(extractOk(0, QLExtractFlag_GetFormattedBody | QLExtractFlag_ExcludeMailHeader),
                           kEnvelope + kHead));
    EXPECT_TRUE(startsWith(extractOk(0, 0), "From: CN=Alice Smith/O=Acme\r\n"));
}

TEST_F(ExtractTest, TemplatePathWithoutTemplatesWritesNothing) {
    option("ExtractByTemplate", "1");
    host->setHostDirectory(shareDirectory());
    kit::Database db;
    db.add(memo("templated"));
    ASSERT_NE(open(db), nullptr);
    // As a context whose templates are gone would be: the path must not write a message without
    // its fields.
    const int32_t cTemplates = pOpen->cTemplates;
    pOpen->cTemplates = 0;
    std::string out;
    EXPECT_EQ(extract(0, QLExtractFlag_GetFormattedBody, out), QLSTATUS_NO_TEMPLATES);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(logged("ERROR nsfExtractMailFields(): No templates loaded for template extraction"));
    pOpen->cTemplates = cTemplates;
    const int32_t nMain = pOpen->nMainTemplate;
    pOpen->nMainTemplate = 0;
    EXPECT_EQ(extract(0, QLExtractFlag_GetFormattedBody, out), QLSTATUS_NO_MAIN_TEMPLATE);
    EXPECT_EQ(out, "");
    pOpen->nMainTemplate = nMain;
}

TEST_F(ExtractTest, RootEntryWritesNothing) {
    kit::Database db;
    db.add(memo("one"));
    ASSERT_NE(open(db, CNVO_CREATEROOTDIR), nullptr);
    ASSERT_EQ(sub(0).subFileType, QLSubFileType_Folder);
    quillon::MemoryIOObject out;
    EXPECT_EQ(extractor().extract(0, out.get(), 0), 0);
    EXPECT_EQ(out.openCount(), 0);
    EXPECT_EQ(out.data(), "");
    EXPECT_TRUE(startsWith(extractOk(1, 0), "From: CN=Alice Smith/O=Acme\r\n"))
        << "the memo follows the root";
}

TEST_F(ExtractTest, IndexOutOfRangeWritesNothing) {
    kit::Database db;
    db.add(memo("one"));
    db.add(memo("two"));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 2);
    for (int32_t index : {2, 3, -1, INT32_MIN, INT32_MAX}) {
        quillon::MemoryIOObject out;
        EXPECT_EQ(extractor().extract(index, out.get(), QLExtractFlag_GetFormattedBody),
                  QLSTATUS_BAD_ARGUMENT)
            << index;
        EXPECT_EQ(out.openCount(), 0) << index;
        EXPECT_EQ(out.data(), "") << index;
    }
    EXPECT_TRUE(logged("ERROR nsfExtractSubFileToIOobj(): Invalid subfile index 2 (# subfiles 2)"));
    EXPECT_TRUE(startsWith(extractOk(1, 0), "From: ")) << "the last index is extracted";
}

TEST_F(ExtractTest, MissingArgumentsGiveBadArgument) {
    kit::Database db;
    db.add(memo("one"));
    ASSERT_NE(open(db), nullptr);
    quillon::MemoryIOObject out;
    QLSubFileExtractInfo info{};
    int fifth = 0;
    QLExtractArgsEx args{0, nullptr};
    EXPECT_EQ(ops.fpExtractSubFileToIOobj(nullptr, 0, out.get(), &info, &fifth, 0), QLSTATUS_BAD_ARGUMENT);
    EXPECT_EQ(ops.fpExtractSubFileToIOobj(pOpen, 0, nullptr, &info, &fifth, 0), QLSTATUS_BAD_ARGUMENT);
    EXPECT_EQ(ops.fpExtractSubFileToIOobj(pOpen, 0, out.get(), nullptr, &fifth, 0), QLSTATUS_BAD_ARGUMENT);
    EXPECT_EQ(ops.fpExtractSubFileToIOobj(pOpen, 0, out.get(), &info, nullptr, 0), QLSTATUS_BAD_ARGUMENT);
    EXPECT_EQ(ops.fpExtractSubFileToIOobjEx(pOpen, 0, out.get(), &info, &fifth, nullptr),
              QLSTATUS_BAD_ARGUMENT);
    EXPECT_EQ(ops.fpExtractSubFileToIOobjEx(pOpen, 0, out.get(), &info, nullptr, &args),
              QLSTATUS_BAD_ARGUMENT);
    EXPECT_EQ(out.openCount(), 0);
}

TEST_F(ExtractTest, ExtractInfoIsReturnedUnchanged) {
    kit::Database db;
    db.add(memo("one"));
    ASSERT_NE(open(db), nullptr);
    quillon::MemoryIOObject out;
    char path[] = "/out/one.mail";
    char name[] = "one.mail";
    QLSubFileExtractInfo info{sizeof(QLSubFileExtractInfo), path, name, 0x25};
    int fifth = 0;
    EXPECT_EQ(ops.fpExtractSubFileToIOobj(pOpen, 0, out.get(), &info, &fifth, 0), 0);
    EXPECT_EQ(info.filePath, path);
    EXPECT_EQ(info.fileName, name);
    EXPECT_EQ(info.infoFlag, 0x25u);
    EXPECT_TRUE(logged("QLSubFileExtractInfoFlag_NeedsExtraction 1, _FileCreated 0, _CharsetConverted 1"));
    EXPECT_TRUE(
        logged("QLSubFileExtractInfoFlag_External 0, _FolderCreated 0, _NonFormattedBodyExtracted 1"));
}

class SlotSeven : public ExtractTest {
protected:
    void SetUp() override {
        ExtractTest::SetUp();
        kit::Database db;
        db.add(memo("listed"));
        // A note the catalogue leaves out (not a document) but that slot 7 can name by its ID.
        Note hidden = Note::raw("form");
        hidden.add(Item::text("From", "Carol"));
        hidden.add(Item::text("Body", "hidden body"));
        hidden.add(Item::file(file("one.txt", {'1'})));
        hidden.add(Item::file(file("two.txt", {'2', '2'})));
        hiddenId = db.add(std::move(hidden)).info.noteId;
        ASSERT_NE(open(db), nullptr);
        ASSERT_EQ(openStatus, 0);
        ASSERT_EQ(pOpen->numSubFiles, 1);
    }
    uint32_t hiddenId = 0;
};

TEST_F(SlotSeven, WithoutExtraInfoBehavesAsSlotFive) {
    std::string five, seven;
    EXPECT_EQ(extractor().extract(0, five, QLExtractFlag_GetFormattedBody), 0);
    EXPECT_EQ(extractor().extractEx(0, seven, QLExtractFlag_GetFormattedBody, nullptr), 0);
    EXPECT_EQ(seven, five);
    EXPECT_TRUE(logged("INFO nsfExtractSubFileToIOobjEx(): Calling nsfExtractSubFileToIOobj()..."));
    std::string bad;
    EXPECT_EQ(extractor().extractEx(1, bad, 0, nullptr), QLSTATUS_BAD_ARGUMENT);
}

TEST_F(SlotSeven, NoteWithAttachmentsIntoOneObjectAndCatalogueRestored) {
    const int32_t before = catalogue().count().value;
    QLExtraSubFileInfo extra{sizeof(QLExtraSubFileInfo), hiddenId, QLExtraSubFileKind_Note};
    quillon::MemoryIOObject out;
    EXPECT_EQ(extractor().extractEx(0, out.get(), 0, &extra), 0);
    EXPECT_EQ(out.openCount(), 3) << "the note, then its two attachments";
    EXPECT_EQ(out.closeCount(), 3);
    // Not a document, so not mail: the note gives its body text, each attachment its bytes.
    EXPECT_EQ(out.data(), "\r\nhidden body"
                          "1"
                          "22");
    EXPECT_EQ(catalogue().count().value, before);
    EXPECT_EQ(pOpen->numSubFiles, before);
    EXPECT_TRUE(logged("INFO nsfExtractSubFileToIOobjEx(): Note subfiles 3"));
    EXPECT_TRUE(startsWith(extractOk(0, 0), "From: CN=Alice Smith/O=Acme")) << "the catalogue still works";
}

struct ExtraCase {
    const char *name;
    uint32_t noteId; // 0 stands for the hidden note's ID
    int32_t kind;
    int expected;
};
void PrintTo(const ExtraCase &c, std::ostream *os) {
    *os << c.name;
}

class SlotSevenInvalid : public SlotSeven, public ::testing::WithParamInterface<ExtraCase> {};

TEST_P(SlotSevenInvalid, StatusAndCatalogueUnchanged) {
    const ExtraCase &c = GetParam();
    QLExtraSubFileInfo extra{sizeof(QLExtraSubFileInfo), c.noteId == 0 ? hiddenId : c.noteId, c.kind};
    if (c.noteId == 1)
        extra.dwNoteID = 0;
    quillon::MemoryIOObject out;
    int status = extractor().extractEx(0, out.get(), 0, &extra);
    EXPECT_EQ(status, c.expected);
    EXPECT_EQ(out.data(), "");
    EXPECT_EQ(pOpen->numSubFiles, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Dispatch, SlotSevenInvalid,
    ::testing::Values(ExtraCase{"KindNotFour", 0, 3, QLSTATUS_BAD_ARGUMENT},
                      ExtraCase{"NoteIdZero", 1, QLExtraSubFileKind_Note, QLSTATUS_BAD_ARGUMENT},
                      ExtraCase{"NoSuchNote", 0x7FFC, QLExtraSubFileKind_Note, QLSTATUS_INTERNAL}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(SlotSeven, FailingEntryIsReportedAndTheRestStillWritten) {
    QLExtraSubFileInfo extra{sizeof(QLExtraSubFileInfo), hiddenId, QLExtraSubFileKind_Note};
    quillon::MemoryIOObject out;
    out.failWrite(1); // the note's first line
    int status = extractor().extractEx(0, out.get(), 0, &extra);
    EXPECT_EQ(status, QLSTATUS_OUTPUT_FAILED) << "a failed entry is not hidden by later successes";
    EXPECT_TRUE(out.data().ends_with("122")) << "the attachments are still written";
    EXPECT_EQ(pOpen->numSubFiles, 1);
}

class DxlExport : public ExtractTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DxlExport, PropertyByPureXmlOption) {
    const bool pureXml = GetParam();
    option("ExportDXL", "1");
    option("ExportDXL_PureXML", pureXml ? "1" : "0");
    kit::Database db;
    Note note = memo("exported");
    note.add(Item::file(file("kept.txt", {'k'})));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 1) << "a DXL export carries the attachments inside the note";
    std::string dxl = extractOk(0, QLExtractFlag_GetFormattedBody | QLExtractFlag_ExcludeMailHeader);
    EXPECT_TRUE(has(dxl, "<note class='document' xmlns='http://www.lotus.com/dxl'")) << dxl;
    EXPECT_TRUE(has(dxl, "exported"));
    EXPECT_TRUE(has(dxl, "kept.txt"));
    // Property 35 (bitmaps as GIF, rich text left as DXL) or property 6 (rich text as item data):
    // the emulated exporter writes DXL rich text or item data, and its result log is logged.
    EXPECT_TRUE(has(dxl, pureXml ? "<richtext>" : "<rawitemdata type='1'>")) << dxl;
    EXPECT_TRUE(logged("INFO nsfExtractNoteDXL(): DXL Export Result Log..."));
    EXPECT_EQ(logged("Rich text is exported as DXL rich text where every record has an XML form (paragraphs, "
                     "runs, links, buttons, hotspots, pictures, rules, tables, sections, regions, layers), and "
                     "as item data otherwise."),
              pureXml);
    EXPECT_TRUE(logged("NOTES_API nsfExtractNoteDXL(): Returned from Notes API DXLGetExporterProperty()"));
}

INSTANTIATE_TEST_SUITE_P(Dispatch, DxlExport, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "PureXml" : "ItemData"; });

TEST_F(ExtractTest, DxlExportWriteFailureIsReported) {
    option("ExportDXL", "1");
    kit::Database db;
    db.add(memo("exported"));
    ASSERT_NE(open(db), nullptr);
    quillon::MemoryIOObject out;
    out.failWrite(1);
    EXPECT_EQ(extractor().extract(0, out.get(), 0), QLSTATUS_OUTPUT_FAILED);
    EXPECT_EQ(out.closeCount(), 1);
    EXPECT_TRUE(logged("ERROR nsfExtractNoteDXL(): Error writing DXL to I/O object (after 0 bytes)"));
}

} // namespace
} // namespace tessel::test
