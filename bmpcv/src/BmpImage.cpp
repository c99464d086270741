#include "BmpImage.h"

#include "Format.h"

#include <cassert>
#include <new>

namespace tessel::bmpcv {
namespace {

constexpr std::uint64_t kMaxFileBytes = 0x7FFFFFFE;
// 96 dots per inch, the resolution of the screens Notes bitmaps were taken from.
constexpr std::uint32_t kPixelsPerMetre = 3780;

void putU16(std::uint8_t *p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void putU32(std::uint8_t *p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

Error BmpImage::create(std::uint32_t width, std::uint32_t height, std::uint16_t bitCount,
                       std::span<const Rgb> palette, BmpImage &image) {
    const std::uint64_t stride = (std::uint64_t{width} * bitCount + 31) / 32 * 4;
    const std::uint64_t pixelOffset = kFileHeaderBytes + kInfoHeaderBytes + 4 * std::uint64_t{palette.size()};
    const std::uint64_t imageBytes = stride * height;
    const std::uint64_t fileBytes = pixelOffset + imageBytes;
    if (fileBytes > kMaxFileBytes)
        return fail(Status::TooLarge,
                    format("the BMP file would be %llu bytes", static_cast<unsigned long long>(fileBytes)));
    try {
        image.bytes_.assign(static_cast<std::size_t>(fileBytes), 0);
    } catch (const std::bad_alloc &) {
        return fail(Status::OutOfMemory, format("no memory for a BMP file of %llu bytes",
                                                static_cast<unsigned long long>(fileBytes)));
    }
    std::uint8_t *p = image.bytes_.data();
    // BITMAPFILEHEADER
    p[0] = 'B';
    p[1] = 'M';
    putU32(p + 2, static_cast<std::uint32_t>(fileBytes));
    putU32(p + 10, static_cast<std::uint32_t>(pixelOffset));
    // BITMAPINFOHEADER: a positive height stores the rows bottom-up, the form every reader takes.
    std::uint8_t *info = p + kFileHeaderBytes;
    putU32(info + 0, kInfoHeaderBytes);
    putU32(info + 4, width);
    putU32(info + 8, height);
    putU16(info + 12, 1);
    putU16(info + 14, bitCount);
    putU32(info + 16, 0); // BI_RGB
    putU32(info + 20, static_cast<std::uint32_t>(imageBytes));
    putU32(info + 24, kPixelsPerMetre);
    putU32(info + 28, kPixelsPerMetre);
    putU32(info + 32, static_cast<std::uint32_t>(palette.size()));
    putU32(info + 36, 0);
    // RGBQUADs: blue, green, red, 0.
    std::uint8_t *quad = info + kInfoHeaderBytes;
    for (const Rgb &color : palette) {
        quad[0] = color.b;
        quad[1] = color.g;
        quad[2] = color.r;
        quad += 4;
    }
    image.pixelOffset_ = static_cast<std::size_t>(pixelOffset);
    image.stride_ = static_cast<std::size_t>(stride);
    image.height_ = height;
    return {};
}

std::span<std::uint8_t> BmpImage::row(std::uint32_t y) {
    assert(y < height_);
    return std::span(bytes_).subspan(pixelOffset_ + (height_ - 1 - y) * stride_, stride_);
}

} // namespace tessel::bmpcv
