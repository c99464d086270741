#include <bmpcv/NotesBitmapConverter.h>

#include "BmpImage.h"
#include "NotesBitmap.h"
#include "ScanlineDecoder.h"

#include <array>
#include <exception>
#include <new>

namespace tessel::bmpcv {
namespace {

// The palette of an 8-bit bitmap without a colour table. Such bitmaps (written before Release 4)
// use only the sixteen standard Windows colours, so the indices are taken in the order of the
// Windows 16-colour palette, the one a 4-bit Windows bitmap uses: the dark colours, light grey, then
// the bright ones.
constexpr std::array<Rgb, 16> kStandardColors = {{
    {0x00, 0x00, 0x00},
    {0x80, 0x00, 0x00},
    {0x00, 0x80, 0x00},
    {0x80, 0x80, 0x00},
    {0x00, 0x00, 0x80},
    {0x80, 0x00, 0x80},
    {0x00, 0x80, 0x80},
    {0xC0, 0xC0, 0xC0},
    {0x80, 0x80, 0x80},
    {0xFF, 0x00, 0x00},
    {0x00, 0xFF, 0x00},
    {0xFF, 0xFF, 0x00},
    {0x00, 0x00, 0xFF},
    {0xFF, 0x00, 0xFF},
    {0x00, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF},
}};

// A monochrome bitmap without a colour table: bit 0 is black and bit 1 white, as in a Windows
// monochrome bitmap, where a set bit is the background that a screen capture shows as white.
constexpr std::array<Rgb, 2> kMonochromeColors = {{{0x00, 0x00, 0x00}, {0xFF, 0xFF, 0xFF}}};

// The palette the BMP carries. An 8-bit BMP always gets 256 entries, the bitmap's colours first and
// black after them, so that every index a scanline holds names a colour of the file.
std::vector<Rgb> bmpPalette(const NotesBitmap &bitmap) {
    std::vector<Rgb> palette;
    if (bitmap.bitsPerPixel == 1) {
        if (bitmap.colors.size() >= 2)
            palette.assign(bitmap.colors.begin(), bitmap.colors.begin() + 2);
        else
            palette.assign(kMonochromeColors.begin(), kMonochromeColors.end());
    } else if (bitmap.bitsPerPixel == 8) {
        if (!bitmap.colors.empty())
            palette = bitmap.colors;
        else
            palette.assign(kStandardColors.begin(), kStandardColors.end());
        palette.resize(NotesBitmap::kMaxColors);
    }
    return palette;
}

Conversion convert(std::span<const std::byte> input) {
    Conversion result;
    NotesBitmap bitmap;
    BmpImage image;
    Error error = readNotesBitmap(input, bitmap);
    if (!error)
        error = BmpImage::create(bitmap.width, bitmap.height, bmpBitCount(bitmap), bmpPalette(bitmap), image);
    if (!error)
        error = decodeScanlines(bitmap, image);
    if (error) {
        result.status = error.status;
        result.message = std::move(error.message);
        return result;
    }
    result.bmp = image.release();
    return result;
}

} // namespace

const char *statusName(Status status) {
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::BadArgument:
        return "bad argument";
    case Status::UnsupportedFormat:
        return "unsupported format";
    case Status::Truncated:
        return "truncated";
    case Status::Malformed:
        return "malformed";
    case Status::TooLarge:
        return "too large";
    case Status::OutOfMemory:
        return "out of memory";
    case Status::StreamFailure:
        return "stream failure";
    }
    return "unknown";
}

Conversion convertNotesBitmap(std::span<const std::byte> input) {
    try {
        return convert(input);
    } catch (const std::bad_alloc &) {
        Conversion result;
        result.status = Status::OutOfMemory;
        result.message = "out of memory";
        return result;
    }
}

} // namespace tessel::bmpcv
