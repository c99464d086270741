// Memory for the plug-in: the QLAllocator table over malloc, and a counting allocator for tests
// that can fail a chosen allocation and lists what is still allocated.
#ifndef QUILLON_HOST_ALLOCATOR_H
#define QUILLON_HOST_ALLOCATOR_H

#include <quillon/quillon.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

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

// An allocator for tests. Counts its calls, can fail the Nth allocation (allocate and both kinds
// of reallocation count; N = 0 never fails), and tracks every live block so that leaks and
// frees of unknown blocks are visible. Thread-safe.
class TestAllocator final : public Allocator {
public:
    struct Block {
        const void *address;
        uint32_t size;
        uint64_t serial; // the allocation call that made or last moved the block, from 1
    };
    struct Counts {
        uint64_t allocations = 0;  // calls of allocate and reallocate, refused or not
        uint64_t frees = 0;        // calls of release with a non-null block
        uint64_t failures = 0;     // allocations that returned null
        uint64_t unknownFrees = 0; // frees and reallocations of blocks this allocator did not hand out
    };

    TestAllocator() = default;
    ~TestAllocator() override; // frees what is still live

    void *allocate(uint32_t cb) override;
    void release(void *pBlock) override;
    void *reallocate(void *pBlock, uint32_t cb, bool zeroFill) override;

    // Makes allocation number n (counted from 1 since construction or the last reset) fail;
    // 0 turns failures off.
    void failAllocation(uint64_t n);
    // Starts counting afresh; live blocks stay live and tracked.
    void resetCounts();

    Counts counts() const;
    size_t liveCount() const;
    uint64_t liveBytes() const;
    std::vector<Block> liveBlocks() const; // in allocation order

private:
    // Counts one allocation call; false when it must fail.
    bool admit();
    // Records a new live block; false when the bookkeeping itself ran out of memory.
    bool track(void *pBlock, uint32_t cb);

    mutable std::mutex mutex_;
    std::unordered_map<const void *, Block> live_;
    Counts counts_;
    uint64_t failAt_ = 0;
    uint64_t serial_ = 0;
};

} // namespace quillon

#endif
