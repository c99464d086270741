#include "nsf/richtext/base64.h"

namespace {

const char szBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

uint32_t nsfBase64Size(uint32_t cbIn)
{
    // Four characters per started group of three bytes, two more per line of 72 characters (one
    // line more for a line started elsewhere) and the terminator, in 64 bits so nothing wraps.
    uint64_t ullGroups = ((uint64_t)cbIn + 2) / 3;
    uint64_t ullChars = ullGroups * 4;
    uint64_t ullSize = ullChars + (ullChars / 72 + 1) * 2 + 1;
    return ullSize > 0x7FFFFFFFu ? 0x80000000u : (uint32_t)ullSize;
}

uint32_t encode_base64(const uint8_t *pbIn, uint32_t cbIn, char *pszOut, int32_t *pnLineLen)
{
    char *psz = pszOut;
    int32_t nLineLen = *pnLineLen;
    uint32_t i = 0;
    // Whole groups: the common case runs through here with one test per group.
    for (; cbIn - i >= 3; i += 3) {
        uint32_t dw = ((uint32_t)pbIn[i] << 16) | ((uint32_t)pbIn[i + 1] << 8) | pbIn[i + 2];
        psz[0] = szBase64Alphabet[dw >> 18];
        psz[1] = szBase64Alphabet[(dw >> 12) & 0x3F];
        psz[2] = szBase64Alphabet[(dw >> 6) & 0x3F];
        psz[3] = szBase64Alphabet[dw & 0x3F];
        psz += 4;
        nLineLen += 4;
        if (nLineLen > 71) {
            psz[0] = '\r';
            psz[1] = '\n';
            psz += 2;
            nLineLen = 0;
        }
    }
    uint32_t cbLeft = cbIn - i;
    if (cbLeft != 0) {
        uint32_t dw = (uint32_t)pbIn[i] << 16;
        if (cbLeft == 2)
            dw |= (uint32_t)pbIn[i + 1] << 8;
        psz[0] = szBase64Alphabet[dw >> 18];
        psz[1] = szBase64Alphabet[(dw >> 12) & 0x3F];
        psz[2] = cbLeft == 2 ? szBase64Alphabet[(dw >> 6) & 0x3F] : '=';
        psz[3] = '=';
        psz += 4;
        // A final partial group ends the text: no line break, and the next text starts a line.
        nLineLen = 0;
    }
    *pnLineLen = nLineLen;
    return (uint32_t)(psz - pszOut);
}
