#include "ImageResource.h"

#include "Composite.h"

#include <notes/nsfdata.h>

#include <algorithm>
#include <cstring>

namespace notesemu {
namespace {

constexpr WORD kSigGraphic = 0x0099;
constexpr WORD kSigImageHeader = 0x007D;
constexpr WORD kSigImageSegment = 0x007C;
constexpr std::size_t kMaxItemSize = 65406;

void putWord(std::vector<std::uint8_t> &out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void putDword(std::vector<std::uint8_t> &out, std::size_t value) {
    putWord(out, value & 0xFFFF);
    putWord(out, value >> 16 & 0xFFFF);
}

void putLsig(std::vector<std::uint8_t> &out, WORD signature, std::size_t length) {
    putWord(out, signature);
    putDword(out, length);
}

std::size_t be16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::size_t>(b[at]) << 8 | b[at + 1];
}

std::size_t le16(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | static_cast<std::size_t>(b[at + 1]) << 8;
}

// Splits a record stream into items at record boundaries.
std::vector<std::vector<std::uint8_t>> splitRecords(std::span<const std::uint8_t> records,
                                                    const std::vector<std::size_t> &starts) {
    std::vector<std::vector<std::uint8_t>> items;
    std::vector<std::uint8_t> current;
    putWord(current, TYPE_COMPOSITE);
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : records.size();
        const std::span<const std::uint8_t> record = records.subspan(starts[i], end - starts[i]);
        if (current.size() > 2 && current.size() + record.size() > kMaxItemSize) {
            items.push_back(std::move(current));
            current.clear();
            putWord(current, TYPE_COMPOSITE);
        }
        current.insert(current.end(), record.begin(), record.end());
    }
    items.push_back(std::move(current));
    return items;
}

} // namespace

void imageSize(WORD imageType, std::span<const std::uint8_t> b, WORD &width, WORD &height) {
    width = height = 0;
    std::size_t w = 0, h = 0;
    if (imageType == imageTypeGif && b.size() >= 10) {
        w = le16(b, 6);
        h = le16(b, 8);
    } else if (imageType == imageTypePng && b.size() >= 24) {
        w = be16(b, 18);
        h = be16(b, 22);
    } else if (imageType == imageTypeBmp && b.size() >= 26) {
        w = le16(b, 18);
        h = le16(b, 22);
    } else if (imageType == imageTypeJpeg) {
        // The first start-of-frame marker holds the size.
        std::size_t at = 2;
        while (at + 9 <= b.size() && b[at] == 0xFF) {
            const std::uint8_t marker = b[at + 1];
            const std::size_t length = be16(b, at + 2);
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
                h = be16(b, at + 5);
                w = be16(b, at + 7);
                break;
            }
            at += 2 + length;
        }
    }
    width = static_cast<WORD>(std::min<std::size_t>(w, 0xFFFF));
    height = static_cast<WORD>(std::min<std::size_t>(h, 0xFFFF));
}

std::vector<std::vector<std::uint8_t>> imageDataItems(WORD imageType, std::span<const std::uint8_t> bytes,
                                                      std::string &problem) {
    if (bytes.empty()) {
        problem = "the picture has no bytes";
        return {};
    }
    if (bytes.size() > 0xFFFFFFF0) {
        problem = "the picture is larger than 4 GB";
        return {};
    }
    WORD width = 0, height = 0;
    imageSize(imageType, bytes, width, height);
    std::vector<std::uint8_t> records;
    std::vector<std::size_t> starts;
    starts.push_back(0);
    putLsig(records, kSigGraphic, 28);
    putWord(records, width); // DestSize, in pixels (flag below)
    putWord(records, height);
    records.resize(records.size() + 4 + 8 + 2); // CropSize, CropOffset, fResize
    records.push_back(2);                       // CDGRAPHIC_VERSION3
    records.push_back(0x01);                    // CDGRAPHIC_FLAG_DESTSIZE_IS_PIXELS
    putWord(records, 0);

    if (imageType == imageTypeNotesBitmap) {
        std::vector<std::uint8_t> value(2 + bytes.size());
        value[0] = static_cast<std::uint8_t>(TYPE_COMPOSITE);
        std::memcpy(value.data() + 2, bytes.data(), bytes.size());
        std::vector<std::size_t> offsets;
        const STATUS status = walkComposite(value, [&](const CdRecord &record) -> STATUS {
            offsets.push_back(static_cast<std::size_t>(record.data - value.data()) - 2);
            return NOERROR;
        });
        if (status != NOERROR) {
            problem = "its Notes bitmap records do not walk";
            return {};
        }
        for (const std::size_t offset : offsets)
            starts.push_back(records.size() + offset);
        records.insert(records.end(), bytes.begin(), bytes.end());
        return splitRecords(records, starts);
    }

    const std::size_t segments = (bytes.size() + kImageSegmentData - 1) / kImageSegmentData;
    starts.push_back(records.size());
    putLsig(records, kSigImageHeader, 28);
    putWord(records, imageType);
    putWord(records, width);
    putWord(records, height);
    putDword(records, bytes.size());
    putDword(records, segments);
    putDword(records, 0);
    putDword(records, 0);
    for (std::size_t offset = 0; offset < bytes.size(); offset += kImageSegmentData) {
        const std::size_t size = std::min(kImageSegmentData, bytes.size() - offset);
        const std::size_t padded = size + (size & 1);
        starts.push_back(records.size());
        putLsig(records, kSigImageSegment, 10 + padded);
        putWord(records, size);
        putWord(records, padded);
        records.insert(records.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
        if (padded != size)
            records.push_back(0);
    }
    return splitRecords(records, starts);
}

} // namespace notesemu
