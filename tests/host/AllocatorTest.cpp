#include <quillon/host/Allocator.h>
#include <quillon/host/Host.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using quillon::Allocator;
using quillon::MallocAllocator;
using quillon::TestAllocator;

namespace {

// Both allocators keep the same contract; each test runs against both through the C table.
class AllocatorContract : public ::testing::TestWithParam<bool> {
protected:
    AllocatorContract() {
        if (GetParam())
            allocator_ = std::make_unique<TestAllocator>();
        else
            allocator_ = std::make_unique<MallocAllocator>();
        table_ = allocator_->table();
    }

    void *alloc(uint32_t cb) { return table_->fpAlloc(table_, cb); }
    void free(void *p) { table_->fpFree(table_, p); }
    void *realloc(void *p, uint32_t cb) { return table_->fpRealloc(table_, p, cb); }
    void *reallocZero(void *p, uint32_t cb) { return table_->fpReallocZero(table_, p, cb); }

    std::unique_ptr<Allocator> allocator_;
    QLAllocator *table_;
};

TEST_P(AllocatorContract, RefusesSizesAbove0x7FFFFFFF) {
    EXPECT_EQ(alloc(0x80000000u), nullptr);
    EXPECT_EQ(alloc(0xFFFFFFFFu), nullptr);
    auto *p = static_cast<char *>(alloc(4));
    ASSERT_NE(p, nullptr);
    std::memcpy(p, "abc", 4);
    EXPECT_EQ(realloc(p, 0x80000000u), nullptr);
    EXPECT_EQ(reallocZero(p, 0xFFFFFFFFu), nullptr);
    EXPECT_STREQ(p, "abc"); // the block is untouched and still owned
    free(p);
}

TEST_P(AllocatorContract, GivesDistinctBlocksForSizeZero) {
    void *a = alloc(0);
    void *b = alloc(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    free(a);
    free(b);
    free(nullptr);
}

TEST_P(AllocatorContract, ReallocationKeepsContentsAndZeroFillsGrowth) {
    auto *p = static_cast<unsigned char *>(alloc(8));
    ASSERT_NE(p, nullptr);
    std::memset(p, 0xAB, 8);
    p = static_cast<unsigned char *>(realloc(p, 4));
    ASSERT_NE(p, nullptr);
    // Grow from 4: bytes 4..4095 must be zero, although the block once held 0xAB there.
    p = static_cast<unsigned char *>(reallocZero(p, 4096));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(p[i], 0xAB);
    for (int i = 4; i < 4096; ++i)
        ASSERT_EQ(p[i], 0) << i;
    p = static_cast<unsigned char *>(realloc(p, 0));
    ASSERT_NE(p, nullptr);
    free(p);
    // A null block reallocates as a new one.
    auto *q = static_cast<unsigned char *>(reallocZero(nullptr, 16));
    ASSERT_NE(q, nullptr);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(q[i], 0);
    free(q);
}

INSTANTIATE_TEST_SUITE_P(Allocators, AllocatorContract, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "TestAllocator" : "MallocAllocator"; });

TEST(TestAllocator, FailsTheNthAllocationOfAnyKind) {
    for (uint64_t n = 1; n <= 4; ++n) {
        SCOPED_TRACE(n);
        TestAllocator allocator;
        QLAllocator *t = allocator.table();
        void *x = t->fpAlloc(t, 8);
        void *y = t->fpAlloc(t, 8);
        allocator.resetCounts();
        allocator.failAllocation(n);
        void *results[4] = {
            t->fpAlloc(t, 8),
            t->fpRealloc(t, x, 16),
            t->fpReallocZero(t, y, 32),
            t->fpRealloc(t, nullptr, 4),
        };
        for (uint64_t i = 1; i <= 4; ++i)
            EXPECT_EQ(results[i - 1] == nullptr, i == n) << "allocation " << i;
        EXPECT_EQ(allocator.counts().allocations, 4u);
        EXPECT_EQ(allocator.counts().failures, 1u);
        // A failed reallocation leaves the old block live; a failed allocation adds none.
        EXPECT_EQ(allocator.liveCount(), n == 1 || n == 4 ? 3u : 4u);
        // Only the Nth fails: the next call succeeds.
        void *after = t->fpAlloc(t, 1);
        EXPECT_NE(after, nullptr);
    }
}

TEST(TestAllocator, NeverFailsWithZeroAndCountsRefusals) {
    TestAllocator allocator;
    QLAllocator *t = allocator.table();
    allocator.failAllocation(0);
    std::vector<void *> blocks;
    for (int i = 0; i < 50; ++i)
        blocks.push_back(t->fpAlloc(t, 1));
    for (void *p : blocks)
        EXPECT_NE(p, nullptr);
    EXPECT_EQ(t->fpAlloc(t, 0x80000000u), nullptr);
    EXPECT_EQ(allocator.counts().allocations, 51u);
    EXPECT_EQ(allocator.counts().failures, 1u);
    for (void *p : blocks)
        t->fpFree(t, p);
    EXPECT_EQ(allocator.counts().frees, 50u);
    EXPECT_EQ(allocator.liveCount(), 0u);
}

TEST(TestAllocator, ReportsLiveBlocksInAllocationOrder) {
    TestAllocator allocator;
    QLAllocator *t = allocator.table();
    void *a = t->fpAlloc(t, 10);
    void *b = t->fpAlloc(t, 20);
    void *c = t->fpAlloc(t, 30);
    t->fpFree(t, b);
    c = t->fpRealloc(t, c, 35);
    EXPECT_EQ(allocator.liveCount(), 2u);
    EXPECT_EQ(allocator.liveBytes(), 45u);
    std::vector<TestAllocator::Block> live = allocator.liveBlocks();
    ASSERT_EQ(live.size(), 2u);
    EXPECT_EQ(live[0].address, a);
    EXPECT_EQ(live[0].size, 10u);
    EXPECT_EQ(live[1].address, c);
    EXPECT_EQ(live[1].size, 35u);
    EXPECT_LT(live[0].serial, live[1].serial);
    t->fpFree(t, a);
    t->fpFree(t, c);
    EXPECT_EQ(allocator.liveBytes(), 0u);
}

TEST(TestAllocator, CatchesDoubleAndForeignFrees) {
    TestAllocator allocator;
    QLAllocator *t = allocator.table();
    void *p = t->fpAlloc(t, 4);
    t->fpFree(t, p);
    t->fpFree(t, p);
    int local = 0;
    t->fpFree(t, &local);
    EXPECT_EQ(t->fpRealloc(t, &local, 8), nullptr);
    EXPECT_EQ(allocator.counts().unknownFrees, 3u);
    EXPECT_EQ(allocator.liveCount(), 0u);
}

TEST(TestAllocator, ServesAsARequestAllocator) {
    TestAllocator allocator;
    QLRequest request{nullptr, allocator.table()};
    // What a reader does with a request: allocate from its second field; the host frees.
    QLAllocator *pAllocator = request.pAllocator;
    char *psz = static_cast<char *>(pAllocator->fpAlloc(pAllocator, 6));
    ASSERT_NE(psz, nullptr);
    std::memcpy(psz, "name!", 6);
    EXPECT_EQ(allocator.liveCount(), 1u);
    Allocator::fromTable(request.pAllocator).release(psz);
    EXPECT_EQ(allocator.liveCount(), 0u);
}

TEST(TestAllocator, BacksTheServicesTable) {
    TestAllocator allocator;
    quillon::HostOptions options;
    options.allocator = &allocator;
    quillon::Host host({}, options);
    QLHAPI *pHAPI = host.services();
    void *p = pHAPI->allocator.fpAlloc(&pHAPI->allocator, 12);
    char *psz = pHAPI->fpDupString(pHAPI, "duplicate me");
    ASSERT_NE(p, nullptr);
    ASSERT_NE(psz, nullptr);
    EXPECT_STREQ(psz, "duplicate me");
    EXPECT_EQ(allocator.liveCount(), 2u);
    EXPECT_EQ(allocator.liveBytes(), 12u + 13u);
    p = pHAPI->allocator.fpReallocZero(&pHAPI->allocator, p, 24);
    EXPECT_EQ(allocator.liveBytes(), 24u + 13u);
    pHAPI->allocator.fpFree(&pHAPI->allocator, p);
    EXPECT_EQ(allocator.liveCount(), 1u); // the duplicate leaks until freed
    allocator.failAllocation(allocator.counts().allocations + 1);
    EXPECT_EQ(pHAPI->fpDupString(pHAPI, "fails"), nullptr);
    EXPECT_EQ(pHAPI->fpDupString(pHAPI, nullptr), nullptr);
    pHAPI->allocator.fpFree(&pHAPI->allocator, psz);
    EXPECT_EQ(allocator.liveCount(), 0u);
}

} // namespace
