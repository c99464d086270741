// The library as the plug-in meets it: loaded by the host under the name "bmpcv.dll" from the
// plug-in's directory, called with the host's streams in the order the rich-text converter uses.
#include "BitmapTestSupport.h"

#include <quillon/host/Host.h>
#include <quillon/quillon.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

using namespace bmpcvtest;
using namespace tessel::kit;

namespace {

using GetLastErrorFn = const char *(QLAPI *)();

// A sound 8-bit picture of 4 x 2.
Bytes samplePicture() {
    NotesBitmapBuilder builder(4, 2, 8);
    builder.colors({{0, 0, 0}, {255, 0, 0}});
    builder.codedLine(bitmapunit::literal(Bytes{1, 0, 0, 1}, 1));
    builder.codedLine(bitmapunit::shortRun(4, Bytes{1}));
    return builder.converterStream();
}

class Imgx : public ::testing::Test {
protected:
    void SetUp() override {
        quillon::HostOptions options;
        options.libraryDir = TESSEL_PLUGIN_DIR;
        host_ = std::make_unique<quillon::Host>(quillon::Config{}, options);
        hapi_ = host_->services();
        ASSERT_NE(hapi_->fpLoadLibrary(hapi_, QL_IMAGE_CONVERTER_LIBRARY, &hLibrary_), 0)
            << host_->lastLibraryError();
        convert_ = reinterpret_cast<QLImageConvertFn>(
            hapi_->fpGetProcAddress(hapi_, hLibrary_, QL_IMAGE_CONVERT_ENTRY_NAME));
        ASSERT_NE(convert_, nullptr) << host_->lastLibraryError();
        lastError_ =
            reinterpret_cast<GetLastErrorFn>(hapi_->fpGetProcAddress(hapi_, hLibrary_, "IMGXgetLastError"));
        ASSERT_NE(lastError_, nullptr) << host_->lastLibraryError();
    }

    void TearDown() override {
        if (hLibrary_ != nullptr)
            hapi_->fpFreeLibrary(hapi_, hLibrary_);
    }

    QLStream *memoryStream(const Bytes &content) {
        QLStream *pStream = hapi_->fpOpenStream(hapi_, nullptr, "a+b");
        EXPECT_NE(pStream, nullptr);
        EXPECT_NE(pStream->fpOpen(pStream), 0);
        EXPECT_EQ(pStream->fpWrite(pStream, content.data(), static_cast<std::uint32_t>(content.size())),
                  content.size());
        return pStream;
    }

    static Bytes readBack(QLStream *pStream) {
        EXPECT_NE(pStream->fpSeek(pStream, 0, 2), 0);
        const std::int64_t size = pStream->fpTell(pStream);
        EXPECT_NE(pStream->fpSeek(pStream, 0, 0), 0);
        Bytes bytes(static_cast<std::size_t>(size));
        EXPECT_EQ(pStream->fpRead(pStream, bytes.data(), static_cast<std::uint32_t>(size)), bytes.size());
        return bytes;
    }

    // The rich-text converter's sequence: a memory stream, the picture written into it, the
    // conversion with the stream as input and output, and the stream read back from the start.
    int convertInPlace(const Bytes &picture, Bytes &result, const char *pszFrom = "NBMP",
                       const char *pszTo = "BMP") {
        QLStream *pStream = memoryStream(picture);
        const int rc = convert_(hapi_, pszFrom, pszTo, pStream, pStream, 0, 0);
        result = readBack(pStream);
        pStream->fpClose(pStream);
        return rc;
    }

    std::unique_ptr<quillon::Host> host_;
    QLHAPI *hapi_ = nullptr;
    void *hLibrary_ = nullptr;
    QLImageConvertFn convert_ = nullptr;
    GetLastErrorFn lastError_ = nullptr;
};

TEST_F(Imgx, ReplacesThePictureInTheStreamWithItsBmp) {
    Bytes result;
    ASSERT_EQ(convertInPlace(samplePicture(), result), 0) << lastError_();
    EXPECT_STREQ(lastError_(), "");
    const BmpPicture picture = readBmp(result);
    EXPECT_EQ(picture.pixels,
              (std::vector<std::uint32_t>{0xFF0000, 0, 0, 0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000, 0xFF0000}));
}

TEST_F(Imgx, RefusesOtherFormatPairsAndLeavesTheStream) {
    struct Case {
        const char *pszFrom;
        const char *pszTo;
    } cases[] = {{"NBMP", "JPEG"}, {"GIF", "BMP"},   {"BMP", "NBMP"}, {"", "BMP"},
                 {"NBMP", ""},     {"NBMPX", "BMP"}, {"NBM", "BMP"}};
    const Bytes picture = samplePicture();
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.pszFrom) + " to " + c.pszTo);
        Bytes result;
        EXPECT_EQ(convertInPlace(picture, result, c.pszFrom, c.pszTo),
                  static_cast<int>(Status::UnsupportedFormat));
        EXPECT_EQ(result, picture);
        EXPECT_NE(std::strstr(lastError_(), "unsupported format"), nullptr) << lastError_();
    }
}

TEST_F(Imgx, TakesFormatNamesInAnyCase) {
    Bytes result;
    EXPECT_EQ(convertInPlace(samplePicture(), result, "nbmp", "Bmp"), 0) << lastError_();
    EXPECT_EQ(readBmp(result).width, 4);
}

TEST_F(Imgx, RefusesNullArguments) {
    QLStream *pStream = memoryStream(samplePicture());
    const int bad = static_cast<int>(Status::BadArgument);
    EXPECT_EQ(convert_(hapi_, nullptr, "BMP", pStream, pStream, 0, 0), bad);
    EXPECT_EQ(convert_(hapi_, "NBMP", nullptr, pStream, pStream, 0, 0), bad);
    EXPECT_EQ(convert_(hapi_, "NBMP", "BMP", nullptr, pStream, 0, 0), bad);
    EXPECT_EQ(convert_(hapi_, "NBMP", "BMP", pStream, nullptr, 0, 0), bad);
    EXPECT_NE(std::strstr(lastError_(), "bad argument"), nullptr) << lastError_();
    EXPECT_EQ(readBack(pStream), samplePicture());
    pStream->fpClose(pStream);
}

TEST_F(Imgx, LeavesTheStreamAsItWasWhenItCannotDecode) {
    Bytes truncated = samplePicture();
    truncated.resize(truncated.size() - 1);
    Bytes huge = samplePicture();
    huge[22] = huge[23] = huge[24] = huge[25] = 0xFF; // 65535 x 65535
    struct Case {
        const char *name;
        Bytes input;
        Status status;
        const char *messagePart;
    } cases[] = {
        {"empty", {}, Status::Truncated, "truncated: there is no bitmap header"},
        {"truncated", truncated, Status::Truncated, "runs past the end"},
        {"absurd size", huge, Status::TooLarge, "65535 x 65535"},
        {"not a bitmap", toBytes("GIF89a........"), Status::Malformed, "not a bitmap header"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Bytes result;
        EXPECT_EQ(convertInPlace(c.input, result), static_cast<int>(c.status));
        EXPECT_EQ(result, c.input);
        EXPECT_NE(std::strstr(lastError_(), c.messagePart), nullptr) << lastError_();
    }
}

TEST_F(Imgx, StartsASeparateOutputStreamOver) {
    QLStream *pInput = memoryStream(samplePicture());
    QLStream *pOutput = memoryStream(toBytes("left over from before"));
    ASSERT_EQ(convert_(hapi_, "NBMP", "BMP", pInput, pOutput, 0, 0), 0) << lastError_();
    EXPECT_EQ(readBack(pInput), samplePicture());
    EXPECT_EQ(readBmp(readBack(pOutput)).height, 2);
    pInput->fpClose(pInput);
    pOutput->fpClose(pOutput);
}

// A stream whose entries fail on request; the QLStream table is its first member.
struct FakeStream {
    QLStream table;
    Bytes content;
    std::size_t position = 0;
    std::int64_t reportedSize = -2; // -2: the content's size
    bool failTell = false, failOpen = false, failWrite = false, shortRead = false;
    int opens = 0, writes = 0, reads = 0;

    FakeStream() : table{open, read, write, seek, tell, close} {}

    static FakeStream &self(QLStream *p) { return *reinterpret_cast<FakeStream *>(p); }
    static int QLAPI open(QLStream *p) {
        ++self(p).opens;
        return self(p).failOpen ? 0 : 1;
    }
    static std::uint32_t QLAPI read(QLStream *p, void *pBuffer, std::uint32_t cb) {
        FakeStream &s = self(p);
        ++s.reads;
        std::size_t n = std::min<std::size_t>(cb, s.content.size() - std::min(s.position, s.content.size()));
        if (s.shortRead)
            n = std::min<std::size_t>(n, 3);
        std::memcpy(pBuffer, s.content.data() + s.position, n);
        s.position += n;
        if (s.shortRead)
            s.position = s.content.size();
        return static_cast<std::uint32_t>(n);
    }
    static std::uint32_t QLAPI write(QLStream *p, const void *, std::uint32_t cb) {
        ++self(p).writes;
        return self(p).failWrite ? cb / 2 : cb;
    }
    static int QLAPI seek(QLStream *p, std::int64_t offset, int origin) {
        FakeStream &s = self(p);
        s.position = origin == 2 ? s.content.size() : static_cast<std::size_t>(offset);
        return 1;
    }
    static std::int64_t QLAPI tell(QLStream *p) {
        FakeStream &s = self(p);
        if (s.failTell)
            return -1;
        if (s.reportedSize != -2 && s.position == s.content.size())
            return s.reportedSize;
        return static_cast<std::int64_t>(s.position);
    }
    static void QLAPI close(QLStream *) {}
};

TEST_F(Imgx, ReportsStreamsThatFail) {
    struct Case {
        const char *name;
        std::function<void(FakeStream &input, FakeStream &output)> setUp;
        Status status;
        const char *messagePart;
    } cases[] = {
        {"tell fails", [](FakeStream &in, FakeStream &) { in.failTell = true; }, Status::StreamFailure,
         "size"},
        {"input beyond the bound",
         [](FakeStream &in, FakeStream &) { in.reportedSize = std::int64_t{1} << 40; }, Status::TooLarge,
         "bytes"},
        {"short read", [](FakeStream &in, FakeStream &) { in.shortRead = true; }, Status::StreamFailure,
         "read 3"},
        {"output cannot start over", [](FakeStream &, FakeStream &out) { out.failOpen = true; },
         Status::StreamFailure, "start the output"},
        {"output write fails", [](FakeStream &, FakeStream &out) { out.failWrite = true; },
         Status::StreamFailure, "cannot write"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeStream input, output;
        input.content = samplePicture();
        c.setUp(input, output);
        EXPECT_EQ(convert_(hapi_, "NBMP", "BMP", &input.table, &output.table, 0, 0),
                  static_cast<int>(c.status));
        EXPECT_NE(std::strstr(lastError_(), c.messagePart), nullptr) << lastError_();
        EXPECT_EQ(input.opens, 0) << "the input is read as it stands";
        if (c.status == Status::TooLarge) {
            EXPECT_EQ(input.reads, 0) << "nothing read past the bound";
        }
        if (!std::string(c.name).starts_with("output")) {
            EXPECT_EQ(output.opens + output.writes, 0) << "the output untouched";
        }
    }
}

} // namespace
