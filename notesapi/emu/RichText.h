// Rich text given as DXL XML (a `richtext` element) turned into the composite item values Notes
// stores: each value starts with the TYPE_COMPOSITE type word and holds whole CD records.
#pragma once

#include "XmlNode.h"

#include <cstdint>
#include <vector>

namespace notesemu {

// Converts a `richtext` element into one or more item values. Notes splits rich text larger than
// 65406 bytes into several items of the same name at record boundaries; each returned value is
// one such item (type word 0x0001 followed by CD records). Elements that are not converted are
// skipped with a line in the runtime log; never fails.
std::vector<std::vector<std::uint8_t>> richTextToCompositeItems(const XmlNode &richtext);

} // namespace notesemu
