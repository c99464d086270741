#include "Ods.h"

#include <algorithm>
#include <array>
#include <bit>

namespace notesemu {
namespace {

static_assert(std::endian::native == std::endian::little,
              "canonical form is little-endian; a big-endian host needs byte swapping here");

#define NOTESEMU_ODS_ENTRY(number, type, layout)                                                            \
    OdsType{number, #number, layout, static_cast<WORD>(odsLayoutSize(layout)), sizeof(type)},

constexpr std::array kTypes{NOTESEMU_ODS_TYPES(NOTESEMU_ODS_ENTRY)};

#undef NOTESEMU_ODS_ENTRY

// Every layout must describe its host structure exactly: same size under the platform's
// alignment, so that the offsets computed from it are the compiler's.
#define NOTESEMU_ODS_CHECK(number, type, layout)                                                            \
    static_assert(hostLayoutSize(layout) == sizeof(type), #type ": layout and host structure disagree");
NOTESEMU_ODS_TYPES(NOTESEMU_ODS_CHECK)
#undef NOTESEMU_ODS_CHECK

} // namespace

const OdsType *findOdsType(WORD number) {
    for (const OdsType &type : kTypes) {
        if (type.number == number)
            return &type;
    }
    return nullptr;
}

void odsToHost(const OdsType &type, const std::byte *canonical, std::byte *host, std::size_t iterations) {
    for (std::size_t n = 0; n < iterations; ++n) {
        const std::byte *from = canonical + n * type.size;
        std::byte *to = host + n * type.hostSize;
        std::memset(to, 0, type.hostSize);
        walkOdsLayout(type.layout, [&](std::size_t at, std::size_t hostAt, std::size_t width) {
            std::memcpy(to + hostAt, from + at, width);
        });
    }
}

void hostToOds(const OdsType &type, const std::byte *host, std::byte *canonical, std::size_t iterations) {
    for (std::size_t n = 0; n < iterations; ++n) {
        const std::byte *from = host + n * type.hostSize;
        std::byte *to = canonical + n * type.size;
        walkOdsLayout(type.layout, [&](std::size_t at, std::size_t hostAt, std::size_t width) {
            std::memcpy(to + at, from + hostAt, width);
        });
    }
}

} // namespace notesemu
