// Stands in for the image converter in the converter's tests, so that the call protocol is checked
// whatever the real converter makes of the bitmap: it answers "NBMP" to "BMP" by writing "BM",
// the stream's former size as four decimal digits and the former bytes back into the same stream,
// and fails (2) for a bitmap whose header flags word has bit 0x8000 set.
#include <quillon/quillon.h>

#include <cstdio>
#include <cstring>
#include <vector>

extern "C" QLEXPORT int QLAPI IMGXconvert(QLHAPI *pHAPI, const char *pszFrom, const char *pszTo, QLStream *pIn,
                                          QLStream *pOut, uint32_t dwReserved1, uint32_t dwReserved2) {
    if (pHAPI == nullptr || pIn != pOut || dwReserved1 != 0 || dwReserved2 != 0 || std::strcmp(pszFrom, "NBMP") != 0 ||
        std::strcmp(pszTo, "BMP") != 0)
        return 1;
    if (pIn->fpSeek(pIn, 0, 2) == 0)
        return 3;
    const int64_t size = pIn->fpTell(pIn);
    if (size < 38 || size > 9999 || pIn->fpSeek(pIn, 0, 0) == 0)
        return 3;
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    if (pIn->fpRead(pIn, bytes.data(), static_cast<uint32_t>(size)) != size)
        return 3;
    if (bytes[0] != 0x95 || (bytes[15] & 0x80) != 0)
        return 2;
    char header[8];
    std::snprintf(header, sizeof(header), "BM%04d", static_cast<int>(size));
    if (!pOut->fpOpen(pOut))
        return 4;
    pOut->fpWrite(pOut, header, 6);
    pOut->fpWrite(pOut, bytes.data(), static_cast<uint32_t>(size));
    return 0;
}
