// Memory for the plug-in: the QLAllocator table and the allocator over malloc. (The counting,
// failing allocator for tests is the test kit's: <tessel/kit/TestAllocator.h>.)
#ifndef QUILLON_HOST_ALLOCATOR_H
#define QUILLON_HOST_ALLOCATOR_H

#include <quillon/quillon.h>

#include <cstddef>
#include <cstdint>

namespace quillon {

// The largest block the allocator hands out; anything above is refused with a null result.
inline constexpr uint32_t kMaxBlockSize = 0x7FFFFFFF;

// An allocator with a C table the plug-in calls. The table's entries find the object from the
// QLAllocator pointer they receive, so the object must not move: it is neither copied nor moved.
// Contract of every implementation: a size above kMaxBlockSize is refused; size 0 gives a valid
// block of its own; a failed reallocation leaves the block untouched; freeing null does nothing.
class Allocator {
public:
    Allocator();
    virtual ~Allocator() = default;
    Allocator(const Allocator &) = delete;
    Allocator &operator=(const Allocator &) = delete;

    virtual void *allocate(uint32_t cb) = 0;
    virtual void release(void *pBlock) = 0;
    // Moves the block to cb bytes keeping its contents, zero-filling what grows when zeroFill is set.
    virtual void *reallocate(void *pBlock, uint32_t cb, bool zeroFill) = 0;

    // The C table; valid as long as this object lives. Usable as the services table's allocator
    // and as a request's allocator (QLRequest::pAllocator).
    QLAllocator *table() { return &table_.ql; }

    // The allocator behind a table made by table().
    static Allocator &fromTable(QLAllocator *pAllocator);

private:
    struct Table {
        QLAllocator ql; // first member: the C entries cast their argument back to Table
        Allocator *self;
    };
    Table table_;
};

// malloc, realloc and free, with the block size kept in a header in front of each block so that
// a zero-filling reallocation knows how much was there before.
class MallocAllocator final : public Allocator {
public:
    void *allocate(uint32_t cb) override;
    void release(void *pBlock) override;
    void *reallocate(void *pBlock, uint32_t cb, bool zeroFill) override;
};

} // namespace quillon

#endif
