// The kit's test tools themselves: the counting, failing allocator and the memory I/O object.
#include <tessel/kit/MemoryIOObject.h>
#include <tessel/kit/TestAllocator.h>

#include <quillon/host/Host.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <string_view>

using quillon::Allocator;
using quillon::MemoryIOObject;
using quillon::TestAllocator;

namespace {

int writeText(QLIOobj *p, std::string_view text) {
    return p->fpWrite(p, text.data(), static_cast<uint32_t>(text.size()));
}

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

TEST(MemoryIOObject, CapturesWritesAcrossOpens) {
    MemoryIOObject output("out.mht");
    QLIOobj *p = output.get();
    EXPECT_STREQ(p->pFileName, "out.mht");
    EXPECT_EQ(p->fpClose, nullptr);
    EXPECT_EQ(writeText(p, "closed"), 0);
    ASSERT_NE(p->fpOpen(p), 0);
    EXPECT_NE(p->fpClose, nullptr);
    EXPECT_NE(writeText(p, "note;"), 0);
    ASSERT_NE(p->fpClose(p), 0);
    EXPECT_EQ(p->fpClose, nullptr);
    ASSERT_NE(p->fpOpen(p), 0);
    EXPECT_NE(writeText(p, std::string_view("att\0ch", 6)), 0);
    ASSERT_NE(p->fpClose(p), 0);
    EXPECT_EQ(output.data(), std::string("note;att\0ch", 11));
    EXPECT_EQ(output.openCount(), 2);
    EXPECT_EQ(output.closeCount(), 2);
    output.clear();
    EXPECT_EQ(output.data(), "");
}

TEST(MemoryIOObject, FailsWhereTold) {
    MemoryIOObject output;
    QLIOobj *p = output.get();
    output.failOpen(true);
    EXPECT_EQ(p->fpOpen(p), 0);
    EXPECT_EQ(p->fpClose, nullptr);
    output.failOpen(false);
    output.failWrite(2);
    output.failClose(true);
    ASSERT_NE(p->fpOpen(p), 0);
    EXPECT_NE(writeText(p, "1"), 0);
    EXPECT_EQ(writeText(p, "2"), 0);
    EXPECT_NE(writeText(p, "3"), 0);
    EXPECT_EQ(p->fpClose(p), 0);
    EXPECT_EQ(p->fpClose, nullptr); // closed even though close reported failure
    EXPECT_EQ(output.data(), "13");
}

} // namespace
