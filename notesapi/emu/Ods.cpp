#include "Ods.h"

#include <notes/notes.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace notesemu {
namespace {

// Field layouts of the published structures. Nested structures are spelled out: a TIMEDATE is
// "dd", a WSIG "ww", an LSIG "wd", a BSIG "bb", a COLOR_VALUE "wb4".
#define ODS_ENTRY(number, type, layout)                                                                      \
    OdsType {                                                                                                \
        number, #number, layout, sizeof(type)                                                                \
    }

constexpr std::array kTypes{
    ODS_ENTRY(_WORD, WORD, "w"),
    ODS_ENTRY(_DWORD, DWORD, "d"),
    ODS_ENTRY(_NUMBER, NUMBER, "q"),
    ODS_ENTRY(_TIMEDATE, TIMEDATE, "dd"),
    ODS_ENTRY(_TIMEDATE_PAIR, TIMEDATE_PAIR, "dddd"),
    ODS_ENTRY(_ALIGNED_NUMBER_PAIR, NUMBER_PAIR, "qq"),
    ODS_ENTRY(_LIST, LIST, "w"),
    ODS_ENTRY(_RANGE, RANGE, "ww"),
    ODS_ENTRY(_DBID, DBID, "dd"),
    ODS_ENTRY(_ITEM, ITEM, "ww"),
    ODS_ENTRY(_ITEM_TABLE, ITEM_TABLE, "ww"),
    ODS_ENTRY(_SEARCH_MATCH, SEARCH_MATCH,
              "ddddd"
              "ddddddd"
              "wbbw"),
    ODS_ENTRY(_ORIGINATORID, ORIGINATORID,
              "dddddd"
              "d"),
    ODS_ENTRY(_OBJECT_DESCRIPTOR, OBJECT_DESCRIPTOR, "wd"),
    ODS_ENTRY(_UNIVERSALNOTEID, UNIVERSALNOTEID, "dddd"),
    ODS_ENTRY(_NOTELINK, NOTELINK,
              "dd"
              "dddd"
              "dddd"),
    ODS_ENTRY(_LICENSEID, LICENSEID, "dd"),
    ODS_ENTRY(_FILEOBJECT, FILEOBJECT,
              "wd"
              "wwwwwd"
              "dddd"),
    ODS_ENTRY(_CDLINK2, CDLINK2,
              "ww"
              "w"),
    ODS_ENTRY(_CDLINKEXPORT2, CDLINKEXPORT2,
              "ww"
              "dd"
              "dddd"
              "dddd"),
    ODS_ENTRY(_CDPARAGRAPH, CDPARAGRAPH, "bb"),
    ODS_ENTRY(_CDPABDEFINITION, CDPABDEFINITION,
              "ww"
              "wwwwwwwww"
              "w20"
              "wdw"),
    ODS_ENTRY(_CDPABREFERENCE, CDPABREFERENCE,
              "bb"
              "w"),
    ODS_ENTRY(_CDTEXT, CDTEXT,
              "ww"
              "d"),
    ODS_ENTRY(_CDFIELD, CDFIELD,
              "ww"
              "www"
              "b4"
              "b4"
              "d"
              "wwwwwww"),
    ODS_ENTRY(_CDFONTTABLE, CDFONTTABLE,
              "ww"
              "w"),
    ODS_ENTRY(_CDFACE, CDFACE,
              "bb"
              "b32"),
    ODS_ENTRY(_CDBITMAPHEADER, CDBITMAPHEADER,
              "wd"
              "ww"
              "ww"
              "wwd"
              "wwwwwwww"),
    ODS_ENTRY(_CDBITMAPSEGMENT, CDBITMAPSEGMENT,
              "wd"
              "dd"
              "ww"),
    ODS_ENTRY(_CDCOLORTABLE, CDCOLORTABLE, "wd"),
    ODS_ENTRY(_CDPATTERNTABLE, CDPATTERNTABLE, "wd"),
    ODS_ENTRY(_CDGRAPHIC, CDGRAPHIC,
              "wd"
              "ww"
              "ww"
              "wwww"
              "w"
              "bb"
              "w"),
    ODS_ENTRY(_CDTABLEBEGIN, CDTABLEBEGIN,
              "bb"
              "w6"),
    ODS_ENTRY(_CDTABLECELL, CDTABLECELL,
              "bb"
              "bb"
              "www"
              "bb"
              "w"
              "bb"
              "w"),
    ODS_ENTRY(_CDTABLEEND, CDTABLEEND,
              "bb"
              "d"),
    ODS_ENTRY(_FILEOBJECT_MACEXT, FILEOBJECT_MACEXT,
              "b4"
              "b4"
              "dd"
              "w"
              "d"),
    ODS_ENTRY(_FILEOBJECT_HPFSEXT, FILEOBJECT_HPFSEXT, "ddd"),
    ODS_ENTRY(_CDHOTSPOTBEGIN, CDHOTSPOTBEGIN,
              "ww"
              "wdw"),
    ODS_ENTRY(_CDHOTSPOTEND, CDHOTSPOTEND, "bb"),
    ODS_ENTRY(_CDBUTTON, CDBUTTON,
              "ww"
              "wwww"
              "d"),
    ODS_ENTRY(_CDBAR, CDBAR,
              "ww"
              "dd"),
    ODS_ENTRY(_CDTRANSPARENTTABLE, CDTRANSPARENTTABLE,
              "wd"
              "ww"),
    ODS_ENTRY(_CDHRULE, CDHRULE,
              "ww"
              "d"
              "wwww"),
    ODS_ENTRY(_CDBEGINRECORD, CDBEGINRECORD,
              "bb"
              "ww"),
    ODS_ENTRY(_CDENDRECORD, CDENDRECORD,
              "bb"
              "ww"),
    ODS_ENTRY(_CDCELLBACKGROUNDDATA, CDCELLBACKGROUNDDATA,
              "ww"
              "bb"
              "d"),
    ODS_ENTRY(_CDRESOURCE, CDRESOURCE,
              "ww"
              "d"
              "wwwww"
              "b8"),
    ODS_ENTRY(_MIME_PART, MIME_PART,
              "wd"
              "bb"
              "wwww"
              "d"),
    ODS_ENTRY(_CDPRETABLEBEGIN, CDPRETABLEBEGIN,
              "ww"
              "d"
              "bb"
              "dd"
              "bb"
              "ww"
              "dd"
              "wb4"
              "www"),
    ODS_ENTRY(_CDCOLOR, CDCOLOR,
              "bb"
              "wb4"),
    ODS_ENTRY(_CDBORDERINFO, CDBORDERINFO,
              "ww"
              "d"
              "wwwww"
              "d"
              "w10"
              "wb4"
              "w5"),
    ODS_ENTRY(_RFC822ITEMDESC, RFC822ITEMDESC,
              "wd"
              "wwww"),
    ODS_ENTRY(_COLOR_VALUE, COLOR_VALUE, "wb4"),
    ODS_ENTRY(_CDIMAGEHEADER, CDIMAGEHEADER,
              "wd"
              "www"
              "dddd"),
    ODS_ENTRY(_CDIMAGESEGMENT, CDIMAGESEGMENT,
              "wd"
              "ww"),
    ODS_ENTRY(_CDCAPTION, CDCAPTION,
              "ww"
              "w"
              "b"
              "d"
              "wb4"
              "b11"),
    ODS_ENTRY(_CDFILEHEADER, CDFILEHEADER,
              "wd"
              "w"
              "dddd"),
    ODS_ENTRY(_CDFILESEGMENT, CDFILESEGMENT,
              "wd"
              "ww"
              "dd"),
};

#undef ODS_ENTRY

constexpr bool layoutsMatchHostSizes() {
    for (const OdsType &type : kTypes) {
        if (odsLayoutSize(type.layout) != type.size)
            return false;
    }
    return true;
}
static_assert(layoutsMatchHostSizes(), "an ODS layout disagrees with its host structure's size");

// Copies one structure field by field, reversing the bytes of multi-byte fields on a big-endian
// host (canonical form is little-endian both ways, so the same routine serves both directions).
void convert(std::string_view layout, const std::byte *from, std::byte *to) {
    std::size_t i = 0;
    while (i < layout.size()) {
        std::size_t width = 1;
        switch (layout[i]) {
        case 'w':
            width = 2;
            break;
        case 'd':
            width = 4;
            break;
        case 'q':
            width = 8;
            break;
        default:
            width = 1;
            break;
        }
        ++i;
        std::size_t count = 0;
        while (i < layout.size() && layout[i] >= '0' && layout[i] <= '9')
            count = count * 10 + static_cast<std::size_t>(layout[i++] - '0');
        count = count == 0 ? 1 : count;
        for (std::size_t n = 0; n < count; ++n) {
            if constexpr (std::endian::native == std::endian::little) {
                std::memcpy(to, from, width);
            } else {
                std::reverse_copy(from, from + width, to);
            }
            from += width;
            to += width;
        }
    }
}

} // namespace

const OdsType *findOdsType(WORD number) {
    for (const OdsType &type : kTypes) {
        if (type.number == number)
            return &type;
    }
    return nullptr;
}

void odsToHost(const OdsType &type, const std::byte *canonical, std::byte *host, std::size_t iterations) {
    for (std::size_t n = 0; n < iterations; ++n)
        convert(type.layout, canonical + n * type.size, host + n * type.size);
}

void hostToOds(const OdsType &type, const std::byte *host, std::byte *canonical, std::size_t iterations) {
    for (std::size_t n = 0; n < iterations; ++n)
        convert(type.layout, host + n * type.size, canonical + n * type.size);
}

} // namespace notesemu
