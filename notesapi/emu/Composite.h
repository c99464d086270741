// Walking the CD records of a TYPE_COMPOSITE item value.
#pragma once

#include <notes/global.h>

#include <cstdint>
#include <functional>
#include <span>

namespace notesemu {

struct CdRecord {
    const std::uint8_t *data; // the record header, inside the walked value
    WORD type;                // the signature; a BSIG's length byte cleared
    DWORD length;             // Length from the header (without the odd-length filler byte)
};

// Walks a composite value given with its leading type word. Each record is handed to the
// visitor; a non-zero status from it ends the walk and is returned. Returns ERR_DATATYPE when
// the value is not TYPE_COMPOSITE, and ERR_INVALID_ITEMLEN (logged) when a record's header or
// length does not fit the value or its length is smaller than its header; the records before
// it have been visited. Never reads outside `value`.
STATUS walkComposite(std::span<const std::uint8_t> value,
                     const std::function<STATUS(const CdRecord &)> &visit);

// The header size of the record class a stored signature word implies: 2 (BSIG), 4 (WSIG) or
// 6 (LSIG).
std::size_t cdHeaderSize(WORD storedSignature);

} // namespace notesemu
