#include <quillon/host/Allocator.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace quillon {

namespace {

void *QLAPI tableAlloc(QLAllocator *pAllocator, uint32_t cb) {
    return Allocator::fromTable(pAllocator).allocate(cb);
}

void QLAPI tableFree(QLAllocator *pAllocator, void *pBlock) {
    Allocator::fromTable(pAllocator).release(pBlock);
}

void *QLAPI tableRealloc(QLAllocator *pAllocator, void *pBlock, uint32_t cb) {
    return Allocator::fromTable(pAllocator).reallocate(pBlock, cb, false);
}

void *QLAPI tableReallocZero(QLAllocator *pAllocator, void *pBlock, uint32_t cb) {
    return Allocator::fromTable(pAllocator).reallocate(pBlock, cb, true);
}

// The header in front of every MallocAllocator block; its size keeps the user block aligned
// as malloc's own blocks are.
union BlockHeader {
    uint32_t cb;
    std::max_align_t align;
};

BlockHeader *headerOf(void *pBlock) {
    return reinterpret_cast<BlockHeader *>(static_cast<char *>(pBlock) - sizeof(BlockHeader));
}

} // namespace

Allocator::Allocator() : table_{{tableAlloc, tableFree, tableRealloc, tableReallocZero}, this} {}

Allocator &Allocator::fromTable(QLAllocator *pAllocator) {
    return *reinterpret_cast<Table *>(pAllocator)->self;
}

void *MallocAllocator::allocate(uint32_t cb) {
    if (cb > kMaxBlockSize)
        return nullptr;
    auto *pHeader = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader) + cb));
    if (pHeader == nullptr)
        return nullptr;
    pHeader->cb = cb;
    return pHeader + 1;
}

void MallocAllocator::release(void *pBlock) {
    if (pBlock != nullptr)
        std::free(headerOf(pBlock));
}

void *MallocAllocator::reallocate(void *pBlock, uint32_t cb, bool zeroFill) {
    if (pBlock == nullptr) {
        void *pNew = allocate(cb);
        if (pNew != nullptr && zeroFill)
            std::memset(pNew, 0, cb);
        return pNew;
    }
    if (cb > kMaxBlockSize)
        return nullptr;
    uint32_t cbOld = headerOf(pBlock)->cb;
    auto *pHeader = static_cast<BlockHeader *>(std::realloc(headerOf(pBlock), sizeof(BlockHeader) + cb));
    if (pHeader == nullptr)
        return nullptr;
    pHeader->cb = cb;
    char *pNew = reinterpret_cast<char *>(pHeader + 1);
    if (zeroFill && cb > cbOld)
        std::memset(pNew + cbOld, 0, cb - cbOld);
    return pNew;
}

} // namespace quillon
