// The `$ImageData` item of an image resource, built from the picture DXL gives: a CDGRAPHIC
// record, then for an image file a CDIMAGEHEADER and CDIMAGESEGMENT records carrying the file's
// bytes, or for a Notes bitmap the bitmap's own CD records.
#pragma once

#include <notes/global.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace notesemu {

// CDIMAGETYPE_xxx, and 0 for a picture given as Notes bitmap records.
constexpr WORD imageTypeNotesBitmap = 0;
constexpr WORD imageTypeGif = 1;
constexpr WORD imageTypeJpeg = 2;
constexpr WORD imageTypeBmp = 3;
constexpr WORD imageTypePng = 4;

// Bytes of image data per CDIMAGESEGMENT, as Notes writes them.
constexpr std::size_t kImageSegmentData = 10250;

// The item values (each starting with the TYPE_COMPOSITE word), split at record boundaries into
// items of at most 65406 bytes. Empty, with the reason in `problem`, when the picture cannot be
// stored (no bytes, Notes bitmap records that do not walk, more than 4 GB).
std::vector<std::vector<std::uint8_t>> imageDataItems(WORD imageType, std::span<const std::uint8_t> bytes,
                                                      std::string &problem);

// Width and height in pixels read from a GIF, PNG, JPEG or BMP file; zero when unknown.
void imageSize(WORD imageType, std::span<const std::uint8_t> bytes, WORD &width, WORD &height);

} // namespace notesemu
