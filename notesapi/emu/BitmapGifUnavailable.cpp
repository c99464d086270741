// Notes bitmaps as GIF in a runtime built without giflib (the Windows build): every conversion
// fails with its reason, and the exporter keeps the bitmap as a Notes bitmap.
#include "BitmapGif.h"

namespace notesemu {

GifConversion notesBitmapToGif(std::span<const std::uint8_t>) {
    return {{}, "GIF encoding is not part of this build of the runtime (no giflib)"};
}

} // namespace notesemu
