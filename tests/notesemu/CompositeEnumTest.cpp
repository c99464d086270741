// EnumCompositeBuffer: record framing, callback statuses and malformed values.
#include "Log.h"
#include "TestSupport.h"

#include <notes/notes.h>
#include <tessel/kit/CdWriter.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace notesemu {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::ScopedEnv;

struct Seen {
    std::ptrdiff_t offset; // from the start of the value
    WORD type;
    DWORD length;
};

struct Walk {
    const char *base = nullptr;
    std::vector<Seen> records;
    std::size_t stopAt = 0; // 1-based record number whose callback stops the walk, 0 = never
};

STATUS LNCALLBACK record(char *recordPtr, WORD recordType, DWORD recordLength, void *context) {
    auto *walk = static_cast<Walk *>(context);
    walk->records.push_back({recordPtr - walk->base, recordType, recordLength});
    return walk->records.size() == walk->stopAt ? ERR_ODS_ENUM_COMPLETE : NOERROR;
}

class EnumComposite : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(NotesInitExtended(0, nullptr), NOERROR); }
    void TearDown() override { NotesTerm(); }

    // Places the value at block offset 8 of a fresh memory object and walks it.
    STATUS walk(const Bytes &value, Walk &walk, DWORD length = MAXDWORD) {
        DHANDLE handle = NULLHANDLE;
        EXPECT_EQ(OSMemAlloc(0, static_cast<DWORD>(value.size() + 8), &handle), NOERROR);
        auto *base = static_cast<char *>(OSLockObject(handle));
        if (!value.empty())
            std::memcpy(base + 8, value.data(), value.size());
        walk.base = base + 8;
        const STATUS status = EnumCompositeBuffer(
            BLOCKID{handle, 8}, length == MAXDWORD ? static_cast<DWORD>(value.size()) : length, record,
            &walk);
        OSUnlockObject(handle);
        OSMemFree(handle);
        return status;
    }

    test::TempDir dir_;
    ScopedEnv path_{"PATH", dir_.path().string()};
    ScopedEnv notesIni_{"NOTES_INI", std::nullopt};
};

Bytes composite(std::initializer_list<std::uint8_t> records) {
    Bytes value(records.size() + 2, 0);
    value[0] = 0x01;
    std::copy(records.begin(), records.end(), value.begin() + 2);
    return value;
}

TEST_F(EnumComposite, ThreeHeaderClassesAndOddLengthFiller) {
    const Bytes value = composite({
        0x81, 0x02,                                                          // BSIG paragraph, length 2
        0x85, 0xFF, 0x0B, 0x00, 0,    0,    0,    0,    'a', 'b', 'c', 0xEE, // WSIG text, length 11, filler
        0x99, 0x00, 0x08, 0x00, 0x00, 0x00, 0x12, 0x34,                      // LSIG graphic, length 8
        0x83, 0x04, 0x01, 0x00,                                              // BSIG PAB reference
    });
    Walk seen;
    EXPECT_EQ(walk(value, seen), NOERROR);
    ASSERT_EQ(seen.records.size(), 4u);
    EXPECT_EQ(seen.records[0].offset, 2);
    EXPECT_EQ(seen.records[0].type, SIG_CD_PARAGRAPH) << "BSIG length byte cleared";
    EXPECT_EQ(seen.records[0].length, 2u);
    EXPECT_EQ(seen.records[1].offset, 4);
    EXPECT_EQ(seen.records[1].type, SIG_CD_TEXT);
    EXPECT_EQ(seen.records[1].length, 11u);
    EXPECT_EQ(seen.records[2].offset, 16) << "the filler byte after an odd length is skipped";
    EXPECT_EQ(seen.records[2].type, SIG_CD_GRAPHIC);
    EXPECT_EQ(seen.records[2].length, 8u);
    EXPECT_EQ(seen.records[3].type, SIG_CD_PABREFERENCE);
}

TEST_F(EnumComposite, RecordsWrittenByTheKitWalkInOrder) {
    tessel::kit::CdWriter cd;
    cd.pabDefinition({}).paragraph().pabReference(1).text({}, "odd").horizontalRule({}).graphic({});
    Walk seen;
    EXPECT_EQ(walk(tessel::kit::compositeValue(cd.bytes()), seen), NOERROR);
    const auto expected = tessel::kit::cdRecords(cd.bytes());
    ASSERT_EQ(seen.records.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(seen.records[i].offset, static_cast<std::ptrdiff_t>(expected[i].offset + 2));
        EXPECT_EQ(seen.records[i].length, expected[i].length);
    }
}

TEST_F(EnumComposite, CallbackStatusStopsTheWalkAndIsReturned) {
    const Bytes value = composite({0x81, 0x02, 0x81, 0x02, 0x81, 0x02});
    Walk seen;
    seen.stopAt = 2;
    EXPECT_EQ(walk(value, seen), ERR_ODS_ENUM_COMPLETE);
    EXPECT_EQ(seen.records.size(), 2u);
}

TEST_F(EnumComposite, OnlyCompositeValuesAreWalked) {
    Walk seen;
    EXPECT_EQ(walk(Bytes{0x00, 0x05, 'a', 'b'}, seen), ERR_DATATYPE);
    EXPECT_EQ(walk(Bytes{}, seen), ERR_DATATYPE);
    EXPECT_EQ(walk(Bytes{0x01}, seen), ERR_DATATYPE);
    EXPECT_TRUE(seen.records.empty());
    EXPECT_EQ(walk(composite({}), seen), NOERROR) << "an empty rich text item";
    EXPECT_TRUE(seen.records.empty());
}

TEST_F(EnumComposite, MalformedFramingEndsWithAnErrorAfterTheGoodRecords) {
    const struct {
        const char *what;
        Bytes value;
        std::size_t goodRecords;
    } cases[] = {
        {"WSIG length past the end", composite({0x81, 0x02, 0x85, 0xFF, 0xC8, 0x00, 0, 0, 0, 0}), 1},
        {"WSIG length below its header", composite({0x85, 0xFF, 0x02, 0x00, 0x81, 0x02}), 0},
        {"zero-length BSIG", composite({0x81, 0x02, 0x81, 0x00, 0x81, 0x02}), 1},
        {"BSIG length below its header", composite({0x81, 0x01}), 0},
        {"LSIG header cut off", composite({0x81, 0x02, 0x99, 0x00, 0x08, 0x00}), 1},
        {"LSIG length past the end", composite({0x99, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}), 0},
        {"stray byte", composite({0x81, 0x02, 0x81}), 1},
    };
    for (const auto &c : cases) {
        Walk seen;
        LogCapture log;
        EXPECT_EQ(walk(c.value, seen), ERR_INVALID_ITEMLEN) << c.what;
        EXPECT_EQ(seen.records.size(), c.goodRecords) << c.what;
        EXPECT_TRUE(log.contains("EnumCompositeBuffer")) << c.what;
    }
}

TEST_F(EnumComposite, ValueLengthShorterThanTheBlockIsHonoured) {
    // The second record lies past the given length and must not be seen.
    const Bytes value = composite({0x81, 0x02, 0x85, 0xFF, 0x08, 0x00, 0, 0, 0, 0});
    Walk seen;
    EXPECT_EQ(walk(value, seen, 4), NOERROR);
    EXPECT_EQ(seen.records.size(), 1u);
    EXPECT_EQ(walk(value, seen, 7), ERR_INVALID_ITEMLEN) << "truncated value";
}

TEST_F(EnumComposite, BadArguments) {
    Walk seen;
    EXPECT_EQ(EnumCompositeBuffer(BLOCKID{0x00ABCDEF, 0}, 10, record, &seen), ERR_BAD_PARAM);
    DHANDLE handle = NULLHANDLE;
    ASSERT_EQ(OSMemAlloc(0, 8, &handle), NOERROR);
    EXPECT_EQ(EnumCompositeBuffer(BLOCKID{handle, 0}, 8, nullptr, &seen), ERR_BAD_PARAM);
    OSMemFree(handle);
}

} // namespace
} // namespace notesemu
