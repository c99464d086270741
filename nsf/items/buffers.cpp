#include "nsf/items/buffers.h"

#include "nsf/diag/log.h"
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

namespace {

// Standing buffers 1 to 5 start with a block of this size; all of them are refilled to it on reset.
const uint32_t ucbStandingBlock = 4096;

// The capacity from which a reset gives a standing buffer's block back.
uint32_t nsfTrimLimit(int32_t nBuffer)
{
    return (nBuffer == NSF_BUFFER_CDR || nBuffer == NSF_BUFFER_CDR2) ? 65536 : 8192;
}

} // namespace

// Creates a buffer in the first free slot from numStandingBuffers on, with a data block of
// ucbDataSize bytes when that is not 0. Returns 0 or NSF_STATUS_OUT_OF_MEMORY.
int nsfAddBuffer(NSFCONTEXT *pContext, uint32_t ucbDataSize, NSFBUFFER **ppBuffer)
{
    static const char szFunc[] = "nsfAddBuffer()";
    *ppBuffer = NULL;

    NSFBUFFER *pBuffer = (NSFBUFFER *)nsfAllocZero(pContext, sizeof(NSFBUFFER));
    if (pBuffer == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating buffer # %d", pContext->numBuffers + 1);
        return NSF_STATUS_OUT_OF_MEMORY;
    }

    int32_t iSlot = -1;
    if (pContext->buffers == NULL) {
        pContext->numBuffers = 0;
        pContext->buffers = (NSFBUFFER **)nsfAlloc(pContext, sizeof(NSFBUFFER *));
        if (pContext->buffers == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error allocating buffer array");
            nsfFree(pContext, pBuffer);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pContext->numBuffers = 1;
        pContext->numStandingBuffers = 1;
        iSlot = 0;
    } else {
        for (int32_t i = pContext->numStandingBuffers - 1; i < pContext->numBuffers; i++) {
            if (i >= 0 && pContext->buffers[i] == NULL) {
                iSlot = i;
                break;
            }
        }
        if (iSlot < 0) {
            uint32_t cbArray = nsfSatMul(nsfSatAdd((uint32_t)pContext->numBuffers, 1), sizeof(NSFBUFFER *));
            NSFBUFFER **rgNew = (NSFBUFFER **)nsfRealloc(pContext, pContext->buffers, cbArray);
            if (rgNew == NULL) {
                nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error re-allocating buffer array for buffer # %d",
                        pContext->numBuffers + 1);
                nsfFree(pContext, pBuffer);
                return NSF_STATUS_OUT_OF_MEMORY;
            }
            pContext->buffers = rgNew;
            iSlot = pContext->numBuffers++;
        }
    }

    pContext->buffers[iSlot] = pBuffer;
    pBuffer->nBuffer = iSlot + 1;

    if (ucbDataSize != 0) {
        pBuffer->rgbData = (uint8_t *)nsfAlloc(pContext, nsfSatAdd(ucbDataSize, NSF_BUFFER_SPARE));
        if (pBuffer->rgbData == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating buffer data for buffer # %d (size %u)",
                    pBuffer->nBuffer, ucbDataSize);
            pContext->buffers[iSlot] = NULL;
            nsfFree(pContext, pBuffer);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "Allocated buffer data: nBuffer %d, ucbDataSize %u 0x%x",
                pBuffer->nBuffer, ucbDataSize, ucbDataSize);
        pBuffer->ucbDataSize = ucbDataSize;
    }

    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "Added buffer: nBuffer %d, ucbDataSize %u 0x%x",
            pBuffer->nBuffer, pBuffer->ucbDataSize, pBuffer->ucbDataSize);
    *ppBuffer = pBuffer;
    return NSF_STATUS_OK;
}

// Frees the buffer's block and record, empties its slot and nulls the caller's pointer.
int nsfFreeBuffer(NSFCONTEXT *pContext, NSFBUFFER **ppBuffer)
{
    static const char szFunc[] = "nsfFreeBuffer()";
    if (ppBuffer == NULL || *ppBuffer == NULL)
        return NSF_STATUS_OK;
    NSFBUFFER *pBuffer = *ppBuffer;
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "Freeing buffer: nBuffer %d, ucbDataSize %u 0x%x, cReallocs %d",
            pBuffer->nBuffer, pBuffer->ucbDataSize, pBuffer->ucbDataSize, pBuffer->cReallocs);
    nsfFree(pContext, pBuffer->rgbData);
    int32_t iSlot = pBuffer->nBuffer - 1;
    if (iSlot >= 0 && iSlot < pContext->numBuffers && pContext->buffers[iSlot] == pBuffer)
        pContext->buffers[iSlot] = NULL;
    *ppBuffer = NULL;
    nsfFree(pContext, pBuffer);
    return NSF_STATUS_OK;
}

// Makes room for ucbNeeded more bytes after ucbData, growing to the need plus 1024 bytes. A block
// without data is replaced rather than moved. Returns 0 or NSF_STATUS_OUT_OF_MEMORY; after a
// failure the buffer is empty, and buffers 1 and 2 still hold a fresh 4096-byte block.
int nsfCheckBuffer(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, uint32_t ucbNeeded)
{
    static const char szFunc[] = "nsfCheckBuffer()";
    uint32_t ucbUsed = nsfSatAdd(pBuffer->ucbData, ucbNeeded);
    if (nsfSatAdd(ucbUsed, NSF_BUFFER_SPARE) <= pBuffer->ucbDataSize && pBuffer->rgbData != NULL)
        return NSF_STATUS_OK;

    uint32_t ucbDataSize = nsfSatAdd(ucbUsed, 1024);
    uint32_t cbBlock = nsfSatAdd(ucbDataSize, NSF_BUFFER_SPARE);
    uint8_t *rgbNew;
    if (pBuffer->rgbData != NULL && pBuffer->ucbData != 0) {
        rgbNew = (uint8_t *)nsfRealloc(pContext, pBuffer->rgbData, cbBlock);
    } else {
        nsfFree(pContext, pBuffer->rgbData);
        pBuffer->rgbData = NULL;
        rgbNew = (uint8_t *)nsfAlloc(pContext, cbBlock);
    }

    if (rgbNew != NULL) {
        pBuffer->rgbData = rgbNew;
        pBuffer->ucbDataSize = ucbDataSize;
        pBuffer->cReallocs++;
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "Re-allocated buffer data: nBuffer %d, ucbDataSize %u 0x%x",
                pBuffer->nBuffer, ucbDataSize, ucbDataSize);
        return NSF_STATUS_OK;
    }

    // A failed move leaves the old block in place; give it back so nothing is kept half-grown.
    nsfFree(pContext, pBuffer->rgbData);
    pBuffer->rgbData = NULL;
    pBuffer->ucbData = 0;
    pBuffer->ucbDataSize = 0;
    nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error re-allocating data for buffer # %d (size %u)",
            pBuffer->nBuffer, ucbDataSize);
    if (pBuffer->nBuffer == NSF_BUFFER_MAIN || pBuffer->nBuffer == NSF_BUFFER_TEMP) {
        // These two always keep a block, so that their users can still write an empty result.
        pBuffer->rgbData = (uint8_t *)nsfAlloc(pContext, ucbStandingBlock + NSF_BUFFER_SPARE);
        if (pBuffer->rgbData == NULL)
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error re-allocating data for buffer # %d (size %u)",
                    pBuffer->nBuffer, ucbStandingBlock);
    }
    return NSF_STATUS_OUT_OF_MEMORY;
}

// Gives back the oversized blocks of the standing buffers and makes sure each has a block.
int nsfResetBuffers(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfResetBuffers()";
    for (int32_t nBuffer = 1; nBuffer <= NSF_NUM_STANDING_BUFFERS && nBuffer <= pContext->numBuffers;
         nBuffer++) {
        NSFBUFFER *pBuffer = pContext->buffers[nBuffer - 1];
        if (pBuffer == NULL)
            continue;
        if (pBuffer->rgbData == NULL) {
            pBuffer->ucbData = 0;
            pBuffer->ucbDataSize = 0;
        } else if (pBuffer->ucbDataSize >= nsfTrimLimit(nBuffer)) {
            nsfLogf(pContext, NSF_LOG_DEBUG, szFunc,
                    "Resetting main buffer data: nBuffer %d, ucbDataSize %u 0x%x", nBuffer,
                    pBuffer->ucbDataSize, pBuffer->ucbDataSize);
            nsfFree(pContext, pBuffer->rgbData);
            pBuffer->rgbData = NULL;
            pBuffer->ucbData = 0;
            pBuffer->ucbDataSize = 0;
        }
        if (pBuffer->rgbData == NULL) {
            int nStatus = nsfCheckBuffer(pContext, pBuffer, ucbStandingBlock);
            if (nStatus != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
                return nStatus;
            }
        }
    }
    return NSF_STATUS_OK;
}

// Creates the ten standing buffers: 1 to 5 with a block, 6 to 10 without.
int nsfInitBuffers(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfInitBuffers()";
    for (int32_t nBuffer = 1; nBuffer <= NSF_NUM_STANDING_BUFFERS; nBuffer++) {
        NSFBUFFER *pBuffer = NULL;
        int nStatus = nsfAddBuffer(pContext, nBuffer <= NSF_BUFFER_CD ? ucbStandingBlock : 0, &pBuffer);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfAddBuffer() failed");
            return nStatus;
        }
    }
    pContext->numStandingBuffers = pContext->numBuffers;
    NSFBUFFER **rgDirect[NSF_NUM_STANDING_BUFFERS] = {
        &pContext->BufferMain, &pContext->BufferTemp, &pContext->BufferLMBCS, &pContext->BufferUTF8,
        &pContext->BufferCD,   &pContext->BufferCDR,  &pContext->BufferCDR2,  &pContext->BufferHTML,
        &pContext->BufferMHT,  &pContext->BufferXML};
    for (int32_t i = 0; i < NSF_NUM_STANDING_BUFFERS; i++)
        *rgDirect[i] = pContext->buffers[i];
    return NSF_STATUS_OK;
}
