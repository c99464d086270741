#include "nsf/base/memory.h"

#include <string.h>

#include "nsf/base/context.h"

uint32_t nsfSatAdd(uint32_t a, uint32_t b)
{
    uint64_t ull = (uint64_t)a + b;
    return ull > 0x7FFFFFFFu ? NSF_SIZE_OVERFLOW : (uint32_t)ull;
}

uint32_t nsfSatMul(uint32_t a, uint32_t b)
{
    uint64_t ull = (uint64_t)a * b;
    return ull > 0x7FFFFFFFu ? NSF_SIZE_OVERFLOW : (uint32_t)ull;
}

void *nsfAlloc(NSFCONTEXT *pContext, uint32_t cb)
{
    QLAllocator *pAllocator = &pContext->services->allocator;
    return pAllocator->fpAlloc(pAllocator, cb);
}

void *nsfAllocZero(NSFCONTEXT *pContext, uint32_t cb)
{
    void *pBlock = nsfAlloc(pContext, cb);
    if (pBlock != NULL)
        memset(pBlock, 0, cb);
    return pBlock;
}

void *nsfRealloc(NSFCONTEXT *pContext, void *pBlock, uint32_t cb)
{
    QLAllocator *pAllocator = &pContext->services->allocator;
    return pAllocator->fpRealloc(pAllocator, pBlock, cb);
}

void nsfFree(NSFCONTEXT *pContext, void *pBlock)
{
    if (pBlock == NULL)
        return;
    QLAllocator *pAllocator = &pContext->services->allocator;
    pAllocator->fpFree(pAllocator, pBlock);
}
