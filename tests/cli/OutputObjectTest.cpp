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

} // namespace
} // namespace tessel::cli
