// Work buffers: the numbered pool of growable byte buffers each reader context owns.
#pragma once

#include <stdint.h>

struct NSFCONTEXT;

// One growable byte buffer. The data block is always ucbDataSize + 16 bytes, so a terminator or a
// few bytes written at ucbDataSize stay inside it.
struct NSFBUFFER {
    int32_t nBuffer;      // 1-based number: slot index in the pool + 1
    uint32_t ucbData;     // bytes in use, set and advanced by the writers
    uint32_t ucbDataSize; // usable capacity; 0 when there is no block
    uint8_t *rgbData;     // the block, or null
    int32_t cReallocs;    // successful growths, only logged
};

// The ten standing buffers, by number.
enum {
    NSF_BUFFER_MAIN = 1,
    NSF_BUFFER_TEMP,
    NSF_BUFFER_LMBCS,
    NSF_BUFFER_UTF8,
    NSF_BUFFER_CD,
    NSF_BUFFER_CDR,
    NSF_BUFFER_CDR2,
    NSF_BUFFER_HTML,
    NSF_BUFFER_MHT,
    NSF_BUFFER_XML,
    NSF_NUM_STANDING_BUFFERS = NSF_BUFFER_XML
};

// Spare bytes after the usable capacity of every block.
#define NSF_BUFFER_SPARE 16u

int nsfInitBuffers(NSFCONTEXT *pContext);
int nsfAddBuffer(NSFCONTEXT *pContext, uint32_t ucbDataSize, NSFBUFFER **ppBuffer);
int nsfFreeBuffer(NSFCONTEXT *pContext, NSFBUFFER **ppBuffer);
int nsfCheckBuffer(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, uint32_t ucbNeeded);
int nsfResetBuffers(NSFCONTEXT *pContext);
