#include "BitmapGif.h"

#include <bmpcv/NotesBitmapConverter.h>
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace notesemu {
namespace {

struct Pixels {
    std::uint32_t width = 0, height = 0;
    std::vector<GifColorType> palette;  // for indexed pictures
    std::vector<std::uint8_t> indices;  // width x height, top row first (indexed pictures)
    std::vector<std::uint8_t> r, g, b;  // width x height, top row first (24-bit pictures)
};

std::uint32_t le32(const std::uint8_t *p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads back the BMP the converter wrote: 1- or 8-bit with its palette, or 24-bit; rows stored
// bottom-up and padded to four bytes. False for anything else.
bool readBmp(const std::vector<std::uint8_t> &bmp, Pixels &pixels, std::string &problem) {
    constexpr std::size_t kHeaders = 14 + 40;
    if (bmp.size() < kHeaders || bmp[0] != 'B' || bmp[1] != 'M') {
        problem = "the decoded picture is not a BMP";
        return false;
    }
    const std::uint32_t offset = le32(&bmp[10]);
    const auto width = static_cast<std::int32_t>(le32(&bmp[18]));
    const auto height = static_cast<std::int32_t>(le32(&bmp[22]));
    const unsigned bits = bmp[28] | bmp[29] << 8;
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF || (bits != 1 && bits != 8 && bits != 24)) {
        problem = "the decoded picture has a size or depth a GIF cannot take";
        return false;
    }
    pixels.width = static_cast<std::uint32_t>(width);
    pixels.height = static_cast<std::uint32_t>(height);
    const std::size_t stride = (static_cast<std::size_t>(pixels.width) * bits + 31) / 32 * 4;
    if (offset > bmp.size() || stride * pixels.height > bmp.size() - offset) {
        problem = "the decoded picture is shorter than its size";
        return false;
    }
    if (bits != 24) {
        const std::size_t colors = std::size_t{1} << bits;
        if (kHeaders + colors * 4 > offset) {
            problem = "the decoded picture has no palette";
            return false;
        }
        for (std::size_t i = 0; i < colors; ++i) {
            const std::uint8_t *entry = &bmp[kHeaders + i * 4];
            pixels.palette.push_back(GifColorType{entry[2], entry[1], entry[0]});
        }
    }
    const std::size_t count = static_cast<std::size_t>(pixels.width) * pixels.height;
    (bits == 24 ? pixels.r : pixels.indices).resize(count);
    if (bits == 24) {
        pixels.g.resize(count);
        pixels.b.resize(count);
    }
    for (std::uint32_t y = 0; y < pixels.height; ++y) {
        const std::uint8_t *row = &bmp[offset + stride * (pixels.height - 1 - y)];
        for (std::uint32_t x = 0; x < pixels.width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * pixels.width + x;
            if (bits == 1)
                pixels.indices[at] = row[x / 8] >> (7 - x % 8) & 1;
            else if (bits == 8)
                pixels.indices[at] = row[x];
            else {
                pixels.b[at] = row[3 * x];
                pixels.g[at] = row[3 * x + 1];
                pixels.r[at] = row[3 * x + 2];
            }
        }
    }
    return true;
}

int appendOutput(GifFileType *file, const GifByteType *data, int length) {
    auto *out = static_cast<std::vector<std::uint8_t> *>(file->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

struct GifCloser {
    void operator()(GifFileType *file) const {
        int error = 0;
        EGifCloseFile(file, &error);
    }
};

} // namespace

GifConversion notesBitmapToGif(std::span<const std::uint8_t> records) {
    GifConversion result;
    const auto bmp = tessel::bmpcv::convertNotesBitmap(std::as_bytes(records));
    if (bmp.status != tessel::bmpcv::Status::Ok) {
        result.problem = "the Notes bitmap cannot be decoded: " + bmp.message;
        return result;
    }
    Pixels pixels;
    if (!readBmp(bmp.bmp, pixels, result.problem))
        return result;
    if (pixels.palette.empty()) {
        // A 24-bit picture: reduced to the 256 colours a GIF holds.
        int size = 256;
        pixels.palette.resize(256);
        pixels.indices.resize(pixels.r.size());
        if (GifQuantizeBuffer(pixels.width, pixels.height, &size, pixels.r.data(), pixels.g.data(),
                              pixels.b.data(), pixels.indices.data(), pixels.palette.data()) == GIF_ERROR) {
            result.problem = "the picture's colours cannot be reduced to 256";
            return result;
        }
    }
    // A GIF colour map has a power of two entries (at least two).
    std::size_t entries = 2;
    while (entries < pixels.palette.size())
        entries *= 2;
    pixels.palette.resize(entries, GifColorType{0, 0, 0});
    std::unique_ptr<ColorMapObject, void (*)(ColorMapObject *)> map(
        GifMakeMapObject(static_cast<int>(entries), pixels.palette.data()), GifFreeMapObject);
    std::vector<std::uint8_t> out;
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> file(EGifOpen(&out, appendOutput, &error));
    if (!map || !file) {
        result.problem = "the GIF encoder cannot start";
        return result;
    }
    const int width = static_cast<int>(pixels.width), height = static_cast<int>(pixels.height);
    bool ok = EGifPutScreenDesc(file.get(), width, height, 8, 0, map.get()) == GIF_OK &&
              EGifPutImageDesc(file.get(), 0, 0, width, height, false, nullptr) == GIF_OK;
    for (std::uint32_t y = 0; ok && y < pixels.height; ++y)
        ok = EGifPutLine(file.get(), &pixels.indices[static_cast<std::size_t>(y) * pixels.width], width) == GIF_OK;
    GifFileType *raw = file.release();
    ok = EGifCloseFile(raw, &error) == GIF_OK && ok;
    if (!ok) {
        result.problem = std::string("the GIF encoder failed: ") + GifErrorString(error);
        return result;
    }
    result.gif = std::move(out);
    return result;
}

} // namespace notesemu
