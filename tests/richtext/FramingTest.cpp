// Record framing and the record cursor: every length class, padding, and every way a record can be
// cut short.
#include <gtest/gtest.h>

#include <tessel/kit/Bytes.h>

#include <vector>

#include "nsf/richtext/cdrecord.h"

namespace {

using tessel::kit::Bytes;

struct FrameCase {
    const char *name;
    Bytes stream;
    bool framed;
    uint8_t kind;
    uint32_t length;
    uint32_t next;
};

class Framing : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Framing, FramesOrStops) {
    const FrameCase &c = GetParam();
    NSFCDRECORD rec{};
    ASSERT_EQ(nsfFrameCDRecord(c.stream.data(), static_cast<uint32_t>(c.stream.size()), 0, &rec), c.framed);
    if (!c.framed)
        return;
    EXPECT_EQ(rec.bKind, c.kind);
    EXPECT_EQ(rec.cbRecord, c.length);
    EXPECT_EQ(rec.dwNext, c.next);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Framing,
    ::testing::Values(FrameCase{"ByteRecord", {0x81, 0x02, 0x83, 0x04}, true, 0x81, 2, 2},
                      FrameCase{"ByteRecordOddLengthIsPadded", {0xD2, 0x07, 1, 2, 3, 4, 5, 0, 0x81, 2}, true, 0xD2, 7, 8},
                      FrameCase{"WordRecord", {0x85, 0xFF, 0x08, 0x00, 1, 2, 3, 4}, true, 0x85, 8, 8},
                      FrameCase{"LongRecord", {0x7C, 0x00, 0x0A, 0, 0, 0, 1, 2, 3, 4}, true, 0x7C, 10, 10},
                      FrameCase{"FinalTwoByteRecord", {0xAE, 0x02}, true, 0xAE, 2, 2},
                      FrameCase{"LastOddRecordWithoutPad", {0xD2, 0x03, 0x00}, true, 0xD2, 3, 3},
                      FrameCase{"ZeroLengthWord", {0x85, 0xFF, 0x00, 0x00, 1, 2}, false, 0, 0, 0},
                      FrameCase{"ZeroLengthLong", {0x7C, 0x00, 0, 0, 0, 0}, false, 0, 0, 0},
                      FrameCase{"LengthPastTheEnd", {0x85, 0xFF, 0x40, 0x00, 1, 2}, false, 0, 0, 0},
                      FrameCase{"HugeLongLength", {0x7C, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2}, false, 0, 0, 0},
                      FrameCase{"WordHeaderCut", {0x85, 0xFF, 0x08}, false, 0, 0, 0},
                      FrameCase{"LongHeaderCut", {0x7C, 0x00, 0x0A, 0x00}, false, 0, 0, 0},
                      FrameCase{"OneByte", {0x81}, false, 0, 0, 0}, FrameCase{"Empty", {}, false, 0, 0, 0}),
    [](const auto &info) { return info.param.name; });

TEST(Framing, WalksEveryRecordToTheEnd) {
    const Bytes stream = {0x81, 0x02, 0xD2, 0x03, 0x00, 0x00, 0x85, 0xFF, 0x05, 0x00, 'x', 0x00, 0xAE, 0x02};
    std::vector<uint8_t> kinds;
    NSFCDRECORD rec{};
    for (uint32_t off = 0; nsfFrameCDRecord(stream.data(), static_cast<uint32_t>(stream.size()), off, &rec);
         off = rec.dwNext)
        kinds.push_back(rec.bKind);
    EXPECT_EQ(kinds, (std::vector<uint8_t>{0x81, 0xD2, 0x85, 0xAE}));
}

TEST(Cursor, ReadsLittleEndianInsideTheView) {
    const Bytes b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    CLotusRecordCursor c(b.data(), static_cast<uint32_t>(b.size()));
    uint8_t by = 0;
    uint16_t w = 0;
    uint32_t dw = 0;
    EXPECT_TRUE(c.ReadByte(&by));
    EXPECT_EQ(by, 0x01);
    EXPECT_TRUE(c.ReadWord(&w));
    EXPECT_EQ(w, 0x0302);
    EXPECT_EQ(c.Remaining(), 3u);
    EXPECT_FALSE(c.ReadDWord(&dw)) << "only three bytes are left";
    EXPECT_EQ(c.Offset(), 3u) << "a failed read does not move";
    EXPECT_TRUE(c.DWordAt(2, &dw));
    EXPECT_EQ(dw, 0x06050403u);
    EXPECT_FALSE(c.WordAt(5, &w));
    EXPECT_FALSE(c.ByteAt(6, &by));
    EXPECT_TRUE(c.Seek(6)) << "the end itself is a position";
    EXPECT_FALSE(c.Seek(7));
}

TEST(Cursor, LengthsFromTheRecordStayInside) {
    const Bytes b = {0x05, 0x00, 'a', 'b', 'c'};
    CLotusRecordCursor c(b.data(), static_cast<uint32_t>(b.size()));
    uint16_t cb = 0;
    const uint8_t *pb = nullptr;
    ASSERT_TRUE(c.ReadWord(&cb));
    EXPECT_FALSE(c.ReadBytes(cb, &pb)) << "five bytes claimed, three present";
    EXPECT_TRUE(c.ReadBytes(3, &pb));
    EXPECT_FALSE(c.Skip(1));
    CLotusRecordCursor whole(b.data(), 5), sub;
    EXPECT_TRUE(whole.Skip(2));
    ASSERT_TRUE(whole.ReadSub(2, &sub));
    EXPECT_EQ(sub.Size(), 2u);
    EXPECT_FALSE(sub.ReadBytes(3, &pb)) << "a sub-cursor ends where it was cut";
    EXPECT_FALSE(whole.ReadSub(2, &sub));
}

TEST(Cursor, ReadsUpToANulOrTheEnd) {
    const Bytes b = {'a', 'b', 0, 'c', 'd'};
    CLotusRecordCursor c(b.data(), static_cast<uint32_t>(b.size()));
    const uint8_t *pb = nullptr;
    uint32_t cb = 0;
    c.ReadToNul(&pb, &cb);
    EXPECT_EQ(cb, 2u);
    EXPECT_EQ(c.Offset(), 3u);
    c.ReadToNul(&pb, &cb);
    EXPECT_EQ(cb, 2u) << "no NUL: to the end";
    EXPECT_EQ(c.Remaining(), 0u);
    c.ReadToNul(&pb, &cb);
    EXPECT_EQ(cb, 0u);
}

} // namespace
