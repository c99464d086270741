// Canonical (ODS) structures: the byte layout of each ODS type number, and conversion between
// canonical bytes (little-endian, no padding) and the host structures of the API headers.
#pragma once

#include <notes/global.h>

#include <cstddef>
#include <string_view>

namespace notesemu {

struct OdsType {
    WORD number;
    std::string_view name;
    // Field widths in order: 'b' byte, 'w' WORD, 'd' DWORD, 'q' 8-byte NUMBER; a count may follow
    // a letter ("b32" is 32 bytes).
    std::string_view layout;
    WORD size; // canonical size, equal to the host structure's size
};

// The type of that number, or nullptr for a number the runtime does not know.
const OdsType *findOdsType(WORD number);

// Converts `iterations` structures from canonical bytes to host form and back. The host form
// of every known type has the canonical size and field order, so only byte order can differ.
void odsToHost(const OdsType &type, const std::byte *canonical, std::byte *host, std::size_t iterations);
void hostToOds(const OdsType &type, const std::byte *host, std::byte *canonical, std::size_t iterations);

// The total size a layout string describes (0 for a malformed string).
constexpr std::size_t odsLayoutSize(std::string_view layout) {
    std::size_t total = 0;
    std::size_t i = 0;
    while (i < layout.size()) {
        std::size_t width = 0;
        switch (layout[i]) {
        case 'b':
            width = 1;
            break;
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
            return 0;
        }
        ++i;
        std::size_t count = 0;
        while (i < layout.size() && layout[i] >= '0' && layout[i] <= '9')
            count = count * 10 + static_cast<std::size_t>(layout[i++] - '0');
        total += width * (count == 0 ? 1 : count);
    }
    return total;
}

} // namespace notesemu
