// Pictures: inline images, the image tag, picture parts, Notes bitmaps through the image library,
// shared pictures through the callback, and the document-link picture.
#include "RichTextSupport.h"

#include <NsfFixture.h>
#include <tessel/kit/Bytes.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tessel::test {
namespace {

using kit::Bytes;
using kit::CdWriter;
using kit::ImageType;

Bytes sample(std::size_t n, uint8_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>(seed + i * 13);
    return b;
}

// The base64 text of a picture part as the converter writes it: a line break after every 72
// characters of whole groups, and the final partial group, if any, without one.
std::string base64Lines(const Bytes &data) {
    const std::string plain = kit::base64(data);
    const std::size_t wholeChars = data.size() / 3 * 4;
    std::string out;
    for (std::size_t at = 0; at < wholeChars; at += 72) {
        const std::string chunk = plain.substr(at, std::min<std::size_t>(72, wholeChars - at));
        out += chunk;
        if (chunk.size() == 72)
            out += "\r\n";
    }
    return out + plain.substr(wholeChars);
}

std::string part(const std::string &contentType, const std::string &name, const Bytes &data) {
    return std::string("\r\n") + kDelimiter + "\r\n" + contentType + "Content-Transfer-Encoding: base64\r\n" +
           "Content-Location: file:///" + name + "\r\n\r\n" + base64Lines(data) + "\r\n\r\n";
}

class Pictures : public ConverterTest {};

TEST_F(Pictures, InlineImagesAndTheirParts) {
    const Bytes gif = sample(30000, 1), jpeg = sample(54, 2), bmp = sample(10, 3);
    CdWriter cd;
    cd.picture(ImageType::Gif, 40, 20, gif).picture(ImageType::Jpeg, 0, 16, jpeg).picture(ImageType::Bmp, 8, 0, bmp);
    const std::string out = convert(cd);
    EXPECT_EQ(out, "<IMG src=3D\"file:///ql_8F6_image0.gif\" width=3D40 height=3D20>\r\n"
                   "<IMG src=3D\"file:///ql_8F6_image1.jpg\" height=3D16>\r\n"
                   "<IMG src=3D\"file:///ql_8F6_image2.bmp\" width=3D8>\r\n" +
                       std::string(kBodyEnd) + part("Content-Type: image/gif\r\n", "ql_8F6_image0.gif", gif) +
                       part("Content-Type: image/jpeg\r\n", "ql_8F6_image1.jpg", jpeg) +
                       part("Content-Type: image/bmp\r\n", "ql_8F6_image2.bmp", bmp) + kDelimiter + "--");
}

TEST_F(Pictures, ImageOfAnotherTypeHasNoExtensionOrContentType) {
    const Bytes png = sample(5, 4);
    CdWriter cd;
    cd.picture(ImageType::Png, 2, 2, png);
    EXPECT_EQ(convert(cd), "<IMG src=3D\"file:///ql_8F6_image0\" width=3D2 height=3D2>\r\n" + std::string(kBodyEnd) +
                               part("", "ql_8F6_image0", png) + kDelimiter + "--");
}

TEST_F(Pictures, PictureWithNoDataGetsItsTagButNoPart) {
    CdWriter cd;
    cd.imageHeader(ImageType::Gif, 4, 4, 100, 1);
    EXPECT_EQ(convert(cd), "<IMG src=3D\"file:///ql_8F6_image0.gif\" width=3D4 height=3D4>\r\n" + std::string(kBodyEnd) +
                               kDelimiter + "--");
}

TEST_F(Pictures, HeaderWithoutSegmentsMakesNoPicture) {
    CdWriter cd;
    cd.imageHeader(ImageType::Gif, 4, 4, 0, 0).imageHeader(ImageType::Gif, 4, 4, 0, 0x80000000u).imageSegment(sample(4, 1));
    EXPECT_EQ(convert(cd), std::string(kBodyEnd) + kDelimiter + "--");
}

TEST_F(Pictures, EmptyCompositeDataIsJustTheFrame) {
    EXPECT_EQ(convert(Bytes{}), std::string(kBodyEnd) + kDelimiter + "--");
}

TEST_F(Pictures, NotesBitmapWithoutTheLibraryStaysUnconverted) {
    host->setLibraryDirectory("/nonexistent-tessel-libraries");
    kit::NotesBitmap bm;
    bm.width = 2;
    bm.height = 1;
    bm.bitsPerPixel = 8;
    bm.palette = {{1, 2, 3}};
    bm.pixels = {0, 0};
    CdWriter cd;
    cd.notesBitmap(bm);
    // The part carries the bitmap's records from its header on, without a Content-Type.
    const Bytes &all = cd.bytes();
    const auto records = kit::cdRecords(all);
    ASSERT_EQ(records.size(), 4u); // graphic, header, colour table, segment
    Bytes expected;
    for (std::size_t i = 1; i < records.size(); ++i)
        expected.insert(expected.end(), all.begin() + records[i].offset,
                        all.begin() + records[i].offset + records[i].length);
    EXPECT_EQ(convert(cd), "<IMG src=3D\"file:///ql_8F6_image0.bmp\" width=3D2 height=3D1>\r\n" + std::string(kBodyEnd) +
                               part("", "ql_8F6_image0.bmp", expected) + kDelimiter + "--");
}

#ifdef TESSEL_FAKE_BMPCV_DIR
TEST_F(Pictures, NotesBitmapsGoThroughTheImageLibrary) {
    host->setLibraryDirectory(TESSEL_FAKE_BMPCV_DIR);
    kit::BitmapHeader header;
    header.width = 3;
    header.height = 2;
    kit::BitmapHeader refused = header;
    refused.flags = 0x8000;
    const Bytes segment = {0xC3, 0x01};
    CdWriter cd;
    cd.bitmapHeader(header).bitmapSegment(2, segment).bitmapHeader(refused);
    const auto records = kit::cdRecords(cd.bytes());
    const Bytes &all = cd.bytes();
    Bytes first(all.begin(), all.begin() + records[2].offset);
    char prefix[8];
    std::snprintf(prefix, sizeof(prefix), "BM%04d", static_cast<int>(first.size()));
    Bytes converted = kit::toBytes(prefix);
    converted.insert(converted.end(), first.begin(), first.end());
    Bytes second(all.begin() + records[2].offset, all.end());
    EXPECT_EQ(convert(cd), "<IMG src=3D\"file:///ql_8F6_image0.bmp\" width=3D3 height=3D2>\r\n"
                           "<IMG src=3D\"file:///ql_8F6_image1.bmp\" width=3D3 height=3D2>\r\n" +
                               std::string(kBodyEnd) + part("Content-Type: image/bmp\r\n", "ql_8F6_image0.bmp", converted) +
                               part("", "ql_8F6_image1.bmp", second) + kDelimiter + "--");
}
#endif

TEST_F(Pictures, SegmentsAndTablesWithoutAPictureAreIgnored) {
    CdWriter cd;
    const kit::Rgb colours[] = {{1, 2, 3}};
    cd.imageSegment(sample(3, 1)).colorTable(colours).bitmapSegment(1, Bytes{0x00});
    EXPECT_EQ(convert(cd), std::string(kBodyEnd) + kDelimiter + "--");
}

TEST_F(Pictures, SegmentLongerThanItsRecordIsSkipped) {
    CdWriter cd;
    cd.imageHeader(ImageType::Gif, 1, 1, 4, 2).imageSegment(sample(4, 9));
    Bytes bad = {0x7C, 0x00, 0x0E, 0, 0, 0, 0xFF, 0x00, 0x00, 0x01, 1, 2, 3, 4};
    cd.raw(bad);
    EXPECT_EQ(convert(cd), "<IMG src=3D\"file:///ql_8F6_image0.gif\" width=3D1 height=3D1>\r\n" + std::string(kBodyEnd) +
                               part("Content-Type: image/gif\r\n", "ql_8F6_image0.gif", sample(4, 9)) + kDelimiter +
                               "--");
}

class SharedPictures : public ConverterTest {
protected:
    static inline QLHAPI *services = nullptr;
    static int callback(NSFCONTEXT *, const char *pszName, uint8_t **ppData, int32_t *pnSize, int32_t *pnType) {
        *ppData = nullptr;
        *pnSize = 0;
        *pnType = 0;
        ++calls;
        if (std::strcmp(pszName, "logo") != 0)
            return 6;
        const Bytes logo = sample(7, 5);
        *ppData = static_cast<uint8_t *>(services->allocator.fpAlloc(&services->allocator, 7));
        std::memcpy(*ppData, logo.data(), 7);
        *pnSize = 7;
        *pnType = 1;
        return 0;
    }
    void SetUp() override {
        services = host->services();
        calls = 0;
        imageCB = callback;
    }
    static inline int calls = 0;
};

TEST_F(SharedPictures, NamedPictureIsFetchedOnceAndTaggedEachTime) {
    kit::Resource inOtherHints = kit::Resource::namedElement("logo");
    inOtherHints.serverHint = "CN=Server/O=Acme";
    inOtherHints.fileHint = "mail.nsf";
    CdWriter cd;
    cd.resource(kit::Resource::namedElement("logo"))
        .resource(kit::Resource::namedElement("missing"))
        .resource(inOtherHints, kit::sig::kTableCellHref)
        .resource(kit::Resource::url("http://example.com/logo"));
    EXPECT_EQ(convert(cd), "<IMG src=3D\"file:///ql_8F6_image0.gif\">\r\n<IMG src=3D\"file:///ql_8F6_image0.gif\">\r\n" +
                               std::string(kBodyEnd) + part("Content-Type: image/gif\r\n", "ql_8F6_image0.gif", sample(7, 5)) +
                               kDelimiter + "--");
    EXPECT_EQ(calls, 2) << "logo once, missing once";
}

TEST_F(SharedPictures, ReferenceInsideABlockIsHandledInBothWalks) {
    CdWriter cd;
    cd.beginRecord(kit::sig::kHref, 0).resource(kit::Resource::namedElement("logo")).endRecord(kit::sig::kHref, 0);
    EXPECT_EQ(bodyOf(convert(cd)), "<IMG src=3D\"file:///ql_8F6_image0.gif\">\r\n<IMG src=3D\"file:///ql_8F6_image0.gif\">\r\n");
}

TEST_F(SharedPictures, NoCallbackNoPicture) {
    imageCB = nullptr;
    CdWriter cd;
    cd.resource(kit::Resource::namedElement("logo"));
    EXPECT_EQ(bodyOf(convert(cd)), "");
}

TEST_F(SharedPictures, NameRunningPastTheRecordIsSkipped) {
    kit::Resource r = kit::Resource::namedElement("logo");
    r.length1 = 60;
    CdWriter cd;
    cd.resource(r);
    EXPECT_EQ(bodyOf(convert(cd)), "");
    EXPECT_EQ(calls, 0);
}

class DocLinks : public ConverterTest {
protected:
    TempDir home;
};

TEST_F(DocLinks, PictureFromTheHostDirectory) {
    const Bytes jpeg = sample(100, 8);
    std::filesystem::create_directories(home.path() / "NSFtemplates" / "images");
    std::ofstream(home.path() / "NSFtemplates" / "images" / "doclink.jpg", std::ios::binary)
        .write(reinterpret_cast<const char *>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
    host->setHostDirectory(home.path().string());
    CdWriter cd;
    cd.link2(0, "Earlier memo", "CN=Mail1/O=Acme").linkExport2({}, "Other memo", "");
    EXPECT_EQ(convert(cd), "<IMG src=3D\"file:///ql_8F6_image0.jpg\" width=3D17 height=3D18>\r\n"
                           "<IMG src=3D\"file:///ql_8F6_image0.jpg\" width=3D17 height=3D18>\r\n" +
                               std::string(kBodyEnd) + part("Content-Type: image/jpeg\r\n", "ql_8F6_image0.jpg", jpeg) +
                               kDelimiter + "--");
}

TEST_F(DocLinks, MissingPictureAddsNothing) {
    host->setHostDirectory(home.path().string());
    CdWriter cd;
    cd.picture(ImageType::Gif, 1, 1, sample(3, 1)).link2(0, "Earlier memo", "");
    const std::string out = convert(cd);
    EXPECT_EQ(bodyOf(out), "<IMG src=3D\"file:///ql_8F6_image0.gif\" width=3D1 height=3D1>\r\n")
        << "no tag naming the picture before the link";
}

TEST_F(Pictures, ThousandsOfPictures) {
    CdWriter cd;
    for (int i = 0; i < 3000; ++i)
        cd.picture(ImageType::Gif, 1, 1, sample(3, static_cast<uint8_t>(i)));
    const std::string out = convert(cd);
    EXPECT_NE(out.find("Content-Location: file:///ql_8F6_image2999.gif\r\n"), std::string::npos);
    std::size_t parts = 0;
    for (std::size_t at = out.find("Content-Location"); at != std::string::npos; at = out.find("Content-Location", at + 1))
        ++parts;
    EXPECT_EQ(parts, 3000u);
}

} // namespace
} // namespace tessel::test
