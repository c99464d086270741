#include "Composite.h"

#include "Ods.h"

#include "Log.h"

#include <notes/notes.h>

namespace notesemu {
namespace {

WORD readWord(const std::uint8_t *p) {
    return static_cast<WORD>(p[0] | p[1] << 8);
}

DWORD readDword(const std::uint8_t *p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}

} // namespace

std::size_t cdHeaderSize(WORD storedSignature) {
    switch (storedSignature & 0xFF00) {
    case WORDRECORDLENGTH:
        return odsSize<WSIG>();
    case LONGRECORDLENGTH:
        return odsSize<LSIG>();
    default:
        return odsSize<BSIG>();
    }
}

STATUS walkComposite(std::span<const std::uint8_t> value,
                     const std::function<STATUS(const CdRecord &)> &visit) {
    if (value.size() < sizeof(WORD) || readWord(value.data()) != TYPE_COMPOSITE) {
        logf("EnumCompositeBuffer: value is not TYPE_COMPOSITE (length %zu)", value.size());
        return ERR_DATATYPE;
    }
    std::size_t offset = sizeof(WORD);
    while (offset < value.size()) {
        const std::size_t remaining = value.size() - offset;
        const std::uint8_t *record = value.data() + offset;
        if (remaining < sizeof(WORD)) {
            logf("EnumCompositeBuffer: %zu stray byte(s) at offset %zu after the last record", remaining,
                 offset);
            return ERR_INVALID_ITEMLEN;
        }
        const WORD signature = readWord(record);
        const std::size_t header = cdHeaderSize(signature);
        if (remaining < header) {
            logf("EnumCompositeBuffer: record header 0x%04X at offset %zu cut off by the end of the value",
                 signature, offset);
            return ERR_INVALID_ITEMLEN;
        }
        DWORD length = 0;
        WORD type = signature;
        if (header == odsSize<WSIG>()) {
            length = readWord(record + 2);
        } else if (header == odsSize<LSIG>()) {
            length = readDword(record + 2);
        } else {
            length = static_cast<DWORD>(signature >> 8);
            type = static_cast<WORD>(signature & 0x00FF);
        }
        if (length < header || length > remaining) {
            logf(
                "EnumCompositeBuffer: record 0x%04X at offset %zu has length %u (header %zu, %zu bytes left)",
                static_cast<unsigned>(type), offset, static_cast<unsigned>(length), header, remaining);
            return ERR_INVALID_ITEMLEN;
        }
        if (const STATUS status = visit(CdRecord{record, type, length}); status != NOERROR)
            return status;
        offset += length + (length & 1U);
    }
    return NOERROR;
}

} // namespace notesemu
