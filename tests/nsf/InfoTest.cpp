// Container and subfile info (slots 2 and 3): counts, kinds, names, times and the tree, the
// memory handed to the host, bad arguments; and the host's view of the catalogue over the plug-in.
#include "OpenFixture.h"

#include <quillon/host/Catalogue.h>
#include <quillon/host/Container.h>
#include <quillon/host/ReaderLibrary.h>
#include <quillon/host/Status.h>

#include "nsf/catalogue/info.h"

namespace tessel::test {
namespace {

using kit::Item;
using kit::Note;

// The example catalogue: memo (1) with two attachments (2, 3), then a document (4) with a Body only.
kit::Database treeDatabase() {
    kit::Database db;
    Note memoNote = OpenTest::memo("Quarterly");
    memoNote.add(Item::dateTime("PostedDate", kit::DateTime::at(2020, 1, 2, 3, 4, 5)));
    memoNote.add(Item::file(OpenTest::attachment("report.pdf")));
    memoNote.add(Item::file(OpenTest::attachment("chart.png")));
    db.add(std::move(memoNote));
    Note doc = Note::document("Note");
    doc.add(Item::richText("Body", kit::RichText{}.par(1, "text")));
    db.add(std::move(doc));
    return db;
}

class InfoTest : public OpenTest {
protected:
    // Calls slot 3 with a record as a host prepares it and hands back what it returned, freeing
    // the blocks through the request's allocator.
    struct Info {
        int status = -1;
        QLSubFileInfo info{};
        std::optional<std::string> name;
        std::vector<int32_t> children;
    };
    Info info(int32_t nIndex, uint32_t infoFlag = 0xFF) {
        Info result;
        result.info.infoFlag = infoFlag;
        result.info.parentIndex = -7;
        QLRequest request{nullptr, requestAllocator.table()};
        result.status = nsfGetSubFileInfo(pOpen, nIndex, &result.info, &request);
        if (result.info.subFileName != nullptr)
            result.name = result.info.subFileName;
        if (result.info.childArray != nullptr)
            result.children.assign(result.info.childArray, result.info.childArray + result.info.childCount);
        requestAllocator.release(result.info.subFileName);
        requestAllocator.release(result.info.childArray);
        EXPECT_EQ(requestAllocator.liveCount(), 0u);
        return result;
    }

    quillon::TestAllocator requestAllocator;
};

TEST_F(InfoTest, TreeNamesAndTimesWithTheRoot) {
    ASSERT_NE(open(treeDatabase(), CNVO_CREATEROOTDIR), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 5);

    Info root = info(0);
    EXPECT_EQ(root.status, NSF_STATUS_OK);
    EXPECT_EQ(root.info.subFileType, QLSubFileType_Folder);
    EXPECT_EQ(root.info.parentIndex, -1);
    EXPECT_EQ(root.children, (std::vector<int32_t>{1, 4}));
    EXPECT_FALSE(root.name.has_value());
    EXPECT_EQ(root.info.infoFlag, 0xFEu);
    EXPECT_EQ(root.info.charset, QLCharset_UTF8);

    Info memoInfo = info(1);
    EXPECT_EQ(memoInfo.info.subFileType, QLSubFileType_Main);
    EXPECT_EQ(memoInfo.info.parentIndex, 0);
    EXPECT_EQ(memoInfo.children, (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(memoInfo.name, "mailbox_ql1.mail");
    EXPECT_EQ(memoInfo.info.infoFlag, 0xFEu);
    EXPECT_EQ(value(memoInfo.info.fileTime), fileTime(2020, 1, 2, 3, 4, 5));
    EXPECT_EQ(pOpen->curSubFile, 2);

    Info second = info(3);
    EXPECT_EQ(second.info.subFileType, QLSubFileType_Attachment);
    EXPECT_EQ(second.info.parentIndex, 1);
    EXPECT_EQ(second.info.childCount, 0);
    EXPECT_EQ(second.name, "chart.png");
    EXPECT_EQ(second.info.infoFlag, 0xFFu) << "an attachment keeps its flag";
    EXPECT_EQ(value(second.info.fileTime), fileTime(2021, 3, 4, 5, 6, 7));

    Info doc = info(4);
    EXPECT_EQ(doc.info.parentIndex, 0);
    EXPECT_TRUE(doc.children.empty());
    EXPECT_EQ(doc.name, "mailbox_ql4.tmp");

    EXPECT_TRUE(logged("INFO nsfGetSubFileInfo(): nIndex 3 0x3"));
    EXPECT_TRUE(logged("INFO nsfGetSubFileInfo(): subFileType 1 (QLSubFileType_Attachment), subFileSize 0"));
    EXPECT_TRUE(logged("INFO nsfGetSubFileInfo(): childArray[1] 4"));
}

TEST_F(InfoTest, WithoutTheRootAndWithDxlNames) {
    ASSERT_NE(open(treeDatabase()), nullptr);
    Info memoInfo = info(0);
    EXPECT_EQ(memoInfo.info.parentIndex, -1);
    EXPECT_EQ(memoInfo.children, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(memoInfo.name, "mailbox_ql0.mail");
    EXPECT_EQ(info(3).info.parentIndex, -1);

    host->config().set("tessel", "ExportDXL", "1");
    ASSERT_NE(open(treeDatabase(), 0, "archive2015.dxl"), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 2) << "DXL output carries the attachments inside the note";
    EXPECT_EQ(info(0).name, "archive2_ql0.dxl");
    EXPECT_EQ(info(1).name, "archive2_ql1.dxl");

    pOpen->szFileName8[0] = '\0';
    Info unnamed = info(0);
    EXPECT_EQ(unnamed.status, NSF_STATUS_OK);
    EXPECT_FALSE(unnamed.name.has_value());
}

TEST_F(InfoTest, ContainerInfo) {
    ASSERT_NE(open(treeDatabase(), CNVO_CREATEROOTDIR), nullptr);
    QLMainFileInfo mainInfo{};
    mainInfo.docInfo = {7, 8};
    mainInfo.isMSBLSB = 5;
    mainInfo.infoFlag = 0x10;
    QLRequest request{nullptr, requestAllocator.table()};
    ASSERT_EQ(nsfGetContainerInfo(pOpen, &mainInfo, &request), NSF_STATUS_OK);
    EXPECT_EQ(mainInfo.numSubFiles, 5);
    EXPECT_EQ(mainInfo.charset, QLCharset_UTF8);
    EXPECT_EQ(mainInfo.isMSBLSB, 5);
    EXPECT_EQ(mainInfo.infoFlag, 0x10u);
    EXPECT_TRUE(logged("INFO nsfGetContainerInfo(): MainFileInfo.docInfo.eClass 7, eFormat 8"));
    EXPECT_TRUE(logged("INFO nsfGetContainerInfo(): numSubFiles 5, charset 53, isMSBLSB 5, infoFlag 0x10"));

    QLMainFileInfo untouched{};
    untouched.numSubFiles = 99;
    EXPECT_EQ(nsfGetContainerInfo(pOpen, &untouched, nullptr), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetContainerInfo(nullptr, &untouched, &request), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetContainerInfo(pOpen, nullptr, &request), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(untouched.numSubFiles, 99);
}

TEST_F(InfoTest, BadArgumentsAndIndexes) {
    ASSERT_NE(open(treeDatabase()), nullptr);
    EXPECT_EQ(info(-1).status, NSF_STATUS_BAD_ARGUMENT);
    EXPECT_TRUE(logged("ERROR nsfGetSubFileInfo(): Invalid subfile index -1 (# subfiles 4)"));
    EXPECT_EQ(info(4).status, NSF_STATUS_BAD_ARGUMENT);
    EXPECT_TRUE(logged("ERROR nsfGetSubFileInfo(): Invalid subfile index 4 (# subfiles 4)"));
    // The extremes of the index: no arithmetic on them may overflow (the asan preset aborts on it).
    EXPECT_EQ(info(INT32_MAX).status, NSF_STATUS_BAD_ARGUMENT);
    EXPECT_TRUE(logged("ERROR nsfGetSubFileInfo(): Invalid subfile index 2147483647 (# subfiles 4)"));
    EXPECT_EQ(info(INT32_MIN).status, NSF_STATUS_BAD_ARGUMENT);
    EXPECT_TRUE(logged("ERROR nsfGetSubFileInfo(): Invalid subfile index -2147483648 (# subfiles 4)"));

    QLSubFileInfo subInfo{};
    QLRequest request{nullptr, requestAllocator.table()};
    QLRequest noAllocator{nullptr, nullptr};
    EXPECT_EQ(nsfGetSubFileInfo(nullptr, 0, &subInfo, &request), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetSubFileInfo(pOpen, 0, nullptr, &request), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetSubFileInfo(pOpen, 0, &subInfo, nullptr), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetSubFileInfo(pOpen, 0, &subInfo, &noAllocator), NSF_STATUS_BAD_ARGUMENT);

    pOpen->subFiles[0]->subFileType = 9;
    EXPECT_EQ(info(0).status, NSF_STATUS_INTERNAL);
    EXPECT_TRUE(logged("ERROR nsfGetSubFileInfo(): Invalid subfile type (9)"));
    pOpen->subFiles[0]->subFileType = QLSubFileType_Main;
}

TEST_F(InfoTest, RequestAllocationFailures) {
    ASSERT_NE(open(treeDatabase(), CNVO_CREATEROOTDIR), nullptr);
    // A memo asks for its child array first, then its name.
    requestAllocator.failAllocation(1);
    Info failedChildren = info(1);
    EXPECT_EQ(failedChildren.status, NSF_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(failedChildren.info.childCount, 0);
    EXPECT_FALSE(failedChildren.name.has_value());
    EXPECT_TRUE(logged("ERROR nsfGetMainFileInfo(): Error allocating child array (child count 2)"));
    EXPECT_TRUE(logged("WARNING nsfGetSubFileInfo(): nsfGetMainFileInfo() failed"));

    requestAllocator.resetCounts();
    requestAllocator.failAllocation(2);
    Info failedName = info(1);
    EXPECT_EQ(failedName.status, NSF_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(failedName.children.size(), 2u) << "what was handed out before the failure stays";
    EXPECT_TRUE(logged("ERROR nsfGetMainFileInfo(): Error allocating subfile file name (size 17)"));

    for (int32_t nIndex : {0, 2}) {
        requestAllocator.resetCounts();
        requestAllocator.failAllocation(1);
        EXPECT_EQ(info(nIndex).status, NSF_STATUS_OUT_OF_MEMORY);
    }
    requestAllocator.failAllocation(0);
    EXPECT_EQ(allocator.counts().failures, 0u) << "nothing of the answer comes from the reader's allocator";
}

// The host's view over the plug-in loaded as a library.
class CatalogueViewTest : public OpenTest {
protected:
    void SetUp() override {
        OpenTest::SetUp();
        std::string error;
        reader = quillon::ReaderLibrary::load(TESSEL_NSF_PLUGIN, error);
        ASSERT_NE(reader, nullptr) << error;
        dbPath = "view.dxl"; // in the scratch folder, the current one
        std::ofstream(dbPath, std::ios::binary) << treeDatabase().toDxl();
    }

    std::unique_ptr<quillon::ReaderLibrary> reader;
    std::filesystem::path dbPath;
    quillon::TestAllocator requestAllocator;
};

TEST_F(CatalogueViewTest, ListsTheCatalogueAndReadsMetadata) {
    quillon::Container container(*host, *reader, dbPath, CNVO_CREATEROOTDIR);
    ASSERT_TRUE(container.isOpen()) << container.status();
    quillon::Catalogue view(container, &requestAllocator);

    auto listed = view.list();
    ASSERT_TRUE(listed.ok()) << listed.status;
    ASSERT_EQ(listed.value.size(), 5u);
    EXPECT_EQ(listed.value[0].kind, QLSubFileType_Folder);
    EXPECT_EQ(listed.value[0].children, (std::vector<int32_t>{1, 4}));
    EXPECT_EQ(listed.value[1].name, "view_ql1.mail");
    EXPECT_EQ(listed.value[2].name, "report.pdf");
    EXPECT_EQ(listed.value[2].parent, 1);
    EXPECT_EQ(quillon::Catalogue::kindName(listed.value[3].kind), "attachment");
    EXPECT_EQ(requestAllocator.liveCount(), 0u);
    EXPECT_GT(requestAllocator.counts().allocations, 0u);

    auto bad = view.subFile(5);
    EXPECT_EQ(bad.status, QLSTATUS_BAD_ARGUMENT);

    auto mail = view.mailFields(1);
    ASSERT_TRUE(mail.ok());
    ASSERT_EQ(mail.value.size(), 7u);
    EXPECT_EQ(mail.value[5].name, "Subject");
    EXPECT_EQ(mail.value[5].value, "Quarterly");
    std::vector<std::string> names = {"$$$QL_NoteID", "Nothing"};
    auto fields = view.fields(1, names);
    ASSERT_EQ(fields.value.size(), 2u);
    EXPECT_EQ(fields.value[0].value, "0000010C");
    EXPECT_FALSE(fields.value[1].value.has_value());
    EXPECT_GT(view.allItems(1).value.size(), 4u);
    EXPECT_EQ(requestAllocator.liveCount(), 0u) << "every block the reader handed out is given back";
}

TEST_F(CatalogueViewTest, EmptySlotsAreReportedUnavailable) {
    quillon::Container container(*host, *reader, dbPath);
    ASSERT_TRUE(container.isOpen());
    QLReaderInterface partial = container.operations();
    partial.fpGetContainerInfo = nullptr;
    partial.fpGetSubFileInfo = nullptr;
    partial.fpGetSubFileMetadata = nullptr;
    quillon::Catalogue view(*host, partial, container.context());
    EXPECT_EQ(view.count().status, quillon::kStatusUnavailable);
    EXPECT_EQ(view.list().status, quillon::kStatusUnavailable);
    EXPECT_EQ(view.subFile(0).status, quillon::kStatusUnavailable);
    EXPECT_EQ(view.mailFields(0).status, quillon::kStatusUnavailable);
    EXPECT_EQ(quillon::statusName(quillon::kStatusUnavailable), "UNAVAILABLE");
}

} // namespace
} // namespace tessel::test
