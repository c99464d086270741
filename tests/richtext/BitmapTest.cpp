// Notes bitmaps of every depth through the real image library: the picture part is a BMP file
// whose pixels are the bitmap's.
#include "RichTextSupport.h"

#include <tessel/kit/BmpReader.h>

namespace tessel::test {
namespace {

using kit::rgb;

struct BitmapCase {
    const char *name;
    uint16_t bitsPerPixel;
    std::vector<kit::Rgb> palette;
    std::vector<uint16_t> pixels; // 5 x 3
    std::vector<uint32_t> colours;
};

class NotesBitmaps : public ConverterTest, public ::testing::WithParamInterface<BitmapCase> {};

TEST_P(NotesBitmaps, BecomeBmpFiles) {
    const BitmapCase &c = GetParam();
    host->setLibraryDirectory(TESSEL_BMPCV_DIR);
    kit::NotesBitmap bm;
    bm.width = 5;
    bm.height = 3;
    bm.bitsPerPixel = c.bitsPerPixel;
    bm.palette = c.palette;
    bm.pixels = c.pixels;
    kit::CdWriter cd;
    cd.text({}, "before").notesBitmap(bm).text({}, "after");
    const std::string out = convert(cd);
    EXPECT_NE(bodyOf(out).find("<IMG src=3D\"file:///ql_8F6_image0.bmp\" width=3D5 height=3D3>\r\n"),
              std::string::npos);
    const auto parts = pictureParts(out);
    ASSERT_EQ(parts.count("ql_8F6_image0.bmp"), 1u) << out;
    const PicturePart &part = parts.at("ql_8F6_image0.bmp");
    EXPECT_EQ(part.contentType, "image/bmp");
    const kit::BmpPicture picture = kit::readBmp(part.data);
    ASSERT_EQ(picture.width, 5);
    ASSERT_EQ(picture.height, 3);
    EXPECT_EQ(picture.pixels, c.colours);
}

const uint32_t W = rgb(255, 255, 255), K = rgb(0, 0, 0), R = rgb(255, 0, 0), G = rgb(0, 255, 0),
               B = rgb(0, 0, 255);

INSTANTIATE_TEST_SUITE_P(Depths, NotesBitmaps,
                         ::testing::Values(
                             // One bit: a set bit is white, a clear one black.
                             BitmapCase{"Monochrome",
                                        1,
                                        {},
                                        {1, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1},
                                        {W, K, W, K, W, K, K, K, K, K, W, W, W, W, W}},
                             BitmapCase{"Mapped",
                                        8,
                                        {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
                                        {2, 2, 2, 2, 3, 4, 4, 4, 4, 4, 0, 1, 0, 1, 2},
                                        {R, R, R, R, G, B, B, B, B, B, K, W, K, W, R}},
                             // Sixteen bits: red in bits 14-10, green 9-5, blue 4-0.
                             BitmapCase{"QuasiTrueColour",
                                        16,
                                        {},
                                        {0x7C00, 0x7C00, 0x7C00, 0x03E0, 0x001F, 0x0000, 0x7FFF, 0x7FFF,
                                         0x7FFF, 0x7FFF, 0x001F, 0x001F, 0x03E0, 0x03E0, 0x7C00},
                                        {R, R, R, G, B, K, W, W, W, W, B, B, G, G, R}}),
                         [](const auto &info) { return info.param.name; });

TEST_F(ConverterTest, BitmapTheLibraryCannotReadStaysUnconverted) {
    host->setLibraryDirectory(TESSEL_BMPCV_DIR);
    kit::BitmapHeader header;
    header.width = 4;
    header.height = 4;
    header.bitsPerPixel = 12; // no such depth
    header.segmentCount = 1;
    kit::CdWriter cd;
    cd.bitmapHeader(header).bitmapSegment(4, kit::Bytes{0xC4, 0x00});
    const auto parts = pictureParts(convert(cd));
    ASSERT_EQ(parts.count("ql_8F6_image0.bmp"), 1u);
    EXPECT_EQ(parts.at("ql_8F6_image0.bmp").contentType, "");
    EXPECT_EQ(parts.at("ql_8F6_image0.bmp").data[0], 0x95) << "the bitmap's own records";
}

} // namespace
} // namespace tessel::test
