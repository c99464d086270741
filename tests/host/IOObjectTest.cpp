#include <quillon/host/IOObject.h>

#include <gtest/gtest.h>

#include <tessel/kit/TempDir.h>

using tessel::kit::TempDir;

using quillon::FileIOObject;

namespace {

int writeText(QLIOobj *p, std::string_view text) {
    return p->fpWrite(p, text.data(), static_cast<uint32_t>(text.size()));
}

TEST(FileIOObject, OutputCreatesTruncatesAndAppends) {
    TempDir dir;
    std::filesystem::path path = dir.write("out.txt", "old content that must go");
    FileIOObject output(path, FileIOObject::Direction::Output);
    QLIOobj *p = output.get();
    EXPECT_EQ(std::string(p->pFileName), path.string());
    EXPECT_EQ(p->fpClose, nullptr);
    EXPECT_EQ(writeText(p, "early"), 0); // not open yet

    ASSERT_NE(p->fpOpen(p), 0);
    EXPECT_NE(p->fpClose, nullptr);
    EXPECT_TRUE(output.isOpen());
    EXPECT_NE(writeText(p, "one,"), 0);
    EXPECT_NE(writeText(p, "two"), 0);
    EXPECT_NE(p->fpWrite(p, nullptr, 0), 0);
    EXPECT_EQ(p->fpWrite(p, nullptr, 3), 0);
    ASSERT_NE(p->fpClose(p), 0);
    EXPECT_EQ(p->fpClose, nullptr);
    EXPECT_FALSE(output.isOpen());
    EXPECT_EQ(TempDir::read(path), "one,two");
    EXPECT_EQ(writeText(p, "late"), 0);

    // Opening again starts the file over.
    ASSERT_NE(p->fpOpen(p), 0);
    EXPECT_NE(writeText(p, "three"), 0);
    ASSERT_NE(p->fpClose(p), 0);
    EXPECT_EQ(TempDir::read(path), "three");
}

TEST(FileIOObject, InputOpensForReadingOnly) {
    TempDir dir;
    std::filesystem::path path = dir.write("in.nsf", "database");
    FileIOObject input(path, FileIOObject::Direction::Input);
    QLIOobj *p = input.get();
    ASSERT_NE(p->fpOpen(p), 0);
    EXPECT_NE(p->fpClose, nullptr);
    EXPECT_EQ(writeText(p, "x"), 0);
    ASSERT_NE(p->fpClose(p), 0);
    EXPECT_EQ(p->fpClose, nullptr);
    EXPECT_EQ(TempDir::read(path), "database");
}

TEST(FileIOObject, ReportsWhyOpenFailed) {
    TempDir dir;
    FileIOObject input(dir / "missing.nsf", FileIOObject::Direction::Input);
    QLIOobj *p = input.get();
    EXPECT_EQ(p->fpOpen(p), 0);
    EXPECT_EQ(p->fpClose, nullptr);
    EXPECT_NE(input.error().find("missing.nsf"), std::string::npos);
    FileIOObject output(dir / "no" / "such" / "dir.txt", FileIOObject::Direction::Output);
    EXPECT_EQ(output.get()->fpOpen(output.get()), 0);
    EXPECT_FALSE(output.error().empty());
}

TEST(FileIOObject, OwnerClosesAndMovesWithoutInvalidatingTheObject) {
    TempDir dir;
    std::filesystem::path path = dir / "moved.txt";
    FileIOObject first(path, FileIOObject::Direction::Output);
    QLIOobj *p = first.get();
    ASSERT_NE(p->fpOpen(p), 0);
    FileIOObject second = std::move(first);
    EXPECT_EQ(second.get(), p);
    EXPECT_NE(writeText(p, "kept"), 0);
    { FileIOObject third = std::move(second); } // closes and flushes
    EXPECT_EQ(TempDir::read(path), "kept");
}

} // namespace
