// Converts a Notes bitmap, as the rich-text converter stores it for a picture, into a Windows BMP
// file. The input is the picture's records one after the other: CDBITMAPHEADER, then in any order
// CDCOLORTABLE, CDPATTERNTABLE and the CDBITMAPSEGMENTs, each whole with its LSIG header. A filler
// byte after a record of odd length is skipped; records of other kinds are skipped by their length.
#ifndef TESSEL_BMPCV_NOTESBITMAPCONVERTER_H
#define TESSEL_BMPCV_NOTESBITMAPCONVERTER_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tessel::bmpcv {

// What a conversion reports; the numbers are IMGXconvert's results.
enum class Status : int {
    Ok = 0,
    BadArgument = 1,       // a null stream or format name
    UnsupportedFormat = 2, // a format pair other than "NBMP" to "BMP"
    Truncated = 3,         // the data ends before the picture does
    Malformed = 4,         // the data contradicts itself or the format
    TooLarge = 5,          // the picture or the input is beyond the converter's bounds
    OutOfMemory = 6,
    StreamFailure = 7, // the host's stream refused a seek, read or write
};

// Short name of a status ("truncated"), for messages.
const char *statusName(Status status);

// Bounds on what the converter accepts. Sizes come from the document and are hostile until
// checked: a picture of at most kMaxPixels pixels (8192 x 4096) gives a BMP of at most about
// 100 MB, which fits every host block; the input is read whole, so it is bounded too.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 25;
inline constexpr std::uint64_t kMaxInputBytes = std::uint64_t{256} << 20;

struct Conversion {
    Status status = Status::Ok;
    std::string message;           // what went wrong, empty on success
    std::vector<std::uint8_t> bmp; // the BMP file on success, empty otherwise
};

// Decodes the picture's records and writes the BMP. Never reads outside the span; any input gives a
// status, never an exception (out of memory included).
Conversion convertNotesBitmap(std::span<const std::byte> input);

} // namespace tessel::bmpcv

#endif
