// A Windows BMP file under construction: BITMAPFILEHEADER, BITMAPINFOHEADER and palette are written
// when it is made, the rows are filled afterwards by row number counted from the top.
#ifndef TESSEL_BMPCV_BMPIMAGE_H
#define TESSEL_BMPCV_BMPIMAGE_H

#include "Error.h"
#include "NotesBitmap.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tessel::bmpcv {

class BmpImage {
public:
    static constexpr std::size_t kFileHeaderBytes = 14;
    static constexpr std::size_t kInfoHeaderBytes = 40;

    // Lays out a picture of bitCount 1, 8 (with the palette) or 24 bits per pixel and zero-fills its
    // rows. Fails when the file would not fit a host block (0x7FFFFFFE bytes, so that a caller can
    // still add a terminator) or memory runs out.
    static Error create(std::uint32_t width, std::uint32_t height, std::uint16_t bitCount,
                        std::span<const Rgb> palette, BmpImage &image);

    // Bytes of one stored row: the pixels padded to a multiple of four.
    std::size_t stride() const { return stride_; }
    // The row that shows line y of the picture (0 = top). BMP rows are stored bottom-up.
    std::span<std::uint8_t> row(std::uint32_t y);
    std::vector<std::uint8_t> release() { return std::move(bytes_); }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t pixelOffset_ = 0;
    std::size_t stride_ = 0;
    std::uint32_t height_ = 0;
};

} // namespace tessel::bmpcv

#endif
