// Memory objects through the C API: allocation, lock counts, freeing and bad handles.
#include "Log.h"
#include "TestSupport.h"

#include <notes/notes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

namespace notesemu {
namespace {

using test::ScopedEnv;
using test::TempDir;

class MemoryObjects : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR); }
    void TearDown() override { NotesTerm(); }

    TempDir dir_;
    ScopedEnv path_{"PATH", dir_.path().string()};
    ScopedEnv notesIni_{"NOTES_INI", std::nullopt};
};

TEST_F(MemoryObjects, AllocatedObjectIsZeroedSizedAndWritable) {
    DHANDLE handle = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(0, 300, &handle), NOERROR);
    ASSERT_NE(handle, NULLHANDLE);
    DWORD size = 0;
    EXPECT_EQ(OSMemGetSize(handle, &size), NOERROR);
    EXPECT_EQ(size, 300u);

    auto *bytes = static_cast<unsigned char *>(OSLockObject(handle));
    ASSERT_NE(bytes, nullptr);
    EXPECT_TRUE(std::all_of(bytes, bytes + 300, [](unsigned char b) { return b == 0; }));
    std::memset(bytes, 0xAB, 300);
    EXPECT_TRUE(OSUnlockObject(handle));

    // A second lock sees the same bytes at the same place.
    auto *again = static_cast<unsigned char *>(OSLockObject(handle));
    EXPECT_EQ(again, bytes);
    EXPECT_EQ(again[299], 0xAB);
    EXPECT_TRUE(OSUnlockObject(handle));
    EXPECT_EQ(OSMemFree(handle), NOERROR);
}

TEST_F(MemoryObjects, FreeIsRefusedUntilEveryLockIsReleased) {
    DHANDLE handle = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(MEM_GROWABLE, 8, &handle), NOERROR);
    ASSERT_NE(OSLockObject(handle), nullptr);
    ASSERT_NE(OSLock(char, handle), nullptr);
    LogCapture capture;
    EXPECT_EQ(OSMemFree(handle), ERR_BAD_PARAM);
    EXPECT_TRUE(capture.contains("still locked 2 time(s)"));
    EXPECT_TRUE(OSUnlock(handle));
    EXPECT_EQ(OSMemFree(handle), ERR_BAD_PARAM);
    EXPECT_TRUE(OSUnlockObject(handle));
    EXPECT_FALSE(OSUnlockObject(handle)) << "unlock of an unlocked object";
    EXPECT_EQ(OSMemFree(handle), NOERROR);
}

TEST_F(MemoryObjects, BadHandlesGiveErrorsNotCrashes) {
    DHANDLE freed = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(0, 4, &freed), NOERROR);
    ASSERT_EQ(OSMemFree(freed), NOERROR);
    MEMHANDLE memHandle = NULLMEMHANDLE;
    ASSERT_EQ(OSMemoryAllocate(0, 4, &memHandle), NOERROR);

    // Null, never issued, freed, and a MEMHANDLE where a DHANDLE is expected.
    for (DHANDLE bad : {NULLHANDLE, DHANDLE{0xFFFFFFFF}, DHANDLE{0x00012345}, freed, DHANDLE{memHandle}}) {
        SCOPED_TRACE(bad);
        LogCapture capture;
        DWORD size = 7;
        EXPECT_EQ(OSMemGetSize(bad, &size), ERR_BAD_PARAM);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(OSLockObject(bad), nullptr);
        EXPECT_FALSE(OSUnlockObject(bad));
        EXPECT_EQ(OSMemFree(bad), ERR_BAD_PARAM);
        EXPECT_TRUE(capture.contains("not a live DHANDLE memory object"));
    }
    EXPECT_EQ(OSMemAlloc(0, 4, nullptr), ERR_BAD_PARAM);
    EXPECT_EQ(OSMemGetSize(freed, nullptr), ERR_BAD_PARAM);
    OSMemoryFree(memHandle);
}

TEST_F(MemoryObjects, FreedSlotIsReusedUnderANewHandleValue) {
    DHANDLE first = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(0, 4, &first), NOERROR);
    ASSERT_EQ(OSMemFree(first), NOERROR);
    DHANDLE second = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(0, 4, &second), NOERROR);
    EXPECT_NE(second, first);
    EXPECT_EQ(OSLockObject(first), nullptr) << "a stale handle must not reach the new object";
    EXPECT_EQ(OSMemFree(second), NOERROR);
}

TEST_F(MemoryObjects, ManyLiveHandlesAreDistinct) {
    std::vector<DHANDLE> handles(2000);
    for (DHANDLE &handle : handles)
        ASSERT_EQ(OSMemAlloc(0, 1, &handle), NOERROR);
    EXPECT_EQ(std::set<DHANDLE>(handles.begin(), handles.end()).size(), handles.size());
    for (DHANDLE handle : handles)
        ASSERT_EQ(OSMemFree(handle), NOERROR);
}

TEST_F(MemoryObjects, LockBlockAddsTheOffsetAndYieldsNullForABadPool) {
    DHANDLE pool = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(0, 64, &pool), NOERROR);
    char *base = OSLock(char, pool);
    std::memcpy(base + 10, "value", 6);
    OSUnlock(pool);

    const BLOCKID block = {pool, 10};
    const char *value = OSLockBlock(char, block);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "value");
    EXPECT_TRUE(OSUnlockBlock(block));
    EXPECT_EQ(OSMemFree(pool), NOERROR);

    const BLOCKID stale = {pool, 10};
    EXPECT_EQ(OSLockBlock(char, stale), nullptr);
    EXPECT_TRUE(ISNULLBLOCKID(BLOCKID{}));
}

TEST_F(MemoryObjects, MemHandleObjectsHaveTheirOwnFunctions) {
    MEMHANDLE handle = NULLMEMHANDLE;
    ASSERT_EQ(OSMemoryAllocate(0, 100, &handle), NOERROR);
    EXPECT_EQ(OSMemoryGetSize(handle), 100u);
    char *text = static_cast<char *>(OSMemoryLock(handle));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(OSLockObject(handle), nullptr) << "a MEMHANDLE is not a DHANDLE";
    EXPECT_TRUE(OSMemoryUnlock(handle));
    EXPECT_FALSE(OSMemoryUnlock(handle));

    ASSERT_NE(OSMemoryLock(handle), nullptr);
    {
        LogCapture capture;
        OSMemoryFree(handle);
        EXPECT_TRUE(capture.contains("still locked"));
    }
    EXPECT_EQ(OSMemoryGetSize(handle), 100u) << "a locked object survives OSMemoryFree";
    EXPECT_TRUE(OSMemoryUnlock(handle));
    OSMemoryFree(handle);
    EXPECT_EQ(OSMemoryGetSize(handle), 0u);
    EXPECT_EQ(OSMemoryLock(handle), nullptr);
}

TEST_F(MemoryObjects, OversizedRequestsAreRefusedWithErrMemory) {
    DHANDLE handle = 1;
    EXPECT_EQ(OSMemAlloc(0, 0xFFFFFFFF, &handle), ERR_MEMORY);
    EXPECT_EQ(handle, NULLHANDLE);
    MEMHANDLE memHandle = 1;
    EXPECT_EQ(OSMemoryAllocate(0, 0x80000000, &memHandle), ERR_MEMORY);
    EXPECT_EQ(memHandle, NULLMEMHANDLE);
}

} // namespace
} // namespace notesemu
