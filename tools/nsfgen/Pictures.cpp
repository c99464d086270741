#include "Pictures.h"

#include "tessel/kit/Random.h"

#include <array>
#include <stdexcept>

namespace tessel::nsfgen {

using kit::Bytes;
using kit::ByteWriter;

IndexedPicture patternPicture(std::uint16_t width, std::uint16_t height, std::uint64_t seed) {
    kit::Random random(seed);
    IndexedPicture p;
    p.width = width;
    p.height = height;
    for (int i = 0; i < 4; ++i)
        p.palette.push_back({static_cast<std::uint8_t>(random.below(256)),
                             static_cast<std::uint8_t>(random.below(256)),
                             static_cast<std::uint8_t>(random.below(256))});
    const unsigned cell = 1 + static_cast<unsigned>(random.below(4));
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x)
            p.pixels.push_back(
                static_cast<std::uint8_t>(((x / cell + y / cell) % 2) + (y * 2 >= height ? 2 : 0)));
    return p;
}

static void checkPicture(const IndexedPicture &p) {
    if (p.width == 0 || p.height == 0 || p.pixels.size() != std::size_t{p.width} * p.height ||
        p.palette.empty() || p.palette.size() > 16)
        throw std::invalid_argument("picture: bad size or palette");
}

// GIF with a 16-colour table and LZW codes that never grow past 5 bits: a clear code after every
// 12 pixel codes keeps the code table small, so every pixel is a literal code.
Bytes makeGif(const IndexedPicture &p) {
    checkPicture(p);
    Bytes out;
    ByteWriter w(out);
    w.str("GIF89a").u16(p.width).u16(p.height).u8(0xF3).u8(0).u8(0);
    for (std::size_t i = 0; i < 16; ++i) {
        const kit::Rgb c = i < p.palette.size() ? p.palette[i] : kit::Rgb{};
        w.u8(c.r).u8(c.g).u8(c.b);
    }
    w.u8(0x2C).u16(0).u16(0).u16(p.width).u16(p.height).u8(0).u8(4);

    Bytes codes;
    std::uint32_t bitBuffer = 0;
    int bitCount = 0;
    auto emit = [&](std::uint32_t code) {
        bitBuffer |= code << bitCount;
        bitCount += 5;
        while (bitCount >= 8) {
            codes.push_back(static_cast<std::uint8_t>(bitBuffer));
            bitBuffer >>= 8;
            bitCount -= 8;
        }
    };
    constexpr std::uint32_t kClear = 16, kEnd = 17;
    emit(kClear);
    int sinceClear = 0;
    for (std::uint8_t px : p.pixels) {
        if (sinceClear == 12) {
            emit(kClear);
            sinceClear = 0;
        }
        emit(px & 0x0F);
        ++sinceClear;
    }
    emit(kEnd);
    if (bitCount > 0)
        codes.push_back(static_cast<std::uint8_t>(bitBuffer));
    for (std::size_t off = 0; off < codes.size(); off += 255) {
        const std::size_t n = std::min<std::size_t>(255, codes.size() - off);
        w.u8(static_cast<std::uint8_t>(n)).bytes(std::span(codes).subspan(off, n));
    }
    w.u8(0).u8(0x3B);
    return out;
}

static std::uint32_t crc32(std::span<const std::uint8_t> data) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

static void pngChunk(Bytes &out, const char *type, const Bytes &data) {
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    const std::uint32_t crc = crc32(body);
    const auto be32 = [&](std::uint32_t v) {
        for (int s = 24; s >= 0; s -= 8)
            out.push_back(static_cast<std::uint8_t>(v >> s));
    };
    be32(static_cast<std::uint32_t>(data.size()));
    out.insert(out.end(), body.begin(), body.end());
    be32(crc);
}

// PNG, 8-bit RGB, image data in stored (uncompressed) deflate blocks.
Bytes makePng(const IndexedPicture &p) {
    checkPicture(p);
    Bytes raw;
    for (unsigned y = 0; y < p.height; ++y) {
        raw.push_back(0);
        for (unsigned x = 0; x < p.width; ++x) {
            const kit::Rgb c = p.palette[p.pixels[y * p.width + x] % p.palette.size()];
            raw.insert(raw.end(), {c.r, c.g, c.b});
        }
    }
    Bytes z{0x78, 0x01};
    for (std::size_t off = 0; off < raw.size() || off == 0; off += 65535) {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - off);
        const bool last = off + n >= raw.size();
        ByteWriter(z).u8(last ? 1 : 0).u16(static_cast<std::uint16_t>(n)).u16(static_cast<std::uint16_t>(~n));
        z.insert(z.end(), raw.begin() + off, raw.begin() + off + n);
        if (last)
            break;
    }
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    const std::uint32_t adler = b << 16 | a;
    for (int s = 24; s >= 0; s -= 8)
        z.push_back(static_cast<std::uint8_t>(adler >> s));

    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    for (std::uint32_t v : {std::uint32_t{p.width}, std::uint32_t{p.height}})
        for (int s = 24; s >= 0; s -= 8)
            ihdr.push_back(static_cast<std::uint8_t>(v >> s));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    pngChunk(out, "IHDR", ihdr);
    pngChunk(out, "IDAT", z);
    pngChunk(out, "IEND", {});
    return out;
}

// Windows BMP, 24 bits per pixel, bottom-up rows padded to four bytes.
Bytes makeBmp(const IndexedPicture &p) {
    checkPicture(p);
    const std::uint32_t stride = (p.width * 3u + 3u) & ~3u;
    const std::uint32_t imageSize = stride * p.height;
    Bytes out;
    ByteWriter w(out);
    w.str("BM").u32(54 + imageSize).u32(0).u32(54);
    w.u32(40).u32(p.width).u32(p.height).u16(1).u16(24).u32(0).u32(imageSize).u32(2835).u32(2835).u32(0).u32(
        0);
    for (unsigned y = p.height; y-- > 0;) {
        for (unsigned x = 0; x < p.width; ++x) {
            const kit::Rgb c = p.palette[p.pixels[y * p.width + x] % p.palette.size()];
            w.u8(c.b).u8(c.g).u8(c.r);
        }
        w.zeros(stride - p.width * 3u);
    }
    return out;
}

Bytes sampleJpeg() {
    static constexpr std::uint8_t kJpeg[] = {
        0xff, 0xd8, 0xff, 0xe0, 0x00, 0x10, 0x4a, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00,
        0x01, 0x00, 0x00, 0xff, 0xdb, 0x00, 0x43, 0x00, 0x0d, 0x09, 0x0a, 0x0b, 0x0a, 0x08, 0x0d, 0x0b, 0x0a,
        0x0b, 0x0e, 0x0e, 0x0d, 0x0f, 0x13, 0x20, 0x15, 0x13, 0x12, 0x12, 0x13, 0x27, 0x1c, 0x1e, 0x17, 0x20,
        0x2e, 0x29, 0x31, 0x30, 0x2e, 0x29, 0x2d, 0x2c, 0x33, 0x3a, 0x4a, 0x3e, 0x33, 0x36, 0x46, 0x37, 0x2c,
        0x2d, 0x40, 0x57, 0x41, 0x46, 0x4c, 0x4e, 0x52, 0x53, 0x52, 0x32, 0x3e, 0x5a, 0x61, 0x5a, 0x50, 0x60,
        0x4a, 0x51, 0x52, 0x4f, 0xff, 0xdb, 0x00, 0x43, 0x01, 0x0e, 0x0e, 0x0e, 0x13, 0x11, 0x13, 0x26, 0x15,
        0x15, 0x26, 0x4f, 0x35, 0x2d, 0x35, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f,
        0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f,
        0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0x4f,
        0x4f, 0x4f, 0x4f, 0x4f, 0x4f, 0xff, 0xc0, 0x00, 0x11, 0x08, 0x00, 0x10, 0x00, 0x10, 0x03, 0x01, 0x22,
        0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01, 0xff, 0xc4, 0x00, 0x15, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x06, 0xff, 0xc4, 0x00, 0x19,
        0x10, 0x00, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x11, 0x00, 0x04, 0x05, 0x13, 0x22, 0xff, 0xc4, 0x00, 0x15, 0x01, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x04, 0xff, 0xc4, 0x00, 0x1e, 0x11,
        0x00, 0x00, 0x04, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x05, 0x11, 0xa1, 0x03, 0x04, 0x12, 0x21, 0x31, 0x41, 0xd1, 0xff, 0xda, 0x00, 0x0c, 0x03, 0x01, 0x00,
        0x02, 0x11, 0x03, 0x11, 0x00, 0x3f, 0x00, 0x94, 0x6b, 0x1d, 0x58, 0xc9, 0x29, 0x86, 0xb1, 0xd5, 0x8c,
        0x92, 0x97, 0x6b, 0x1d, 0x58, 0xc9, 0x29, 0x76, 0xb1, 0xd5, 0x8c, 0x92, 0xa4, 0x8f, 0x3d, 0x4e, 0xd1,
        0x1b, 0xaa, 0xc1, 0x15, 0x18, 0xe2, 0xe3, 0xff, 0xd9};
    return Bytes(std::begin(kJpeg), std::end(kJpeg));
}

} // namespace tessel::nsfgen
