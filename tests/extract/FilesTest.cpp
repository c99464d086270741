// Attachments and OLE objects: byte-identical copies of every size through the copy buffer, the
// right item for each ordinal, a vanished or changed ordinal, and the temporary file removed on
// every path.
#include "ExtractFixture.h"

#include "nsf/items/buffers.h"

namespace tessel::test {
namespace {

using kit::Item;
using kit::Note;

struct SizeCase {
    const char *name;
    size_t size;
    int writes; // writes of the copy buffer (4096 bytes)
};

class AttachmentSizes : public ExtractTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(AttachmentSizes, ByteIdenticalInBufferSizedWrites) {
    const SizeCase &c = GetParam();
    kit::Bytes data = pattern(c.size, static_cast<unsigned>(c.size));
    kit::Database db;
    Note note = memo("sizes");
    note.add(Item::file(file("data.bin", data)));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 2);
    ASSERT_EQ(pOpen->BufferTemp->ucbDataSize, 4096u);

    quillon::MemoryIOObject out;
    ASSERT_EQ(extractor().extract(1, out.get(), 0), 0);
    EXPECT_TRUE(out.data() == text(data)) << "the copy differs from the attachment (" << out.data().size()
                                          << " of " << c.size << " bytes)";
    EXPECT_EQ(out.openCount(), 1);
    EXPECT_EQ(out.closeCount(), 1);
    EXPECT_TRUE(tempFilesLeft().empty());

    // Exactly c.writes writes: failing write number c.writes fails the extraction, failing the
    // next one (which never comes) does not.
    if (c.writes > 0) {
        quillon::MemoryIOObject failing;
        failing.failWrite(static_cast<uint64_t>(c.writes));
        EXPECT_EQ(extractor().extract(1, failing.get(), 0), QLSTATUS_OUTPUT_FAILED);
        EXPECT_EQ(failing.closeCount(), 1) << "the object is closed after a failed write";
    }
    quillon::MemoryIOObject spare;
    spare.failWrite(static_cast<uint64_t>(c.writes) + 1);
    EXPECT_EQ(extractor().extract(1, spare.get(), 0), 0);
    EXPECT_TRUE(tempFilesLeft().empty()) << "the temporary file is removed after a failure too";
}

INSTANTIATE_TEST_SUITE_P(Files, AttachmentSizes,
                         ::testing::Values(SizeCase{"Empty", 0, 0}, SizeCase{"OneByte", 1, 1},
                                           SizeCase{"ExactlyOneBuffer", 4096, 1},
                                           SizeCase{"ThreeWrites", 10000, 3},
                                           SizeCase{"SeveralMegabytes", 5 * 1024 * 1024 + 17, 1281}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ExtractTest, EachOrdinalGivesItsOwnFile) {
    kit::Database db;
    Note note = memo("three");
    note.add(Item::file(file("first.txt", {'1'})));
    note.add(Item::text("Between", "an item that is no attachment"));
    note.add(Item::file(file("second.txt", {'2', '2'})));
    note.add(Item::file(file("third.txt", {'3', '3', '3'})));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 4);
    EXPECT_EQ(sub(3).nFileItem, 3);
    EXPECT_EQ(extractOk(1), "1");
    EXPECT_EQ(extractOk(2), "22");
    EXPECT_EQ(extractOk(3), "333");
    EXPECT_EQ(extractOk(3, QLExtractFlag_GetFormattedBody | QLExtractFlag_ExcludeMailHeader), "333")
        << "the flags do not touch attachments";
}

TEST_F(ExtractTest, OleObjectIsDetachedByName) {
    kit::Database db;
    Note note = memo("ole");
    note.add(Item::file(file("plain.txt", {'p'})));
    kit::Bytes storage = pattern(9000, 7);
    note.add(Item::file(file("EXT12345", storage, "bytearrayext")));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(kinds(), (std::vector<int32_t>{QLSubFileType_Main, QLSubFileType_Attachment, QLSubFileType_OLE}));
    EXPECT_TRUE(extractOk(2) == text(storage));
    EXPECT_EQ(extractOk(1), "p");
    EXPECT_TRUE(logged("Returned from Notes API NSFNoteExtractOLE2Object()"));
    EXPECT_TRUE(tempFilesLeft().empty());
}

TEST_F(ExtractTest, EncryptedAttachmentUsesTheNotesKey) {
    kit::Database db;
    Note note = memo("sealed");
    note.add(Item::file(file("secret.txt", {'s', 'e', 'c'}))).seal();
    note.sealFor({"Anonymous"});
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 2);
    EXPECT_EQ(extractOk(1), "sec");
}

struct OrdinalCase {
    const char *name;
    int32_t nFileItem;
    int expected;
    const char *message;
};

class ChangedOrdinal : public ExtractTest, public ::testing::WithParamInterface<OrdinalCase> {};

TEST_P(ChangedOrdinal, StatusNotAWrongFile) {
    const OrdinalCase &c = GetParam();
    kit::Database db;
    Note note = memo("two");
    note.add(Item::file(file("one.txt", {'1'})));
    note.add(Item::file(file("two.txt", {'2'})));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 3);
    // The note as it is now no longer matches what the catalogue recorded for entry 2.
    pOpen->subFiles[2]->nFileItem = c.nFileItem;
    quillon::MemoryIOObject out;
    EXPECT_EQ(extractor().extract(2, out.get(), 0), c.expected);
    EXPECT_EQ(out.data(), "");
    EXPECT_EQ(out.openCount(), 0);
    EXPECT_TRUE(logged(c.message)) << c.message;
    EXPECT_TRUE(tempFilesLeft().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ChangedOrdinal,
    ::testing::Values(
        OrdinalCase{"Vanished", 5, QLSTATUS_INTERNAL, "ERROR nsfExtractFile(): No attachment item at ordinal 5 (found 2)"},
        OrdinalCase{"NowAnotherFile", 1, QLSTATUS_ACCESS_FAILED,
                    "ERROR nsfExtractFile(): Attachment item at ordinal 1 is not the catalogued file"},
        OrdinalCase{"Zero", 0, QLSTATUS_INTERNAL, "ERROR nsfExtractFile(): Invalid attachment ordinal 0"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(ExtractTest, UnusableTemporaryDirectoryGivesStatus) {
    kit::Database db;
    Note note = memo("temp");
    note.add(Item::file(file("a.txt", {'a'})));
    db.add(std::move(note));
    ASSERT_NE(open(db), nullptr);
    // A file where the directory should be: it cannot be re-created either.
    std::string dir = pOpen->szTempDir;
    while (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    std::filesystem::remove_all(dir);
    std::ofstream(dir) << "in the way";
    quillon::MemoryIOObject out;
    EXPECT_NE(extractor().extract(1, out.get(), 0), 0);
    EXPECT_EQ(out.openCount(), 0);
    EXPECT_TRUE(logged("WARNING nsfExtractFile(): nsfGetTempFilePath() failed"));
    std::filesystem::remove(dir);
}

} // namespace
} // namespace tessel::test
