// ODSLength, ODSReadMemory and ODSWriteMemory against hand-written canonical bytes.
#include "Log.h"
#include "Ods.h"

#include <notes/notes.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace notesemu {
namespace {

using Bytes = std::vector<std::uint8_t>;

void le16(Bytes &out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void le32(Bytes &out, unsigned value) {
    le16(out, value & 0xFFFF);
    le16(out, value >> 16);
}

TEST(OdsLength, PublishedCanonicalSizes) {
    const struct {
        WORD type;
        WORD size;
    } cases[] = {
        {_WORD, 2},
        {_DWORD, 4},
        {_NUMBER, 8},
        {_TIMEDATE, 8},
        {_TIMEDATE_PAIR, 16},
        {_ALIGNED_NUMBER_PAIR, 16},
        {_LIST, 2},
        {_RANGE, 4},
        {_DBID, 8},
        {_ITEM, 4},
        {_ITEM_TABLE, 4},
        {_SEARCH_MATCH, 54},
        {_ORIGINATORID, 28},
        {_OBJECT_DESCRIPTOR, 6},
        {_UNIVERSALNOTEID, 16},
        {_NOTELINK, 40},
        {_LICENSEID, 8},
        {_FILEOBJECT, 36},
        {_CDLINK2, 6},
        {_CDLINKEXPORT2, 44},
        {_CDPARAGRAPH, 2},
        {_CDPABDEFINITION, 70},
        {_CDPABREFERENCE, 4},
        {_CDTEXT, 8},
        {_CDFIELD, 36},
        {_CDFONTTABLE, 6},
        {_CDFACE, 34},
        {_CDBITMAPHEADER, 38},
        {_CDBITMAPSEGMENT, 18},
        {_CDCOLORTABLE, 6},
        {_CDPATTERNTABLE, 6},
        {_CDGRAPHIC, 28},
        {_CDTABLEBEGIN, 14},
        {_CDTABLECELL, 18},
        {_CDTABLEEND, 6},
        {_FILEOBJECT_MACEXT, 22},
        {_FILEOBJECT_HPFSEXT, 12},
        {_CDHOTSPOTBEGIN, 12},
        {_CDHOTSPOTEND, 2},
        {_CDBUTTON, 16},
        {_CDBAR, 12},
        {_CDTRANSPARENTTABLE, 10},
        {_CDHRULE, 16},
        {_CDBEGINRECORD, 6},
        {_CDENDRECORD, 6},
        {_CDCELLBACKGROUNDDATA, 10},
        {_CDRESOURCE, 26},
        {_CDPRETABLEBEGIN, 44},
        {_CDCOLOR, 8},
        {_CDBORDERINFO, 58},
        {_COLOR_VALUE, 6},
        {_CDIMAGEHEADER, 28},
        {_CDIMAGESEGMENT, 10},
        {_CDCAPTION, 28},
        {_CDFILEHEADER, 24},
        {_CDFILESEGMENT, 18},
        {_MIME_PART, 20},
        {_RFC822ITEMDESC, 14},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ODSLength(c.type), c.size) << "ODS type " << c.type;
}

TEST(OdsLength, UnknownTypeIsZeroAndLogged) {
    LogCapture log;
    EXPECT_EQ(ODSLength(9999), 0);
    EXPECT_TRUE(log.contains("unknown ODS type 9999"));
}

Bytes fileObjectBytes() {
    Bytes bytes;
    le16(bytes, OBJECT_FILE);
    le32(bytes, 0x11223344); // RRV
    le16(bytes, 12);         // FileNameLength
    le16(bytes, HOST_MSDOS);
    le16(bytes, COMPRESS_LZ1);
    le16(bytes, ATTRIB_READONLY);
    le16(bytes, FILEFLAG_INDOC);
    le32(bytes, 18432); // FileSize
    le32(bytes, 0x006CDCC0);
    le32(bytes, 0x852563FC);
    le32(bytes, 0x0032B864);
    le32(bytes, 0x652563FC);
    return bytes;
}

TEST(OdsReadMemory, ObjectDescriptorThenFileObjectAsTheAttachmentReaderDoes) {
    const Bytes bytes = fileObjectBytes();
    const void *source = bytes.data();
    OBJECT_DESCRIPTOR descriptor{};
    ODSReadMemory(&source, _OBJECT_DESCRIPTOR, &descriptor, 1);
    EXPECT_EQ(+descriptor.ObjectType, OBJECT_FILE);
    EXPECT_EQ(+descriptor.RRV, 0x11223344u);
    EXPECT_EQ(source, bytes.data() + 6);

    source = static_cast<const std::uint8_t *>(source) - ODSLength(_OBJECT_DESCRIPTOR);
    FILEOBJECT file{};
    ODSReadMemory(&source, _FILEOBJECT, &file, 1);
    EXPECT_EQ(source, bytes.data() + 36);
    EXPECT_EQ(+file.Header.RRV, 0x11223344u);
    EXPECT_EQ(+file.FileNameLength, 12);
    EXPECT_EQ(+file.HostType, HOST_MSDOS);
    EXPECT_EQ(+file.CompressionType, COMPRESS_LZ1);
    EXPECT_EQ(+file.FileAttributes, ATTRIB_READONLY);
    EXPECT_EQ(+file.Flags, FILEFLAG_INDOC);
    EXPECT_EQ(+file.FileSize, 18432u);
    EXPECT_EQ(+file.FileCreated.Innards[0], 0x006CDCC0u);
    EXPECT_EQ(+file.FileCreated.Innards[1], 0x852563FCu);
    EXPECT_EQ(+file.FileModified.Innards[1], 0x652563FCu);
}

TEST(OdsReadMemory, IterationsReadConsecutiveStructures) {
    Bytes bytes;
    for (unsigned i = 0; i < 3; ++i) {
        le32(bytes, 100 + i);
        le32(bytes, 200 + i);
    }
    const void *source = bytes.data();
    TIMEDATE times[3]{};
    ODSReadMemory(&source, _TIMEDATE, times, 3);
    EXPECT_EQ(source, bytes.data() + 24);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(times[i].Innards[0], 100 + i);
        EXPECT_EQ(times[i].Innards[1], 200 + i);
    }
}

TEST(OdsReadMemory, ParagraphDefinitionAndTableCellFields) {
    Bytes pab;
    le16(pab, SIG_CD_PABDEFINITION);
    le16(pab, 70);
    for (unsigned value : {7u, 3u, 2u, 1u, 0u, 720u, 360u, 1440u, 2u})
        le16(pab, value);
    for (int i = 0; i < MAXTABS; ++i)
        le16(pab, i == 1 ? 0xFD30 : 100u * static_cast<unsigned>(i + 1)); // tab 1: -720 (decimal)
    le16(pab, PABFLAG_BULLET | PABFLAG_KEEP_TOGETHER);
    le32(pab, 0x00000009);
    le16(pab, PABFLAG2_CIRCLELIST);
    const void *source = pab.data();
    CDPABDEFINITION def{};
    ODSReadMemory(&source, _CDPABDEFINITION, &def, 1);
    EXPECT_EQ(+def.Header.Signature, SIG_CD_PABDEFINITION);
    EXPECT_EQ(+def.Header.Length, 70);
    EXPECT_EQ(+def.PABID, 7);
    EXPECT_EQ(+def.JustifyMode, JUSTIFY_CENTER);
    EXPECT_EQ(+def.LeftMargin, 720);
    EXPECT_EQ(+def.RightMargin, 360);
    EXPECT_EQ(+def.FirstLineLeftMargin, 1440);
    EXPECT_EQ(+def.Tabs, 2);
    EXPECT_EQ(+def.Tab[0], 100);
    EXPECT_EQ(+def.Tab[1], -720);
    EXPECT_EQ(+def.Flags, PABFLAG_BULLET | PABFLAG_KEEP_TOGETHER);
    EXPECT_EQ(+def.TabTypes, 9u);
    EXPECT_EQ(+def.Flags2, PABFLAG2_CIRCLELIST);

    const Bytes cell{0xA4, 18, 2, 3, 0x10, 0x00, 0x20, 0x00, 0x40, 0x70, 0x55, 0x21, 0x34, 0x12, 1, 2, 4, 0};
    source = cell.data();
    CDTABLECELL tableCell{};
    ODSReadMemory(&source, _CDTABLECELL, &tableCell, 1);
    EXPECT_EQ(+tableCell.Row, 2);
    EXPECT_EQ(+tableCell.Column, 3);
    EXPECT_EQ(+tableCell.LeftMargin, 0x10);
    EXPECT_EQ(+tableCell.RightMargin, 0x20);
    EXPECT_EQ(+tableCell.FractionalWidth, 0x7040);
    EXPECT_EQ(+tableCell.Border, 0x55);
    EXPECT_EQ(+tableCell.Flags, 0x21);
    EXPECT_EQ(+tableCell.v42Border, 0x1234);
    EXPECT_EQ(+tableCell.ColumnSpan, 2);
    EXPECT_EQ(+tableCell.BackgroundColor, 4);
}

TEST(OdsReadMemory, UnknownTypeReadsNothingAndLogs) {
    const Bytes bytes(16, 0xAB);
    const void *source = bytes.data();
    Bytes dest(16, 0);
    LogCapture log;
    ODSReadMemory(&source, 4321, dest.data(), 1);
    EXPECT_EQ(source, bytes.data());
    EXPECT_EQ(dest, Bytes(16, 0));
    EXPECT_TRUE(log.contains("ODSReadMemory"));
    ODSReadMemory(nullptr, _WORD, dest.data(), 1);
    EXPECT_EQ(dest, Bytes(16, 0));
}

TEST(OdsWriteMemory, WritesTheCanonicalBytesBack) {
    const Bytes original = fileObjectBytes();
    const void *source = original.data();
    FILEOBJECT file{};
    ODSReadMemory(&source, _FILEOBJECT, &file, 1);
    Bytes written(36, 0);
    void *dest = written.data();
    ODSWriteMemory(&dest, _FILEOBJECT, &file, 1);
    EXPECT_EQ(dest, written.data() + 36);
    EXPECT_EQ(written, original);
}

// Every ODS type: distinct canonical bytes read into the host structure and written back give
// the same bytes, and the host structure is exactly sizeof the C type.
TEST(OdsRoundTrip, EveryTypeSurvivesCanonicalToHostAndBack) {
#define ROUND_TRIP_CASE(number, type, layout) {number, #type, sizeof(type)},
    const struct {
        WORD number;
        const char *name;
        std::size_t hostSize;
    } cases[] = {NOTESEMU_ODS_TYPES(ROUND_TRIP_CASE)};
#undef ROUND_TRIP_CASE
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const WORD canonicalSize = ODSLength(c.number);
        ASSERT_GT(canonicalSize, 0);
        Bytes canonical(2u * canonicalSize);
        for (std::size_t i = 0; i < canonical.size(); ++i)
            canonical[i] = static_cast<std::uint8_t>(i * 7 + 1);
        // Two structures, so that the strides of both forms are checked too.
        std::vector<std::byte> host(2 * c.hostSize + 8, std::byte{0xEE});
        const void *source = canonical.data();
        ODSReadMemory(&source, c.number, host.data(), 2);
        EXPECT_EQ(source, canonical.data() + canonical.size());
        EXPECT_EQ(host[2 * c.hostSize], std::byte{0xEE}) << "nothing written past the host structures";
        Bytes back(canonical.size(), 0);
        void *dest = back.data();
        ODSWriteMemory(&dest, c.number, host.data(), 2);
        EXPECT_EQ(dest, back.data() + back.size());
        EXPECT_EQ(back, canonical);
        const OdsType *type = findOdsType(c.number);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->hostSize, c.hostSize);
    }
}

// Fields that the platform's alignment moves are read from their canonical offsets.
TEST(OdsRoundTrip, MimePartAndRfc822DescriptorFieldsComeFromTheirCanonicalOffsets) {
    Bytes part;
    le16(part, 2);
    le32(part, 0x0F);
    part.push_back(2);
    part.push_back(0);
    for (unsigned value : {100u, 10u, 78u, 0u})
        le16(part, value);
    le32(part, 0);
    const void *source = part.data();
    MIME_PART mime{};
    ODSReadMemory(&source, _MIME_PART, &mime, 1);
    EXPECT_EQ(+mime.wVersion, 2);
    EXPECT_EQ(+mime.dwFlags, 0x0Fu);
    EXPECT_EQ(+mime.cPartType, 2);
    EXPECT_EQ(+mime.wByteCount, 100);
    EXPECT_EQ(+mime.wBoundaryLen, 10);
    EXPECT_EQ(+mime.wHeadersLen, 78);

    Bytes desc;
    le16(desc, 14);
    le32(desc, 0x08);
    for (unsigned value : {31u, 4u, 2u, 33u})
        le16(desc, value);
    source = desc.data();
    RFC822ITEMDESC rfc{};
    ODSReadMemory(&source, _RFC822ITEMDESC, &rfc, 1);
    EXPECT_EQ(+rfc.wVersion, 14);
    EXPECT_EQ(+rfc.dwFlags, 0x08u);
    EXPECT_EQ(+rfc.wNotesNativeLen, 31);
    EXPECT_EQ(+rfc.w822NameLen, 4);
    EXPECT_EQ(+rfc.w822DelimLen, 2);
    EXPECT_EQ(+rfc.w822BodyLen, 33);
    EXPECT_EQ(source, desc.data() + 14);
    EXPECT_EQ(fromOds<RFC822ITEMDESC>(desc.data()).w822BodyLen, 33) << "the runtime's own reader agrees";
    EXPECT_EQ(toOds(rfc), desc);
}

} // namespace
} // namespace notesemu
