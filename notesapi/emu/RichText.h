// Rich text given as DXL XML (a `richtext` element) turned into the composite item values Notes
// stores: each value starts with the TYPE_COMPOSITE type word and holds whole CD records.
#pragma once

#include "XmlNode.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace notesemu {

class Converter;

// The same conversion fed one direct child of the `richtext` element at a time (text nodes
// included), so that a loader can free each block once it has passed: memory then follows the
// largest block, not the whole item.
class RichTextStream {
public:
    RichTextStream();
    ~RichTextStream();
    RichTextStream(const RichTextStream &) = delete;
    RichTextStream &operator=(const RichTextStream &) = delete;

    void addBlock(const XmlNode &child);
    // The item values; the stream is spent afterwards.
    std::vector<std::vector<std::uint8_t>> finish();

private:
    std::unique_ptr<Converter> converter_;
};

// The Notes colour index (0..239) a DXL colour attribute value maps to: the named colours to the 16
// solid colours, other RGB values to the nearest palette entry. nullopt when it cannot be read.
std::optional<std::uint8_t> notesColorIndex(std::string_view text);

// Converts a `richtext` element into one or more item values. Notes splits rich text larger than
// 65406 bytes into several items of the same name at record boundaries; each returned value is
// one such item (type word 0x0001 followed by CD records). Elements that are not converted are
// skipped with a line in the runtime log; never fails.
std::vector<std::vector<std::uint8_t>> richTextToCompositeItems(const XmlNode &richtext);

} // namespace notesemu
