// Composite data (rich text) records, written byte-exactly in canonical form: every record starts
// with its BSIG/WSIG/LSIG header, whose Length counts the header and the record's own bytes, and a
// record of odd length is followed by one filler byte that Length does not count.
#pragma once

#include "tessel/kit/Bytes.h"
#include "tessel/kit/Ids.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::kit {

enum class SigClass : std::uint8_t { Byte, Word, Long };

// A record signature: the published constant and the length class that decides its header form.
struct Sig {
    std::uint16_t value;
    SigClass cls;
};

namespace sig {
inline constexpr Sig kParagraph{0x0081, SigClass::Byte};
inline constexpr Sig kPabDefinition{0xFF82, SigClass::Word};
inline constexpr Sig kPabReference{0x0083, SigClass::Byte};
inline constexpr Sig kText{0xFF85, SigClass::Word};
inline constexpr Sig kBidiText{0xFFE4, SigClass::Word};
inline constexpr Sig kFontTable{0xFF8B, SigClass::Word};
inline constexpr Sig kColor{0x00D2, SigClass::Byte};
inline constexpr Sig kTableCellColor{0x00D3, SigClass::Byte};
inline constexpr Sig kBackgroundColor{0x0072, SigClass::Byte};
inline constexpr Sig kBegin{0x00DD, SigClass::Byte};
inline constexpr Sig kEnd{0x00DE, SigClass::Byte};
inline constexpr Sig kHorizontalRule{0xFFC9, SigClass::Word};
inline constexpr Sig kHotspotBegin{0xFFA9, SigClass::Word};
inline constexpr Sig kV4HotspotBegin{0xFFAD, SigClass::Word};
inline constexpr Sig kV5HotspotBegin{0xFF7E, SigClass::Word};
inline constexpr Sig kHotspotEnd{0x00AA, SigClass::Byte};
inline constexpr Sig kV4HotspotEnd{0x00AE, SigClass::Byte};
inline constexpr Sig kV5HotspotEnd{0x007F, SigClass::Byte};
inline constexpr Sig kButton{0xFFAB, SigClass::Word};
inline constexpr Sig kCaption{0xFF76, SigClass::Word};
inline constexpr Sig kBar{0xFFAC, SigClass::Word};
inline constexpr Sig kGraphic{0x0099, SigClass::Long};
inline constexpr Sig kImageHeader{0x007D, SigClass::Long};
inline constexpr Sig kImageSegment{0x007C, SigClass::Long};
inline constexpr Sig kBitmapHeader{0x0095, SigClass::Long};
inline constexpr Sig kBitmapSegment{0x0096, SigClass::Long};
inline constexpr Sig kColorTable{0x0097, SigClass::Long};
inline constexpr Sig kPatternTable{0x0098, SigClass::Long};
inline constexpr Sig kTransparentTable{0x00C5, SigClass::Long};
inline constexpr Sig kPreTableBegin{0xFFFB, SigClass::Word};
inline constexpr Sig kTableBegin{0x00A3, SigClass::Byte};
inline constexpr Sig kTableCell{0x00A4, SigClass::Byte};
inline constexpr Sig kTableEnd{0x00A5, SigClass::Byte};
inline constexpr Sig kNestedTableBegin{0x00CF, SigClass::Byte};
inline constexpr Sig kNestedTableCell{0x00D0, SigClass::Byte};
inline constexpr Sig kNestedTableEnd{0x00D1, SigClass::Byte};
inline constexpr Sig kBorderInfo{0xFFFC, SigClass::Word};
inline constexpr Sig kLink2{0xFF91, SigClass::Word};
inline constexpr Sig kLinkExport2{0xFF92, SigClass::Word};
inline constexpr Sig kHref{0xFFF6, SigClass::Word};
inline constexpr Sig kTableCellHref{0xFF78, SigClass::Word};
inline constexpr Sig kField{0xFF8A, SigClass::Word};
inline constexpr Sig kFileHeader{0x0061, SigClass::Long};
inline constexpr Sig kFileSegment{0x0060, SigClass::Long};
} // namespace sig

// FONTID: face (byte 0), attributes (byte 1), colour index (byte 2), point size (byte 3).
struct FontId {
    enum Face : std::uint8_t { kRoman = 0, kSwiss = 1, kUnicode = 2, kUserInterface = 3, kTypewriter = 4 };
    enum Attrib : std::uint8_t {
        kBold = 0x01,
        kItalic = 0x02,
        kUnderline = 0x04,
        kStrikeout = 0x08,
        kSuper = 0x10,
        kSub = 0x20,
        kShadow = 0x80,
        kEmboss = 0x90,
        kExtrude = 0xA0
    };
    std::uint8_t face = kSwiss;
    std::uint8_t attrib = 0;
    std::uint8_t color = 0;
    std::uint8_t size = 10;

    std::uint32_t value() const;
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
};

// COLOR_VALUE (6 bytes).
struct ColorValue {
    static constexpr std::uint16_t kIsRgb = 0x0001, kNoColor = 0x0004, kSystemColor = 0x0008,
                                   kHasGradient = 0x0010;
    std::uint16_t flags = kIsRgb;
    std::uint8_t r = 0, g = 0, b = 0, unused = 0;

    static ColorValue rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return {kIsRgb, r, g, b, 0}; }
};

struct PabDefinition {
    static constexpr std::uint16_t kBullet = 0x0400, kNumberedList = 0x1000, kKeepWithNext = 0x0002,
                                   kKeepTogether = 0x0004, kHideRead = 0x0010, kDisplayRightMargin = 0x0080;
    static constexpr std::uint16_t kCircleList2 = 0x0800, kSquareList2 = 0x1000, kCheckedList2 = 0x0002,
                                   kUncheckedList2 = 0x2000, kMoreFlags2 = 0x8000;
    enum Justify : std::uint16_t { kLeft = 0, kRight = 1, kBlock = 2, kCenter = 3, kNone = 4 };

    std::uint16_t id = 1;
    std::uint16_t justify = kLeft;
    std::uint16_t lineSpacing = 0;
    std::uint16_t spacingBefore = 0;
    std::uint16_t spacingAfter = 0;
    std::uint16_t leftMargin = 1440;
    std::uint16_t rightMargin = 0;
    std::uint16_t firstLineLeftMargin = 1440;
    std::vector<std::int16_t> tabs; // at most 20
    std::uint16_t flags = 0;
    std::uint32_t tabTypes = 0;
    std::uint16_t flags2 = 0;
    // The R5 margin tail (six WORDs) and, after it, extension DWORDs (PABFLAG2_MORE_FLAGS).
    std::optional<std::array<std::uint16_t, 6>> marginTail;
    std::vector<std::uint32_t> moreFlags;
};

struct Face {
    std::uint8_t id = 5;        // at least 5; matched against FontId::face
    std::uint8_t family = 0x20; // pitch-and-family byte
    std::string name;           // at most 31 bytes
};

struct HorizontalRule {
    static constexpr std::uint32_t kUseColor = 0x1, kUseGradient = 0x2, kFitToWindow = 0x4, kNoShadow = 0x8;
    std::uint32_t flags = kFitToWindow;
    std::uint16_t width = 7200;
    std::uint16_t height = 105;
    std::uint16_t color = 0;
    std::uint16_t gradientColor = 0;
};

namespace hotspot {
inline constexpr std::uint16_t kPopup = 1, kButton = 3, kFile = 4, kHotlink = 11, kMouseOver = 22;
inline constexpr std::uint32_t kRunBegin = 0x1, kRunEnd = 0x2, kRunNoBorder = 0x8, kRunFormula = 0x10,
                               kRunInotes = 0x1000;
} // namespace hotspot

struct Button {
    std::uint16_t flags = 0;
    std::uint16_t width = 1440;
    std::uint16_t height = 0;
    std::uint16_t lines = 1;
    FontId font;
    std::string label; // LMBCS bytes as given
};

struct Caption {
    std::string text;
    std::uint8_t position = 0; // 0 below centre, 1 middle centre
    FontId font;
    ColorValue color = ColorValue::rgb(0, 0, 0);
};

struct Bar {
    static constexpr std::uint32_t kExpanded = 0x2, kIsFormula = 0x2000, kHasColor = 0x4000000;
    std::uint32_t flags = kHasColor;
    FontId font;
    std::uint16_t color = 0; // written only when flags has kHasColor
    std::string title;       // written NUL-terminated
};

struct Graphic {
    std::uint16_t destWidth = 0, destHeight = 0; // twips, or pixels with kDestSizeIsPixels
    std::uint16_t cropWidth = 0, cropHeight = 0;
    std::uint16_t resized = 0;
    std::uint8_t version = 2;
    std::uint8_t flags = 0;
    static constexpr std::uint8_t kDestSizeIsPixels = 0x01;
};

enum class ImageType : std::uint16_t { Gif = 1, Jpeg = 2, Bmp = 3, Png = 4 };

struct BitmapHeader {
    std::uint16_t destWidth = 0, destHeight = 0;
    std::uint16_t flags = 0; // 1 requires palette, 2 compute palette
    std::uint16_t width = 0, height = 0;
    std::uint16_t bitsPerPixel = 8, samplesPerPixel = 1, bitsPerSample = 8;
    std::uint16_t segmentCount = 0, colorCount = 0, patternCount = 0;
};

// A Notes bitmap to encode: 1 bpp (pixels 0/1), 8 bpp (palette indices) or 16 bpp (15-bit RGB words).
struct NotesBitmap {
    std::uint16_t width = 0, height = 0;
    std::uint16_t bitsPerPixel = 8;
    std::vector<Rgb> palette;          // 8 bpp only; written as CDCOLORTABLE
    std::vector<std::uint16_t> pixels; // width * height, top row first
};

struct PreTableBegin {
    std::uint32_t flags = 0;
    std::uint8_t rows = 0, columns = 0;
    std::uint32_t columnSizingBits1 = 0, columnSizingBits2 = 0;
    std::uint8_t viewerType = 0;
    std::uint16_t minRowHeight = 0;
    std::uint32_t styleColor1 = 0, styleColor2 = 0;
    ColorValue innerBorderColor = ColorValue::rgb(0, 0, 0);
    std::string name; // HTML name/ID
};

struct TableBegin {
    std::uint16_t leftMargin = 0;
    std::uint16_t horizInterCellSpace = 0, vertInterCellSpace = 0;
    std::uint16_t v4HorizInterCellSpace = 0, v4VertInterCellSpace = 0;
    std::uint16_t flags = 0;
};

struct TableCell {
    static constexpr std::uint8_t kUseBackgroundColor = 0x01, kUseV42Borders = 0x02, kUseGradient = 0x10,
                                  kVAlignCenter = 0x20, kVAlignBottom = 0x80;
    std::uint8_t row = 0, column = 0;
    std::uint16_t leftMargin = 0, rightMargin = 0;
    std::uint16_t fractionalWidth = 0;
    std::uint8_t border = 0x55; // single border on all four sides
    std::uint8_t flags = 0;
    std::uint16_t v42Border = 0;
    std::uint8_t rowSpan = 1, columnSpan = 1;
    std::uint16_t backgroundColor = 0;
};

struct BorderInfo {
    std::uint32_t flags = 0;
    std::uint16_t borderStyle = 1;
    std::uint16_t widthTop = 1, widthLeft = 1, widthBottom = 1, widthRight = 1;
    std::uint16_t borderFlags = 0, dropShadowWidth = 0;
    std::array<std::uint16_t, 4> inner{}; // top, left, bottom, right
    std::array<std::uint16_t, 4> outer{};
    ColorValue color = ColorValue::rgb(0, 0, 0);
};

// CDRESOURCE: the fixed part plus server hint, file hint and the type's own data.
struct Resource {
    enum Type : std::uint16_t { kEmpty = 0, kUrl = 1, kNoteLink = 2, kNamedElement = 3 };
    enum Class : std::uint16_t {
        kUnknown = 0,
        kDocument = 1,
        kView = 2,
        kForm = 3,
        kDatabase = 5,
        kImage = 8
    };
    std::uint32_t flags = 0;
    std::uint16_t type = kEmpty;
    std::uint16_t resourceClass = kUnknown;
    std::uint16_t length1 = 0;
    std::string serverHint, fileHint;
    Bytes data; // after the hints

    static Resource url(std::string_view url);
    // A named element such as a shared image; replica 0 means this database.
    static Resource namedElement(std::string_view name, std::uint16_t resourceClass = kImage,
                                 ReplicaId replica = {});
};

struct NumberFormat {
    std::uint8_t digits = 0, format = 0, attributes = 0, unused = 0;
};
struct TimeFormat {
    std::uint8_t date = 0, time = 0, zone = 0, structure = 2;
};

struct Field {
    std::uint16_t flags = 0x0002; // FEDITABLE
    std::uint16_t dataType = 8;   // FIELD_TYPE_TEXT
    std::uint16_t listDelim = 0;
    NumberFormat numberFormat;
    TimeFormat timeFormat;
    FontId font;
    Bytes defaultValueFormula, inputTranslationFormula, inputValidationFormula;
    std::uint16_t tabOrder = 0;
    std::string name, description;
    Bytes keywords; // a TYPE_TEXT_LIST value (LIST header, lengths, strings) or empty
};

// Builds a composite-data record stream. Each call appends whole records; bytes() is the stream
// without the item's leading type word.
class CdWriter {
public:
    // Any record: the header of the signature's class, then the payload, then the filler byte.
    // Throws std::length_error when the record does not fit its header's Length.
    CdWriter &record(Sig sig, std::span<const std::uint8_t> payload);
    // Bytes as given, without framing (for malformed streams in tests).
    CdWriter &raw(std::span<const std::uint8_t> bytes);

    CdWriter &paragraph();
    CdWriter &pabDefinition(const PabDefinition &pab);
    CdWriter &pabReference(std::uint16_t id);
    // Text converted from UTF-8 to LMBCS; '\n' becomes the NUL that Notes stores for a line break.
    CdWriter &text(FontId font, std::string_view utf8);
    CdWriter &textBytes(FontId font, std::span<const std::uint8_t> lmbcs, Sig sig = sig::kText);
    CdWriter &fontTable(std::span<const Face> faces);
    CdWriter &color(const ColorValue &color, Sig sig = sig::kColor, std::optional<ColorValue> gradient = {});
    CdWriter &beginRecord(Sig bracketed, std::uint16_t version);
    CdWriter &endRecord(Sig bracketed, std::uint16_t version);
    CdWriter &horizontalRule(const HorizontalRule &rule);
    CdWriter &hotspotBegin(Sig sig, std::uint16_t type, std::uint32_t flags,
                           std::span<const std::uint8_t> data);
    CdWriter &hotspotEnd(Sig sig = sig::kHotspotEnd);
    // URL link: a V4 hotspot of type HOTLINK flagged INOTES whose data is the URL and a NUL.
    CdWriter &urlLinkBegin(std::string_view url);
    CdWriter &urlLinkEnd() { return hotspotEnd(sig::kV4HotspotEnd); }
    // Attachment icon hotspot: the $FILE object name and the original file name, NUL-terminated.
    CdWriter &fileHotspotBegin(std::string_view objectName, std::string_view fileName);
    CdWriter &button(const Button &button);
    CdWriter &caption(const Caption &caption);
    CdWriter &bar(const Bar &bar);
    CdWriter &graphic(const Graphic &graphic);
    CdWriter &imageHeader(ImageType type, std::uint16_t width, std::uint16_t height, std::uint32_t dataSize,
                          std::uint32_t segmentCount);
    CdWriter &imageSegment(std::span<const std::uint8_t> data);
    // CDGRAPHIC, CDIMAGEHEADER and the file bytes in segments of at most segmentSize bytes.
    CdWriter &picture(ImageType type, std::uint16_t width, std::uint16_t height,
                      std::span<const std::uint8_t> file, std::size_t segmentSize = 10250);
    CdWriter &bitmapHeader(const BitmapHeader &header);
    CdWriter &bitmapSegment(std::uint16_t scanlineCount, std::span<const std::uint8_t> data);
    CdWriter &colorTable(std::span<const Rgb> colors);
    CdWriter &patternTable(std::span<const std::array<std::uint8_t, 24>> patterns);
    CdWriter &transparentTable(std::span<const Rgb> colors);
    // CDGRAPHIC, CDBITMAPHEADER, CDCOLORTABLE (8 bpp) and run-length coded CDBITMAPSEGMENTs.
    CdWriter &notesBitmap(const NotesBitmap &bitmap, std::size_t segmentSize = 10240);
    CdWriter &preTableBegin(const PreTableBegin &pre);
    CdWriter &tableBegin(const TableBegin &table, bool nested = false);
    CdWriter &tableCell(const TableCell &cell, bool nested = false);
    CdWriter &tableEnd(bool nested = false);
    CdWriter &borderInfo(const BorderInfo &border);
    CdWriter &link2(std::uint16_t linkId, std::string_view comment, std::string_view serverHint,
                    std::optional<std::string_view> anchor = {});
    CdWriter &linkExport2(const NoteLink &link, std::string_view comment, std::string_view serverHint,
                          std::optional<std::string_view> anchor = {});
    CdWriter &resource(const Resource &resource, Sig sig = sig::kHref);
    CdWriter &field(const Field &field);
    CdWriter &fileHeader(std::string_view extension, std::uint32_t fileSize, std::uint32_t segmentCount);
    CdWriter &fileSegment(std::span<const std::uint8_t> data);

    const Bytes &bytes() const { return out_; }
    std::size_t size() const { return out_.size(); }

private:
    Bytes out_;
};

// Run-length codes one scanline of pels (1 byte per pel for 1 and 8 bpp, 2 bytes for 16 bpp):
// runs of three or more equal pels as 11cccccc + pel, everything else as 00cccccc + pels.
Bytes encodeBitmapScanline(std::span<const std::uint8_t> line, std::size_t pelSize);

// The whole TYPE_COMPOSITE item value: the type WORD 0x0001, then the records.
Bytes compositeValue(std::span<const std::uint8_t> records);

// One record of a stream, as a walker of the item sees it.
struct CdRecordBounds {
    std::size_t offset;
    std::uint16_t signature; // the first WORD as stored (BSIG: length byte in the high byte)
    std::uint32_t length;    // Length from the header
};
// Walks a record stream (no type word). Throws std::invalid_argument on a truncated or zero-length record.
std::vector<CdRecordBounds> cdRecords(std::span<const std::uint8_t> records);

// Splits a record stream at record boundaries into pieces that each fit one item value of at most
// maxValueSize bytes including the type word, as Notes stores rich text over several items of one
// name. Throws std::length_error when one record alone is too large.
std::vector<Bytes> splitRichText(std::span<const std::uint8_t> records, std::size_t maxValueSize = 65406);

} // namespace tessel::kit
