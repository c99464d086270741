// The catalogue built at open: which notes and attachments become subfiles, in which order, with
// which names, kinds and times; the picture catalogue and its lookups; hostile input and the
// growth of every array.
#include "OpenFixture.h"

#include "nsf/catalogue/images.h"
#include "nsf/items/buffers.h"
#include "nsf/base/memory.h"
#include <notes/notes.h>

namespace tessel::test {
namespace {

using kit::Bytes;
using kit::Item;
using kit::Note;

// A FILEOBJECT value in canonical form (without the type word), followed by the name's bytes.
Bytes fileObject(const std::string &name, uint16_t wHostType, uint16_t cbNameDeclared,
                 uint16_t wObjectType = 0) {
    Bytes b;
    auto word = [&](uint16_t w) {
        b.push_back(static_cast<std::uint8_t>(w & 0xFF));
        b.push_back(static_cast<std::uint8_t>(w >> 8));
    };
    auto dword = [&](uint32_t d) {
        word(static_cast<uint16_t>(d & 0xFFFF));
        word(static_cast<uint16_t>(d >> 16));
    };
    word(wObjectType);
    dword(0x1234); // RRV
    word(cbNameDeclared);
    word(wHostType);
    word(0); // compression
    word(0); // attributes
    word(0); // flags
    dword(3);
    for (int i = 0; i < 4; i++)
        dword(0); // created and modified: unknown
    b.insert(b.end(), name.begin(), name.end());
    return b;
}

Bytes gif(size_t cb) {
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
    for (size_t i = b.size(); i < cb; i++)
        b.push_back(static_cast<std::uint8_t>(i * 7));
    return b;
}

Note picture(const std::string &title, size_t cb = 64) {
    return Note::imageResource(title, kit::ImageFile{kit::ImageFile::Format::Gif, gif(cb)});
}

using CatalogueTest = OpenTest;

TEST_F(CatalogueTest, NotesAndTheirAttachmentsInOrderWithAndWithoutRoot) {
    kit::Database db;
    Note first = memo("Files");
    first.add(Item::file(attachment("a.txt")));
    first.add(Item::file(attachment("b.txt")));
    first.add(Item::file(attachment("embedded.doc", "ole")));       // skipped host
    first.add(Item::file(attachment("sheet.xls", "bytearrayext"))); // an OLE subfile
    first.add(Item::file(attachment("page.bin", "bytearraypage"))); // skipped host
    db.add(std::move(first));
    Note plain = Note::document("Note");
    plain.add(Item::text("Category", "nothing a mail reader shows")); // neither header nor Body
    db.add(std::move(plain));
    Note bodyOnly = Note::document("Note");
    bodyOnly.add(Item::richText("Body", kit::RichText{}.par(1, "text")));
    db.add(std::move(bodyOnly));
    db.add(Note::view("All"));

    for (bool bRoot : {true, false}) {
        SCOPED_TRACE(bRoot);
        ASSERT_NE(open(db, bRoot ? CNVO_CREATEROOTDIR : 0), nullptr);
        ASSERT_EQ(openStatus, NSF_STATUS_OK);
        int32_t o = bRoot ? 1 : 0;
        std::vector<int32_t> expected = {QLSubFileType_Main, QLSubFileType_Attachment,
                                         QLSubFileType_Attachment, QLSubFileType_OLE, QLSubFileType_Main};
        if (bRoot)
            expected.insert(expected.begin(), QLSubFileType_Folder);
        EXPECT_EQ(kinds(), expected);
        for (int32_t i = 0; i < pOpen->numSubFiles; i++)
            EXPECT_EQ(sub(i).nSubFile, i);
        if (bRoot) {
            EXPECT_EQ(sub(0).dwNoteID, 0u);
        }
        EXPECT_EQ(fileName(o + 1), "a.txt");
        EXPECT_EQ(fileName(o + 2), "b.txt");
        EXPECT_EQ(fileName(o + 3), "sheet.xls");
        EXPECT_EQ(sub(o + 1).nFileItem, 1);
        EXPECT_EQ(sub(o + 2).nFileItem, 2);
        EXPECT_EQ(sub(o + 3).nFileItem, 4) << "the skipped OLE host still counts among the $FILE items";
        EXPECT_EQ(sub(o + 1).dwNoteID, sub(o).dwNoteID);
        EXPECT_STREQ(reinterpret_cast<const char *>(sub(o + 1).rgbOrigFileName), "a.txt");
        EXPECT_TRUE(sub(o).bNoteIsMail);
        EXPECT_FALSE(sub(o + 4).bNoteIsMail) << "a Body alone makes a subfile, not a mail note";
        EXPECT_TRUE(logged("INFO nsfGetNoteSubfile(): Added note as subfile, dwNoteID " +
                           std::to_string(sub(o).dwNoteID) + ", bNoteIsMail 1, cSubFiles " +
                           std::to_string(o + 1)));
        EXPECT_TRUE(logged("DIAG nsfGetNoteSubfile(): Note is not subfile"));
        EXPECT_TRUE(
            logged("Skipping non-document note, dwNoteID " + std::to_string(db.notes[3].info.noteId)));
    }
}

TEST_F(CatalogueTest, OptionsChooseNotesAndAttachments) {
    kit::Database db;
    Note withFile = memo("Report");
    withFile.add(Item::file(attachment("r.pdf")));
    db.add(std::move(withFile));
    Note plain = Note::document("Note");
    plain.add(Item::text("Category", "x"));
    db.add(std::move(plain));
    Note form = Note::raw("form"); // a design note that carries a mail item
    form.add(Item::text("Subject", "design"));
    db.add(std::move(form));

    struct Case {
        const char *pszOption;
        std::vector<int32_t> kinds;
    };
    const Case cases[] = {
        {nullptr, {QLSubFileType_Main, QLSubFileType_Attachment}},
        {"ExportDXL", {QLSubFileType_Main}},
        {"ExtractAllFields", {QLSubFileType_Main, QLSubFileType_Attachment, QLSubFileType_Main}},
        {"ExtractAllNotes", {QLSubFileType_Main, QLSubFileType_Attachment, QLSubFileType_Main}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.pszOption != nullptr ? c.pszOption : "none");
        for (const char *psz : {"ExportDXL", "ExtractAllFields", "ExtractAllNotes"})
            host->config().set("tessel", psz,
                               c.pszOption != nullptr && strcmp(psz, c.pszOption) == 0 ? "1" : "0");
        ASSERT_NE(open(db), nullptr);
        ASSERT_EQ(openStatus, NSF_STATUS_OK);
        EXPECT_EQ(kinds(), c.kinds);
    }
    // With every note class searched, the form became a record that is no document.
    EXPECT_FALSE(sub(2).bNoteIsDocument);
    EXPECT_FALSE(sub(2).bNoteIsMail);
    EXPECT_EQ(sub(2).dwNoteID, db.notes[2].info.noteId);
}

TEST_F(CatalogueTest, SubjectFormAndFlagsOfANote) {
    const std::pair<std::string, std::string> subjects[] = {
        {"Re: Q3 report (final)", "Re__Q3_report__final_"},
        {std::string(100, 'x'), std::string(63, 'x')},
        {"Grüße aus Köln", "Gre_aus_Kln"},
        {"tab\there", "tab_here"},
    };
    kit::Database db;
    for (const auto &[subject, expected] : subjects)
        db.add(memo(subject));
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 4);
    for (int32_t i = 0; i < 4; i++) {
        EXPECT_STREQ(sub(i).szSubject, subjects[i].second.c_str());
        EXPECT_STREQ(sub(i).szForm, "Memo");
        EXPECT_TRUE(sub(i).bNoteIsDocument);
        EXPECT_FALSE(sub(i).bNoteHasMIME);
    }
    EXPECT_TRUE(logged("DIAG nsfGetNoteSubfile(): szSubject Re__Q3_report__final_"));
    EXPECT_TRUE(logged("DIAG nsfGetNoteSubfile(): pszItemName Form, fItemIsPresent 1"));
}

TEST_F(CatalogueTest, TimesOfNotesAndAttachments) {
    kit::Database db;
    Note posted = memo("posted");
    posted.add(Item::dateTime("PostedDate", kit::DateTime::at(2020, 1, 2, 3, 4, 5)));
    posted.add(Item::dateTime("ComposedDate", kit::DateTime::at(2019, 1, 1, 0, 0, 0)));
    kit::FileAttachment created = attachment("created.txt");
    created.modified.reset();
    created.created = kit::DateTime::at(2018, 6, 7, 8, 9, 10);
    posted.add(Item::file(created));
    posted.add(Item::file(attachment("modified.txt")));
    kit::FileAttachment timeless = attachment("timeless.txt");
    timeless.modified.reset();
    posted.add(Item::file(timeless));
    db.add(std::move(posted));
    Note composed = memo("composed");
    composed.add(Item::dateTime("ComposedDate", kit::DateTime::at(2019, 12, 31, 23, 59, 58)));
    db.add(std::move(composed));
    db.add(memo("no time"));

    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 6);
    EXPECT_EQ(value(sub(0).fileTime), fileTime(2020, 1, 2, 3, 4, 5));
    EXPECT_EQ(value(sub(1).fileTime), fileTime(2018, 6, 7, 8, 9, 10)) << "created time when no modified time";
    EXPECT_EQ(value(sub(2).fileTime), fileTime(2021, 3, 4, 5, 6, 7));
    EXPECT_EQ(value(sub(3).fileTime), 0u);
    EXPECT_EQ(fileName(3), "timeless.txt") << "an unknown time costs nothing else";
    EXPECT_EQ(value(sub(4).fileTime), fileTime(2019, 12, 31, 23, 59, 58));
    EXPECT_EQ(value(sub(5).fileTime), 0u);
    EXPECT_TRUE(logged("DIAG nsfGetNoteFILETIME(): Note has no posted or composed time"));
}

TEST_F(CatalogueTest, PicturesAreFoundByLinkNameOrTitle) {
    kit::Database db;
    db.add(picture("logo.gif;companylogo"));
    db.add(picture("banner.gif;" + std::string(40, 'L')));
    db.add(picture("large.gif;large", 25000)); // three image segments
    Note untitled = Note::raw("form");         // picture data but no $TITLE
    untitled.add(Item::richTextRaw("$ImageData", Bytes{}));
    db.add(std::move(untitled));
    db.add(Note::formDesign("A form")); // a title but no picture data
    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numImages, 3);

    NSFIMAGE *pLogo = nsfFindImage(pOpen, "companylogo", nullptr);
    ASSERT_NE(pLogo, nullptr);
    EXPECT_EQ(pLogo->nImage, 1);
    EXPECT_STREQ(pLogo->szTitle, "logo.gif");
    EXPECT_EQ(pLogo->wImageType, 1);
    EXPECT_EQ(pLogo->dwNoteID, db.notes[0].info.noteId);
    ASSERT_NE(pLogo->pBuffer, nullptr);
    EXPECT_EQ(Bytes(pLogo->pBuffer->rgbData, pLogo->pBuffer->rgbData + pLogo->pBuffer->ucbData), gif(64));
    EXPECT_EQ(nsfFindImage(pOpen, "COMPANYLOGO", nullptr), pLogo);
    EXPECT_EQ(nsfFindImage(pOpen, nullptr, "LOGO.gif"), pLogo);
    EXPECT_EQ(nsfFindImage(pOpen, "no such link", "logo.gif"), pLogo) << "the title is tried after the link";

    NSFIMAGE *pBanner = pOpen->images[1];
    EXPECT_EQ(std::string(pBanner->szLinkName), std::string(31, 'L'));
    EXPECT_EQ(nsfFindImage(pOpen, std::string(31, 'L').c_str(), nullptr), pBanner);
    EXPECT_EQ(nsfFindImage(pOpen, std::string(40, 'L').c_str(), nullptr), nullptr);
    EXPECT_TRUE(logged("DIAG nsfFindImage(): Image not found, pszLinkName " + std::string(40, 'L') +
                       ", pszTitle NULL"));

    NSFIMAGE *pLarge = nsfFindImage(pOpen, "large", nullptr);
    ASSERT_NE(pLarge, nullptr);
    EXPECT_EQ(Bytes(pLarge->pBuffer->rgbData, pLarge->pBuffer->rgbData + pLarge->pBuffer->ucbData),
              gif(25000));
    EXPECT_TRUE(logged("DIAG nsfGetNoteImage(): No title"));
    EXPECT_GE(pOpen->numStandingBuffers, pLarge->pBuffer->nBuffer) << "picture buffers are never reused";
}

TEST_F(CatalogueTest, WithoutPicturesLookupsFailAndAddedPicturesStillHaveRoom) {
    kit::Database db;
    db.add(memo("one"));
    ASSERT_NE(open(db), nullptr);
    EXPECT_EQ(pOpen->images, nullptr);
    EXPECT_EQ(nsfFindImage(pOpen, "x", "y"), nullptr);
    EXPECT_TRUE(logged("WARNING nsfFindImage(): No images"));
    for (int i = 1; i <= 25; i++) {
        ASSERT_EQ(nsfNewImage(pOpen), NSF_STATUS_OK);
        EXPECT_EQ(pOpen->images[i - 1]->nImage, i);
        EXPECT_NE(pOpen->images[i - 1]->pBuffer, nullptr);
    }
    EXPECT_EQ(pOpen->numImages, 25);
    EXPECT_GE(pOpen->maxImages, 25);
}

TEST_F(CatalogueTest, MailLogoLookup) {
    kit::Database db;
    db.add(picture("logo.gif;companylogo"));
    db.add(picture("std.gif;StdNotesLtr0"));
    db.add(picture("other.gif;special"));
    Note named = memo("named");
    named.add(Item::text("Logo", "companylogo"));
    db.add(std::move(named));
    Note empty = memo("empty");
    empty.add(Item::text("Logo", ""));
    db.add(std::move(empty));
    db.add(memo("no logo item"));
    Note custom = memo("custom field");
    custom.add(Item::text("Letterhead", ""));
    db.add(std::move(custom));

    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(pOpen->numSubFiles, 4);
    EXPECT_EQ(sub(0).nMailLogoImage, 1);
    EXPECT_EQ(sub(1).nMailLogoImage, 2) << "an empty logo names StdNotesLtr0";
    EXPECT_EQ(sub(2).nMailLogoImage, 0);
    EXPECT_EQ(sub(3).nMailLogoImage, 0);
    EXPECT_TRUE(logged("DIAG nsfGetNoteSubfile(): Logo: StdNotesLtr0"));

    host->config().set("tessel", "MailLogoFieldName", "Letterhead");
    host->config().set("tessel", "MailLogoFieldDefaultValue", "special");
    ASSERT_NE(open(db), nullptr);
    EXPECT_EQ(sub(3).nMailLogoImage, 3);
    EXPECT_EQ(sub(0).nMailLogoImage, 0) << "the Logo item is not read when another field is named";
}

TEST_F(CatalogueTest, DatabasesWithoutNotes) {
    kit::Database empty;
    kit::Database design;
    design.add(Note::formDesign("Memo"));
    design.add(Note::view("All"));
    for (const kit::Database *pDb : {&empty, &design}) {
        ASSERT_NE(open(*pDb, CNVO_CREATEROOTDIR), nullptr);
        EXPECT_EQ(openStatus, NSF_STATUS_OK);
        ASSERT_EQ(pOpen->numSubFiles, 1) << "the root is kept when no note is found";
        EXPECT_EQ(sub(0).subFileType, QLSubFileType_Folder);
        EXPECT_TRUE(logged("DIAG nsfInitSubfiles(): dwIDEntries 0"));
        ASSERT_NE(open(*pDb), nullptr);
        EXPECT_EQ(openStatus, NSF_STATUS_OK);
        EXPECT_EQ(pOpen->numSubFiles, 0);
        EXPECT_EQ(pOpen->hIDTable, NULLHANDLE);
    }
}

// The normal end of a walk over a note's $FILE items is no failure: a clean open of the sample
// database writes no ERROR line at the most verbose level.
TEST_F(CatalogueTest, ACleanOpenOfTheSampleWritesNoError) {
    std::filesystem::path path = scratch.path() / "sample mail.dxl";
    std::filesystem::copy_file(TESSEL_SAMPLE_MAIL, path);
    quillon::FileIOObject sample(path, quillon::FileIOObject::Direction::Input);
    int nStatus = -1;
    pOpen = static_cast<NSFCONTEXT *>(nsfInit(sample.get(), host->services(), 0, nullptr, nullptr, &nStatus));
    ASSERT_NE(pOpen, nullptr);
    ASSERT_EQ(nStatus, NSF_STATUS_OK);
    EXPECT_GT(pOpen->numSubFiles, 3);
    std::vector<std::string> errors;
    for (const auto &line : log()) {
        if (line.find("] ERROR ") != std::string::npos)
            errors.push_back(line);
    }
    EXPECT_TRUE(errors.empty()) << errors.size() << " ERROR lines, the first: " << (errors.empty() ? "" : errors.front());
    close();
}

TEST_F(CatalogueTest, HostileAttachmentsCostOnlyThemselves) {
    kit::Database db;
    Note note = memo("hostile");
    note.add(Item::text("$FILE", "not an object"));
    note.add(Item::raw("$FILE", TYPE_OBJECT, fileObject("", HOST_MSDOS, 0)));            // no name
    note.add(Item::raw("$FILE", TYPE_OBJECT, fileObject("bad\x14\xFF", HOST_MSDOS, 5))); // not LMBCS
    note.add(Item::raw("$FILE", TYPE_OBJECT, fileObject("short", HOST_MSDOS, 300)));     // name runs past
    note.add(Item::raw("$FILE", TYPE_OBJECT, Bytes{0, 0, 1, 0, 0, 0, 9, 9}));            // truncated
    note.add(Item::raw("$FILE", TYPE_OBJECT, fileObject("x", HOST_MSDOS, 1, 0x0077)));   // unknown object
    note.add(Item::raw("$FILE", TYPE_OBJECT, fileObject("y", HOST_MSDOS, 1, OBJECT_ASSIST_RUNDATA)));
    note.add(Item::raw("$FILE", TYPE_OBJECT, fileObject("z", 0x0D00, 1))); // unknown host
    note.add(Item::file(attachment("good.txt")));
    db.add(std::move(note));
    db.add(memo("next"));

    ASSERT_NE(open(db), nullptr);
    ASSERT_EQ(openStatus, NSF_STATUS_OK);
    std::vector<int32_t> expected = {QLSubFileType_Main,       QLSubFileType_Attachment,
                                     QLSubFileType_Attachment, QLSubFileType_Attachment,
                                     QLSubFileType_Attachment, QLSubFileType_Main};
    ASSERT_EQ(kinds(), expected);
    EXPECT_EQ(sub(1).nFileItem, 2);
    EXPECT_EQ(sub(1).pbFileName, nullptr) << "an attachment without a name has none";
    EXPECT_EQ(sub(1).rgbOrigFileName, nullptr);
    EXPECT_EQ(sub(2).cbOrigFileName, 5u);
    EXPECT_EQ(std::memcmp(sub(2).rgbOrigFileName, "bad\x14\xFF", 5), 0) << "the stored name is kept as it is";
    EXPECT_EQ(fileName(2).substr(0, 3), "bad") << "what cannot be converted is replaced, the rest kept";
    EXPECT_EQ(fileName(3), "short");
    EXPECT_EQ(fileName(4), "good.txt");
    EXPECT_EQ(sub(4).nFileItem, 9);
    EXPECT_TRUE(logged("WARNING nsfGetAttachSubfile(): File name runs past the value (length 300, room 5)"));
    EXPECT_TRUE(logged("WARNING nsfGetAttachSubfile(): Truncated object (size 8)"));
    EXPECT_TRUE(logged("WARNING nsfGetAttachSubfile(): Unknown ObjDesc.ObjectType 0x77"));
    EXPECT_TRUE(logged("DIAG nsfGetAttachSubfile(): Unknown wHostType 0xd00 (HOST_UNKNOWN)"));
    EXPECT_TRUE(logged("DIAG nsfGetNoteSubfiles(): wValueDataType 0x500 (CLASS_TEXT, TYPE_TEXT)"));
}

TEST_F(CatalogueTest, TenThousandAttachmentsOnOneNote) {
    kit::Database db;
    Note note = memo("many");
    for (int i = 0; i < 10000; i++)
        note.add(Item::file(attachment("f" + std::to_string(i) + ".txt")));
    db.add(std::move(note));
    db.add(memo("after"));
    ASSERT_NE(open(db, CNVO_CREATEROOTDIR), nullptr);
    ASSERT_EQ(openStatus, NSF_STATUS_OK);
    ASSERT_EQ(pOpen->numSubFiles, 10003);
    EXPECT_EQ(fileName(2), "f0.txt");
    EXPECT_EQ(fileName(10001), "f9999.txt");
    EXPECT_EQ(sub(10001).nFileItem, 10000);
    EXPECT_EQ(sub(10002).subFileType, QLSubFileType_Main);
}

TEST_F(CatalogueTest, HugeCountsFailCleanlyWithOutOfMemory) {
    kit::Database db;
    db.add(memo("one"));
    ASSERT_NE(open(db), nullptr);

    // A fresh array sized from an absurd number of notes.
    NSFSUBFILE **rgSaved = pOpen->subFiles;
    int32_t cSaved = pOpen->numSubFiles, cMaxSaved = pOpen->maxSubFiles;
    pOpen->subFiles = nullptr;
    pOpen->dwIDEntries = 0x40000000;
    EXPECT_EQ(nsfNewSubFile(pOpen), NSF_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(pOpen->subFiles, nullptr);
    EXPECT_TRUE(logged("ERROR nsfNewSubFile(): Error allocating subfile array (max # subfiles -2147483648)"));

    // A full array that cannot grow any more keeps what it has.
    pOpen->subFiles = rgSaved;
    pOpen->numSubFiles = pOpen->maxSubFiles = 0x7FFFFFF0;
    pOpen->dwIDEntries = 0x100;
    EXPECT_EQ(nsfNewSubFile(pOpen), NSF_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(pOpen->subFiles, rgSaved);
    pOpen->numSubFiles = cSaved;
    pOpen->maxSubFiles = cMaxSaved;

    NSFIMAGE **rgImages = pOpen->images;
    pOpen->dwIDEntries = 0xFFFFFFFF;
    EXPECT_EQ(nsfNewImage(pOpen), NSF_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(pOpen->images, rgImages);
    EXPECT_EQ(pOpen->numImages, 0);
}

TEST_F(CatalogueTest, EveryAllocationFailureKeepsTheOpenSoundAndLeaksNothing) {
    kit::Database db;
    db.add(picture("logo.gif;StdNotesLtr0"));
    Note first = memo("first");
    first.add(Item::text("Logo", ""));
    first.add(Item::file(attachment("a.txt")));
    first.add(Item::file(attachment("b.txt")));
    db.add(std::move(first));
    db.add(memo("second"));

    ASSERT_NE(open(db, CNVO_CREATEROOTDIR), nullptr);
    ASSERT_EQ(openStatus, NSF_STATUS_OK);
    ASSERT_EQ(pOpen->numSubFiles, 5);
    close();
    allocator.resetCounts();
    open(db, CNVO_CREATEROOTDIR);
    close();
    uint64_t cAllocations = allocator.counts().allocations;

    for (uint64_t n = 1; n <= cAllocations; n++) {
        SCOPED_TRACE(n);
        allocator.resetCounts();
        allocator.failAllocation(n);
        open(db, CNVO_CREATEROOTDIR);
        allocator.failAllocation(0);
        EXPECT_TRUE(openStatus == NSF_STATUS_OK || openStatus == NSF_STATUS_OUT_OF_MEMORY) << openStatus;
        if (pOpen != nullptr && openStatus == NSF_STATUS_OK) {
            // Whatever was catalogued is complete: records in order, notes before their attachments.
            EXPECT_LT(pOpen->numSubFiles, 6);
            for (int32_t i = 0; i < pOpen->numSubFiles; i++)
                EXPECT_EQ(sub(i).nSubFile, i);
        }
        close();
        EXPECT_EQ(allocator.liveCount(), 0u);
    }
}

} // namespace
} // namespace tessel::test
