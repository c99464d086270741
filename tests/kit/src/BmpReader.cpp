#include "tessel/kit/BmpReader.h"

#include <stdexcept>
#include <string>

namespace tessel::kit {
namespace {

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint32_t u8(std::size_t offset) const {
        need(offset, 1);
        return bytes_[offset];
    }
    std::uint32_t u16(std::size_t offset) const {
        need(offset, 2);
        return bytes_[offset] | bytes_[offset + 1] << 8;
    }
    std::uint32_t u32(std::size_t offset) const {
        need(offset, 4);
        return bytes_[offset] | bytes_[offset + 1] << 8 | bytes_[offset + 2] << 16 |
               static_cast<std::uint32_t>(bytes_[offset + 3]) << 24;
    }

private:
    void need(std::size_t offset, std::size_t n) const {
        if (offset > bytes_.size() || n > bytes_.size() - offset)
            throw std::runtime_error("BMP: read of " + std::to_string(n) + " bytes at " +
                                     std::to_string(offset) + " past the end (" +
                                     std::to_string(bytes_.size()) + " bytes)");
    }

    std::span<const std::uint8_t> bytes_;
};

std::uint32_t widen5(std::uint32_t v) {
    return v << 3 | v >> 2;
}

} // namespace

BmpPicture readBmp(std::span<const std::uint8_t> file) {
    const Reader in(file);
    if (in.u8(0) != 'B' || in.u8(1) != 'M')
        throw std::runtime_error("BMP: no BM signature");
    if (in.u32(2) != file.size())
        throw std::runtime_error("BMP: file size field " + std::to_string(in.u32(2)) + " but " +
                                 std::to_string(file.size()) + " bytes");
    BmpPicture picture;
    picture.pixelOffset = in.u32(10);
    const std::size_t info = 14;
    if (in.u32(info) != 40)
        throw std::runtime_error("BMP: not a BITMAPINFOHEADER");
    picture.width = static_cast<std::int32_t>(in.u32(info + 4));
    const auto rawHeight = static_cast<std::int32_t>(in.u32(info + 8));
    picture.topDown = rawHeight < 0;
    picture.height = rawHeight < 0 ? -rawHeight : rawHeight;
    if (in.u16(info + 12) != 1)
        throw std::runtime_error("BMP: planes is not 1");
    picture.bitCount = static_cast<std::uint16_t>(in.u16(info + 14));
    if (in.u32(info + 16) != 0)
        throw std::runtime_error("BMP: compressed");
    if (picture.width <= 0 || picture.height <= 0)
        throw std::runtime_error("BMP: empty picture");
    const std::uint16_t bits = picture.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24)
        throw std::runtime_error("BMP: unsupported bit count " + std::to_string(bits));
    if (bits <= 8) {
        std::uint32_t colors = in.u32(info + 32);
        if (colors == 0)
            colors = 1u << bits;
        if (colors > (1u << bits))
            throw std::runtime_error("BMP: more palette entries than the depth holds");
        for (std::uint32_t i = 0; i < colors; ++i) {
            const std::size_t q = info + 40 + 4 * i;
            picture.palette.push_back(in.u8(q + 2) << 16 | in.u8(q + 1) << 8 | in.u8(q));
        }
        if (info + 40 + 4 * colors > picture.pixelOffset)
            throw std::runtime_error("BMP: the palette overlaps the pixels");
    }
    const std::size_t stride = (static_cast<std::size_t>(picture.width) * bits + 31) / 32 * 4;
    if (picture.pixelOffset + stride * picture.height != file.size())
        throw std::runtime_error("BMP: the rows do not end where the file ends");
    if (in.u32(info + 20) != 0 && in.u32(info + 20) != stride * picture.height)
        throw std::runtime_error("BMP: image size field disagrees with the rows");
    for (std::int32_t y = 0; y < picture.height; ++y) {
        const std::size_t stored = picture.topDown ? y : picture.height - 1 - y;
        const std::size_t row = picture.pixelOffset + stored * stride;
        for (std::int32_t x = 0; x < picture.width; ++x) {
            std::uint32_t color = 0;
            if (bits <= 8) {
                const std::size_t bit = static_cast<std::size_t>(x) * bits;
                const std::uint32_t byte = in.u8(row + bit / 8);
                const std::uint32_t index = byte >> (8 - bits - bit % 8) & ((1u << bits) - 1);
                if (index >= picture.palette.size())
                    throw std::runtime_error("BMP: pixel index " + std::to_string(index) +
                                             " outside the palette");
                picture.indices.push_back(static_cast<std::uint8_t>(index));
                color = picture.palette[index];
            } else if (bits == 16) {
                const std::uint32_t word = in.u16(row + 2 * x);
                color = widen5(word >> 10 & 31) << 16 | widen5(word >> 5 & 31) << 8 | widen5(word & 31);
            } else {
                const std::size_t p = row + 3 * static_cast<std::size_t>(x);
                color = in.u8(p + 2) << 16 | in.u8(p + 1) << 8 | in.u8(p);
            }
            picture.pixels.push_back(color);
        }
    }
    return picture;
}

} // namespace tessel::kit
