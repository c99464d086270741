// Small pictures made in code: GIF (uncompressed LZW), PNG (stored deflate), BMP, one fixed JPEG.
#pragma once

#include "tessel/kit/Bytes.h"
#include "tessel/kit/CdWriter.h"

#include <cstdint>
#include <vector>

namespace tessel::nsfgen {

// A paletted picture: up to 16 colours, one index per pixel, top row first.
struct IndexedPicture {
    std::uint16_t width = 0, height = 0;
    std::vector<kit::Rgb> palette;
    std::vector<std::uint8_t> pixels;
};

// A checker/stripe pattern of the given size drawn from a seed-chosen palette.
IndexedPicture patternPicture(std::uint16_t width, std::uint16_t height, std::uint64_t seed);

kit::Bytes makeGif(const IndexedPicture &picture);
kit::Bytes makePng(const IndexedPicture &picture);
kit::Bytes makeBmp(const IndexedPicture &picture);
// A 16 x 16 baseline JPEG.
kit::Bytes sampleJpeg();

} // namespace tessel::nsfgen
