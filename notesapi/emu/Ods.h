// Canonical (ODS) structures: the byte layout of each ODS type number, and conversion between
// canonical bytes (little-endian, no padding) and the host structures of the API headers, which
// have the platform's published alignment (packed on 32-bit Windows, natural elsewhere). Code of
// the runtime never overlays a host structure on canonical bytes: it reads and writes records
// through fromOds / appendOds, and measures them with odsSize, never with sizeof.
#pragma once

#include <notes/notes.h>

#include <notes/colorods.h>
#include <notes/editods.h>
#include <notes/mimeods.h>
#include <notes/ods.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace notesemu {

// Field layouts of the published structures, in canonical order. Nested structures are spelled
// out: a TIMEDATE is "dd", a WSIG "ww", an LSIG "wd", a BSIG "bb", a COLOR_VALUE "wb4". Letters:
// 'b' byte, 'w' WORD, 'd' DWORD, 'q' 8-byte NUMBER; a count may follow ("b32" is 32 bytes).
#define NOTESEMU_ODS_TYPES(X) \
    X(_WORD, WORD, "w") \
    X(_DWORD, DWORD, "d") \
    X(_NUMBER, NUMBER, "q") \
    X(_TIMEDATE, TIMEDATE, "dd") \
    X(_TIMEDATE_PAIR, TIMEDATE_PAIR, "dddd") \
    X(_ALIGNED_NUMBER_PAIR, NUMBER_PAIR, "qq") \
    X(_LIST, LIST, "w") \
    X(_RANGE, RANGE, "ww") \
    X(_DBID, DBID, "dd") \
    X(_ITEM, ITEM, "ww") \
    X(_ITEM_TABLE, ITEM_TABLE, "ww") \
    X(_SEARCH_MATCH, SEARCH_MATCH, "ddddddddddddwbbw") \
    X(_ORIGINATORID, ORIGINATORID, "ddddddd") \
    X(_OBJECT_DESCRIPTOR, OBJECT_DESCRIPTOR, "wd") \
    X(_UNIVERSALNOTEID, UNIVERSALNOTEID, "dddd") \
    X(_NOTELINK, NOTELINK, "dddddddddd") \
    X(_LICENSEID, LICENSEID, "dd") \
    X(_FILEOBJECT, FILEOBJECT, "wdwwwwwddddd") \
    X(_CDLINK2, CDLINK2, "www") \
    X(_CDLINKEXPORT2, CDLINKEXPORT2, "wwdddddddddd") \
    X(_CDPARAGRAPH, CDPARAGRAPH, "bb") \
    X(_CDPABDEFINITION, CDPABDEFINITION, "wwwwwwwwwwww20wdw") \
    X(_CDPABREFERENCE, CDPABREFERENCE, "bbw") \
    X(_CDTEXT, CDTEXT, "wwd") \
    X(_CDFIELD, CDFIELD, "wwwwwb4b4dwwwwwww") \
    X(_CDFONTTABLE, CDFONTTABLE, "www") \
    X(_CDFACE, CDFACE, "bbb32") \
    X(_CDBITMAPHEADER, CDBITMAPHEADER, "wdwwwwwwdwwwwwwww") \
    X(_CDBITMAPSEGMENT, CDBITMAPSEGMENT, "wdddww") \
    X(_CDCOLORTABLE, CDCOLORTABLE, "wd") \
    X(_CDPATTERNTABLE, CDPATTERNTABLE, "wd") \
    X(_CDGRAPHIC, CDGRAPHIC, "wdwwwwwwwwwbbw") \
    X(_CDTABLEBEGIN, CDTABLEBEGIN, "bbw6") \
    X(_CDTABLECELL, CDTABLECELL, "bbbbwwwbbwbbw") \
    X(_CDTABLEEND, CDTABLEEND, "bbd") \
    X(_FILEOBJECT_MACEXT, FILEOBJECT_MACEXT, "b4b4ddwd") \
    X(_FILEOBJECT_HPFSEXT, FILEOBJECT_HPFSEXT, "ddd") \
    X(_CDHOTSPOTBEGIN, CDHOTSPOTBEGIN, "wwwdw") \
    X(_CDHOTSPOTEND, CDHOTSPOTEND, "bb") \
    X(_CDBUTTON, CDBUTTON, "wwwwwwd") \
    X(_CDBAR, CDBAR, "wwdd") \
    X(_CDTRANSPARENTTABLE, CDTRANSPARENTTABLE, "wdww") \
    X(_CDHRULE, CDHRULE, "wwdwwww") \
    X(_CDBEGINRECORD, CDBEGINRECORD, "bbww") \
    X(_CDENDRECORD, CDENDRECORD, "bbww") \
    X(_CDCELLBACKGROUNDDATA, CDCELLBACKGROUNDDATA, "wwbbd") \
    X(_CDRESOURCE, CDRESOURCE, "wwdwwwwwb8") \
    X(_MIME_PART, MIME_PART, "wdbbwwwwd") \
    X(_CDPRETABLEBEGIN, CDPRETABLEBEGIN, "wwdbbddbbwwddwb4www") \
    X(_CDCOLOR, CDCOLOR, "bbwb4") \
    X(_CDBORDERINFO, CDBORDERINFO, "wwdwwwwwdw10wb4w5") \
    X(_RFC822ITEMDESC, RFC822ITEMDESC, "wdwwww") \
    X(_COLOR_VALUE, COLOR_VALUE, "wb4") \
    X(_CDIMAGEHEADER, CDIMAGEHEADER, "wdwwwdddd") \
    X(_CDIMAGESEGMENT, CDIMAGESEGMENT, "wdww") \
    X(_CDCAPTION, CDCAPTION, "wwwbdwb4b11") \
    X(_CDFILEHEADER, CDFILEHEADER, "wdwdddd") \
    X(_CDFILESEGMENT, CDFILESEGMENT, "wdwwdd")

// The structure types that have an ODS type number of their own (one number per C type).
#define NOTESEMU_ODS_STRUCTS(X) \
    X(_TIMEDATE, TIMEDATE) \
    X(_TIMEDATE_PAIR, TIMEDATE_PAIR) \
    X(_ALIGNED_NUMBER_PAIR, NUMBER_PAIR) \
    X(_LIST, LIST) \
    X(_RANGE, RANGE) \
    X(_ITEM, ITEM) \
    X(_ITEM_TABLE, ITEM_TABLE) \
    X(_SEARCH_MATCH, SEARCH_MATCH) \
    X(_ORIGINATORID, ORIGINATORID) \
    X(_OBJECT_DESCRIPTOR, OBJECT_DESCRIPTOR) \
    X(_UNIVERSALNOTEID, UNIVERSALNOTEID) \
    X(_NOTELINK, NOTELINK) \
    X(_LICENSEID, LICENSEID) \
    X(_FILEOBJECT, FILEOBJECT) \
    X(_CDLINK2, CDLINK2) \
    X(_CDLINKEXPORT2, CDLINKEXPORT2) \
    X(_CDPARAGRAPH, CDPARAGRAPH) \
    X(_CDPABDEFINITION, CDPABDEFINITION) \
    X(_CDPABREFERENCE, CDPABREFERENCE) \
    X(_CDTEXT, CDTEXT) \
    X(_CDFIELD, CDFIELD) \
    X(_CDFONTTABLE, CDFONTTABLE) \
    X(_CDFACE, CDFACE) \
    X(_CDBITMAPHEADER, CDBITMAPHEADER) \
    X(_CDBITMAPSEGMENT, CDBITMAPSEGMENT) \
    X(_CDCOLORTABLE, CDCOLORTABLE) \
    X(_CDPATTERNTABLE, CDPATTERNTABLE) \
    X(_CDGRAPHIC, CDGRAPHIC) \
    X(_CDTABLEBEGIN, CDTABLEBEGIN) \
    X(_CDTABLECELL, CDTABLECELL) \
    X(_CDTABLEEND, CDTABLEEND) \
    X(_FILEOBJECT_MACEXT, FILEOBJECT_MACEXT) \
    X(_FILEOBJECT_HPFSEXT, FILEOBJECT_HPFSEXT) \
    X(_CDHOTSPOTBEGIN, CDHOTSPOTBEGIN) \
    X(_CDHOTSPOTEND, CDHOTSPOTEND) \
    X(_CDBUTTON, CDBUTTON) \
    X(_CDBAR, CDBAR) \
    X(_CDTRANSPARENTTABLE, CDTRANSPARENTTABLE) \
    X(_CDHRULE, CDHRULE) \
    X(_CDBEGINRECORD, CDBEGINRECORD) \
    X(_CDENDRECORD, CDENDRECORD) \
    X(_CDCELLBACKGROUNDDATA, CDCELLBACKGROUNDDATA) \
    X(_CDRESOURCE, CDRESOURCE) \
    X(_MIME_PART, MIME_PART) \
    X(_CDPRETABLEBEGIN, CDPRETABLEBEGIN) \
    X(_CDCOLOR, CDCOLOR) \
    X(_CDBORDERINFO, CDBORDERINFO) \
    X(_RFC822ITEMDESC, RFC822ITEMDESC) \
    X(_COLOR_VALUE, COLOR_VALUE) \
    X(_CDIMAGEHEADER, CDIMAGEHEADER) \
    X(_CDIMAGESEGMENT, CDIMAGESEGMENT) \
    X(_CDCAPTION, CDCAPTION) \
    X(_CDFILEHEADER, CDFILEHEADER) \
    X(_CDFILESEGMENT, CDFILESEGMENT)

struct OdsType {
    WORD number;
    std::string_view name;
    std::string_view layout;
    WORD size;     // canonical size (ODSLength)
    WORD hostSize; // sizeof the host structure
};

// The type of that number, or nullptr for a number the runtime does not know.
const OdsType *findOdsType(WORD number);

// Converts `iterations` structures from canonical bytes to host form and back; canonical
// structures follow each other every `size` bytes, host ones every `hostSize` bytes.
void odsToHost(const OdsType &type, const std::byte *canonical, std::byte *host, std::size_t iterations);
void hostToOds(const OdsType &type, const std::byte *host, std::byte *canonical, std::size_t iterations);

constexpr std::size_t odsFieldWidth(char letter) {
    return letter == 'w' ? 2 : letter == 'd' ? 4 : letter == 'q' ? 8 : letter == 'b' ? 1 : 0;
}

// The alignment a host structure gives a field of that width.
constexpr std::size_t hostFieldAlignment(std::size_t width) {
#if defined(_WIN32) && !defined(_WIN64)
    (void)width;
    return 1;
#else
    return width == 8 ? alignof(double) : width;
#endif
}

// Calls visit(canonicalOffset, hostOffset, width) for every scalar of a layout and returns the
// canonical and host sizes (the host size rounded up to the structure's alignment).
template <typename Visit>
constexpr std::pair<std::size_t, std::size_t> walkOdsLayout(std::string_view layout, Visit visit) {
    std::size_t canonical = 0, host = 0, alignment = 1;
    std::size_t i = 0;
    while (i < layout.size()) {
        const std::size_t width = odsFieldWidth(layout[i]);
        if (width == 0)
            return {0, 0};
        ++i;
        std::size_t count = 0;
        while (i < layout.size() && layout[i] >= '0' && layout[i] <= '9')
            count = count * 10 + static_cast<std::size_t>(layout[i++] - '0');
        count = count == 0 ? 1 : count;
        const std::size_t align = hostFieldAlignment(width);
        alignment = align > alignment ? align : alignment;
        host = (host + align - 1) / align * align;
        for (std::size_t n = 0; n < count; ++n) {
            visit(canonical, host, width);
            canonical += width;
            host += width;
        }
    }
    host = (host + alignment - 1) / alignment * alignment;
    return {canonical, host};
}

// The canonical size a layout string describes (0 for a malformed string).
constexpr std::size_t odsLayoutSize(std::string_view layout) {
    return walkOdsLayout(layout, [](std::size_t, std::size_t, std::size_t) {}).first;
}
// The size of the host structure the layout describes under the platform's alignment.
constexpr std::size_t hostLayoutSize(std::string_view layout) {
    return walkOdsLayout(layout, [](std::size_t, std::size_t, std::size_t) {}).second;
}

// The ODS type of a structure: OdsTypeOf<CDTEXT>::number is _CDTEXT.
template <typename T> struct OdsTypeOf;
#define NOTESEMU_ODS_LAYOUT_OF(number, type, layout) \
    if constexpr (n == number)                       \
        return layout;
template <WORD n> constexpr std::string_view odsLayoutOf() {
    NOTESEMU_ODS_TYPES(NOTESEMU_ODS_LAYOUT_OF)
    return {};
}
#undef NOTESEMU_ODS_LAYOUT_OF
#define NOTESEMU_ODS_TYPE_OF(num, type)                                                                     \
    template <> struct OdsTypeOf<type> {                                                                     \
        static constexpr WORD number = num;                                                                  \
        static constexpr std::string_view layout = odsLayoutOf<num>();                                       \
    };
NOTESEMU_ODS_STRUCTS(NOTESEMU_ODS_TYPE_OF)
#undef NOTESEMU_ODS_TYPE_OF
// The record headers have no ODS number of their own.
template <> struct OdsTypeOf<BSIG> {
    static constexpr std::string_view layout = "bb";
};
template <> struct OdsTypeOf<WSIG> {
    static constexpr std::string_view layout = "ww";
};
template <> struct OdsTypeOf<LSIG> {
    static constexpr std::string_view layout = "wd";
};

// The canonical size of a structure (what ODSLength gives for its type).
template <typename T> constexpr std::size_t odsSize() {
    return odsLayoutSize(OdsTypeOf<T>::layout);
}

// Reads a structure from canonical bytes; the caller has checked that odsSize<T>() bytes are there.
template <typename T> T fromOds(const std::uint8_t *canonical) {
    T host{};
    walkOdsLayout(OdsTypeOf<T>::layout, [&](std::size_t from, std::size_t to, std::size_t width) {
        std::memcpy(reinterpret_cast<std::byte *>(&host) + to, canonical + from, width);
    });
    return host;
}

// Appends a structure in canonical form.
template <typename T> void appendOds(std::vector<std::uint8_t> &out, const T &host) {
    const std::size_t at = out.size();
    out.resize(at + odsSize<T>());
    walkOdsLayout(OdsTypeOf<T>::layout, [&](std::size_t to, std::size_t from, std::size_t width) {
        std::memcpy(out.data() + at + to, reinterpret_cast<const std::byte *>(&host) + from, width);
    });
}

template <typename T> std::vector<std::uint8_t> toOds(const T &host) {
    std::vector<std::uint8_t> out;
    appendOds(out, host);
    return out;
}

} // namespace notesemu
