#include "tessel/kit/NotesBitmapBuilder.h"

#include <algorithm>
#include <stdexcept>

namespace tessel::kit {
namespace {

constexpr std::uint16_t kRequiresPalette = 0x0001;

// The first record a one-record CdWriter holds, without the filler byte it may have added.
Bytes wholeRecord(const CdWriter &writer) {
    const Bytes &b = writer.bytes();
    const std::size_t length = b[2] | b[3] << 8 | b[4] << 16 | static_cast<std::size_t>(b[5]) << 24;
    return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(length));
}

std::size_t pelSizeOf(std::uint16_t bitsPerPixel) {
    return bitsPerPixel == 16 ? 2 : 1;
}

} // namespace

namespace bitmapunit {

Bytes literal(std::span<const std::uint8_t> pels, std::size_t pelSize) {
    Bytes out{static_cast<std::uint8_t>((pels.size() / pelSize) & 0x3F)};
    out.insert(out.end(), pels.begin(), pels.end());
    return out;
}

Bytes shortRun(std::uint8_t count, std::span<const std::uint8_t> pel) {
    Bytes out{static_cast<std::uint8_t>(0xC0 | (count & 0x3F))};
    out.insert(out.end(), pel.begin(), pel.end());
    return out;
}

Bytes longRun(std::uint16_t count, std::span<const std::uint8_t> pel) {
    Bytes out{static_cast<std::uint8_t>(0x80 | (count >> 8 & 0x3F)), static_cast<std::uint8_t>(count)};
    out.insert(out.end(), pel.begin(), pel.end());
    return out;
}

Bytes patternRun(std::uint16_t count, std::uint8_t index) {
    return Bytes{static_cast<std::uint8_t>(0x40 | (count >> 8 & 0x3F)), static_cast<std::uint8_t>(count),
                 index};
}

} // namespace bitmapunit

Bytes bitmapScanlinePels(std::span<const std::uint16_t> pixels, std::uint16_t bitsPerPixel) {
    Bytes out;
    if (bitsPerPixel == 1) {
        out.assign((pixels.size() + 7) / 8, 0);
        for (std::size_t x = 0; x < pixels.size(); ++x)
            if (pixels[x] & 1)
                out[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    } else if (bitsPerPixel == 8) {
        for (std::uint16_t px : pixels)
            out.push_back(static_cast<std::uint8_t>(px));
    } else if (bitsPerPixel == 16) {
        for (std::uint16_t px : pixels) {
            out.push_back(static_cast<std::uint8_t>(px));
            out.push_back(static_cast<std::uint8_t>(px >> 8));
        }
    } else {
        throw std::invalid_argument("Notes bitmap: 1, 8 or 16 bits per pixel");
    }
    return out;
}

Bytes encodeBitmapLine(std::span<const std::uint8_t> pels, std::size_t pelSize) {
    if (pelSize == 0 || pels.size() % pelSize != 0)
        throw std::invalid_argument("scanline is not a whole number of pels");
    const std::size_t count = pels.size() / pelSize;
    auto pel = [&](std::size_t i) { return pels.subspan(i * pelSize, pelSize); };
    Bytes out;
    std::size_t literalStart = 0;
    auto flushLiterals = [&](std::size_t end) {
        while (literalStart < end) {
            const std::size_t n = std::min<std::size_t>(63, end - literalStart);
            const Bytes unit =
                bitmapunit::literal(pels.subspan(literalStart * pelSize, n * pelSize), pelSize);
            out.insert(out.end(), unit.begin(), unit.end());
            literalStart += n;
        }
    };
    std::size_t i = 0;
    while (i < count) {
        std::size_t run = 1;
        while (i + run < count && run < 16383 && std::ranges::equal(pel(i), pel(i + run)))
            ++run;
        if (run >= 3) {
            flushLiterals(i);
            const Bytes unit = run > 63 ? bitmapunit::longRun(static_cast<std::uint16_t>(run), pel(i))
                                        : bitmapunit::shortRun(static_cast<std::uint8_t>(run), pel(i));
            out.insert(out.end(), unit.begin(), unit.end());
            literalStart = i + run;
        }
        i += run;
    }
    flushLiterals(count);
    return out;
}

NotesBitmapBuilder::NotesBitmapBuilder(std::uint16_t width, std::uint16_t height,
                                       std::uint16_t bitsPerPixel) {
    header_.destWidth = width;
    header_.destHeight = height;
    header_.width = width;
    header_.height = height;
    header_.bitsPerPixel = bitsPerPixel;
    header_.samplesPerPixel = bitsPerPixel == 16 ? 3 : 1;
    header_.bitsPerSample = bitsPerPixel == 16 ? 5 : bitsPerPixel;
    header_.flags = 0;
}

NotesBitmapBuilder &NotesBitmapBuilder::colors(std::vector<Rgb> colors) {
    colors_ = std::move(colors);
    hasColorTable_ = true;
    header_.colorCount = static_cast<std::uint16_t>(colors_.size());
    if (header_.bitsPerPixel == 8)
        header_.flags |= kRequiresPalette;
    return *this;
}

NotesBitmapBuilder &NotesBitmapBuilder::patterns(std::vector<PatternEntry> patterns) {
    patterns_ = std::move(patterns);
    hasPatternTable_ = true;
    header_.patternCount = static_cast<std::uint16_t>(patterns_.size());
    return *this;
}

NotesBitmapBuilder &NotesBitmapBuilder::codedLine(std::span<const std::uint8_t> units) {
    if (segments_.empty() || !segments_.back().open)
        segments_.push_back({});
    Segment &segment = segments_.back();
    ++segment.scanlines;
    segment.data.insert(segment.data.end(), units.begin(), units.end());
    return *this;
}

NotesBitmapBuilder &NotesBitmapBuilder::pixels(std::span<const std::uint16_t> pixels,
                                               std::size_t maxSegmentBytes) {
    const std::size_t width = header_.width;
    if (width == 0 || pixels.size() % width != 0)
        throw std::invalid_argument("Notes bitmap: the pixels are not whole rows");
    endSegment();
    for (std::size_t y = 0; y < pixels.size() / width; ++y) {
        const Bytes line =
            encodeBitmapLine(bitmapScanlinePels(pixels.subspan(y * width, width), header_.bitsPerPixel),
                             pelSizeOf(header_.bitsPerPixel));
        if (!segments_.empty() && segments_.back().open &&
            segments_.back().data.size() + line.size() > maxSegmentBytes)
            endSegment();
        codedLine(line);
    }
    return endSegment();
}

NotesBitmapBuilder &NotesBitmapBuilder::endSegment() {
    if (!segments_.empty())
        segments_.back().open = false;
    return *this;
}

NotesBitmapBuilder &NotesBitmapBuilder::rawSegment(std::uint16_t scanlineCount,
                                                   std::span<const std::uint8_t> data) {
    endSegment();
    segments_.push_back({scanlineCount, Bytes(data.begin(), data.end()), false});
    return *this;
}

std::vector<Bytes> NotesBitmapBuilder::records() const {
    std::vector<Bytes> out;
    BitmapHeader header = header_;
    if (header.segmentCount == 0)
        header.segmentCount = static_cast<std::uint16_t>(segments_.size());
    {
        CdWriter w;
        out.push_back(wholeRecord(w.bitmapHeader(header)));
    }
    if (hasColorTable_) {
        CdWriter w;
        out.push_back(wholeRecord(w.colorTable(colors_)));
    }
    if (hasPatternTable_) {
        CdWriter w;
        out.push_back(wholeRecord(w.patternTable(patterns_)));
    }
    for (const Segment &segment : segments_) {
        CdWriter w;
        out.push_back(wholeRecord(w.bitmapSegment(segment.scanlines, segment.data)));
    }
    return out;
}

Bytes NotesBitmapBuilder::converterStream() const {
    Bytes out;
    for (const Bytes &record : records())
        out.insert(out.end(), record.begin(), record.end());
    return out;
}

CdWriter &NotesBitmapBuilder::appendTo(CdWriter &writer) const {
    Graphic graphic;
    graphic.destWidth = header_.width;
    graphic.destHeight = header_.height;
    graphic.flags = Graphic::kDestSizeIsPixels;
    writer.graphic(graphic);
    for (const Bytes &record : records()) {
        // The record's own header is rewritten by record(); its payload follows the 6-byte LSIG.
        const std::uint16_t signature = static_cast<std::uint16_t>(record[0] | record[1] << 8);
        writer.record(Sig{signature, SigClass::Long}, std::span(record).subspan(6));
    }
    return writer;
}

} // namespace tessel::kit
