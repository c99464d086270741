// Memory of the plug-in: every block comes from the host's allocator, and every size handed to
// it is computed with saturating arithmetic so that an overflow becomes a refused allocation.
#pragma once

#include <stdint.h>

struct NSFCONTEXT;

// The size that no allocator grants: any sum or product above 0x7FFFFFFF becomes this value.
#define NSF_SIZE_OVERFLOW 0x80000000u

// a + b, or NSF_SIZE_OVERFLOW when the sum exceeds 0x7FFFFFFF.
uint32_t nsfSatAdd(uint32_t a, uint32_t b);
// a * b, or NSF_SIZE_OVERFLOW when the product exceeds 0x7FFFFFFF.
uint32_t nsfSatMul(uint32_t a, uint32_t b);

// A block of cb bytes from the host allocator, or null.
void *nsfAlloc(NSFCONTEXT *pContext, uint32_t cb);
// A zero-filled block of cb bytes from the host allocator, or null.
void *nsfAllocZero(NSFCONTEXT *pContext, uint32_t cb);
// The block moved to cb bytes with its contents kept, or null (the old block is then untouched).
void *nsfRealloc(NSFCONTEXT *pContext, void *pBlock, uint32_t cb);
// Gives a block back to the host allocator; null is ignored.
void nsfFree(NSFCONTEXT *pContext, void *pBlock);
