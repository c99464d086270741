#include <quillon/host/Allocator.h>
#include <tessel/kit/TestAllocator.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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

} // namespace
