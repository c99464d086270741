// Work buffers: creation of the standing buffers, growth, reuse of on-demand numbers, trimming,
// and what a failed allocation leaves behind.
#include "NsfFixture.h"

#include "nsf/items/buffers.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

namespace tessel::test {
namespace {

class BuffersTest : public NsfTest {
protected:
    void SetUp() override {
        NsfTest::SetUp();
        ASSERT_EQ(nsfInitBuffers(pContext), NSF_STATUS_OK);
    }
    void TearDown() override {
        for (int32_t i = 0; i < pContext->numBuffers; i++)
            nsfFreeBuffer(pContext, &pContext->buffers[i]);
        nsfFree(pContext, pContext->buffers);
        NsfTest::TearDown();
        EXPECT_EQ(allocator.liveCount(), 0u) << "work buffers leaked";
    }
};

TEST_F(BuffersTest, InitCreatesTenStandingBuffersInOrder) {
    EXPECT_EQ(pContext->numBuffers, 10);
    EXPECT_EQ(pContext->numStandingBuffers, 10);
    NSFBUFFER *rgDirect[] = {pContext->BufferMain, pContext->BufferTemp, pContext->BufferLMBCS,
                             pContext->BufferUTF8, pContext->BufferCD,   pContext->BufferCDR,
                             pContext->BufferCDR2, pContext->BufferHTML, pContext->BufferMHT,
                             pContext->BufferXML};
    for (int i = 0; i < 10; i++) {
        SCOPED_TRACE(i + 1);
        ASSERT_NE(rgDirect[i], nullptr);
        EXPECT_EQ(rgDirect[i], pContext->buffers[i]);
        EXPECT_EQ(rgDirect[i]->nBuffer, i + 1);
        EXPECT_EQ(rgDirect[i]->ucbData, 0u);
        if (i < 5) {
            EXPECT_EQ(rgDirect[i]->ucbDataSize, 4096u);
            EXPECT_NE(rgDirect[i]->rgbData, nullptr);
        } else {
            EXPECT_EQ(rgDirect[i]->ucbDataSize, 0u);
            EXPECT_EQ(rgDirect[i]->rgbData, nullptr);
        }
    }
}

TEST_F(BuffersTest, CheckGrowsToNeedPlus1024OnlyWhenTheNeedDoesNotFit) {
    struct Case {
        uint32_t ucbData;
        uint32_t ucbNeeded;
        uint32_t ucbExpectedSize;
    };
    // A fresh 4096-byte buffer: the need plus the 16 spare bytes must fit into the capacity.
    const Case cases[] = {
        {0, 4080, 4096},     // exactly fits: unchanged
        {0, 4081, 5105},     // one byte more: need + 1024
        {4000, 80, 4096},    // fits with data in use
        {4000, 81, 5105},    // grows counting the data in use
        {0, 100000, 101024}, // a large need
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.ucbData << " + " << c.ucbNeeded);
        NSFBUFFER *pBuffer = pContext->BufferMain;
        nsfFree(pContext, pBuffer->rgbData);
        pBuffer->rgbData = static_cast<uint8_t *>(nsfAlloc(pContext, 4096 + 16));
        pBuffer->ucbDataSize = 4096;
        pBuffer->ucbData = c.ucbData;
        EXPECT_EQ(nsfCheckBuffer(pContext, pBuffer, c.ucbNeeded), NSF_STATUS_OK);
        EXPECT_EQ(pBuffer->ucbDataSize, c.ucbExpectedSize);
        EXPECT_EQ(pBuffer->ucbData, c.ucbData);
    }
}

TEST_F(BuffersTest, GrowthKeepsContentsOnlyWhenDataIsInUse) {
    NSFBUFFER *pBuffer = pContext->BufferTemp;
    std::memcpy(pBuffer->rgbData, "keep me", 8);
    pBuffer->ucbData = 8;
    allocator.resetCounts();
    ASSERT_EQ(nsfCheckBuffer(pContext, pBuffer, 10000), NSF_STATUS_OK);
    EXPECT_STREQ(reinterpret_cast<char *>(pBuffer->rgbData), "keep me");
    EXPECT_EQ(pBuffer->cReallocs, 1);
    EXPECT_EQ(allocator.counts().frees, 0u) << "moved, not replaced";

    // With nothing in use the block is replaced, not moved: one free and a fresh allocation of
    // need + 1024 + 16 bytes.
    pBuffer->ucbData = 0;
    allocator.resetCounts();
    ASSERT_EQ(nsfCheckBuffer(pContext, pBuffer, 20000), NSF_STATUS_OK);
    EXPECT_EQ(pBuffer->ucbDataSize, 21024u);
    EXPECT_EQ(allocator.counts().frees, 1u);
    EXPECT_EQ(allocator.counts().allocations, 1u);
    bool bFound = false;
    for (const auto &block : allocator.liveBlocks()) {
        if (block.address == pBuffer->rgbData) {
            bFound = true;
            EXPECT_EQ(block.size, 21024u + 16u);
        }
    }
    EXPECT_TRUE(bFound);
}

TEST_F(BuffersTest, GrowthSaturatesInsteadOfWrapping) {
    NSFBUFFER *pBuffer = pContext->BufferUTF8;
    pBuffer->ucbData = 100;
    EXPECT_EQ(nsfCheckBuffer(pContext, pBuffer, 0xFFFFFFF0u), NSF_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(pBuffer->ucbData, 0u);
    EXPECT_EQ(pBuffer->ucbDataSize, 0u);
    EXPECT_TRUE(contains(logLines(), "[0/0] ERROR nsfCheckBuffer(): Error re-allocating data for buffer # 4 "
                                     "(size 2147483648)"));
}

TEST_F(BuffersTest, OnDemandNumbersStartAfterTheStandingOnesAndAreReused) {
    NSFBUFFER *pFirst = nullptr;
    NSFBUFFER *pSecond = nullptr;
    ASSERT_EQ(nsfAddBuffer(pContext, 0, &pFirst), NSF_STATUS_OK);
    ASSERT_EQ(nsfAddBuffer(pContext, 64, &pSecond), NSF_STATUS_OK);
    EXPECT_EQ(pFirst->nBuffer, 11);
    EXPECT_EQ(pSecond->nBuffer, 12);
    EXPECT_EQ(pSecond->ucbDataSize, 64u);

    ASSERT_EQ(nsfFreeBuffer(pContext, &pFirst), NSF_STATUS_OK);
    EXPECT_EQ(pFirst, nullptr);
    EXPECT_EQ(pContext->buffers[10], nullptr);

    NSFBUFFER *pThird = nullptr;
    ASSERT_EQ(nsfAddBuffer(pContext, 0, &pThird), NSF_STATUS_OK);
    EXPECT_EQ(pThird->nBuffer, 11);
    EXPECT_EQ(pContext->numBuffers, 12);

    // Once the pictures' buffers are protected, a freed number below numStandingBuffers stays free.
    pContext->numStandingBuffers = pContext->numBuffers;
    ASSERT_EQ(nsfFreeBuffer(pContext, &pThird), NSF_STATUS_OK);
    ASSERT_EQ(nsfAddBuffer(pContext, 0, &pThird), NSF_STATUS_OK);
    EXPECT_EQ(pThird->nBuffer, 13);
}

TEST_F(BuffersTest, ResetTrimsLargeBlocksByRoleAndRefillsEmptyOnes) {
    ASSERT_EQ(nsfCheckBuffer(pContext, pContext->BufferHTML, 20000 - 1024), NSF_STATUS_OK);
    ASSERT_EQ(nsfCheckBuffer(pContext, pContext->BufferCDR, 20000 - 1024), NSF_STATUS_OK);
    ASSERT_EQ(pContext->BufferHTML->ucbDataSize, 20000u);
    ASSERT_EQ(pContext->BufferCDR->ucbDataSize, 20000u);
    pContext->BufferCDR->ucbData = 123;
    pContext->BufferMain->ucbData = 42;

    ASSERT_EQ(nsfResetBuffers(pContext), NSF_STATUS_OK);
    EXPECT_EQ(pContext->BufferHTML->ucbDataSize, 5120u) << "8192 or more is trimmed for HTML";
    EXPECT_EQ(pContext->BufferHTML->ucbData, 0u);
    EXPECT_EQ(pContext->BufferCDR->ucbDataSize, 20000u) << "composite records keep up to 64 KiB";
    EXPECT_EQ(pContext->BufferCDR->ucbData, 123u);
    EXPECT_EQ(pContext->BufferMain->ucbDataSize, 4096u) << "a small block is kept as it is";
    EXPECT_EQ(pContext->BufferMain->ucbData, 42u);
    for (NSFBUFFER *pBuffer : {pContext->BufferCDR2, pContext->BufferMHT, pContext->BufferXML}) {
        EXPECT_NE(pBuffer->rgbData, nullptr);
        EXPECT_EQ(pBuffer->ucbDataSize, 5120u);
    }
    EXPECT_TRUE(contains(logLines(), "[0/0] DEBUG nsfResetBuffers(): Resetting main buffer data: nBuffer 8, "
                                     "ucbDataSize 20000 0x4e20"));
}

TEST_F(BuffersTest, FailedGrowthOfMainKeepsAFreshBlockButNoCapacity) {
    NSFBUFFER *pBuffer = pContext->BufferMain;
    pBuffer->ucbData = 10;
    allocator.resetCounts();
    allocator.failAllocation(1);
    EXPECT_EQ(nsfCheckBuffer(pContext, pBuffer, 8000), NSF_STATUS_OUT_OF_MEMORY);
    EXPECT_NE(pBuffer->rgbData, nullptr);
    EXPECT_EQ(pBuffer->ucbDataSize, 0u);
    EXPECT_EQ(pBuffer->ucbData, 0u);

    // Any other buffer is left without a block; the next check grows it again.
    NSFBUFFER *pHTML = pContext->BufferHTML;
    allocator.resetCounts();
    allocator.failAllocation(1);
    EXPECT_EQ(nsfCheckBuffer(pContext, pHTML, 100), NSF_STATUS_OUT_OF_MEMORY);
    EXPECT_EQ(pHTML->rgbData, nullptr);
    allocator.failAllocation(0);
    EXPECT_EQ(nsfCheckBuffer(pContext, pHTML, 100), NSF_STATUS_OK);
    EXPECT_EQ(pHTML->ucbDataSize, 1124u);
}

TEST_F(BuffersTest, EveryFailedAddLeavesThePoolAsItWas) {
    for (uint64_t n = 1; n <= 3; n++) {
        SCOPED_TRACE(n);
        size_t cLive = allocator.liveCount();
        int32_t numBuffers = pContext->numBuffers;
        allocator.resetCounts();
        allocator.failAllocation(n);
        NSFBUFFER *pBuffer = reinterpret_cast<NSFBUFFER *>(1);
        EXPECT_EQ(nsfAddBuffer(pContext, 100, &pBuffer), NSF_STATUS_OUT_OF_MEMORY);
        EXPECT_EQ(pBuffer, nullptr);
        allocator.failAllocation(0);
        // The array may have grown by a slot (then left empty), but no record or block is left.
        EXPECT_LE(pContext->numBuffers, numBuffers + 1);
        for (int32_t i = numBuffers; i < pContext->numBuffers; i++)
            EXPECT_EQ(pContext->buffers[i], nullptr);
        EXPECT_EQ(allocator.liveCount(), cLive);
    }
}

} // namespace
} // namespace tessel::test
