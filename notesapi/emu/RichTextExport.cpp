#include "RichTextExport.h"

#include "Composite.h"
#include "DxlValues.h"
#include "DxlWriter.h"
#include "Ods.h"

#include <cstdio>
#include <string_view>
#include <vector>

namespace notesemu {
namespace {

constexpr std::string_view kColorNames[16] = {"black", "white",  "red",  "lime",  "blue", "fuchsia",
                                              "yellow", "aqua",  "maroon", "green", "navy", "purple",
                                              "olive", "teal",   "gray", "silver"};

std::string inches(WORD twips) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4fin", twips / 1440.0);
    return buffer;
}

class Writer {
public:
    bool record(const CdRecord &record) {
        const std::uint8_t *data = record.data;
        const std::size_t length = record.length;
        switch (record.type) {
        case SIG_CD_PABDEFINITION: {
            if (length < odsSize<CDPABDEFINITION>())
                return false;
            const auto pab = fromOds<CDPABDEFINITION>(data);
            closeParagraph();
            out_ += "\n<pardef id='" + std::to_string(pab.PABID) + "'";
            static constexpr std::string_view kAlign[] = {"left", "right", "full", "center", "none"};
            if (pab.JustifyMode != JUSTIFY_LEFT && pab.JustifyMode < 5)
                out_ += " align='" + std::string(kAlign[pab.JustifyMode]) + "'";
            if (pab.LeftMargin != ONEINCH)
                out_ += " leftmargin='" + inches(pab.LeftMargin) + "'";
            if (pab.FirstLineLeftMargin != pab.LeftMargin)
                out_ += " firstlineleftmargin='" + inches(pab.FirstLineLeftMargin) + "'";
            if (pab.RightMargin != 0)
                out_ += " rightmargin='" + inches(pab.RightMargin) + "'";
            if ((pab.Flags & PABFLAG_BULLET) != 0)
                out_ += " list='bullet'";
            else if ((pab.Flags & PABFLAG_NUMBEREDLIST) != 0)
                out_ += " list='number'";
            out_ += "/>";
            return true;
        }
        case SIG_CD_PARAGRAPH:
            closeParagraph();
            paragraphPending_ = true;
            return true;
        case SIG_CD_PABREFERENCE:
            if (length < odsSize<CDPABREFERENCE>() || !paragraphPending_)
                return false;
            openParagraph(fromOds<CDPABREFERENCE>(data).PABID);
            return true;
        case SIG_CD_TEXT: {
            if (length < odsSize<CDTEXT>() || !ensureParagraph())
                return false;
            const auto text = fromOds<CDTEXT>(data);
            const std::string_view lmbcs(reinterpret_cast<const char *>(data) + 8, length - 8);
            run(text.FontID, lmbcs);
            return true;
        }
        case SIG_CD_V4HOTSPOTBEGIN: {
            if (length < odsSize<CDHOTSPOTBEGIN>() || !ensureParagraph())
                return false;
            const auto begin = fromOds<CDHOTSPOTBEGIN>(data);
            if (begin.Type != HOTSPOTREC_TYPE_HOTLINK || (begin.Flags & HOTSPOTREC_RUNFLAG_INOTES) == 0 ||
                odsSize<CDHOTSPOTBEGIN>() + begin.DataLength > length)
                return false;
            std::string_view url(reinterpret_cast<const char *>(data) + odsSize<CDHOTSPOTBEGIN>(), begin.DataLength);
            if (!url.empty() && url.back() == '\0')
                url.remove_suffix(1);
            out_ += "<urllink href='";
            appendXmlEscaped(out_, lmbcsToText(url), true);
            out_ += "'>";
            ++openLinks_;
            return true;
        }
        case SIG_CD_V4HOTSPOTEND:
            if (openLinks_ == 0)
                return false;
            --openLinks_;
            out_ += "</urllink>";
            return true;
        case SIG_CD_HORIZONTALRULE:
            if (!ensureParagraph())
                return false;
            out_ += "<horizrule/>";
            return true;
        case SIG_CD_GRAPHIC:
            if (!ensureParagraph() || picture_)
                return false;
            picture_ = Picture{};
            return true;
        case SIG_CD_BITMAPHEADER:
        case SIG_CD_COLORTABLE:
        case SIG_CD_PATTERNTABLE:
        case SIG_CD_TRANSPARENTTABLE:
        case SIG_CD_BITMAPSEGMENT:
            return bitmapRecord(record);
        case SIG_CD_IMAGEHEADER: {
            if (!picture_ || picture_->bitmap || length < odsSize<CDIMAGEHEADER>())
                return false;
            const auto header = fromOds<CDIMAGEHEADER>(data);
            if (header.ImageType != 1 && header.ImageType != 2 && header.ImageType != 4)
                return false;
            picture_->header = header;
            picture_->remaining = header.SegCount;
            if (header.SegCount == 0)
                return finishPicture();
            return true;
        }
        case SIG_CD_IMAGESEGMENT: {
            if (!picture_ || !picture_->header || picture_->remaining == 0 || length < odsSize<CDIMAGESEGMENT>())
                return false;
            const auto segment = fromOds<CDIMAGESEGMENT>(data);
            if (odsSize<CDIMAGESEGMENT>() + segment.DataSize > length)
                return false;
            const std::uint8_t *bytes = data + odsSize<CDIMAGESEGMENT>();
            picture_->bytes.insert(picture_->bytes.end(), bytes, bytes + segment.DataSize);
            if (--picture_->remaining == 0)
                return finishPicture();
            return true;
        }
        case SIG_CD_TABLEBEGIN:
            closeParagraph();
            out_ += "\n<table widthtype='fitmargins'>";
            tables_.push_back({0, false});
            return true;
        case SIG_CD_TABLECELL: {
            if (tables_.empty() || length < odsSize<CDTABLECELL>())
                return false;
            closeParagraph();
            const auto cell = fromOds<CDTABLECELL>(data);
            Table &table = tables_.back();
            if (table.cellOpen)
                out_ += "</tablecell>";
            if (!table.rowOpen || cell.Row != table.row) {
                if (table.rowOpen)
                    out_ += "</tablerow>";
                out_ += "\n<tablerow>";
                table.rowOpen = true;
                table.row = cell.Row;
            }
            out_ += "<tablecell";
            if (cell.RowSpan > 1)
                out_ += " rowspan='" + std::to_string(cell.RowSpan) + "'";
            if (cell.ColumnSpan > 1)
                out_ += " columnspan='" + std::to_string(cell.ColumnSpan) + "'";
            if ((cell.Flags & CDTABLECELL_USE_BKGCOLOR) != 0 && cell.BackgroundColor < 16)
                out_ += " bgcolor='" + std::string(kColorNames[cell.BackgroundColor]) + "'";
            out_ += ">";
            table.cellOpen = true;
            return true;
        }
        case SIG_CD_TABLEEND: {
            if (tables_.empty())
                return false;
            closeParagraph();
            const Table table = tables_.back();
            tables_.pop_back();
            if (table.cellOpen)
                out_ += "</tablecell>";
            if (table.rowOpen)
                out_ += "</tablerow>";
            out_ += "</table>";
            return true;
        }
        case SIG_CD_BEGIN:
        case SIG_CD_END: {
            if (length < odsSize<CDBEGINRECORD>())
                return false;
            const auto bracket = fromOds<CDBEGINRECORD>(data);
            if (bracket.Signature != SIG_CD_BAR)
                return false;
            closeParagraph();
            if (record.type == SIG_CD_BEGIN) {
                out_ += "\n<section>";
                ++sections_;
                return true;
            }
            if (sections_ == 0)
                return false;
            --sections_;
            out_ += "</section>";
            return true;
        }
        case SIG_CD_BAR: {
            if (sections_ == 0 || length < odsSize<CDBAR>())
                return false;
            const auto bar = fromOds<CDBAR>(data);
            std::size_t at = odsSize<CDBAR>() + ((bar.Flags & BARREC_HAS_COLOR) != 0 ? 2 : 0);
            if ((bar.Flags & BARREC_ISFORMULA) != 0 || at > length)
                return false;
            std::string_view title(reinterpret_cast<const char *>(data) + at, length - at);
            if (const std::size_t nul = title.find('\0'); nul != std::string_view::npos)
                title = title.substr(0, nul);
            out_ += "<sectiontitle>";
            appendXmlEscaped(out_, lmbcsToText(title), false);
            out_ += "</sectiontitle>";
            return true;
        }
        default:
            return false;
        }
    }

    std::optional<std::string> finish() {
        closeParagraph();
        if (openLinks_ != 0 || picture_ || !tables_.empty() || sections_ != 0)
            return std::nullopt;
        return "<richtext>" + out_ + "</richtext>";
    }

private:
    struct Picture {
        std::optional<CDIMAGEHEADER> header;
        DWORD remaining = 0;
        std::vector<std::uint8_t> bytes;
        std::optional<CDBITMAPHEADER> bitmap; // a Notes bitmap: its records are kept whole
    };

    // A Notes bitmap is written as <notesbitmap>, the base64 of its records (header, tables,
    // segments), as the exporter does unless asked to convert bitmaps to GIF.
    bool bitmapRecord(const CdRecord &record) {
        if (!picture_ || picture_->header)
            return false;
        if (record.type == SIG_CD_BITMAPHEADER) {
            if (picture_->bitmap || record.length < odsSize<CDBITMAPHEADER>())
                return false;
            picture_->bitmap = fromOds<CDBITMAPHEADER>(record.data);
            picture_->remaining = picture_->bitmap->SegmentCount;
        } else if (!picture_->bitmap || (record.type == SIG_CD_BITMAPSEGMENT && picture_->remaining == 0)) {
            return false;
        }
        picture_->bytes.insert(picture_->bytes.end(), record.data, record.data + record.length);
        if (record.length % 2 != 0)
            picture_->bytes.push_back(0);
        if (record.type == SIG_CD_BITMAPSEGMENT && --picture_->remaining == 0) {
            out_ += "<picture width='" + std::to_string(picture_->bitmap->Dest.width) + "px' height='" +
                    std::to_string(picture_->bitmap->Dest.height) + "px'><notesbitmap>" +
                    base64Encode(picture_->bytes) + "</notesbitmap></picture>";
            picture_.reset();
        }
        return true;
    }
    struct Table {
        BYTE row = 0;
        bool rowOpen = false, cellOpen = false;
    };

    bool ensureParagraph() {
        if (paragraphPending_)
            return false; // a paragraph without its definition reference
        if (!inParagraph_) {
            out_ += "\n<par>";
            inParagraph_ = true;
        }
        return true;
    }

    void openParagraph(WORD def) {
        paragraphPending_ = false;
        out_ += "\n<par def='" + std::to_string(def) + "'>";
        inParagraph_ = true;
    }

    void closeParagraph() {
        if (paragraphPending_) {
            out_ += "\n<par/>";
            paragraphPending_ = false;
        }
        if (inParagraph_)
            out_ += "</par>";
        inParagraph_ = false;
    }

    void run(FONTID font, std::string_view lmbcs) {
        const BYTE face = font & 0xFF, attrib = font >> 8 & 0xFF, color = font >> 16 & 0xFF, size = font >> 24;
        const bool plain = face == FONT_FACE_SWISS && attrib == 0 && color == 0 && size == 10;
        if (!plain) {
            out_ += "<run><font";
            if (size != 10)
                out_ += " size='" + std::to_string(size) + "pt'";
            std::string style;
            const std::pair<BYTE, std::string_view> styles[] = {
                {ISBOLD, "bold"}, {ISITALIC, "italic"}, {ISUNDERLINE, "underline"},
                {ISSTRIKEOUT, "strikethrough"}, {ISSUPER, "superscript"}, {ISSUB, "subscript"}};
            for (const auto &[bit, name] : styles) {
                if ((attrib & bit) != 0)
                    style += (style.empty() ? "" : " ") + std::string(name);
            }
            if (!style.empty())
                out_ += " style='" + style + "'";
            if (color != 0 && color < 16)
                out_ += " color='" + std::string(kColorNames[color]) + "'";
            if (face == FONT_FACE_ROMAN)
                out_ += " name='serif'";
            else if (face == FONT_FACE_TYPEWRITER)
                out_ += " name='monospace'";
            out_ += "/>";
        }
        const std::string utf8 = lmbcsToText(lmbcs);
        std::size_t start = 0;
        while (true) {
            const std::size_t nul = utf8.find('\0', start);
            appendXmlEscaped(out_, std::string_view(utf8).substr(start, nul - start), false);
            if (nul == std::string::npos)
                break;
            out_ += "<break/>";
            start = nul + 1;
        }
        if (!plain)
            out_ += "</run>";
    }

    bool finishPicture() {
        const CDIMAGEHEADER &header = *picture_->header;
        const char *kind = header.ImageType == 1 ? "gif" : header.ImageType == 2 ? "jpeg" : "png";
        out_ += "<picture width='" + std::to_string(header.Width) + "px' height='" + std::to_string(header.Height) +
                "px'><" + kind + ">" + base64Encode(picture_->bytes) + "</" + kind + "></picture>";
        picture_.reset();
        return true;
    }

    std::string out_;
    bool paragraphPending_ = false;
    bool inParagraph_ = false;
    std::size_t openLinks_ = 0;
    std::size_t sections_ = 0;
    std::optional<Picture> picture_;
    std::vector<Table> tables_;
};

} // namespace

std::optional<std::string> compositeToRichTextXml(std::span<const std::uint8_t> value) {
    Writer writer;
    bool understood = true;
    const STATUS status = walkComposite(value, [&](const CdRecord &record) -> STATUS {
        if (!writer.record(record)) {
            understood = false;
            return ERR_ODS_ENUM_COMPLETE;
        }
        return NOERROR;
    });
    if (!understood || status != NOERROR)
        return std::nullopt;
    return writer.finish();
}

} // namespace notesemu
