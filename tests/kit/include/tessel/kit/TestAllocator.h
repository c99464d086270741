// The test kit's allocator: counts its calls, fails a chosen allocation and lists what is still
// allocated. It plugs into a host (HostOptions::allocator) or serves as a request's allocator.
// It keeps its old name and namespace, so tests written against the host library only change the
// header they include.
#ifndef TESSEL_KIT_TESTALLOCATOR_H
#define TESSEL_KIT_TESTALLOCATOR_H

#include <quillon/host/Allocator.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace quillon {

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
