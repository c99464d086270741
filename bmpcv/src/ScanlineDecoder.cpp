#include "ScanlineDecoder.h"

#include "ByteCursor.h"
#include "Format.h"

#include <algorithm>
#include <cstring>

namespace tessel::bmpcv {
namespace {

// Run-length codes, in the top two bits of a unit's first byte.
constexpr std::uint8_t kCodeLiteral = 0;    // 00cccccc + c pels
constexpr std::uint8_t kCodePatternRun = 1; // 01cccccc cccccccc + pattern index: the pattern c times
constexpr std::uint8_t kCodeLongRun = 2;    // 10cccccc cccccccc + pel: the pel c times
constexpr std::uint8_t kCodeShortRun = 3;   // 11cccccc + pel: the pel c times
constexpr std::size_t kPelsPerPattern = 8;

// A 16-bit pel is a little-endian WORD like every other number in Notes data, with red in bits 14-10,
// green in 9-5 and blue in 4-0 (bit 15 unused): the layout of the Windows 16-bit DIB (X1R5G5B5) that
// the pictures were pasted from. Five bits widen to eight by repeating the top bits, so that 31 gives
// 255 and 0 gives 0.
void put16BitPel(std::span<const std::byte> pel, std::uint8_t *bgr) {
    const unsigned word = std::to_integer<unsigned>(pel[0]) | std::to_integer<unsigned>(pel[1]) << 8;
    auto widen = [](unsigned v) { return static_cast<std::uint8_t>(v << 3 | v >> 2); };
    bgr[0] = widen(word & 0x1F);
    bgr[1] = widen(word >> 5 & 0x1F);
    bgr[2] = widen(word >> 10 & 0x1F);
}

// Writes the decoded pels of one scanline into a BMP row.
class LineWriter {
public:
    LineWriter(const NotesBitmap &bitmap, std::span<std::uint8_t> row)
        : row_(row), is16Bit_(bitmap.bitsPerPixel == 16),
          linePels_(is16Bit_ ? bitmap.width : bitmap.lineBytes()) {}

    bool full() const { return position_ == linePels_; }
    std::size_t position() const { return position_; }
    std::size_t linePels() const { return linePels_; }
    bool fits(std::size_t pels) const { return pels <= linePels_ - position_; }

    // The pel count times; fits() has been checked.
    void repeat(std::span<const std::byte> pel, std::size_t count) {
        if (is16Bit_) {
            for (std::size_t i = 0; i < count; ++i)
                put16BitPel(pel, out(1));
        } else {
            std::memset(out(count), std::to_integer<int>(pel[0]), count);
        }
    }

    void copy(std::span<const std::byte> pels, std::size_t count) {
        if (is16Bit_) {
            for (std::size_t i = 0; i < count; ++i)
                put16BitPel(pels.subspan(2 * i, 2), out(1));
        } else {
            std::memcpy(out(count), pels.data(), count);
        }
    }

    // A pattern's eight pels, count times. One-byte pels take the entry's first eight bytes; 16-bit
    // bitmaps take its eight R, G, B colours as they are, since the rows are 24-bit.
    void pattern(const Pattern &entry, std::size_t count) {
        for (std::size_t n = 0; n < count; ++n) {
            if (is16Bit_) {
                for (std::size_t i = 0; i < kPelsPerPattern; ++i) {
                    std::uint8_t *bgr = out(1);
                    bgr[0] = entry[3 * i + 2];
                    bgr[1] = entry[3 * i + 1];
                    bgr[2] = entry[3 * i];
                }
            } else {
                std::memcpy(out(kPelsPerPattern), entry.data(), kPelsPerPattern);
            }
        }
    }

private:
    // Room for the next pels in the row, and the position moved past them.
    std::uint8_t *out(std::size_t pels) {
        std::uint8_t *p = row_.data() + position_ * (is16Bit_ ? 3 : 1);
        position_ += pels;
        return p;
    }

    std::span<std::uint8_t> row_;
    bool is16Bit_;
    std::size_t linePels_;
    std::size_t position_ = 0;
};

// Decodes one scanline from the segment's data. A count of 0 is taken as a unit that adds nothing:
// the unit still consumes its bytes, so decoding always moves on, and no encoder needs one.
Error decodeLine(const NotesBitmap &bitmap, ByteCursor &in, LineWriter &line, std::uint32_t y) {
    const std::size_t pelBytes = bitmap.pelBytes();
    auto cut = [&](const char *pszWhat) {
        return fail(Status::Truncated,
                    format("scanline %u: the segment's data ends inside a %s unit", unsigned{y}, pszWhat));
    };
    while (!line.full()) {
        const std::size_t unitOffset = in.offset();
        auto first = in.u8();
        if (!first)
            return fail(Status::Truncated,
                        format("scanline %u: the segment's data ends after %zu of %zu pels", unsigned{y},
                               line.position(), line.linePels()));
        const std::uint8_t code = *first >> 6;
        std::size_t count = *first & 0x3F;
        // The 14-bit counts run on from the first byte into the second, most significant bits
        // first: the code sits in the top bits of the first byte and the count's high bits follow it.
        if (code == kCodeLongRun || code == kCodePatternRun) {
            auto second = in.u8();
            if (!second)
                return cut("run");
            count = count << 8 | *second;
        }
        const std::size_t pels = code == kCodePatternRun ? count * kPelsPerPattern : count;
        if (!line.fits(pels))
            return fail(
                Status::Malformed,
                format("scanline %u: the unit at data offset %zu gives %zu pels, %zu remain in the line",
                       unsigned{y}, unitOffset, pels, line.linePels() - line.position()));
        switch (code) {
        case kCodeShortRun:
        case kCodeLongRun: {
            auto pel = in.take(pelBytes);
            if (!pel)
                return cut("run");
            line.repeat(*pel, count);
            break;
        }
        case kCodePatternRun: {
            auto index = in.u8();
            if (!index)
                return cut("pattern");
            if (*index >= bitmap.patterns.size())
                return fail(Status::Malformed,
                            format("scanline %u: pattern %u is outside the pattern table (%zu "
                                   "entries)",
                                   unsigned{y}, unsigned{*index}, bitmap.patterns.size()));
            line.pattern(bitmap.patterns[*index], count);
            break;
        }
        case kCodeLiteral: {
            auto pelData = in.take(count * pelBytes);
            if (!pelData)
                return cut("literal");
            line.copy(*pelData, count);
            break;
        }
        }
    }
    return {};
}

} // namespace

std::uint16_t bmpBitCount(const NotesBitmap &bitmap) {
    return bitmap.bitsPerPixel == 16 ? 24 : bitmap.bitsPerPixel;
}

Error decodeScanlines(const NotesBitmap &bitmap, BmpImage &image) {
    // The first scanline of the first segment is the top row of the picture, as on the screen the
    // picture came from and in every raster Notes stores; BMP rows run bottom-up, which row() handles.
    std::uint32_t y = 0;
    for (std::size_t s = 0; s < bitmap.segments.size() && y < bitmap.height; ++s) {
        const BitmapSegment &segment = bitmap.segments[s];
        ByteCursor in(segment.data);
        // Bytes left after the segment's scanlines are filler; scanlines past the height are ignored.
        for (unsigned n = 0; n < segment.scanlineCount && y < bitmap.height; ++n, ++y) {
            LineWriter line(bitmap, image.row(y));
            if (Error error = decodeLine(bitmap, in, line, y)) {
                error.message = format("segment %zu: ", s + 1) + error.message;
                return error;
            }
        }
    }
    if (y < bitmap.height)
        return fail(Status::Truncated,
                    format("the segments hold %u of %u scanlines (%zu segments, the header counts %u)", y,
                           unsigned{bitmap.height}, bitmap.segments.size(), unsigned{bitmap.segmentCount}));
    return {};
}

} // namespace tessel::bmpcv
