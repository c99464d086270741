// Subfile metadata (slot 4): named fields, all items, the mail field set, the reserved values, the
// folder search, bad indexes, and the result's own allocator receiving everything handed out.
#include "OpenFixture.h"

#include "nsf/metadata/metadata.h"

namespace tessel::test {
namespace {

using kit::Item;
using kit::Note;

struct Element {
    std::optional<std::string> name, value;
    int32_t isDataValid = 0, type = 0, dataSize = 0, reserved = 0;
};

class MetadataTest : public OpenTest {
protected:
    // Calls slot 4 and takes the result apart, freeing it through the result's allocator.
    int meta(int32_t nIndex, int32_t cMetaNames, QLMetaName *rgMetaNames, std::vector<Element> &elements) {
        QLRequest memory{nullptr, resultAllocator.table()};
        int nStatus = nsfGetSubFileMetadata(pOpen, nIndex, cMetaNames, rgMetaNames, &result, &memory);
        elements.clear();
        for (int32_t i = 0; result.ppElem != nullptr && i < result.nElem; i++) {
            QLSubFileMetaDataElem *p = result.ppElem[i];
            Element e;
            if (p->strType != nullptr)
                e.name = p->strType;
            if (p->data != nullptr)
                e.value = std::string(p->data, static_cast<size_t>(p->dataSize - 1));
            e.isDataValid = p->isDataValid;
            e.type = p->type;
            e.dataSize = p->dataSize;
            e.reserved = p->reserved;
            elements.push_back(e);
        }
        return nStatus;
    }
    void freeResult() {
        for (int32_t i = 0; result.ppElem != nullptr && i < result.nElem; i++) {
            resultAllocator.release(result.ppElem[i]->strType);
            resultAllocator.release(result.ppElem[i]->data);
            resultAllocator.release(result.ppElem[i]);
        }
        resultAllocator.release(result.ppElem);
        result.ppElem = nullptr;
        result.nElem = 0;
        EXPECT_EQ(resultAllocator.liveCount(), 0u)
            << "everything handed out came from the result's allocator";
    }
    void TearDown() override {
        freeResult();
        OpenTest::TearDown();
    }
    std::vector<Element> named(int32_t nIndex, std::vector<std::string> names) {
        std::vector<QLMetaName> rg;
        for (const auto &name : names)
            rg.push_back({QLMetaNameType_String, name.c_str()});
        std::vector<Element> elements;
        EXPECT_EQ(meta(nIndex, static_cast<int32_t>(rg.size()), rg.data(), elements), NSF_STATUS_OK);
        freeResult();
        return elements;
    }

    quillon::TestAllocator resultAllocator;
    QLSubFileMetaData result{};
};

TEST_F(MetadataTest, MailFieldSet) {
    kit::Database db;
    Note m = memo("Budget");
    m.add(Item::textList("SendTo", {"Bob", "Carol"}));
    m.add(Item::dateTime("ComposedDate", kit::DateTime::at(2020, 5, 6, 7, 8, 9)));
    db.add(std::move(m));
    Note posted = memo("Posted");
    posted.add(Item::dateTime("ComposedDate", kit::DateTime::at(2020, 5, 6, 7, 8, 9)));
    posted.add(Item::dateTime("PostedDate", kit::DateTime::at(2021, 1, 1, 12, 0, 0)));
    posted.add(Item::text("Importance", "1"));
    db.add(std::move(posted));
    ASSERT_NE(open(db), nullptr);

    std::vector<Element> e;
    ASSERT_EQ(meta(0, 0, nullptr, e), NSF_STATUS_OK);
    std::vector<std::string> labels;
    for (const auto &element : e)
        labels.push_back(element.name.value_or("?"));
    EXPECT_EQ(labels, (std::vector<std::string>{"From", "Sent", "To", "Cc", "Bcc", "Subject", "Priority"}));
    EXPECT_EQ(e[0].value, "CN=Alice Smith/O=Acme");
    ASSERT_TRUE(e[1].value.has_value());
    EXPECT_NE(e[1].value->find("05/06/2020"), std::string::npos) << *e[1].value;
    EXPECT_EQ(e[2].value, "Bob\r\nCarol") << "list entries are read one a line";
    EXPECT_FALSE(e[3].value.has_value());
    EXPECT_EQ(e[5].value, "Budget");
    EXPECT_EQ(e[5].dataSize, 7);
    EXPECT_EQ(e[5].type, QLMetaDataType_UTF8String);
    EXPECT_EQ(e[5].isDataValid, 1);
    EXPECT_EQ(e[6].isDataValid, 0) << "an absent Importance gives Priority without data";
    EXPECT_EQ(e[6].name, "Priority");
    freeResult();

    ASSERT_EQ(meta(1, 0, nullptr, e), NSF_STATUS_OK);
    EXPECT_NE(e[1].value->find("01/01/2021"), std::string::npos) << "Sent prefers PostedDate";
    EXPECT_EQ(e[6].value, "1");
    EXPECT_TRUE(logged(
        "INFO nsfGetSubFileMetadata(): ppElem[5] strType Subject, isDataValid 1, dataSize 7 0x7, data..."));
}

TEST_F(MetadataTest, AllItemsListsEveryItemWithDuplicates) {
    kit::Database db;
    Note m = memo("Parts");
    m.add(Item::text("Part", "one"));
    m.add(Item::text("Part", "two"));
    db.add(std::move(m));
    ASSERT_NE(open(db), nullptr);
    std::vector<Element> e;
    ASSERT_EQ(meta(0, -1, nullptr, e), NSF_STATUS_OK);
    std::vector<std::string> names;
    for (const auto &element : e)
        names.push_back(element.name.value_or("?"));
    EXPECT_EQ(std::count(names.begin(), names.end(), "Part"), 2) << "each item of a name is listed";
    EXPECT_EQ(std::count(names.begin(), names.end(), "Subject"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Body"), 1);
    EXPECT_EQ(names.size(), static_cast<size_t>(pOpen->cItemNames));
    // The value is read over every item of its name, once, and goes with the first element of
    // that name; the later elements of the name carry no data.
    std::vector<Element> parts;
    for (const auto &element : e) {
        if (element.name == "Part")
            parts.push_back(element);
    }
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].value, "onetwo");
    EXPECT_EQ(parts[0].isDataValid, 1);
    EXPECT_FALSE(parts[1].value.has_value());
    EXPECT_EQ(parts[1].isDataValid, 0);
}

// A body stored as many items of one name, and many items sharing a name: the output grows with
// the note, not with the square of its items.
TEST_F(MetadataTest, AllItemsOfARepeatedNameGiveTheValueOnce) {
    kit::Database db;
    Note m = memo("Repeated");
    for (int i = 0; i < 300; i++)
        m.add(Item::text("Subject", "s" + std::to_string(i)));
    db.add(std::move(m));
    ASSERT_NE(open(db), nullptr);
    std::vector<Element> e;
    ASSERT_EQ(meta(0, -1, nullptr, e), NSF_STATUS_OK);
    size_t cSubjects = 0, cWithData = 0, cbData = 0;
    for (const auto &element : e) {
        if (element.name != "Subject")
            continue;
        cSubjects++;
        if (element.value) {
            cWithData++;
            cbData += element.value->size();
        }
    }
    EXPECT_EQ(cSubjects, 301u);
    EXPECT_EQ(cWithData, 1u);
    std::string joined = "Repeated";
    for (int i = 0; i < 300; i++)
        joined += "s" + std::to_string(i);
    EXPECT_EQ(cbData, joined.size());
}

// A value that cannot be read gives its element without data and a warning; the elements after
// it still come. Damaged: a composite item whose record runs past its value, a MIME part that does
// not parse, and a PostedDate whose day lies outside any calendar the API converts.
TEST_F(MetadataTest, ADamagedValueDoesNotHideTheOthers) {
    kit::Database db;
    Note m = memo("Damaged");
    m.add(Item::richTextRaw("Broken", kit::Bytes{0x85, 0xFF, 0x40, 0x00, 0x00, 0x00}));
    m.add(Item::raw("Mime", 25, kit::Bytes{0x01, 0x00, 0xFF, 0xFF}));
    m.add(Item::raw("PostedDate", 0x400, kit::Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}));
    m.add(Item::text("After", "still here"));
    db.add(std::move(m));
    ASSERT_NE(open(db), nullptr);

    std::vector<Element> e;
    ASSERT_EQ(meta(0, -1, nullptr, e), NSF_STATUS_OK);
    std::map<std::string, Element> byName;
    for (const auto &element : e)
        byName.emplace(element.name.value_or("?"), element);
    for (const char *pszName : {"Broken", "Mime", "PostedDate"}) {
        SCOPED_TRACE(pszName);
        ASSERT_EQ(byName.count(pszName), 1u);
        EXPECT_FALSE(byName[pszName].value.has_value());
        EXPECT_EQ(byName[pszName].isDataValid, 0);
        EXPECT_TRUE(logged(std::string("WARNING nsfGetItemMetadata(): Value of ") + pszName +
                           " cannot be read (status 6): element without data"));
    }
    EXPECT_EQ(byName["After"].value, "still here");
    EXPECT_EQ(byName["Subject"].value, "Damaged");
    freeResult();

    // The mail field set goes on after a Sent that cannot be read.
    ASSERT_EQ(meta(0, 0, nullptr, e), NSF_STATUS_OK);
    ASSERT_EQ(e.size(), 7u);
    EXPECT_EQ(e[1].name, "Sent");
    EXPECT_FALSE(e[1].value.has_value());
    EXPECT_EQ(e[5].value, "Damaged");
}

// An empty requested name gets its element without a value, as a missing item does; a zero-length
// name must not read the note's items.
TEST_F(MetadataTest, AnEmptyNameGivesAnElementWithoutValue) {
    kit::Database db;
    db.add(memo("Named"));
    ASSERT_NE(open(db), nullptr);
    std::vector<Element> e = named(0, {"", "Subject"});
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].name, "");
    EXPECT_FALSE(e[0].value.has_value());
    EXPECT_EQ(e[0].isDataValid, 0);
    EXPECT_EQ(e[1].value, "Named");
}

TEST_F(MetadataTest, ReservedNames) {
    kit::Database db;
    Note m = memo("Reserved");
    m.info.noteId = 0x1F4;
    m.info.unid = kit::Unid{0x0123456789ABCDEFull, 0xFEDCBA9876543210ull};
    db.add(std::move(m));
    Note sealed = memo("Sealed");
    sealed.find("Body")->value =
        kit::TextValue{"[Portions of this MIME document are encrypted with a Notes certificate "
                       "and cannot be read.]"};
    db.add(std::move(sealed));
    ASSERT_NE(open(db), nullptr);

    // The catalogue follows the note IDs: the sealed memo (0x10C) comes first.
    auto e = named(1, {"$$$QL_NoteID", "$$$QL_NoteOID", "$$$QL_UName", "$$$QL_BodyIsEncrypted", "$$$QL_Other",
                       "$$$ql_NoteID"});
    ASSERT_EQ(e.size(), 6u);
    EXPECT_EQ(e[0].value, "000001F4");
    EXPECT_EQ(e[0].dataSize, 9);
    EXPECT_EQ(e[1].value, db.notes[0].info.unid.text());
    EXPECT_EQ(e[2].value, e[1].value);
    EXPECT_EQ(e[3].value, "0");
    EXPECT_EQ(e[4].name, "$$$QL_Other");
    EXPECT_FALSE(e[4].value.has_value());
    EXPECT_FALSE(e[5].value.has_value()) << "the prefix is compared with its case";
    EXPECT_EQ(named(0, {"$$$QL_BodyIsEncrypted"})[0].value, "1");
    EXPECT_TRUE(logged("DIAG nsfGetQLMetadata(): bBodyIsEncrypted 1"));
}

TEST_F(MetadataTest, FoldersHoldingTheNote) {
    kit::Database db;
    Note inbox = Note::folder("Inbox");
    Note projects = Note::folder("Projects");
    Note empty = Note::folder("Empty");
    db.add(Note::view("All documents")); // a view that is no folder
    Note &rInbox = db.add(std::move(inbox));
    Note inboxCopy = rInbox;
    Note &rProjects = db.add(std::move(projects));
    Note projectsCopy = rProjects;
    db.add(std::move(empty));
    Note both = memo("In two");
    both.addToFolder(inboxCopy);
    both.addToFolder(projectsCopy);
    db.add(std::move(both));
    db.add(memo("In none"));
    Note hidden = Note::document("Note"); // in a folder but no subfile
    hidden.add(Item::text("Category", "x"));
    hidden.addToFolder(projectsCopy);
    db.add(std::move(hidden));
    Note lost = memo("Unknown folder");
    lost.add(Item::textList("$FolderRefs", {"0123456789ABCDEF0123456789ABCDEF"}));
    db.add(std::move(lost));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 3);

    EXPECT_EQ(named(0, {"$$$QL_Folders"})[0].value, "Inbox, Projects");
    EXPECT_EQ(pOpen->cFolders, 3);
    EXPECT_EQ(pOpen->rgpFolders[1]->dwIDEntries, 2)
        << "the folder keeps the IDs of notes that are no subfile";
    auto none = named(1, {"$$$QL_Folders"});
    EXPECT_EQ(none[0].name, "$$$QL_Folders");
    EXPECT_FALSE(none[0].value.has_value());
    EXPECT_FALSE(named(2, {"$$$QL_Folders"})[0].value.has_value());
    EXPECT_TRUE(logged("DIAG nsfGetNoteFolders(): Search for folders done, cFolders 3"));
    // The folders are searched once per context.
    auto lines = log();
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "[3/3] INFO nsfGetNoteFolders(): Searching for folders..."),
        0);
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "[1/3] INFO nsfGetNoteFolders(): Searching for folders..."),
        1);
}

TEST_F(MetadataTest, IntegerNamesIndexesAndAttachments) {
    kit::Database db;
    Note m = memo("Mixed");
    m.add(Item::file(attachment("a.txt")));
    db.add(std::move(m));
    ASSERT_NE(open(db), nullptr);

    QLMetaName rg[] = {{QLMetaNameType_Integer, "Subject"}, {QLMetaNameType_String, "Subject"}, {5, "From"}};
    std::vector<Element> e;
    ASSERT_EQ(meta(0, 3, rg, e), NSF_STATUS_OK);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_FALSE(e[0].name.has_value());
    EXPECT_EQ(e[0].isDataValid + e[0].type + e[0].dataSize + e[0].reserved, 0);
    EXPECT_EQ(e[1].value, "Mixed");
    EXPECT_FALSE(e[2].name.has_value());
    EXPECT_TRUE(logged(
        "INFO nsfGetSubFileMetadata(): rgMetaNameArray[0] type 0 (QLMetaNameType_Integer), name Invalid"));
    EXPECT_TRUE(logged(
        "INFO nsfGetSubFileMetadata(): rgMetaNameArray[2] type 5 (QLMetaNameType_Invalid), name Invalid"));

    // A second request appends to the elements already in the result.
    QLMetaName from[] = {{QLMetaNameType_String, "From"}};
    ASSERT_EQ(meta(0, 1, from, e), NSF_STATUS_OK);
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[3].name, "From");
    freeResult();

    EXPECT_EQ(meta(2, 0, nullptr, e), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_TRUE(logged("ERROR nsfGetSubFileMetadata(): Invalid subfile index 2 (# subfiles 2)"));
    EXPECT_EQ(meta(-1, 0, nullptr, e), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(meta(INT32_MAX, 0, nullptr, e), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_TRUE(logged("ERROR nsfGetSubFileMetadata(): Invalid subfile index 2147483647 (# subfiles 2)"));
    EXPECT_EQ(meta(INT32_MIN, 0, nullptr, e), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(meta(1, 0, nullptr, e), NSF_STATUS_OK);
    EXPECT_EQ(result.ppElem, nullptr) << "an attachment has no metadata";
    EXPECT_TRUE(logged("INFO nsfGetSubFileMetadata(): Subfile is not a note (no metadata)"));
    QLRequest memory{nullptr, resultAllocator.table()};
    EXPECT_EQ(nsfGetSubFileMetadata(pOpen, 0, 0, nullptr, nullptr, &memory), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetSubFileMetadata(pOpen, 0, 0, nullptr, &result, nullptr), NSF_STATUS_BAD_ARGUMENT);
    EXPECT_EQ(nsfGetSubFileMetadata(nullptr, 0, 0, nullptr, &result, &memory), NSF_STATUS_BAD_ARGUMENT);
}

TEST_F(MetadataTest, ResultAllocationFailuresKeepWhatWasAppended) {
    kit::Database db;
    db.add(memo("Failing"));
    ASSERT_NE(open(db), nullptr);
    std::vector<Element> e;
    ASSERT_EQ(meta(0, 0, nullptr, e), NSF_STATUS_OK);
    freeResult();
    uint64_t cAllocations = resultAllocator.counts().allocations;
    uint64_t cReaderBlocks = allocator.liveCount();
    for (uint64_t n = 1; n <= cAllocations; n++) {
        SCOPED_TRACE(n);
        resultAllocator.resetCounts();
        resultAllocator.failAllocation(n);
        EXPECT_EQ(meta(0, 0, nullptr, e), NSF_STATUS_OUT_OF_MEMORY);
        resultAllocator.failAllocation(0);
        EXPECT_LE(e.size(), 7u);
        freeResult();
        EXPECT_EQ(allocator.liveCount(), cReaderBlocks) << "the reader keeps nothing of a failed request";
    }
}

TEST_F(MetadataTest, ItemNameArrayGrowsAndIsReused) {
    kit::Database db;
    Note m = memo("Wide");
    for (int i = 0; i < 250; i++)
        m.add(Item::text("F" + std::to_string(i), std::to_string(i)));
    db.add(std::move(m));
    db.add(memo("Narrow"));
    ASSERT_NE(open(db), nullptr);
    std::vector<Element> e;
    ASSERT_EQ(meta(0, -1, nullptr, e), NSF_STATUS_OK);
    EXPECT_GE(e.size(), 253u);
    EXPECT_EQ(pOpen->cItemNamesMax, 300);
    EXPECT_TRUE(logged("DIAG nsfNewItemName(): cItemNamesMax 300"));
    freeResult();
    ASSERT_EQ(meta(1, -1, nullptr, e), NSF_STATUS_OK);
    EXPECT_EQ(static_cast<int32_t>(e.size()), pOpen->cItemNames);
    EXPECT_EQ(pOpen->cItemNamesMax, 300) << "name slots are kept for later scans";
}

} // namespace
} // namespace tessel::test
