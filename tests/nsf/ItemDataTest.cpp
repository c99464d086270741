// The item data reader over notes the emulated runtime opens: every kind of data, items split over
// several parts, pictures, hidden text and values that lie about their sizes.
#include "NsfFixture.h"

#include <tessel/kit/CdWriter.h>
#include <tessel/kit/Dxl.h>
#include <tessel/kit/Values.h>

#include "nsf/items/buffers.h"
#include "nsf/items/itemdata.h"
#include <notes/notes.h>
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

kit::FontId plainFont() {
    kit::FontId font;
    font.face = kit::FontId::kSwiss;
    font.size = 10;
    return font;
}

// Hidden text: a hotspot of type 22 whose data is the text.
kit::Bytes hiddenTextRecords(std::string_view text) {
    kit::CdWriter cd;
    std::vector<std::uint8_t> data(text.begin(), text.end());
    cd.paragraph().text(plainFont(), "Shown").hotspotBegin(kit::sig::kHotspotBegin, 22, 0, data).hotspotEnd();
    return cd.bytes();
}

class ItemDataTest : public NsfTest {
protected:
    void SetUp() override {
        NsfTest::SetUp();
        env.set("TMPDIR", scratch.path().string());
        std::ofstream(scratch.path() / "notes.ini") << "[Notes]\n";
        env.set("NOTES_INI", (scratch.path() / "notes.ini").string());
        ASSERT_EQ(nsfInitBuffers(pContext), NSF_STATUS_OK);
        ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR);
    }
    void TearDown() override {
        if (hNote != NULLHANDLE)
            NSFNoteClose(hNote);
        if (hDB != NULLHANDLE)
            NSFDbClose(hDB);
        NotesTerm();
        for (int32_t i = 0; i < pContext->numBuffers; i++)
            nsfFreeBuffer(pContext, &pContext->buffers[i]);
        nsfFree(pContext, pContext->buffers);
        NsfTest::TearDown();
    }

    // Writes the database, opens it and the note of the given ID.
    void open(kit::Database &db, uint32_t noteId) {
        fs::path path = scratch.path() / "items.dxl";
        std::ofstream(path, std::ios::binary) << db.toDxl();
        ASSERT_EQ(NSFDbOpen(path.string().c_str(), &hDB), NOERROR);
        ASSERT_EQ(NSFNoteOpenExt(hDB, noteId, 0x03000000, &hNote), NOERROR);
    }
    std::string text(const char *pszItem, void *pvData = nullptr) {
        EXPECT_EQ(nsfGetItemData(pContext, hNote, pszItem, NSF_DATA_TEXT, pvData), NSF_STATUS_OK);
        return std::string(reinterpret_cast<const char *>(pContext->BufferMain->rgbData),
                           pContext->BufferMain->ucbData);
    }

    DBHANDLE hDB = NULLHANDLE;
    NOTEHANDLE hNote = NULLHANDLE;
};

TEST_F(ItemDataTest, EveryValueTypeReadsAsText) {
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::text("Subject", "Quarterly <report> caf\xC3\xA9"));
    memo.add(kit::Item::textList("SendTo", {"A", "B", "C"}));
    memo.add(kit::Item::number("Size", 3.5));
    memo.add(kit::Item::numberList("Scores", {1, 2}));
    memo.add(kit::Item::dateTime("PostedDate", kit::DateTime::at(2015, 10, 5, 12, 30, 0)));
    memo.add(kit::Item::text("Empty", ""));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);

    EXPECT_EQ(text("Subject"), "Quarterly <report> caf\xC3\xA9");
    EXPECT_EQ(text("SendTo"), "A\r\nB\r\nC") << "list entries on lines of their own";
    EXPECT_EQ(text("Size"), "3.5");
    EXPECT_EQ(text("Scores"), "1\r\n2");
    EXPECT_FALSE(text("PostedDate").empty());
    EXPECT_EQ(text("Empty"), "");
    EXPECT_EQ(text("NoSuchItem"), "") << "a missing item is an empty result, not a failure";

    // Date only, through a time format.
    TFMT tfmt{};
    tfmt.Date = TDFMT_FULL;
    tfmt.Time = TTFMT_FULL;
    tfmt.Zone = TZFMT_NEVER;
    tfmt.Structure = TSFMT_DATE;
    std::string date = text("PostedDate", &tfmt);
    EXPECT_EQ(date.find(':'), std::string::npos) << date;
    EXPECT_NE(date.find("2015"), std::string::npos) << date;
}

// Lists read as text are longer than their values; on a fresh context (small buffers) every entry
// must still come through, whatever earlier reads did to the buffers.
TEST_F(ItemDataTest, LongListsComeThroughWholeOnAFreshContext) {
    struct Case {
        const char *pszItem;
        size_t cEntries;
    };
    const Case cases[] = {{"Dates", 500}, {"Numbers", 2000}, {"Names", 3000}};
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    std::vector<kit::DateTime> dates;
    for (int i = 0; i < 500; i++)
        dates.push_back(kit::DateTime::at(2001 + i % 90, 1 + i % 12, 1 + i % 28, 10, 20, 30));
    memo.add(kit::Item::dateTimeList("Dates", dates));
    std::vector<double> numbers;
    for (int i = 0; i < 2000; i++)
        numbers.push_back(1000 + i);
    memo.add(kit::Item::numberList("Numbers", numbers));
    std::vector<std::string> names;
    for (int i = 0; i < 3000; i++)
        names.push_back("n" + std::to_string(i));
    memo.add(kit::Item::textList("Names", names));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);

    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszItem);
        std::string value = text(c.pszItem);
        size_t cLines = value.empty() ? 0 : 1;
        for (size_t at = value.find("\r\n"); at != std::string::npos; at = value.find("\r\n", at + 2))
            cLines++;
        EXPECT_EQ(cLines, c.cEntries);
    }
    EXPECT_EQ(text("Numbers").substr(0, 12), "1000\r\n1001\r\n");
}

// A value whose text does not fit the most the API can return is cut only with a warning.
TEST_F(ItemDataTest, AValueTooLongForAnyBufferIsReported) {
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    std::vector<std::string> names(5000, std::string(20, 'x'));
    memo.add(kit::Item::textList("Huge", names));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);
    std::string value = text("Huge");
    EXPECT_GT(value.size(), 60000u);
    EXPECT_TRUE(contains(logLines(), "[0/0] WARNING nsfGetItemData(): Value text of Huge fills the largest "
                                     "conversion buffer (size 65535): its end is cut"));
}

// A zero-length name would match any item in the Notes API; it names no item here.
TEST_F(ItemDataTest, AnEmptyNameNamesNoItem) {
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::text("Subject", "x"));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);
    EXPECT_EQ(text(""), "");
    EXPECT_FALSE(nsfItemIsPresent(pContext, hNote, "", "test()"));
}

TEST_F(ItemDataTest, TimeDatesAreCopiedAndOnlyFromTimeItems) {
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::dateTime("PostedDate", kit::DateTime::at(2015, 10, 5, 12, 30, 0)));
    memo.add(kit::Item::text("Subject", "x"));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);

    TIMEDATE td{{0, 0}};
    ASSERT_EQ(nsfGetItemData(pContext, hNote, "PostedDate", NSF_DATA_TIMEDATE, &td), NSF_STATUS_OK);
    EXPECT_EQ(td.Innards[0], 4500000u);
    EXPECT_EQ(td.Innards[1] & 0xFFFFFF, 2457301u);

    TIMEDATE untouched{{7, 7}};
    EXPECT_EQ(nsfGetItemData(pContext, hNote, "Subject", NSF_DATA_TIMEDATE, &untouched), NSF_STATUS_INTERNAL);
    EXPECT_EQ(untouched.Innards[0], 7u);
    EXPECT_TRUE(contains(logLines(), "[0/0] WARNING nsfGetItemData(): Invalid wValueDataType TYPE_TEXT for "
                                     "NSF_DATA_TIMEDATE"));
}

// An SMTP message the server itemized keeps PostedDate as RFC 822 text whose native part is the
// TIMEDATE of its Date header (here 15:00:00 GMT on 3 March 2020, zone 5 hours west).
TEST_F(ItemDataTest, RFC822DateHeadersReadAsTheirTimeDate) {
    fs::path path = scratch.path() / "smtp.dxl";
    fs::copy_file(fs::path(TESSEL_TEST_DATA) / "notesemu" / "smtp-itemized.dxl", path);
    ASSERT_EQ(NSFDbOpen(path.string().c_str(), &hDB), NOERROR);
    ASSERT_EQ(NSFNoteOpenExt(hDB, 0x8fa, 0x03000000, &hNote), NOERROR);

    TIMEDATE td{{0, 0}};
    ASSERT_EQ(nsfGetItemData(pContext, hNote, "PostedDate", NSF_DATA_TIMEDATE, &td), NSF_STATUS_OK);
    EXPECT_EQ(td.Innards[0], 0x005265C0u);
    EXPECT_EQ(td.Innards[1], 0x05258520u);
    EXPECT_TRUE(contains(logLines(), "[0/0] DEBUG nsfGetItemData(): RFC822 date header: reading its TIMEDATE"));

    // As text it reads exactly as a TIME item of that TIMEDATE does.
    char szExpected[80] = {};
    WORD wLen = 0;
    ASSERT_EQ(ConvertTIMEDATEToText(nullptr, nullptr, &td, szExpected, sizeof(szExpected) - 1, &wLen), NOERROR);
    EXPECT_EQ(text("PostedDate"), std::string(szExpected, wLen));

    // Other RFC 822 headers are no times, and still read as their text.
    TIMEDATE untouched{{7, 7}};
    EXPECT_EQ(nsfGetItemData(pContext, hNote, "Subject", NSF_DATA_TIMEDATE, &untouched), NSF_STATUS_INTERNAL);
    EXPECT_EQ(untouched.Innards[0], 7u);
    EXPECT_EQ(text("Subject"), "Hello");
}

TEST_F(ItemDataTest, AttachmentNamesAreJoined) {
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::file({"a.doc", kit::Bytes{1, 2, 3}}));
    memo.add(kit::Item::file({"b.pdf", kit::Bytes{}}));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);
    EXPECT_EQ(text("$FILE"), "a.doc;b.pdf");
}

TEST_F(ItemDataTest, RichTextSplitOverSeveralItemsReadsAsOne) {
    kit::CdWriter cd;
    for (int i = 0; i < 3000; i++)
        cd.paragraph().text(plainFont(), "Line " + std::to_string(i) + " of a long body");
    std::vector<kit::Bytes> pieces = kit::splitRichText(cd.bytes());
    ASSERT_GE(pieces.size(), 2u);

    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    for (const auto &piece : pieces)
        memo.add(kit::Item::richTextRaw("Body", piece));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);

    std::string body = text("Body");
    EXPECT_EQ(body.rfind("\r\nLine 0 of a long body\r\nLine 1 of", 0), 0u) << body.substr(0, 80);
    EXPECT_NE(body.find("Line 2999 of a long body"), std::string::npos);
    size_t cLines = 0;
    for (size_t pos = 0; (pos = body.find("\r\n", pos)) != std::string::npos; pos += 2)
        cLines++;
    EXPECT_EQ(cLines, 3000u);

    // As composite records: one type word, then every record of every item, each at an even offset.
    ASSERT_EQ(nsfGetItemData(pContext, hNote, "Body", NSF_DATA_CDR, nullptr), NSF_STATUS_OK);
    NSFBUFFER *pCDR = pContext->BufferCDR;
    ASSERT_GE(pCDR->ucbData, 2u);
    EXPECT_EQ(pCDR->rgbData[0], 1);
    EXPECT_EQ(pCDR->rgbData[1], 0);
    size_t cbRecords = 0;
    for (const auto &piece : pieces)
        cbRecords += piece.size();
    EXPECT_EQ(pCDR->ucbData, 2 + cbRecords);
    EXPECT_EQ(std::memcmp(pCDR->rgbData + 2, cd.bytes().data(), cd.bytes().size()), 0);
}

TEST_F(ItemDataTest, CompositeReadOfAMissingItemLeavesTheTypeWord) {
    kit::Database db;
    uint32_t noteId = db.add(kit::Note::document("Memo")).info.noteId;
    open(db, noteId);
    ASSERT_EQ(nsfGetItemData(pContext, hNote, "Body", NSF_DATA_CDR, nullptr), NSF_STATUS_OK);
    EXPECT_EQ(pContext->BufferCDR->ucbData, 2u);
}

TEST_F(ItemDataTest, HiddenTextShowsOnlyWhenAskedFor) {
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::richTextRaw("Body", hiddenTextRecords("secret note")));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);
    EXPECT_EQ(text("Body"), "\r\nShown");
    pContext->dwFlags |= CNVO_SHOWHIDDENTEXT;
    EXPECT_EQ(text("Body"), "\r\nShownsecret note");
}

TEST_F(ItemDataTest, PictureBytesGoToThePictureBuffer) {
    std::vector<std::uint8_t> large(25000);
    for (size_t i = 0; i < large.size(); i++)
        large[i] = static_cast<std::uint8_t>(i * 7);
    kit::CdWriter cd;
    cd.picture(kit::ImageType::Jpeg, 10, 10, large, 10000); // three segments
    kit::Database db;
    kit::Note picture = kit::Note::raw("form");
    picture.add(kit::Item::text("$TITLE", "logo.jpg;logo"));
    picture.add(kit::Item::richTextRaw("$ImageData", cd.bytes()));
    uint32_t noteId = db.add(std::move(picture)).info.noteId;
    open(db, noteId);

    NSFIMAGEDATA image{};
    ASSERT_EQ(nsfAddBuffer(pContext, 0, &image.pBuffer), NSF_STATUS_OK);
    ASSERT_EQ(nsfGetItemData(pContext, hNote, "$ImageData", NSF_DATA_IMAGE, &image), NSF_STATUS_OK);
    EXPECT_EQ(image.wImageType, 2);
    ASSERT_EQ(image.pBuffer->ucbData, large.size());
    EXPECT_EQ(std::memcmp(image.pBuffer->rgbData, large.data(), large.size()), 0);
    for (uint32_t i = image.pBuffer->ucbData; i < image.pBuffer->ucbDataSize; i++)
        ASSERT_EQ(image.pBuffer->rgbData[i], 0) << "the rest of the block is zero";
    nsfFreeBuffer(pContext, &image.pBuffer);

    // A text item is no picture.
    EXPECT_EQ(nsfGetItemData(pContext, hNote, "$TITLE", NSF_DATA_IMAGE, &image), NSF_STATUS_INTERNAL);
}

TEST_F(ItemDataTest, AMimeBodyIsConvertedOnceAndTheWalkRestarts) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows runtime leaves MIME conversion out";
#endif
    kit::MimePart part;
    part.partType = kit::MimePart::kMessage;
    part.headers = "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
                   "Content-Transfer-Encoding: 8bit\r\n\r\n";
    part.body = "Hello from MIME\r\nSecond line caf\xC3\xA9\r\n";
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::raw("Body", TYPE_MIME_PART, part.value()));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);

    std::string body = text("Body");
    EXPECT_NE(body.find("Hello from MIME"), std::string::npos) << body;
    EXPECT_NE(body.find("Second line caf\xC3\xA9"), std::string::npos) << body;
    auto lines = logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "[0/0] DEBUG nsfGetItemData(): Converting MIME data to COMPOSITE data..."),
              1);
    EXPECT_EQ(
        std::count(lines.begin(), lines.end(), "[0/0] DEBUG nsfGetItemData(): Re-starting item conversion"),
        1);
    EXPECT_FALSE(
        contains(lines, "[0/0] WARNING nsfGetItemData(): MIME data was not converted to COMPOSITE data"));

    // The converted body as composite records: the walk over the rewritten items gives records.
    ASSERT_EQ(nsfGetItemData(pContext, hNote, "Body", NSF_DATA_CDR, nullptr), NSF_STATUS_OK);
    EXPECT_GT(pContext->BufferCDR->ucbData, 2u);
}

TEST_F(ItemDataTest, RecordsThatLieAboutTheirLengthEndTheReadCleanly) {
    // A text record claiming 200 bytes in a value that holds 20.
    std::vector<std::uint8_t> bad = {0x85, 0xFF, 200, 0, 0, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    kit::CdWriter cd;
    cd.paragraph().text(plainFont(), "before").raw(bad);
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    memo.add(kit::Item::richTextRaw("Body", cd.bytes()));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);
    EXPECT_NE(nsfGetItemData(pContext, hNote, "Body", NSF_DATA_TEXT, nullptr), NSF_STATUS_OK);
    std::string body(reinterpret_cast<const char *>(pContext->BufferMain->rgbData),
                     pContext->BufferMain->ucbData);
    EXPECT_EQ(body, "\r\nbefore") << "what could be read before the damage is kept";
}

TEST_F(ItemDataTest, LMBCSOfEveryGroupBecomesUTF8) {
    kit::Database db;
    kit::Note memo = kit::Note::document("Memo");
    // Raw text items carry LMBCS exactly as given.
    const std::pair<std::string, std::string> cases[] = {
        {"\x82t\x82", "\xC3\xA9t\xC3\xA9"}, // CP850 letters without a prefix
        {"\x06\xA5", "\xC4\x85"},           // Latin-2 a with ogonek
        {"\x05\xE0", "\xD0\xB0"},           // Cyrillic a
        {"\x10\x82\xA0", "\xE3\x81\x82"},   // Japanese hiragana a
        {"\x14\x20\xAC", "\xE2\x82\xAC"},   // the euro sign through the Unicode group
    };
    int i = 0;
    for (const auto &c : cases)
        memo.add(
            kit::Item::raw("T" + std::to_string(i++), TYPE_TEXT, kit::Bytes(c.first.begin(), c.first.end())));
    uint32_t noteId = db.add(std::move(memo)).info.noteId;
    open(db, noteId);
    i = 0;
    for (const auto &c : cases)
        EXPECT_EQ(text(("T" + std::to_string(i++)).c_str()), c.second);
}

} // namespace
} // namespace tessel::test
