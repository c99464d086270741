// Decodes the run-length coded scanlines of a Notes bitmap's segments into the rows of a BMP image.
#ifndef TESSEL_BMPCV_SCANLINEDECODER_H
#define TESSEL_BMPCV_SCANLINEDECODER_H

#include "BmpImage.h"
#include "Error.h"
#include "NotesBitmap.h"

namespace tessel::bmpcv {

// The BMP depth a bitmap decodes to: 1 and 8 bits per pixel keep their depth (pels are stored as
// they are), 16 bits per pixel become 24-bit rows.
std::uint16_t bmpBitCount(const NotesBitmap &bitmap);

// Fills every row of the image (which has the bitmap's width, height and bmpBitCount) from the
// segments. Fails on a unit that runs past its scanline or its segment, a pattern index outside the
// pattern table, or segments that end before the last scanline.
Error decodeScanlines(const NotesBitmap &bitmap, BmpImage &image);

} // namespace tessel::bmpcv

#endif
