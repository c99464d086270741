// Layout of the API's host structures: the platform's published alignment, and C and C++ agree.
#include <notes/notes.h>

#include <gtest/gtest.h>

#include <cstddef>

extern "C" size_t headerLayoutCSize(int which);

namespace {

// The host structures as the published toolkit declares them: packed on 32-bit Windows,
// naturally aligned everywhere else. Canonical sizes (ODSLength) are checked in OdsReadTest.
#if defined(_WIN32) && !defined(_WIN64)
#define HOST(packed, natural) (packed)
#else
#define HOST(packed, natural) (natural)
#endif

TEST(HeaderLayout, HostStructuresHaveThePlatformsOffsets) {
    const struct {
        const char *field;
        std::size_t offset, expected;
    } cases[] = {
        {"LSIG.Length", offsetof(LSIG, Length), HOST(2, 4)},
        {"OBJECT_DESCRIPTOR.RRV", offsetof(OBJECT_DESCRIPTOR, RRV), HOST(2, 4)},
        {"FILEOBJECT.FileNameLength", offsetof(FILEOBJECT, FileNameLength), HOST(6, 8)},
        {"FILEOBJECT.FileSize", offsetof(FILEOBJECT, FileSize), HOST(16, 20)},
        {"FILEOBJECT.FileModified", offsetof(FILEOBJECT, FileModified), HOST(28, 32)},
        {"CDPABDEFINITION.TabTypes", offsetof(CDPABDEFINITION, TabTypes), 64},
        {"CDPABDEFINITION.Flags2", offsetof(CDPABDEFINITION, Flags2), 68},
        {"CDHOTSPOTBEGIN.Flags", offsetof(CDHOTSPOTBEGIN, Flags), HOST(6, 8)},
        {"CDHOTSPOTBEGIN.DataLength", offsetof(CDHOTSPOTBEGIN, DataLength), HOST(10, 12)},
        {"CDCAPTION.FontID", offsetof(CDCAPTION, FontID), HOST(7, 8)},
        {"CDCAPTION.FontColor", offsetof(CDCAPTION, FontColor), HOST(11, 12)},
        {"CDIMAGEHEADER.ImageType", offsetof(CDIMAGEHEADER, ImageType), HOST(6, 8)},
        {"CDIMAGEHEADER.ImageDataSize", offsetof(CDIMAGEHEADER, ImageDataSize), HOST(12, 16)},
        {"CDIMAGESEGMENT.DataSize", offsetof(CDIMAGESEGMENT, DataSize), HOST(6, 8)},
        {"CDBITMAPHEADER.SegmentCount", offsetof(CDBITMAPHEADER, SegmentCount), HOST(32, 34)},
        {"CDPRETABLEBEGIN.ColumnSizingBits1", offsetof(CDPRETABLEBEGIN, ColumnSizingBits1), HOST(10, 12)},
        {"CDPRETABLEBEGIN.InnerBorderColor", offsetof(CDPRETABLEBEGIN, InnerBorderColor), HOST(32, 36)},
        {"CDTABLEEND.Spare", offsetof(CDTABLEEND, Spare), HOST(2, 4)},
        {"CDBORDERINFO.Color", offsetof(CDBORDERINFO, Color), HOST(42, 44)},
        {"CDRESOURCE.Reserved", offsetof(CDRESOURCE, Reserved), 18},
        {"CDFIELD.FontID", offsetof(CDFIELD, FontID), HOST(18, 20)},
        {"CDFIELD.TextValueLength", offsetof(CDFIELD, TextValueLength), HOST(34, 36)},
        {"CDFILEHEADER.FileDataSize", offsetof(CDFILEHEADER, FileDataSize), HOST(8, 12)},
        {"MIME_PART.dwFlags", offsetof(MIME_PART, dwFlags), HOST(2, 4)},
        {"MIME_PART.wByteCount", offsetof(MIME_PART, wByteCount), HOST(8, 10)},
        {"MIME_PART.dwSpare", offsetof(MIME_PART, dwSpare), HOST(16, 20)},
        {"RFC822ITEMDESC.w822BodyLen", offsetof(RFC822ITEMDESC, w822BodyLen), HOST(12, 14)},
        {"NOTELINK.Note", offsetof(NOTELINK, Note), 24},
        {"ORIGINATORID.SequenceTime", offsetof(ORIGINATORID, SequenceTime), 20},
        {"SEARCH_MATCH.NoteClass", offsetof(SEARCH_MATCH, NoteClass), 48},
        {"SEARCH_MATCH.SummaryLength", offsetof(SEARCH_MATCH, SummaryLength), 52},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.offset, c.expected) << c.field;
    const struct {
        const char *type;
        std::size_t size, expected;
    } sizes[] = {
        {"LSIG", sizeof(LSIG), HOST(6, 8)},
        {"FILEOBJECT", sizeof(FILEOBJECT), HOST(36, 40)},
        {"MIME_PART", sizeof(MIME_PART), HOST(20, 24)},
        {"RFC822ITEMDESC", sizeof(RFC822ITEMDESC), HOST(14, 16)},
        {"CDPABDEFINITION", sizeof(CDPABDEFINITION), HOST(70, 72)},
        {"SEARCH_MATCH", sizeof(SEARCH_MATCH), HOST(54, 56)},
        {"CDTEXT", sizeof(CDTEXT), 8},
        {"TIMEDATE", sizeof(TIMEDATE), 8},
    };
    for (const auto &c : sizes)
        EXPECT_EQ(c.size, c.expected) << c.type;
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
