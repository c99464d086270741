#include "NotesBitmap.h"

#include "ByteCursor.h"
#include "Format.h"

#include <algorithm>

namespace tessel::bmpcv {
namespace {

constexpr std::uint16_t kSigBitmapHeader = 0x0095;
constexpr std::uint16_t kSigBitmapSegment = 0x0096;
constexpr std::uint16_t kSigColorTable = 0x0097;
constexpr std::uint16_t kSigPatternTable = 0x0098;

constexpr std::size_t kLsigBytes = 6;
constexpr std::size_t kBitmapHeaderBytes = 38;
constexpr std::size_t kBitmapSegmentBytes = 18;
constexpr std::size_t kColorEntryBytes = 3;
constexpr std::size_t kPatternEntryBytes = 24;

// One record of the input: its whole signature WORD, its bytes (header included) and its offset.
struct Record {
    std::uint16_t signature = 0;
    bool isLsig = false;
    std::size_t offset = 0;
    std::span<const std::byte> bytes;
};

// Reads the next record by the length rule of its class: LSIG (high byte 0) has a DWORD length,
// WSIG (high byte 0xFF) a WORD, BSIG the high byte of the signature WORD.
Error nextRecord(std::span<const std::byte> input, ByteCursor &in, Record &record) {
    record.offset = in.offset();
    auto signature = in.u16();
    if (!signature)
        return fail(Status::Truncated, format("a stray byte at offset %zu", record.offset));
    std::uint32_t length = 0;
    std::size_t headerBytes = 0;
    if ((*signature & 0xFF00) == 0) {
        auto value = in.u32();
        if (!value)
            return fail(Status::Truncated,
                        format("the record header at offset %zu is cut short", record.offset));
        length = *value;
        headerBytes = kLsigBytes;
    } else if ((*signature & 0xFF00) == 0xFF00) {
        auto value = in.u16();
        if (!value)
            return fail(Status::Truncated,
                        format("the record header at offset %zu is cut short", record.offset));
        length = *value;
        headerBytes = 4;
    } else {
        length = *signature >> 8;
        headerBytes = 2;
    }
    if (length < headerBytes)
        return fail(Status::Malformed,
                    format("the record at offset %zu has length %u, shorter than its header", record.offset,
                           static_cast<unsigned>(length)));
    if (length - headerBytes > in.remaining())
        return fail(Status::Truncated,
                    format("the record at offset %zu (length %u) runs past the end of the data (%zu bytes)",
                           record.offset, static_cast<unsigned>(length), input.size()));
    in.skip(length - headerBytes);
    record.signature = *signature;
    record.isLsig = headerBytes == kLsigBytes;
    record.bytes = input.subspan(record.offset, length);
    return {};
}

Error readHeader(const Record &record, NotesBitmap &bitmap) {
    if (record.bytes.size() < kBitmapHeaderBytes)
        return fail(Status::Truncated, format("the bitmap header is %zu bytes, shorter than %zu",
                                              record.bytes.size(), kBitmapHeaderBytes));
    ByteCursor in(record.bytes);
    in.skip(14);
    bitmap.flags = *in.u16();
    in.skip(6);
    bitmap.width = *in.u16();
    bitmap.height = *in.u16();
    bitmap.bitsPerPixel = *in.u16();
    // Samples per pixel and bits per sample (offsets 28, 30) follow from the bits per pixel for
    // every kind Notes writes (1/1, 1/8, 3/5); the decoder goes by bits per pixel alone.
    in.skip(4);
    bitmap.segmentCount = *in.u16();
    const std::uint16_t colorCount = *in.u16();
    const std::uint16_t patternCount = *in.u16();
    if (bitmap.bitsPerPixel != 1 && bitmap.bitsPerPixel != 8 && bitmap.bitsPerPixel != 16)
        return fail(Status::Malformed, format("%u bits per pixel; a Notes bitmap has 1, 8 or 16",
                                              unsigned{bitmap.bitsPerPixel}));
    if (bitmap.width == 0 || bitmap.height == 0)
        return fail(Status::Malformed, format("the picture is empty (%u x %u)", unsigned{bitmap.width},
                                              unsigned{bitmap.height}));
    if (std::uint64_t{bitmap.width} * bitmap.height > kMaxPixels)
        return fail(Status::TooLarge,
                    format("the picture is %u x %u pixels, more than %llu", unsigned{bitmap.width},
                           unsigned{bitmap.height}, static_cast<unsigned long long>(kMaxPixels)));
    if (colorCount > NotesBitmap::kMaxColors)
        return fail(Status::Malformed,
                    format("the header counts %u colours, more than 256", unsigned{colorCount}));
    if (patternCount > NotesBitmap::kMaxPatterns)
        return fail(Status::Malformed,
                    format("the header counts %u patterns, more than 64", unsigned{patternCount}));
    bitmap.colors.resize(colorCount);
    bitmap.patterns.resize(patternCount);
    return {};
}

// The number of entries a table holds: the header's count when it gives one, which the record must
// then cover; a header count of 0 takes as many whole entries as the record holds, up to the limit.
Error tableEntries(const Record &record, std::size_t headerCount, std::size_t entryBytes,
                   std::size_t maxEntries, const char *pszTable, std::size_t &count) {
    const std::size_t available = (record.bytes.size() - kLsigBytes) / entryBytes;
    if (headerCount == 0) {
        count = std::min(available, maxEntries);
        return {};
    }
    if (available < headerCount)
        return fail(Status::Truncated, format("the %s holds %zu entries, the header counts %zu", pszTable,
                                              available, headerCount));
    count = headerCount;
    return {};
}

Error readColors(const Record &record, NotesBitmap &bitmap) {
    std::size_t count = 0;
    if (Error error = tableEntries(record, bitmap.colors.size(), kColorEntryBytes, NotesBitmap::kMaxColors,
                                   "colour table", count))
        return error;
    bitmap.colors.resize(count);
    ByteCursor in(record.bytes);
    in.skip(kLsigBytes);
    for (Rgb &color : bitmap.colors)
        color = Rgb{*in.u8(), *in.u8(), *in.u8()};
    return {};
}

Error readPatterns(const Record &record, NotesBitmap &bitmap) {
    std::size_t count = 0;
    if (Error error = tableEntries(record, bitmap.patterns.size(), kPatternEntryBytes,
                                   NotesBitmap::kMaxPatterns, "pattern table", count))
        return error;
    bitmap.patterns.resize(count);
    ByteCursor in(record.bytes);
    in.skip(kLsigBytes);
    for (Pattern &pattern : bitmap.patterns)
        for (std::uint8_t &b : pattern)
            b = *in.u8();
    return {};
}

Error readSegment(const Record &record, NotesBitmap &bitmap) {
    if (record.bytes.size() < kBitmapSegmentBytes)
        return fail(Status::Truncated,
                    format("the bitmap segment at offset %zu is %zu bytes, shorter than %zu", record.offset,
                           record.bytes.size(), kBitmapSegmentBytes));
    ByteCursor in(record.bytes);
    in.skip(14);
    BitmapSegment segment;
    segment.scanlineCount = *in.u16();
    const std::uint16_t dataSize = *in.u16();
    // The record may be longer than its data by a filler byte; DataSize is what counts.
    auto data = in.take(dataSize);
    if (!data)
        return fail(Status::Truncated,
                    format("the bitmap segment at offset %zu holds %zu data bytes, it says %u", record.offset,
                           in.remaining(), unsigned{dataSize}));
    segment.data = *data;
    // The header counts segments in a WORD; more than it can count is no picture Notes wrote, and
    // bounds the list that tiny records could otherwise grow.
    if (bitmap.segments.size() == NotesBitmap::kMaxSegments)
        return fail(Status::Malformed, format("more than %zu bitmap segments", NotesBitmap::kMaxSegments));
    bitmap.segments.push_back(segment);
    return {};
}

} // namespace

Error readNotesBitmap(std::span<const std::byte> input, NotesBitmap &bitmap) {
    bitmap = NotesBitmap{};
    if (input.size() > kMaxInputBytes)
        return fail(Status::TooLarge, format("the input is %zu bytes, more than %llu", input.size(),
                                             static_cast<unsigned long long>(kMaxInputBytes)));
    ByteCursor in(input);
    std::optional<Record> colorTable;
    std::optional<Record> patternTable;
    bool haveHeader = false;
    bool lastWasOdd = false;
    while (!in.atEnd()) {
        // Records are stored whole; one that kept the filler byte of its odd length is followed by a
        // zero, which cannot start a record (no signature has a low byte of 0).
        if (lastWasOdd && in.peek() == 0) {
            in.skip(1);
            lastWasOdd = false;
            continue;
        }
        // Data of another kind is told apart by its first WORD before its length is believed.
        if (!haveHeader) {
            ByteCursor first = in;
            if (auto signature = first.u16(); signature && *signature != kSigBitmapHeader)
                return fail(Status::Malformed, format("the data starts with a record of signature 0x%04X, "
                                                      "not a bitmap header",
                                                      unsigned{*signature}));
        }
        Record record;
        if (Error error = nextRecord(input, in, record))
            return error;
        lastWasOdd = record.bytes.size() % 2 != 0;
        if (!haveHeader) {
            if (Error error = readHeader(record, bitmap))
                return error;
            haveHeader = true;
            continue;
        }
        // Only LSIG records are parts of the picture; a record of another class that shares the
        // low byte, or a transparency table, is passed over.
        switch (record.isLsig ? record.signature : 0) {
        case kSigBitmapHeader:
            return fail(Status::Malformed, format("a second bitmap header at offset %zu", record.offset));
        case kSigColorTable:
            if (colorTable)
                return fail(Status::Malformed, format("a second colour table at offset %zu", record.offset));
            colorTable = record;
            break;
        case kSigPatternTable:
            if (patternTable)
                return fail(Status::Malformed, format("a second pattern table at offset %zu", record.offset));
            patternTable = record;
            break;
        case kSigBitmapSegment:
            if (Error error = readSegment(record, bitmap))
                return error;
            break;
        default:
            break;
        }
    }
    if (!haveHeader)
        return fail(Status::Truncated, "there is no bitmap header");
    // A header count without its table leaves the table empty.
    if (!colorTable)
        bitmap.colors.clear();
    else if (Error error = readColors(*colorTable, bitmap))
        return error;
    if (!patternTable)
        bitmap.patterns.clear();
    else if (Error error = readPatterns(*patternTable, bitmap))
        return error;
    if (bitmap.segments.empty())
        return fail(Status::Truncated, format("there are no bitmap segments (the header counts %u)",
                                              unsigned{bitmap.segmentCount}));
    return {};
}

} // namespace tessel::bmpcv
