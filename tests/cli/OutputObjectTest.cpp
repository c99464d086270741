#include "OutputObject.h"

#include <tessel/kit/TempDir.h>

#include <gtest/gtest.h>

namespace tessel::cli {
namespace {

TEST(OutputObject, CreatesTheFileOnlyWhenOpened) {
    kit::TempDir dir("tessel cli.output");
    OutputObject output(dir / "a.bin");
    QLIOobj *io = output.get();
    EXPECT_EQ(io->fpClose, nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir / "a.bin"));
    ASSERT_NE(io->fpOpen(io), 0);
    EXPECT_NE(io->fpClose, nullptr);
    EXPECT_NE(io->fpWrite(io, "abc", 3), 0);
    EXPECT_NE(io->fpWrite(io, "de", 2), 0);
    EXPECT_NE(io->fpClose(io), 0);
    EXPECT_EQ(io->fpClose, nullptr);
    EXPECT_EQ(output.bytes(), 5u);
    EXPECT_EQ(kit::TempDir::read(dir / "a.bin"), "abcde");
    EXPECT_EQ(output.error(), "");
}

TEST(OutputObject, OpeningAgainStartsOver) {
    kit::TempDir dir("tessel cli.output");
    OutputObject output(dir / "a.bin");
    QLIOobj *io = output.get();
    ASSERT_NE(io->fpOpen(io), 0);
    io->fpWrite(io, "first", 5);
    io->fpClose(io);
    ASSERT_NE(io->fpOpen(io), 0);
    io->fpWrite(io, "2nd", 3);
    io->fpClose(io);
    EXPECT_EQ(kit::TempDir::read(dir / "a.bin"), "2nd");
    EXPECT_EQ(output.bytes(), 3u);
}

TEST(OutputObject, FailuresAreReportedNotHidden) {
    kit::TempDir dir("tessel cli.output");
    OutputObject output(dir / "missing" / "a.bin");
    QLIOobj *io = output.get();
    EXPECT_EQ(io->fpOpen(io), 0);
    EXPECT_EQ(io->fpClose, nullptr);
    EXPECT_NE(output.error().find("cannot create"), std::string::npos);
    EXPECT_EQ(io->fpWrite(io, "x", 1), 0);
}

// Small pieces are gathered and large ones written through; the file holds every byte in order,
// and what is still gathered when the object is destroyed without a close is written too.
TEST(OutputObject, GatheredWritesKeepEveryByteInOrder) {
    kit::TempDir dir("tessel cli.output");
    std::string expected;
    {
        OutputObject output(dir / "a.bin");
        QLIOobj *io = output.get();
        ASSERT_NE(io->fpOpen(io), 0);
        const std::string large(200 * 1024, 'L');
        for (int i = 0; i < 5000; i++) {
            const std::string piece = std::to_string(i) + ",";
            ASSERT_NE(io->fpWrite(io, piece.data(), static_cast<uint32_t>(piece.size())), 0);
            expected += piece;
            if (i == 1000 || i == 4000) {
                ASSERT_NE(io->fpWrite(io, large.data(), static_cast<uint32_t>(large.size())), 0);
                expected += large;
            }
        }
        EXPECT_EQ(output.bytes(), expected.size());
        ASSERT_NE(io->fpClose(io), 0);
        EXPECT_EQ(kit::TempDir::read(dir / "a.bin"), expected);

        ASSERT_NE(io->fpOpen(io), 0);
        ASSERT_NE(io->fpWrite(io, "tail", 4), 0);
    }
    EXPECT_EQ(kit::TempDir::read(dir / "a.bin"), "tail");
}

// A file that refuses the gathered bytes makes the close fail with the reason, so that a full
// disk is never taken for a whole output.
TEST(OutputObject, AFailedWriteOfGatheredBytesFailsTheClose) {
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    OutputObject output("/dev/full");
    QLIOobj *io = output.get();
    ASSERT_NE(io->fpOpen(io), 0);
    EXPECT_NE(io->fpWrite(io, "abc", 3), 0);
    EXPECT_EQ(io->fpClose(io), 0);
    EXPECT_NE(output.error().find("write failed"), std::string::npos) << output.error();
}

} // namespace
} // namespace tessel::cli
