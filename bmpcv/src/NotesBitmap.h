// The parts of a Notes bitmap picture, read from its records: the header's fields, the colour and
// pattern tables, and the segments' compressed scanlines. Spans point into the caller's input.
#ifndef TESSEL_BMPCV_NOTESBITMAP_H
#define TESSEL_BMPCV_NOTESBITMAP_H

#include "Error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tessel::bmpcv {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb &) const = default;
};

// One CDPATTERNTABLE entry: eight pels of three bytes. Bitmaps of one-byte pels use the first
// eight bytes as the eight pels; 16-bit bitmaps use all of it as eight R, G, B colours.
using Pattern = std::array<std::uint8_t, 24>;

struct BitmapSegment {
    std::uint16_t scanlineCount = 0;
    std::span<const std::byte> data; // DataSize bytes of compressed scanlines
};

struct NotesBitmap {
    static constexpr std::uint16_t kFlagRequiresPalette = 0x0001;
    static constexpr std::size_t kMaxColors = 256;
    static constexpr std::size_t kMaxPatterns = 64;
    static constexpr std::size_t kMaxSegments = 0xFFFF;

    std::uint16_t flags = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint16_t bitsPerPixel = 0;
    std::uint16_t segmentCount = 0; // as the header announces it
    std::vector<Rgb> colors;        // empty when the picture has no colour table
    std::vector<Pattern> patterns;  // empty when it has no pattern table
    std::vector<BitmapSegment> segments;

    // Bytes of one uncompressed scanline: ceil(width x bits per pixel / 8), no padding.
    std::size_t lineBytes() const { return (std::size_t{width} * bitsPerPixel + 7) / 8; }
    // Bytes of one pel, the unit that runs count: one byte for 1 and 8 bits per pixel, two for 16.
    std::size_t pelBytes() const { return bitsPerPixel == 16 ? 2 : 1; }
};

// Reads the records of one picture; checks the header's sizes and the tables against their counts.
Error readNotesBitmap(std::span<const std::byte> input, NotesBitmap &bitmap);

} // namespace tessel::bmpcv

#endif
