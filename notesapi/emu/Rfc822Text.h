// TYPE_RFC822_TEXT values: a header item of an itemized inbound message (RFC822ITEMDESC, the
// native Notes form of the value, then the header's name, delimiter and raw body).
//
// Shown as text the way Notes shows such an item once converted: an address or other text
// header as its native text, a date header as its TIMEDATE in time text, a native text list as
// its entries joined by the separator. A value whose native part cannot be interpreted (a
// version, format or length the runtime does not know, a date that is not 8 bytes, a list whose
// counts do not add up) shows the raw header body instead, unfolded, rather than nothing.
#pragma once

#include <notes/global.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace notesemu {

struct Rfc822Parts {
    WORD version = 0;
    DWORD flags = 0;
    std::span<const std::uint8_t> native, name, delimiter, body;

    DWORD format() const;   // RFC822_ITEM_FORMAT_xxx
    bool isList() const;    // RFC822_ITEM_TEXT_LIST
};

// The regions of a value given without its type word; nullopt when the descriptor or the
// lengths it gives run past the value.
std::optional<Rfc822Parts> splitRfc822(std::span<const std::uint8_t> value);

// The value as text (LMBCS). `firstOnly` gives only the first entry of a list (NSFItemGetText).
// `fellBack` (optional) is set when the raw body had to stand in for the native part.
std::string rfc822ToText(std::span<const std::uint8_t> value, char separator, bool firstOnly = false,
                         bool *fellBack = nullptr);

// The raw header body as LMBCS, folding line breaks removed and the trailing CRLF dropped.
std::string unfoldedBody(std::span<const std::uint8_t> body);

} // namespace notesemu
