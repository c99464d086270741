// A Notes bitmap (the records of a picture: CDBITMAPHEADER, its tables and segments) as a GIF
// file, for the DXL exporter's eConvertNotesbitmapsToGIF. The bitmap is decoded by the image
// converter's own decoder (bmpcv) and encoded with giflib; pictures of more than 256 colours are
// reduced to 256.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace notesemu {

struct GifConversion {
    std::vector<std::uint8_t> gif; // the GIF file, empty when the conversion failed
    std::string problem;           // why it failed
};

GifConversion notesBitmapToGif(std::span<const std::uint8_t> records);

} // namespace notesemu
