#include <quillon/host/Host.h>
#include <quillon/host/Stream.h>

#include <gtest/gtest.h>

#include <tessel/kit/TempDir.h>

using tessel::kit::TempDir;

#include <filesystem>
#include <string>

using quillon::StreamPtr;

namespace {

// Streams come from the services table, as the reader gets them.
class StreamTest : public ::testing::Test {
protected:
    StreamPtr open(const char *pszPath, const char *pszMode) {
        QLHAPI *pHAPI = host_.services();
        return StreamPtr(pHAPI->fpOpenStream(pHAPI, pszPath, pszMode));
    }

    static bool write(QLStream *pStream, std::string_view data) {
        return pStream->fpWrite(pStream, data.data(), static_cast<uint32_t>(data.size())) == data.size();
    }

    static std::string read(QLStream *pStream, uint32_t cb) {
        std::string buffer(cb, '\0');
        uint32_t cbRead = pStream->fpRead(pStream, buffer.data(), cb);
        buffer.resize(cbRead);
        return buffer;
    }

    // The reader's sequence for a whole stream: seek to the end, tell, seek to the start, read.
    static std::string readAll(QLStream *pStream) {
        if (pStream->fpSeek(pStream, 0, 2) == 0)
            return "<seek failed>";
        int64_t size = pStream->fpTell(pStream);
        if (size < 0 || pStream->fpSeek(pStream, 0, 0) == 0)
            return "<tell failed>";
        return read(pStream, static_cast<uint32_t>(size));
    }

    quillon::Host host_;
    TempDir dir_;
};

TEST_F(StreamTest, MemoryStreamAppendsAndReadsBack) {
    StreamPtr stream = open(nullptr, "a+b");
    ASSERT_TRUE(stream);
    QLStream *p = stream.get();
    ASSERT_NE(p->fpOpen(p), 0);
    ASSERT_TRUE(write(p, "hello"));
    EXPECT_EQ(p->fpTell(p), 5);
    ASSERT_NE(p->fpSeek(p, 0, 0), 0);
    EXPECT_EQ(read(p, 3), "hel");
    EXPECT_EQ(p->fpTell(p), 3);
    // Append mode: a write goes to the end, wherever the position was.
    ASSERT_TRUE(write(p, " world"));
    EXPECT_EQ(p->fpTell(p), 11);
    ASSERT_NE(p->fpSeek(p, -5, 2), 0);
    EXPECT_EQ(read(p, 100), "world");
    ASSERT_NE(p->fpSeek(p, -2, 1), 0);
    EXPECT_EQ(read(p, 100), "ld");
    EXPECT_EQ(readAll(p), "hello world");
    // Reading at the end gives nothing.
    EXPECT_EQ(read(p, 10), "");
}

TEST_F(StreamTest, MemoryStreamRefusesBadSeeksAndKeepsThePosition) {
    StreamPtr stream = open(nullptr, "a+b");
    QLStream *p = stream.get();
    ASSERT_TRUE(write(p, "abcdef"));
    ASSERT_NE(p->fpSeek(p, 2, 0), 0);
    EXPECT_EQ(p->fpSeek(p, -1, 0), 0);
    EXPECT_EQ(p->fpSeek(p, -7, 2), 0);
    EXPECT_EQ(p->fpSeek(p, 0, 3), 0);
    EXPECT_EQ(p->fpSeek(p, INT64_MAX, 1), 0);
    EXPECT_EQ(p->fpTell(p), 2);
    // Beyond the end is a valid position with nothing to read.
    ASSERT_NE(p->fpSeek(p, 10, 2), 0);
    EXPECT_EQ(p->fpTell(p), 16);
    EXPECT_EQ(read(p, 4), "");
}

TEST_F(StreamTest, OpenStartsAMemoryStreamOver) {
    StreamPtr stream = open(nullptr, "a+b");
    QLStream *p = stream.get();
    ASSERT_TRUE(write(p, "input data"));
    ASSERT_NE(p->fpOpen(p), 0);
    EXPECT_EQ(p->fpTell(p), 0);
    ASSERT_TRUE(write(p, "out"));
    EXPECT_EQ(readAll(p), "out");
}

TEST_F(StreamTest, WritableMemoryStreamWritesAtThePosition) {
    StreamPtr stream = open(nullptr, "w+b");
    ASSERT_TRUE(stream);
    QLStream *p = stream.get();
    ASSERT_TRUE(write(p, "abcdef"));
    ASSERT_NE(p->fpSeek(p, 1, 0), 0);
    ASSERT_TRUE(write(p, "XY"));
    EXPECT_EQ(p->fpTell(p), 3);
    ASSERT_NE(p->fpSeek(p, 2, 2), 0);
    ASSERT_TRUE(write(p, "Z"));
    EXPECT_EQ(readAll(p), std::string("aXYdef\0\0Z", 9));
}

// A position beyond 4 GB is kept whole on a 32-bit system too: it used to wrap round to the start,
// where the write then landed and succeeded.
TEST_F(StreamTest, MemoryStreamStopsAtTheLargestBlock) {
    StreamPtr stream = open(nullptr, "w+b");
    QLStream *p = stream.get();
    ASSERT_NE(p->fpSeek(p, 0x7FFFFFFF, 0), 0);
    EXPECT_EQ(p->fpWrite(p, "x", 1), 0u);
    ASSERT_NE(p->fpSeek(p, int64_t{1} << 40, 0), 0);
    EXPECT_EQ(p->fpTell(p), int64_t{1} << 40);
    EXPECT_EQ(p->fpWrite(p, "x", 1), 0u);
    EXPECT_EQ(read(p, 4), "");
    ASSERT_NE(p->fpSeek(p, -(int64_t{1} << 40) + 1, 1), 0);
    EXPECT_EQ(p->fpTell(p), 1);
    ASSERT_NE(p->fpSeek(p, 0, 0), 0);
    EXPECT_EQ(p->fpWrite(p, "ok", 2), 2u);
    EXPECT_EQ(readAll(p), "ok");
}

TEST_F(StreamTest, FileStreamsWriteAppendAndRead) {
    std::string path = (dir_ / "stream.bin").string();
    {
        StreamPtr out = open(path.c_str(), "wb");
        ASSERT_TRUE(out);
        ASSERT_TRUE(write(out.get(), "0123456789"));
        EXPECT_EQ(out->fpTell(out.get()), 10);
        EXPECT_EQ(read(out.get(), 4), ""); // not open for reading
    }
    {
        StreamPtr append = open(path.c_str(), "ab");
        ASSERT_TRUE(append);
        ASSERT_TRUE(write(append.get(), "AB"));
    }
    StreamPtr in = open(path.c_str(), "rb");
    ASSERT_TRUE(in);
    QLStream *p = in.get();
    ASSERT_NE(p->fpOpen(p), 0);
    EXPECT_EQ(readAll(p), "0123456789AB");
    ASSERT_NE(p->fpSeek(p, -3, 2), 0);
    EXPECT_EQ(p->fpTell(p), 9);
    EXPECT_EQ(read(p, 2), "9A");
    EXPECT_EQ(p->fpSeek(p, -1, 0), 0);
    EXPECT_EQ(p->fpTell(p), 11);
    EXPECT_EQ(p->fpWrite(p, "x", 1), 0u); // not open for writing
}

// The reader names files in UTF-8. On Windows the whole name reaches the file system, also outside
// the code page (no code page holds both Greek and CJK); a text that is not UTF-8 names no file.
TEST_F(StreamTest, FileStreamsOpenUtf8NamesOutsideTheCodePage) {
    const std::filesystem::path folder = dir_.path() / std::filesystem::path(u8"\u03A9mega \u65E5\u672C");
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / std::filesystem::path(u8"stream \u00FC.bin");
    const std::u8string name = file.u8string();
    const std::string utf8(name.begin(), name.end());
    {
        StreamPtr out = open(utf8.c_str(), "wb");
        ASSERT_TRUE(out) << utf8;
        ASSERT_TRUE(write(out.get(), "data"));
    }
    EXPECT_EQ(TempDir::read(file), "data");
    StreamPtr in = open(utf8.c_str(), "rb");
    ASSERT_TRUE(in) << utf8;
    EXPECT_EQ(readAll(in.get()), "data");
#ifdef _WIN32
    EXPECT_FALSE(open((utf8.substr(0, utf8.size() - 4) + "\xFF.bin").c_str(), "wb"));
#endif
}

TEST_F(StreamTest, OpenReopensAFileInItsMode) {
    std::string path = (dir_ / "reopen.bin").string();
    StreamPtr out = open(path.c_str(), "wb");
    ASSERT_TRUE(write(out.get(), "first"));
    ASSERT_NE(out->fpOpen(out.get()), 0); // "wb" truncates again
    ASSERT_TRUE(write(out.get(), "2nd"));
    out.reset();
    EXPECT_EQ(TempDir::read(path), "2nd");
}

TEST_F(StreamTest, RefusesMissingFilesAndUnknownModes) {
    EXPECT_FALSE(open((dir_ / "missing.jpg").string().c_str(), "rb"));
    std::string path = dir_.write("present.bin", "x").string();
    for (const char *pszMode : {"r", "w", "rt", "", "a+", "xb", "rbx"})
        EXPECT_FALSE(open(path.c_str(), pszMode)) << pszMode;
    EXPECT_FALSE(open(path.c_str(), nullptr));
    EXPECT_FALSE(open(nullptr, "rb"));
    EXPECT_FALSE(open(nullptr, "wb"));
    EXPECT_TRUE(open(path.c_str(), "r+b"));
    EXPECT_TRUE(open(path.c_str(), "rb+"));
}

} // namespace
