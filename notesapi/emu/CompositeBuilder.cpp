#include "CompositeBuilder.h"

#include "Ods.h"

#include "DxlValues.h"
#include "Translate.h"

#include <notes/notes.h>

#include <algorithm>
#include <cstring>

namespace notesemu {
namespace {

// Text bytes per CDTEXT record; longer runs continue in further records of the same font.
constexpr std::size_t kMaxTextBytes = 16000;
// Picture bytes per CDIMAGESEGMENT.
constexpr std::size_t kImageSegmentBytes = 10240;
// Widest a converted table is laid out (6.5 inches) and where it starts (1 inch).
constexpr int kTableWidthTwips = 9360;
constexpr int kTableLeftTwips = ONEINCH;

// The canonical size of a record (never sizeof: host structures may carry padding).
template <class Record> constexpr std::size_t odsSizeOf(const Record &) {
    return odsSize<Record>();
}

// A record in canonical form, with room reserved for `extra` bytes of variable data.
template <class Record> std::vector<std::uint8_t> bytesOf(const Record &record, std::size_t extra = 0) {
    std::vector<std::uint8_t> out;
    out.reserve(odsSize<Record>() + extra + 1);
    appendOds(out, record);
    return out;
}

void append(std::vector<std::uint8_t> &out, std::string_view bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

WORD be16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<WORD>(b[at] << 8 | b[at + 1]);
}
DWORD be32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<DWORD>(b[at]) << 24 | static_cast<DWORD>(b[at + 1]) << 16 |
           static_cast<DWORD>(b[at + 2]) << 8 | b[at + 3];
}
DWORD le32(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<DWORD>(b[at]) | static_cast<DWORD>(b[at + 1]) << 8 |
           static_cast<DWORD>(b[at + 2]) << 16 | static_cast<DWORD>(b[at + 3]) << 24;
}

std::optional<ImageSize> checkedSize(std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0 || width > 0xFFFF || height > 0xFFFF)
        return std::nullopt;
    return ImageSize{static_cast<WORD>(width), static_cast<WORD>(height)};
}

} // namespace

DWORD TextStyle::fontId() const {
    return static_cast<DWORD>(face) << FONT_FACE_SHIFT | static_cast<DWORD>(attrib) << FONT_STYLE_SHIFT |
           static_cast<DWORD>(color) << FONT_COLOR_SHIFT | static_cast<DWORD>(size) << FONT_SIZE_SHIFT;
}

CompositeBuilder::CompositeBuilder() {
    current_ = {TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8};
}

void CompositeBuilder::emit(std::vector<std::uint8_t> record) {
    if (record.size() & 1U)
        record.push_back(0);
    if (current_.size() + record.size() > MAXONESEGSIZE && current_.size() > sizeof(WORD)) {
        values_.push_back(std::move(current_));
        current_ = {TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8};
    }
    current_.insert(current_.end(), record.begin(), record.end());
    ++records_;
}

WORD CompositeBuilder::definitionFor(const ParagraphStyle &style) {
    if (const auto found = definitions_.find(style); found != definitions_.end())
        return found->second;
    const auto id = static_cast<WORD>(definitions_.size() + 1);
    definitions_.emplace(style, id);
    CDPABDEFINITION pab{};
    pab.Header.Signature = SIG_CD_PABDEFINITION;
    pab.Header.Length = odsSizeOf(pab);
    pab.PABID = id;
    pab.JustifyMode = style.justify;
    pab.LeftMargin = static_cast<WORD>(ONEINCH + style.indent * (ONEINCH / 4));
    pab.FirstLineLeftMargin = pab.LeftMargin;
    if (style.list == ListKind::Bullet)
        pab.Flags = PABFLAG_BULLET;
    else if (style.list == ListKind::Numbered)
        pab.Flags = PABFLAG_NUMBEREDLIST;
    emit(bytesOf(pab));
    return id;
}

void CompositeBuilder::paragraph(const ParagraphStyle &style) {
    flushText();
    const WORD id = definitionFor(style);
    CDPARAGRAPH par{};
    par.Header.Signature = static_cast<BYTE>(SIG_CD_PARAGRAPH);
    par.Header.Length = odsSizeOf(par);
    emit(bytesOf(par));
    CDPABREFERENCE reference{};
    reference.Header.Signature = static_cast<BYTE>(SIG_CD_PABREFERENCE);
    reference.Header.Length = odsSizeOf(reference);
    reference.PABID = id;
    emit(bytesOf(reference));
    paragraphStyle_ = style;
}

void CompositeBuilder::text(std::string_view utf8, const TextStyle &style) {
    if (utf8.empty())
        return;
    if (!paragraphStyle_)
        paragraph(ParagraphStyle{});
    if (!(style == runStyle_))
        flushText();
    runStyle_ = style;
    std::string withBreaks(utf8);
    std::replace(withBreaks.begin(), withBreaks.end(), '\n', '\0');
    runText_ += textToLmbcs(withBreaks);
}

void CompositeBuilder::flushText() {
    std::string_view rest = runText_;
    while (!rest.empty()) {
        const std::size_t cut = std::max<std::size_t>(lmbcsCut(rest, kMaxTextBytes), 1);
        const std::string_view piece = rest.substr(0, cut);
        rest.remove_prefix(cut);
        CDTEXT record{};
        record.Header.Signature = SIG_CD_TEXT;
        record.Header.Length = static_cast<WORD>(odsSizeOf(record) + piece.size());
        record.FontID = runStyle_.fontId();
        std::vector<std::uint8_t> bytes = bytesOf(record, piece.size());
        append(bytes, piece);
        emit(std::move(bytes));
    }
    runText_.clear();
}

void CompositeBuilder::linkBegin(std::string_view url) {
    flushText();
    if (linkOpen_)
        linkEnd();
    if (!paragraphStyle_)
        paragraph(ParagraphStyle{});
    const std::string data = utf8ToLmbcs(url) + '\0';
    CDHOTSPOTBEGIN record{};
    record.Header.Signature = SIG_CD_V4HOTSPOTBEGIN;
    record.Header.Length = static_cast<WORD>(odsSizeOf(record) + data.size());
    record.Type = HOTSPOTREC_TYPE_HOTLINK;
    record.Flags = HOTSPOTREC_RUNFLAG_INOTES;
    record.DataLength = static_cast<WORD>(data.size());
    std::vector<std::uint8_t> bytes = bytesOf(record, data.size());
    append(bytes, data);
    emit(std::move(bytes));
    linkOpen_ = true;
}

void CompositeBuilder::linkEnd() {
    if (!linkOpen_)
        return;
    flushText();
    CDHOTSPOTEND record{};
    record.Header.Signature = static_cast<BYTE>(SIG_CD_V4HOTSPOTEND);
    record.Header.Length = odsSizeOf(record);
    emit(bytesOf(record));
    linkOpen_ = false;
}

void CompositeBuilder::picture(ImageKind kind, WORD width, WORD height, std::span<const std::uint8_t> bytes) {
    flushText();
    if (!paragraphStyle_)
        paragraph(ParagraphStyle{});
    CDGRAPHIC graphic{};
    graphic.Header.Signature = SIG_CD_GRAPHIC;
    graphic.Header.Length = odsSizeOf(graphic);
    // Twips at 96 pixels per inch.
    graphic.DestSize.width = static_cast<WORD>(std::min<DWORD>(width * 15U, 0xFFFF));
    graphic.DestSize.height = static_cast<WORD>(std::min<DWORD>(height * 15U, 0xFFFF));
    graphic.Version = CDGRAPHIC_VERSION3;
    emit(bytesOf(graphic));
    const std::size_t segments = (bytes.size() + kImageSegmentBytes - 1) / kImageSegmentBytes;
    CDIMAGEHEADER header{};
    header.Header.Signature = SIG_CD_IMAGEHEADER;
    header.Header.Length = odsSizeOf(header);
    header.ImageType = static_cast<WORD>(kind);
    header.Width = width;
    header.Height = height;
    header.ImageDataSize = static_cast<DWORD>(bytes.size());
    header.SegCount = static_cast<DWORD>(segments);
    emit(bytesOf(header));
    for (std::size_t at = 0; at < bytes.size(); at += kImageSegmentBytes) {
        const std::size_t length = std::min(kImageSegmentBytes, bytes.size() - at);
        CDIMAGESEGMENT segment{};
        segment.Header.Signature = SIG_CD_IMAGESEGMENT;
        segment.DataSize = static_cast<WORD>(length);
        segment.SegSize = static_cast<WORD>(length + (length & 1U));
        segment.Header.Length = static_cast<DWORD>(odsSizeOf(segment) + segment.SegSize);
        std::vector<std::uint8_t> record = bytesOf(segment, segment.SegSize);
        record.insert(record.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        record.resize(odsSizeOf(segment) + segment.SegSize, 0);
        emit(std::move(record));
    }
}

void CompositeBuilder::horizontalRule() {
    flushText();
    if (!paragraphStyle_)
        paragraph(ParagraphStyle{});
    CDHRULE rule{};
    rule.Header.Signature = SIG_CD_HORIZONTALRULE;
    rule.Header.Length = odsSizeOf(rule);
    rule.Flags = HRULE_FLAG_FITTOWINDOW;
    rule.Width = 7200;
    rule.Height = 105;
    emit(bytesOf(rule));
}

void CompositeBuilder::tableBegin(std::uint8_t rows, std::uint8_t columns) {
    flushText();
    if (linkOpen_)
        linkEnd();
    CDBEGINRECORD begin{};
    begin.Header.Signature = static_cast<BYTE>(SIG_CD_BEGIN);
    begin.Header.Length = odsSizeOf(begin);
    begin.Version = 1;
    begin.Signature = SIG_CD_PRETABLEBEGIN;
    emit(bytesOf(begin));
    CDPRETABLEBEGIN pre{};
    pre.Header.Signature = SIG_CD_PRETABLEBEGIN;
    pre.Header.Length = odsSizeOf(pre);
    pre.Rows = rows;
    pre.Columns = columns;
    pre.InnerBorderColor.Flags = COLOR_VALUE_FLAGS_ISRGB;
    emit(bytesOf(pre));
    CDBORDERINFO border{};
    border.Header.Signature = SIG_CD_BORDERINFO;
    border.Header.Length = odsSizeOf(border);
    border.BorderStyle = 1;
    border.BorderWidthTop = border.BorderWidthLeft = border.BorderWidthBottom = border.BorderWidthRight = 1;
    border.Color.Flags = COLOR_VALUE_FLAGS_ISRGB;
    emit(bytesOf(border));
    CDENDRECORD end{};
    end.Header.Signature = static_cast<BYTE>(SIG_CD_END);
    end.Header.Length = odsSizeOf(end);
    end.Version = 1;
    end.Signature = SIG_CD_PRETABLEBEGIN;
    emit(bytesOf(end));
    CDTABLEBEGIN table{};
    table.Header.Signature = static_cast<BYTE>(SIG_CD_TABLEBEGIN);
    table.Header.Length = odsSizeOf(table);
    table.LeftMargin = kTableLeftTwips;
    emit(bytesOf(table));
    paragraphStyle_.reset();
}

void CompositeBuilder::tableCell(std::uint8_t row, std::uint8_t column, std::uint8_t columns) {
    flushText();
    if (linkOpen_)
        linkEnd();
    const int width = std::max(ONEINCH / 2, kTableWidthTwips / std::max<int>(columns, 1));
    CDTABLECELL cell{};
    cell.Header.Signature = static_cast<BYTE>(SIG_CD_TABLECELL);
    cell.Header.Length = odsSizeOf(cell);
    cell.Row = row;
    cell.Column = column;
    cell.LeftMargin = static_cast<WORD>(std::min(kTableLeftTwips + column * width, 0xFFFF));
    cell.RightMargin = static_cast<WORD>(std::min(kTableLeftTwips + (column + 1) * width, 0xFFFF));
    cell.Border = 0x55; // a single line on each side
    cell.RowSpan = 1;
    cell.ColumnSpan = 1;
    emit(bytesOf(cell));
    paragraphStyle_.reset();
}

void CompositeBuilder::tableEnd() {
    flushText();
    if (linkOpen_)
        linkEnd();
    CDTABLEEND end{};
    end.Header.Signature = static_cast<BYTE>(SIG_CD_TABLEEND);
    end.Header.Length = odsSizeOf(end);
    emit(bytesOf(end));
    paragraphStyle_.reset();
}

void CompositeBuilder::attachmentIcon(std::string_view objectName, std::string_view fileName) {
    flushText();
    if (linkOpen_)
        linkEnd();
    if (!paragraphStyle_)
        paragraph(ParagraphStyle{});
    std::string data(objectName);
    data += '\0';
    data += fileName;
    data += '\0';
    data.resize(std::min<std::size_t>(data.size(), 0x8000));
    CDHOTSPOTBEGIN begin{};
    begin.Header.Signature = SIG_CD_HOTSPOTBEGIN;
    begin.Header.Length = static_cast<WORD>(odsSizeOf(begin) + data.size());
    begin.Type = HOTSPOTREC_TYPE_FILE;
    begin.DataLength = static_cast<WORD>(data.size());
    std::vector<std::uint8_t> record = bytesOf(begin, data.size());
    append(record, data);
    emit(std::move(record));
    const std::string_view caption = fileName.substr(0, std::min<std::size_t>(fileName.size(), 0x8000));
    CDCAPTION title{};
    title.Header.Signature = SIG_CD_CAPTION;
    title.Header.Length = static_cast<WORD>(odsSizeOf(title) + caption.size());
    title.wLength = static_cast<WORD>(caption.size());
    title.FontID = TextStyle{}.fontId();
    title.FontColor.Flags = COLOR_VALUE_FLAGS_ISRGB;
    record = bytesOf(title, caption.size());
    append(record, caption);
    emit(std::move(record));
    CDHOTSPOTEND end{};
    end.Header.Signature = static_cast<BYTE>(SIG_CD_HOTSPOTEND);
    end.Header.Length = odsSizeOf(end);
    emit(bytesOf(end));
}

std::vector<std::vector<std::uint8_t>> CompositeBuilder::finish() {
    linkEnd();
    flushText();
    if (current_.size() > sizeof(WORD) || values_.empty())
        values_.push_back(std::move(current_));
    std::vector<std::vector<std::uint8_t>> out = std::move(values_);
    *this = CompositeBuilder();
    return out;
}

std::optional<ImageSize> imageSize(ImageKind kind, std::span<const std::uint8_t> b) {
    switch (kind) {
    case ImageKind::Gif:
        if (b.size() < 10 || std::memcmp(b.data(), "GIF8", 4) != 0)
            return std::nullopt;
        return checkedSize(b[6] | b[7] << 8, b[8] | b[9] << 8);
    case ImageKind::Png:
        if (b.size() < 24 || std::memcmp(b.data(), "\x89PNG\r\n\x1a\n", 8) != 0 ||
            std::memcmp(b.data() + 12, "IHDR", 4) != 0)
            return std::nullopt;
        return checkedSize(be32(b, 16), be32(b, 20));
    case ImageKind::Bmp: {
        if (b.size() < 26 || b[0] != 'B' || b[1] != 'M')
            return std::nullopt;
        const auto height = static_cast<std::int32_t>(le32(b, 22));
        return checkedSize(le32(b, 18), height < 0 ? -static_cast<std::int64_t>(height) : height);
    }
    case ImageKind::Jpeg: {
        if (b.size() < 4 || b[0] != 0xFF || b[1] != 0xD8)
            return std::nullopt;
        std::size_t at = 2;
        while (at + 4 <= b.size()) {
            if (b[at] != 0xFF)
                return std::nullopt;
            const std::uint8_t marker = b[at + 1];
            if (marker == 0xFF) {
                ++at;
                continue;
            }
            const WORD length = be16(b, at + 2);
            const bool frame =
                marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
            if (frame) {
                if (at + 9 > b.size())
                    return std::nullopt;
                return checkedSize(be16(b, at + 7), be16(b, at + 5));
            }
            if (length < 2)
                return std::nullopt;
            at += 2 + length;
        }
        return std::nullopt;
    }
    }
    return std::nullopt;
}

} // namespace notesemu
