#include "tessel/kit/CdWriter.h"

#include "tessel/kit/Lmbcs.h"

#include <algorithm>
#include <stdexcept>

namespace tessel::kit {
namespace {

void writeColor(ByteWriter &w, const ColorValue &c) {
    w.u16(c.flags).u8(c.r).u8(c.g).u8(c.b).u8(c.unused);
}

void writeFont(ByteWriter &w, FontId f) {
    w.u32(f.value());
}

Bytes nulTerminated(std::string_view s) {
    Bytes out(s.begin(), s.end());
    out.push_back(0);
    return out;
}

std::uint16_t checkedWord(std::size_t n, const char *what) {
    if (n > 0xFFFF)
        throw std::length_error(std::string(what) + " longer than a WORD can count");
    return static_cast<std::uint16_t>(n);
}

} // namespace

std::uint32_t FontId::value() const {
    return static_cast<std::uint32_t>(face) | static_cast<std::uint32_t>(attrib) << 8 |
           static_cast<std::uint32_t>(color) << 16 | static_cast<std::uint32_t>(size) << 24;
}

CdWriter &CdWriter::record(Sig sig, std::span<const std::uint8_t> payload) {
    ByteWriter w(out_);
    switch (sig.cls) {
    case SigClass::Byte: {
        const std::size_t length = 2 + payload.size();
        if (length > 0xFF)
            throw std::length_error("BSIG record longer than 255 bytes");
        w.u8(static_cast<std::uint8_t>(sig.value)).u8(static_cast<std::uint8_t>(length));
        break;
    }
    case SigClass::Word: {
        const std::size_t length = 4 + payload.size();
        if (length > 0xFFFF)
            throw std::length_error("WSIG record longer than 65535 bytes");
        w.u16(sig.value).u16(static_cast<std::uint16_t>(length));
        break;
    }
    case SigClass::Long: {
        const std::size_t length = 6 + payload.size();
        if (length > 0xFFFFFFFFu)
            throw std::length_error("LSIG record too long");
        w.u16(sig.value).u32(static_cast<std::uint32_t>(length));
        break;
    }
    }
    w.bytes(payload);
    if (out_.size() % 2 != 0)
        w.u8(0);
    return *this;
}

CdWriter &CdWriter::raw(std::span<const std::uint8_t> bytes) {
    ByteWriter(out_).bytes(bytes);
    return *this;
}

CdWriter &CdWriter::paragraph() {
    return record(sig::kParagraph, {});
}

CdWriter &CdWriter::pabDefinition(const PabDefinition &pab) {
    if (pab.tabs.size() > 20)
        throw std::invalid_argument("CDPABDEFINITION holds at most 20 tabs");
    if (!pab.moreFlags.empty() && !pab.marginTail)
        throw std::invalid_argument("CDPABDEFINITION extension flags need the margin tail before them");
    Bytes p;
    ByteWriter w(p);
    w.u16(pab.id).u16(pab.justify).u16(pab.lineSpacing).u16(pab.spacingBefore).u16(pab.spacingAfter);
    w.u16(pab.leftMargin).u16(pab.rightMargin).u16(pab.firstLineLeftMargin);
    w.u16(static_cast<std::uint16_t>(pab.tabs.size()));
    for (std::size_t i = 0; i < 20; ++i)
        w.u16(i < pab.tabs.size() ? static_cast<std::uint16_t>(pab.tabs[i]) : 0);
    w.u16(pab.flags).u32(pab.tabTypes).u16(pab.flags2);
    if (pab.marginTail)
        for (std::uint16_t v : *pab.marginTail)
            w.u16(v);
    for (std::uint32_t v : pab.moreFlags)
        w.u32(v);
    return record(sig::kPabDefinition, p);
}

CdWriter &CdWriter::pabReference(std::uint16_t id) {
    Bytes p;
    ByteWriter(p).u16(id);
    return record(sig::kPabReference, p);
}

CdWriter &CdWriter::text(FontId font, std::string_view utf8) {
    Bytes lmbcs = utf8ToLmbcs(utf8);
    std::replace(lmbcs.begin(), lmbcs.end(), std::uint8_t{'\n'}, std::uint8_t{0});
    return textBytes(font, lmbcs);
}

CdWriter &CdWriter::textBytes(FontId font, std::span<const std::uint8_t> lmbcs, Sig sig) {
    Bytes p;
    ByteWriter w(p);
    writeFont(w, font);
    w.bytes(lmbcs);
    return record(sig, p);
}

CdWriter &CdWriter::fontTable(std::span<const Face> faces) {
    Bytes p;
    ByteWriter w(p);
    w.u16(checkedWord(faces.size(), "font table"));
    for (const Face &f : faces) {
        if (f.name.size() > 31)
            throw std::invalid_argument("CDFACE name longer than 31 bytes");
        w.u8(f.id).u8(f.family).str(f.name).zeros(32 - f.name.size());
    }
    return record(sig::kFontTable, p);
}

CdWriter &CdWriter::color(const ColorValue &color, Sig sig, std::optional<ColorValue> gradient) {
    Bytes p;
    ByteWriter w(p);
    writeColor(w, color);
    if (gradient)
        writeColor(w, *gradient);
    return record(sig, p);
}

CdWriter &CdWriter::beginRecord(Sig bracketed, std::uint16_t version) {
    Bytes p;
    ByteWriter(p).u16(version).u16(bracketed.value);
    return record(sig::kBegin, p);
}

CdWriter &CdWriter::endRecord(Sig bracketed, std::uint16_t version) {
    Bytes p;
    ByteWriter(p).u16(version).u16(bracketed.value);
    return record(sig::kEnd, p);
}

CdWriter &CdWriter::horizontalRule(const HorizontalRule &rule) {
    Bytes p;
    ByteWriter(p).u32(rule.flags).u16(rule.width).u16(rule.height).u16(rule.color).u16(rule.gradientColor);
    return record(sig::kHorizontalRule, p);
}

CdWriter &CdWriter::hotspotBegin(Sig sig, std::uint16_t type, std::uint32_t flags,
                                 std::span<const std::uint8_t> data) {
    Bytes p;
    ByteWriter w(p);
    w.u16(type).u32(flags).u16(checkedWord(data.size(), "hotspot data")).bytes(data);
    return record(sig, p);
}

CdWriter &CdWriter::hotspotEnd(Sig sig) {
    return record(sig, {});
}

CdWriter &CdWriter::urlLinkBegin(std::string_view url) {
    return hotspotBegin(sig::kV4HotspotBegin, hotspot::kHotlink, hotspot::kRunInotes, nulTerminated(url));
}

CdWriter &CdWriter::fileHotspotBegin(std::string_view objectName, std::string_view fileName) {
    Bytes data = nulTerminated(objectName);
    Bytes name = nulTerminated(fileName);
    data.insert(data.end(), name.begin(), name.end());
    return hotspotBegin(sig::kHotspotBegin, hotspot::kFile, 0, data);
}

CdWriter &CdWriter::button(const Button &b) {
    Bytes p;
    ByteWriter w(p);
    w.u16(b.flags).u16(b.width).u16(b.height).u16(b.lines);
    writeFont(w, b.font);
    w.str(b.label);
    return record(sig::kButton, p);
}

CdWriter &CdWriter::caption(const Caption &c) {
    Bytes p;
    ByteWriter w(p);
    w.u16(checkedWord(c.text.size(), "caption")).u8(c.position);
    writeFont(w, c.font);
    writeColor(w, c.color);
    w.zeros(11).str(c.text);
    return record(sig::kCaption, p);
}

CdWriter &CdWriter::bar(const Bar &b) {
    Bytes p;
    ByteWriter w(p);
    w.u32(b.flags);
    writeFont(w, b.font);
    if (b.flags & Bar::kHasColor)
        w.u16(b.color);
    w.bytes(nulTerminated(b.title));
    return record(sig::kBar, p);
}

CdWriter &CdWriter::graphic(const Graphic &g) {
    Bytes p;
    ByteWriter w(p);
    w.u16(g.destWidth).u16(g.destHeight).u16(g.cropWidth).u16(g.cropHeight).zeros(8);
    w.u16(g.resized).u8(g.version).u8(g.flags).u16(0);
    return record(sig::kGraphic, p);
}

CdWriter &CdWriter::imageHeader(ImageType type, std::uint16_t width, std::uint16_t height,
                                std::uint32_t dataSize, std::uint32_t segmentCount) {
    Bytes p;
    ByteWriter(p)
        .u16(static_cast<std::uint16_t>(type))
        .u16(width)
        .u16(height)
        .u32(dataSize)
        .u32(segmentCount)
        .u32(0)
        .u32(0);
    return record(sig::kImageHeader, p);
}

CdWriter &CdWriter::imageSegment(std::span<const std::uint8_t> data) {
    const std::uint16_t dataSize = checkedWord(data.size(), "image segment");
    const std::uint16_t segSize = checkedWord(data.size() + data.size() % 2, "image segment");
    Bytes p;
    ByteWriter w(p);
    w.u16(dataSize).u16(segSize).bytes(data).zeros(segSize - dataSize);
    return record(sig::kImageSegment, p);
}

CdWriter &CdWriter::picture(ImageType type, std::uint16_t width, std::uint16_t height,
                            std::span<const std::uint8_t> file, std::size_t segmentSize) {
    if (segmentSize == 0 || segmentSize > 0xFFFE)
        throw std::invalid_argument("image segment size out of range");
    const std::size_t segments = (file.size() + segmentSize - 1) / segmentSize;
    Graphic g;
    g.destWidth = static_cast<std::uint16_t>(std::min<std::uint32_t>(width * 15u, 0xFFFF));
    g.destHeight = static_cast<std::uint16_t>(std::min<std::uint32_t>(height * 15u, 0xFFFF));
    graphic(g);
    imageHeader(type, width, height, static_cast<std::uint32_t>(file.size()),
                static_cast<std::uint32_t>(segments));
    for (std::size_t off = 0; off < file.size(); off += segmentSize)
        imageSegment(file.subspan(off, std::min(segmentSize, file.size() - off)));
    return *this;
}

CdWriter &CdWriter::bitmapHeader(const BitmapHeader &h) {
    Bytes p;
    ByteWriter w(p);
    w.u16(h.destWidth).u16(h.destHeight).u16(0).u16(0).u16(h.flags).u16(0).u32(0);
    w.u16(h.width).u16(h.height).u16(h.bitsPerPixel).u16(h.samplesPerPixel).u16(h.bitsPerSample);
    w.u16(h.segmentCount).u16(h.colorCount).u16(h.patternCount);
    return record(sig::kBitmapHeader, p);
}

CdWriter &CdWriter::bitmapSegment(std::uint16_t scanlineCount, std::span<const std::uint8_t> data) {
    Bytes p;
    ByteWriter w(p);
    w.u32(0).u32(0).u16(scanlineCount).u16(checkedWord(data.size(), "bitmap segment")).bytes(data);
    return record(sig::kBitmapSegment, p);
}

CdWriter &CdWriter::colorTable(std::span<const Rgb> colors) {
    Bytes p;
    ByteWriter w(p);
    for (const Rgb &c : colors)
        w.u8(c.r).u8(c.g).u8(c.b);
    return record(sig::kColorTable, p);
}

CdWriter &CdWriter::patternTable(std::span<const std::array<std::uint8_t, 24>> patterns) {
    Bytes p;
    ByteWriter w(p);
    for (const auto &pattern : patterns)
        w.bytes(pattern);
    return record(sig::kPatternTable, p);
}

CdWriter &CdWriter::transparentTable(std::span<const Rgb> colors) {
    Bytes p;
    ByteWriter w(p);
    w.u16(0).u16(checkedWord(colors.size(), "transparent table"));
    for (const Rgb &c : colors)
        w.u8(c.r).u8(c.g).u8(c.b);
    return record(sig::kTransparentTable, p);
}

Bytes encodeBitmapScanline(std::span<const std::uint8_t> line, std::size_t pelSize) {
    if (pelSize == 0 || line.size() % pelSize != 0)
        throw std::invalid_argument("scanline is not a whole number of pels");
    const std::size_t pels = line.size() / pelSize;
    auto pel = [&](std::size_t i) { return line.subspan(i * pelSize, pelSize); };
    auto samePel = [&](std::size_t a, std::size_t b) { return std::ranges::equal(pel(a), pel(b)); };
    Bytes out;
    std::size_t i = 0;
    std::size_t literalStart = 0;
    auto flushLiterals = [&](std::size_t end) {
        while (literalStart < end) {
            const std::size_t n = std::min<std::size_t>(63, end - literalStart);
            out.push_back(static_cast<std::uint8_t>(n));
            for (std::size_t k = 0; k < n; ++k) {
                auto p = pel(literalStart + k);
                out.insert(out.end(), p.begin(), p.end());
            }
            literalStart += n;
        }
    };
    while (i < pels) {
        std::size_t run = 1;
        while (i + run < pels && run < 63 && samePel(i, i + run))
            ++run;
        if (run >= 3) {
            flushLiterals(i);
            out.push_back(static_cast<std::uint8_t>(0xC0 | run));
            auto p = pel(i);
            out.insert(out.end(), p.begin(), p.end());
            i += run;
            literalStart = i;
        } else {
            i += run;
        }
    }
    flushLiterals(pels);
    return out;
}

CdWriter &CdWriter::notesBitmap(const NotesBitmap &bm, std::size_t segmentSize) {
    const std::size_t w = bm.width, h = bm.height;
    if (w == 0 || h == 0 || bm.pixels.size() != w * h)
        throw std::invalid_argument("Notes bitmap: pixel count does not match its size");
    if (bm.bitsPerPixel != 1 && bm.bitsPerPixel != 8 && bm.bitsPerPixel != 16)
        throw std::invalid_argument("Notes bitmap: 1, 8 or 16 bits per pixel");
    if (bm.bitsPerPixel == 8 && (bm.palette.empty() || bm.palette.size() > 256))
        throw std::invalid_argument("Notes bitmap: 8 bpp needs a palette of 1 to 256 colours");
    const std::size_t pelSize = bm.bitsPerPixel == 16 ? 2 : 1;
    const std::size_t lineBytes = (w * bm.bitsPerPixel + 7) / 8;

    std::vector<Bytes> lines;
    for (std::size_t y = 0; y < h; ++y) {
        Bytes line(lineBytes, 0);
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint16_t px = bm.pixels[y * w + x];
            if (bm.bitsPerPixel == 1) {
                if (px & 1)
                    line[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            } else if (bm.bitsPerPixel == 8) {
                line[x] = static_cast<std::uint8_t>(px);
            } else {
                line[2 * x] = static_cast<std::uint8_t>(px);
                line[2 * x + 1] = static_cast<std::uint8_t>(px >> 8);
            }
        }
        lines.push_back(encodeBitmapScanline(line, pelSize));
    }
    // Group whole scanlines into segments of at most segmentSize compressed bytes.
    std::vector<std::pair<std::uint16_t, Bytes>> segments;
    for (Bytes &line : lines) {
        if (segments.empty() || segments.back().second.size() + line.size() > segmentSize ||
            segments.back().first == 0xFFFF)
            segments.emplace_back(0, Bytes{});
        segments.back().first++;
        segments.back().second.insert(segments.back().second.end(), line.begin(), line.end());
    }

    Graphic g;
    g.destWidth = bm.width;
    g.destHeight = bm.height;
    g.flags = Graphic::kDestSizeIsPixels;
    graphic(g);
    BitmapHeader hdr;
    hdr.destWidth = bm.width;
    hdr.destHeight = bm.height;
    hdr.width = bm.width;
    hdr.height = bm.height;
    hdr.bitsPerPixel = bm.bitsPerPixel;
    hdr.samplesPerPixel = bm.bitsPerPixel == 16 ? 3 : 1;
    hdr.bitsPerSample = bm.bitsPerPixel == 16 ? 5 : bm.bitsPerPixel;
    hdr.segmentCount = checkedWord(segments.size(), "bitmap segment count");
    hdr.colorCount = bm.bitsPerPixel == 8 ? static_cast<std::uint16_t>(bm.palette.size()) : 0;
    hdr.flags = bm.bitsPerPixel == 8 ? 1 : 0;
    bitmapHeader(hdr);
    if (bm.bitsPerPixel == 8)
        colorTable(bm.palette);
    for (const auto &[count, data] : segments)
        bitmapSegment(count, data);
    return *this;
}

CdWriter &CdWriter::preTableBegin(const PreTableBegin &pre) {
    Bytes p;
    ByteWriter w(p);
    w.u32(pre.flags).u8(pre.rows).u8(pre.columns).u32(pre.columnSizingBits1).u32(pre.columnSizingBits2);
    w.u8(pre.viewerType).u8(0).u16(pre.minRowHeight).u16(0).u32(pre.styleColor1).u32(pre.styleColor2);
    writeColor(w, pre.innerBorderColor);
    w.u16(checkedWord(pre.name.size(), "table name")).u16(0).u16(0).str(pre.name);
    return record(sig::kPreTableBegin, p);
}

CdWriter &CdWriter::tableBegin(const TableBegin &t, bool nested) {
    Bytes p;
    ByteWriter(p)
        .u16(t.leftMargin)
        .u16(t.horizInterCellSpace)
        .u16(t.vertInterCellSpace)
        .u16(t.v4HorizInterCellSpace)
        .u16(t.v4VertInterCellSpace)
        .u16(t.flags);
    return record(nested ? sig::kNestedTableBegin : sig::kTableBegin, p);
}

CdWriter &CdWriter::tableCell(const TableCell &c, bool nested) {
    Bytes p;
    ByteWriter(p)
        .u8(c.row)
        .u8(c.column)
        .u16(c.leftMargin)
        .u16(c.rightMargin)
        .u16(c.fractionalWidth)
        .u8(c.border)
        .u8(c.flags)
        .u16(c.v42Border)
        .u8(c.rowSpan)
        .u8(c.columnSpan)
        .u16(c.backgroundColor);
    return record(nested ? sig::kNestedTableCell : sig::kTableCell, p);
}

CdWriter &CdWriter::tableEnd(bool nested) {
    Bytes p;
    ByteWriter(p).u32(0);
    return record(nested ? sig::kNestedTableEnd : sig::kTableEnd, p);
}

CdWriter &CdWriter::borderInfo(const BorderInfo &b) {
    Bytes p;
    ByteWriter w(p);
    w.u32(b.flags).u16(b.borderStyle).u16(b.widthTop).u16(b.widthLeft).u16(b.widthBottom).u16(b.widthRight);
    w.u32(0).u16(b.borderFlags).u16(b.dropShadowWidth);
    for (std::uint16_t v : b.inner)
        w.u16(v);
    for (std::uint16_t v : b.outer)
        w.u16(v);
    writeColor(w, b.color);
    w.zeros(10);
    return record(sig::kBorderInfo, p);
}

static Bytes linkStrings(std::string_view comment, std::string_view serverHint,
                         std::optional<std::string_view> anchor) {
    Bytes out = nulTerminated(comment);
    Bytes server = nulTerminated(serverHint);
    out.insert(out.end(), server.begin(), server.end());
    if (anchor) {
        Bytes a = nulTerminated(*anchor);
        out.insert(out.end(), a.begin(), a.end());
    }
    return out;
}

CdWriter &CdWriter::link2(std::uint16_t linkId, std::string_view comment, std::string_view serverHint,
                          std::optional<std::string_view> anchor) {
    Bytes p;
    ByteWriter(p).u16(linkId).bytes(linkStrings(comment, serverHint, anchor));
    return record(sig::kLink2, p);
}

CdWriter &CdWriter::linkExport2(const NoteLink &link, std::string_view comment, std::string_view serverHint,
                                std::optional<std::string_view> anchor) {
    Bytes p;
    ByteWriter(p).bytes(link.bytes()).bytes(linkStrings(comment, serverHint, anchor));
    return record(sig::kLinkExport2, p);
}

Resource Resource::url(std::string_view url) {
    Resource r;
    r.type = kUrl;
    r.length1 = checkedWord(url.size(), "URL");
    r.data.assign(url.begin(), url.end());
    return r;
}

Resource Resource::namedElement(std::string_view name, std::uint16_t resourceClass, ReplicaId replica) {
    Resource r;
    r.type = kNamedElement;
    r.resourceClass = resourceClass;
    r.length1 = checkedWord(name.size(), "element name");
    r.data = replica.bytes();
    r.data.insert(r.data.end(), name.begin(), name.end());
    return r;
}

CdWriter &CdWriter::resource(const Resource &r, Sig sig) {
    Bytes p;
    ByteWriter w(p);
    w.u32(r.flags).u16(r.type).u16(r.resourceClass).u16(r.length1);
    w.u16(checkedWord(r.serverHint.size(), "server hint")).u16(checkedWord(r.fileHint.size(), "file hint"));
    w.zeros(8).str(r.serverHint).str(r.fileHint).bytes(r.data);
    return record(sig, p);
}

CdWriter &CdWriter::field(const Field &f) {
    Bytes p;
    ByteWriter w(p);
    w.u16(f.flags).u16(f.dataType).u16(f.listDelim);
    w.u8(f.numberFormat.digits)
        .u8(f.numberFormat.format)
        .u8(f.numberFormat.attributes)
        .u8(f.numberFormat.unused);
    w.u8(f.timeFormat.date).u8(f.timeFormat.time).u8(f.timeFormat.zone).u8(f.timeFormat.structure);
    writeFont(w, f.font);
    w.u16(checkedWord(f.defaultValueFormula.size(), "formula"))
        .u16(checkedWord(f.inputTranslationFormula.size(), "formula"))
        .u16(f.tabOrder)
        .u16(checkedWord(f.inputValidationFormula.size(), "formula"))
        .u16(checkedWord(f.name.size(), "field name"))
        .u16(checkedWord(f.description.size(), "field description"))
        .u16(checkedWord(f.keywords.size(), "keyword list"));
    w.bytes(f.defaultValueFormula).bytes(f.inputTranslationFormula).bytes(f.inputValidationFormula);
    w.str(f.name).str(f.description).bytes(f.keywords);
    return record(sig::kField, p);
}

CdWriter &CdWriter::fileHeader(std::string_view extension, std::uint32_t fileSize,
                               std::uint32_t segmentCount) {
    Bytes p;
    ByteWriter(p)
        .u16(checkedWord(extension.size(), "extension"))
        .u32(fileSize)
        .u32(segmentCount)
        .u32(0)
        .u32(0)
        .str(extension);
    return record(sig::kFileHeader, p);
}

CdWriter &CdWriter::fileSegment(std::span<const std::uint8_t> data) {
    const std::uint16_t dataSize = checkedWord(data.size(), "file segment");
    const std::uint16_t segSize = checkedWord(data.size() + data.size() % 2, "file segment");
    Bytes p;
    ByteWriter(p).u16(dataSize).u16(segSize).u32(0).u32(0).bytes(data).zeros(segSize - dataSize);
    return record(sig::kFileSegment, p);
}

Bytes compositeValue(std::span<const std::uint8_t> records) {
    Bytes out;
    ByteWriter(out).u16(0x0001).bytes(records);
    return out;
}

std::vector<CdRecordBounds> cdRecords(std::span<const std::uint8_t> records) {
    std::vector<CdRecordBounds> out;
    std::size_t off = 0;
    while (off < records.size()) {
        if (records.size() - off < 2)
            throw std::invalid_argument("truncated record header");
        const std::uint16_t word = static_cast<std::uint16_t>(records[off] | records[off + 1] << 8);
        std::uint32_t length;
        if ((word & 0xFF00) == 0xFF00) {
            if (records.size() - off < 4)
                throw std::invalid_argument("truncated WSIG header");
            length = static_cast<std::uint32_t>(records[off + 2] | records[off + 3] << 8);
        } else if ((word & 0xFF00) == 0) {
            if (records.size() - off < 6)
                throw std::invalid_argument("truncated LSIG header");
            length = static_cast<std::uint32_t>(records[off + 2]) |
                     static_cast<std::uint32_t>(records[off + 3]) << 8 |
                     static_cast<std::uint32_t>(records[off + 4]) << 16 |
                     static_cast<std::uint32_t>(records[off + 5]) << 24;
        } else {
            length = word >> 8;
        }
        if (length < 2 || length > records.size() - off)
            throw std::invalid_argument("record length out of range");
        out.push_back({off, word, length});
        off += length + (length % 2);
    }
    return out;
}

std::vector<Bytes> splitRichText(std::span<const std::uint8_t> records, std::size_t maxValueSize) {
    if (maxValueSize < 4)
        throw std::invalid_argument("item size limit too small");
    const std::size_t limit = maxValueSize - 2;
    std::vector<Bytes> pieces;
    std::size_t pieceStart = 0;
    std::size_t pieceEnd = 0;
    for (const CdRecordBounds &r : cdRecords(records)) {
        const std::size_t end = std::min(records.size(), r.offset + r.length + r.length % 2);
        if (end - r.offset > limit)
            throw std::length_error("one record is larger than an item");
        if (end - pieceStart > limit) {
            pieces.emplace_back(records.begin() + pieceStart, records.begin() + pieceEnd);
            pieceStart = r.offset;
        }
        pieceEnd = end;
    }
    if (pieceEnd > pieceStart)
        pieces.emplace_back(records.begin() + pieceStart, records.begin() + pieceEnd);
    return pieces;
}

} // namespace tessel::kit
