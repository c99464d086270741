// Reads a Windows BMP file (BITMAPINFOHEADER, uncompressed 1, 4, 8, 16 (X1R5G5B5) or 24 bits per
// pixel, rows bottom-up or top-down) into colours, so that tests can check a converted picture's
// pixels. Anything else, and any inconsistency, throws std::runtime_error.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tessel::kit {

struct BmpPicture {
    std::int32_t width = 0;
    std::int32_t height = 0; // always positive here
    bool topDown = false;    // the file stored a negative height
    std::uint16_t bitCount = 0;
    std::uint32_t pixelOffset = 0;
    std::vector<std::uint32_t> palette; // 0xRRGGBB
    std::vector<std::uint32_t> pixels;  // 0xRRGGBB, width x height, top row first
    std::vector<std::uint8_t> indices;  // palette index per pixel for 1/4/8 bits, else empty

    std::uint32_t at(std::int32_t x, std::int32_t y) const { return pixels.at(std::size_t(y) * width + x); }
};

BmpPicture readBmp(std::span<const std::uint8_t> file);

// 0xRRGGBB from its parts.
constexpr std::uint32_t rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return std::uint32_t{r} << 16 | std::uint32_t{g} << 8 | b;
}

} // namespace tessel::kit
