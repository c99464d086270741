// The base64 encoder shared by the converter, the mail rendering and the templates.
#pragma once

#include <stdint.h>

// The size of an output block that holds the base64 text of cbIn bytes started at any line
// position: four characters per started group, a CR LF per 72 characters and the terminator.
// Saturates at 0x80000000 (which no allocator grants) instead of wrapping.
uint32_t nsfBase64Size(uint32_t cbIn);
// Encodes cbIn bytes into pszOut (at least nsfBase64Size(cbIn) bytes): standard alphabet, "="
// padding, "\r\n" after every 72 characters counted from *pnLineLen, which is updated. Returns
// the number of characters written; the caller terminates the text.
uint32_t encode_base64(const uint8_t *pbIn, uint32_t cbIn, char *pszOut, int32_t *pnLineLen);
