// Notes bitmaps built unit by unit: the run-length units of a scanline, the picture's records
// (CDBITMAPHEADER, CDCOLORTABLE, CDPATTERNTABLE, CDBITMAPSEGMENT), either as the rich-text converter
// stores them for the image converter (records whole, one after the other) or as composite data
// after a CDGRAPHIC (each record followed by its filler byte when its length is odd).
#pragma once

#include "tessel/kit/Bytes.h"
#include "tessel/kit/CdWriter.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace tessel::kit {

// The run-length units of a scanline, byte-exactly. A pel is one byte for 1-bit (eight pixels) and
// 8-bit bitmaps, two (a little-endian WORD) for 16-bit ones. 14-bit counts are stored high bits
// first: 10cccccc cccccccc. Counts are not checked against their field beyond masking.
namespace bitmapunit {
// 00cccccc + the pels (count = pels.size() / pelSize, at most 63).
Bytes literal(std::span<const std::uint8_t> pels, std::size_t pelSize);
// 11cccccc + one pel: the pel count times (at most 63).
Bytes shortRun(std::uint8_t count, std::span<const std::uint8_t> pel);
// 10cccccc cccccccc + one pel: the pel count times (at most 16383).
Bytes longRun(std::uint16_t count, std::span<const std::uint8_t> pel);
// 01cccccc cccccccc + pattern index: the pattern's eight pels count times.
Bytes patternRun(std::uint16_t count, std::uint8_t index);
} // namespace bitmapunit

// The pel bytes of a scanline of pixels: 1 bpp packs eight pixels (bit 0 of each value) into a byte,
// leftmost in the most significant bit; 8 bpp takes the low byte; 16 bpp a little-endian WORD.
Bytes bitmapScanlinePels(std::span<const std::uint16_t> pixels, std::uint16_t bitsPerPixel);

// Codes one scanline of pels with all three pel codes: runs of 64 pels or more as 10 (long run),
// runs of 3 to 63 as 11 (short run), everything else as 00 (literal).
Bytes encodeBitmapLine(std::span<const std::uint8_t> pels, std::size_t pelSize);

class NotesBitmapBuilder {
public:
    using PatternEntry = std::array<std::uint8_t, 24>;

    // A picture of the given size and depth; the header's samples per pixel and bits per sample
    // follow the depth (1/1, 1/8, 3/5).
    NotesBitmapBuilder(std::uint16_t width, std::uint16_t height, std::uint16_t bitsPerPixel);

    // The header as it will be written. Its colour and pattern counts follow colors() and
    // patterns(); a segment count of 0 is written as the number of segments. Tests may spoil it.
    BitmapHeader &header() { return header_; }

    // A CDCOLORTABLE with these colours (and the palette-required flag for 8 bpp).
    NotesBitmapBuilder &colors(std::vector<Rgb> colors);
    // A CDPATTERNTABLE with these entries.
    NotesBitmapBuilder &patterns(std::vector<PatternEntry> patterns);
    // One coded scanline (units from bitmapunit), added to the open segment.
    NotesBitmapBuilder &codedLine(std::span<const std::uint8_t> units);
    // The whole picture's pixels (width x height, top row first), coded by encodeBitmapLine into
    // segments of at most maxSegmentBytes coded bytes, after any segments already made.
    NotesBitmapBuilder &pixels(std::span<const std::uint16_t> pixels, std::size_t maxSegmentBytes = 10240);
    // Closes the open segment: the next line starts a new one.
    NotesBitmapBuilder &endSegment();
    // A segment as given: its scanline count and data, whatever they hold.
    NotesBitmapBuilder &rawSegment(std::uint16_t scanlineCount, std::span<const std::uint8_t> data);

    // The records in order (header, colour table, pattern table, segments), each exactly its Length.
    std::vector<Bytes> records() const;
    // What the rich-text converter hands the image converter: the records one after the other.
    Bytes converterStream() const;
    // Composite data: a CDGRAPHIC sized in pixels, then the records.
    CdWriter &appendTo(CdWriter &writer) const;

private:
    struct Segment {
        std::uint16_t scanlines = 0;
        Bytes data;
        bool open = true;
    };

    BitmapHeader header_;
    std::vector<Rgb> colors_;
    std::vector<PatternEntry> patterns_;
    bool hasColorTable_ = false;
    bool hasPatternTable_ = false;
    std::vector<Segment> segments_;
};

} // namespace tessel::kit
