// Layout of the API structures: canonical records must sit at their on-disk offsets (the
// headers' own size checks cover the sizes), and C and C++ must agree.
#include <notes/notes.h>

#include <gtest/gtest.h>

#include <cstddef>

extern "C" size_t headerLayoutCSize(int which);

namespace {

TEST(HeaderLayout, CanonicalRecordsHaveTheirOnDiskOffsets) {
    // Fields that natural alignment would move.
    EXPECT_EQ(offsetof(LSIG, Length), 2u);
    EXPECT_EQ(offsetof(OBJECT_DESCRIPTOR, RRV), 2u);
    EXPECT_EQ(offsetof(FILEOBJECT, FileNameLength), 6u);
    EXPECT_EQ(offsetof(FILEOBJECT, FileSize), 16u);
    EXPECT_EQ(offsetof(FILEOBJECT, FileModified), 28u);
    EXPECT_EQ(offsetof(CDPABDEFINITION, TabTypes), 64u);
    EXPECT_EQ(offsetof(CDPABDEFINITION, Flags2), 68u);
    EXPECT_EQ(offsetof(CDHOTSPOTBEGIN, Flags), 6u);
    EXPECT_EQ(offsetof(CDHOTSPOTBEGIN, DataLength), 10u);
    EXPECT_EQ(offsetof(CDCAPTION, FontID), 7u);
    EXPECT_EQ(offsetof(CDCAPTION, FontColor), 11u);
    EXPECT_EQ(offsetof(CDIMAGEHEADER, ImageType), 6u);
    EXPECT_EQ(offsetof(CDIMAGEHEADER, ImageDataSize), 12u);
    EXPECT_EQ(offsetof(CDIMAGESEGMENT, DataSize), 6u);
    EXPECT_EQ(offsetof(CDBITMAPHEADER, SegmentCount), 32u);
    EXPECT_EQ(offsetof(CDPRETABLEBEGIN, ColumnSizingBits1), 10u);
    EXPECT_EQ(offsetof(CDPRETABLEBEGIN, InnerBorderColor), 32u);
    EXPECT_EQ(offsetof(CDTABLEEND, Spare), 2u);
    EXPECT_EQ(offsetof(CDBORDERINFO, Color), 42u);
    EXPECT_EQ(offsetof(CDRESOURCE, Reserved), 18u);
    EXPECT_EQ(offsetof(CDFIELD, FontID), 18u);
    EXPECT_EQ(offsetof(CDFIELD, TextValueLength), 34u);
    EXPECT_EQ(offsetof(CDFILEHEADER, FileDataSize), 8u);
    EXPECT_EQ(offsetof(MIME_PART, dwFlags), 2u);
    EXPECT_EQ(offsetof(MIME_PART, wByteCount), 8u);
    EXPECT_EQ(offsetof(MIME_PART, dwSpare), 16u);
    EXPECT_EQ(offsetof(RFC822ITEMDESC, w822BodyLen), 12u);
    EXPECT_EQ(offsetof(NOTELINK, Note), 24u);
    EXPECT_EQ(offsetof(ORIGINATORID, SequenceTime), 20u);
    EXPECT_EQ(offsetof(SEARCH_MATCH, NoteClass), 48u);
    EXPECT_EQ(offsetof(SEARCH_MATCH, SummaryLength), 52u);
}

TEST(HeaderLayout, HostStructuresFollowThePlatformAndCAgreesWithCxx) {
    EXPECT_EQ(headerLayoutCSize(0), sizeof(CDPABDEFINITION));
    EXPECT_EQ(headerLayoutCSize(1), sizeof(FILEOBJECT));
    EXPECT_EQ(headerLayoutCSize(2), sizeof(BLOCKID));
    EXPECT_EQ(headerLayoutCSize(3), sizeof(SEARCH_MATCH));
#if defined(_WIN32) && !defined(_WIN64)
    EXPECT_EQ(sizeof(BLOCKID), 6u);
#else
    EXPECT_EQ(sizeof(BLOCKID), 8u);
    EXPECT_EQ(alignof(BLOCKID), 4u);
#endif
    EXPECT_EQ(sizeof(DHANDLE), 4u);
    EXPECT_EQ(sizeof(MEMHANDLE), 4u);
}

TEST(HeaderLayout, StatusMacrosSplitPackageAndNumber) {
    const STATUS status = STS_DISPLAYED | STS_REMOTE | ERR_NOT_SEALED_FOR_YOU;
    EXPECT_EQ(ERR(status), ERR_NOT_SEALED_FOR_YOU);
    EXPECT_EQ(PKG(status), PKG_NSF);
    EXPECT_EQ(ERRNUM(status), 0x65);
}

} // namespace
