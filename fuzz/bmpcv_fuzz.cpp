// The Notes bitmap converter: the input is the picture's records as the plug-in hands them over.
#include <bmpcv/NotesBitmapConverter.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto conversion =
        tessel::bmpcv::convertNotesBitmap(std::span<const std::byte>(reinterpret_cast<const std::byte *>(data), size));
    bool ok = conversion.status == tessel::bmpcv::Status::Ok;
    // Success gives a BMP file and no message; failure gives a message and no bytes.
    if (ok != (conversion.message.empty() && conversion.bmp.size() >= 54 && conversion.bmp[0] == 'B' &&
               conversion.bmp[1] == 'M')) {
        std::fprintf(stderr, "fuzz invariant broken: status and output disagree: %s\n", conversion.message.c_str());
        std::abort();
    }
    return 0;
}
