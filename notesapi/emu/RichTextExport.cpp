#include "RichTextExport.h"

#include "BitmapGif.h"
#include "ParagraphFlags.h"
#include "Composite.h"
#include "Database.h"
#include "DxlValues.h"
#include "DxlWriter.h"
#include "Log.h"
#include "Ods.h"
#include "RichText.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>
#include <vector>

namespace notesemu {
namespace {

constexpr std::string_view kColorNames[16] = {"black", "white",  "red",  "lime",  "blue", "fuchsia",
                                              "yellow", "aqua",  "maroon", "green", "navy", "purple",
                                              "olive", "teal",   "gray", "silver"};

// Offsets and sizes of records written field by field rather than through a structure: the
// margin tail of CDPABDEFINITION (six WORDs after the 70 fixed bytes), CDPABHIDE (the formula
// after 14 bytes), CDLAYER, CDREGIONBEGIN and CDREGIONEND.
constexpr std::size_t kPabTailSize = 12;
constexpr std::size_t kPabHideSize = 14;

std::string inches(double twips) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4fin", twips / 1440.0);
    return buffer;
}

std::string number(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

WORD wordAt(const std::uint8_t *data, std::size_t offset) {
    return static_cast<WORD>(data[offset] | data[offset + 1] << 8);
}

std::string rgbText(const COLOR_VALUE &color) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", color.Component1, color.Component2, color.Component3);
    return buffer;
}

std::string attribute(std::string_view name, std::string_view value) {
    std::string out = " ";
    out += name;
    out += "='";
    appendXmlEscaped(out, value, true);
    out += "'";
    return out;
}

class Writer {
public:
    explicit Writer(bool bitmapsAsGif) : bitmapsAsGif_(bitmapsAsGif) {}

    bool record(const CdRecord &record) {
        if (record.type != SIG_CD_PABHIDE)
            closePardef();
        if (record.type != SIG_CD_TABLECELL_HREF)
            flushCellBackground();
        if (record.type != SIG_CD_CAPTION)
            captionAt_.reset();
        if (record.type != SIG_CD_TABLECELL_COLOR && cellColor_) {
            if (cellColor_->gradient)
                return false; // a gradient cell without its colours
            cellColor_.reset();
        }
        const std::uint8_t *data = record.data;
        const std::size_t length = record.length;
        switch (record.type) {
        case SIG_CD_PABDEFINITION:
            return pabDefinition(data, length);
        case SIG_CD_PABHIDE:
            return pabHide(data, length);
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
            if (highlight_ && (highlight_->name.empty() || highlight_->written))
                return false; // a highlight bracket holds its colour and then one run
            run(text.FontID, lmbcs, highlight_ ? highlight_->name : std::string_view());
            if (highlight_)
                highlight_->written = true;
            return true;
        }
        case SIG_CD_COLOR:
            return highlightColor(data, length);
        case SIG_CD_CAPTION:
            return caption(data, length);
        case SIG_CD_TABLECELL_COLOR:
            return tableCellColor(data, length);
        case SIG_CD_V4HOTSPOTBEGIN:
        case SIG_CD_HOTSPOTBEGIN:
            return hotspotBegin(record);
        case SIG_CD_V4HOTSPOTEND:
        case SIG_CD_HOTSPOTEND:
            return hotspotEnd(record.type);
        case SIG_CD_BUTTON:
            return buttonRecord(data, length);
        case SIG_CD_LINKEXPORT2:
            return noteLink(data, length);
        case SIG_CD_HORIZONTALRULE:
            if (!ensureParagraph())
                return false;
            out_ += "<horizrule/>";
            return true;
        case SIG_CD_GRAPHIC:
            if (!ensureParagraph() || picture_ || length < odsSize<CDGRAPHIC>())
                return false;
            picture_ = Picture{};
            picture_->graphic = fromOds<CDGRAPHIC>(data);
            return true;
        case SIG_CD_HREF:
            if (!picture_ || picture_->header || picture_->bitmap)
                return false;
            return imageRef(data, length, true);
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
        case SIG_CD_PRETABLEBEGIN:
            if (!inPreTable_ || length < odsSize<CDPRETABLEBEGIN>())
                return false;
            preTable_ = fromOds<CDPRETABLEBEGIN>(data);
            return true;
        case SIG_CD_BORDERINFO:
            if (!inPreTable_ || length < odsSize<CDBORDERINFO>())
                return false;
            border_ = fromOds<CDBORDERINFO>(data);
            return true;
        case SIG_CD_TABLEBEGIN:
        case SIG_CD_NESTEDTABLEBEGIN:
            return tableBegin(data, length, record.type == SIG_CD_NESTEDTABLEBEGIN);
        case SIG_CD_TABLECELL:
        case SIG_CD_NESTEDTABLECELL:
            return tableCell(data, length, record.type == SIG_CD_NESTEDTABLECELL);
        case SIG_CD_TABLEEND:
        case SIG_CD_NESTEDTABLEEND:
            return tableEnd(record.type == SIG_CD_NESTEDTABLEEND);
        case SIG_CD_CELLBACKGROUNDDATA:
            if (tables_.empty() || !tables_.back().cellOpen || inParagraph_ || paragraphPending_ ||
                length < odsSize<CDCELLBACKGROUNDDATA>())
                return false;
            cellRepeat_ = fromOds<CDCELLBACKGROUNDDATA>(data).Repeat;
            return true;
        case SIG_CD_TABLECELL_HREF:
            if (!cellRepeat_)
                return false;
            return imageRef(data, length, false);
        case SIG_CD_BEGIN:
        case SIG_CD_END:
            return bracket(record);
        case SIG_CD_BAR:
            return bar(data, length);
        case SIG_CD_LAYER:
            // The layer record itself follows its CDBEGINRECORD; its fields have no XML form.
            if (layers_ == 0 || !layerPending_)
                return false;
            layerPending_ = false;
            return true;
        case SIG_CD_REGIONBEGIN:
            if (!ensureParagraph())
                return false;
            out_ += "<region>";
            ++regions_;
            return true;
        case SIG_CD_REGIONEND:
            if (regions_ == 0 || !inParagraph_)
                return false;
            --regions_;
            out_ += "</region>";
            return true;
        default:
            return false;
        }
    }

    std::optional<std::string> finish() {
        closePardef();
        flushCellBackground();
        closeParagraph();
        if (!hotspots_.empty() || picture_ || !tables_.empty() || sections_ != 0 || layers_ != 0 ||
            regions_ != 0 || inPreTable_ || highlight_)
            return std::nullopt;
        return "<richtext>" + out_ + "</richtext>";
    }

private:
    struct Picture {
        CDGRAPHIC graphic{};
        std::optional<CDIMAGEHEADER> header;
        DWORD remaining = 0;
        std::vector<std::uint8_t> bytes;
        std::optional<CDBITMAPHEADER> bitmap; // a Notes bitmap: its records are kept whole
    };

    struct Highlight {
        std::string_view name; // yellow, pink or blue once its colour is read
        bool written = false;
    };

    enum class HotspotKind { Url, Button, Action, Computed, File };
    struct Hotspot {
        HotspotKind kind;
        std::string code; // the <code> element of a button, action or computed text
        bool labelled = false;
    };

    struct Table {
        BYTE row = 0;
        bool rowOpen = false, cellOpen = false;
        std::size_t columnsAt = 0;           // where the tablecolumn elements go
        std::map<std::size_t, WORD> edges;   // column index -> left edge in twips
        std::size_t columns = 0;
    };

    // Paragraph definitions, with what the importer reads back: alignment, margins (also as
    // percentages), spacing, tabs, page and keep flags, hide flags, list kind and reading order.
    bool pabDefinition(const std::uint8_t *data, std::size_t length) {
        if (length < odsSize<CDPABDEFINITION>())
            return false;
        const auto pab = fromOds<CDPABDEFINITION>(data);
        closeParagraph();
        out_ += "\n<pardef id='" + std::to_string(pab.PABID) + "'";
        static constexpr std::string_view kAlign[] = {"left", "right", "full", "center", "none"};
        if (pab.JustifyMode != JUSTIFY_LEFT && pab.JustifyMode < 5)
            out_ += " align='" + std::string(kAlign[pab.JustifyMode]) + "'";
        const bool hasTail = length >= odsSize<CDPABDEFINITION>() + kPabTailSize;
        auto margin = [&](const char *name, WORD twips, WORD percentFlag, std::size_t slot, bool show) {
            if (hasTail && (pab.Flags2 & percentFlag) != 0)
                out_ += attribute(name, std::to_string(wordAt(data, odsSize<CDPABDEFINITION>() + 2 * slot + 2)) + "%");
            else if (show)
                out_ += attribute(name, inches(twips));
        };
        margin("leftmargin", pab.LeftMargin, PABFLAG2_LM_PERCENT, 0, pab.LeftMargin != ONEINCH);
        margin("firstlineleftmargin", pab.FirstLineLeftMargin, PABFLAG2_FLLM_PERCENT, 2,
               pab.FirstLineLeftMargin != pab.LeftMargin);
        margin("rightmargin", pab.RightMargin, PABFLAG2_RM_PERCENT, 4, pab.RightMargin != 0);
        const std::pair<const char *, WORD> spacings[] = {{"linespacing", pab.LineSpacing},
                                                          {"spacebefore", pab.ParagraphSpacingBefore},
                                                          {"spaceafter", pab.ParagraphSpacingAfter}};
        for (const auto &[name, value] : spacings) {
            if (value != 0)
                out_ += attribute(name, number(1 + value / 2.0));
        }
        std::string tabs;
        for (WORD i = 0; i < pab.Tabs && i < MAXTABS; ++i) {
            static constexpr char kKinds[] = {'L', 'R', 'D', 'C'};
            const DWORD kind = pab.TabTypes >> (2 * i) & 3;
            const int position = pab.Tab[i] < 0 ? -pab.Tab[i] : pab.Tab[i];
            tabs += (tabs.empty() ? "" : " ") + std::string(1, kKinds[kind]) + inches(position);
        }
        if (!tabs.empty())
            out_ += attribute("tabs", tabs);
        const std::pair<const char *, WORD> keeps[] = {{"newpage", PABFLAG_PAGINATE_BEFORE},
                                                       {"keepwithnext", PABFLAG_KEEP_WITH_NEXT},
                                                       {"keeptogether", PABFLAG_KEEP_TOGETHER}};
        for (const auto &[name, flag] : keeps) {
            if ((pab.Flags & flag) != 0)
                out_ += attribute(name, "true");
        }
        std::string hide;
        for (const HideToken &token : kHideTokens) {
            if ((pab.Flags & token.flags) != 0 || (pab.Flags2 & token.flags2) != 0)
                hide += (hide.empty() ? "" : " ") + std::string(token.name);
        }
        if (!hide.empty())
            out_ += attribute("hide", hide);
        for (const ListKind &kind : kListKinds) {
            if ((pab.Flags & (PABFLAG_BULLET | PABFLAG_NUMBEREDLIST)) == kind.flags &&
                (pab.Flags2 & kListKindBits2) == kind.flags2)
                out_ += attribute("list", kind.name);
        }
        if ((pab.Flags2 & PABFLAG2_BIDI_RTLREADING) != 0)
            out_ += attribute("readingorder", "righttoleft");
        pardefOpen_ = pab.PABID;
        return true;
    }

    // A hide-when formula belongs to the definition just written: it becomes its code element.
    bool pabHide(const std::uint8_t *data, std::size_t length) {
        if (!pardefOpen_ || length < kPabHideSize || wordAt(data, 4) != *pardefOpen_)
            return false;
        std::string_view formula(reinterpret_cast<const char *>(data) + kPabHideSize, length - kPabHideSize);
        if (const std::size_t nul = formula.find('\0'); nul != std::string_view::npos)
            formula = formula.substr(0, nul);
        out_ += "><code event='hidewhen'><formula>";
        appendXmlEscaped(out_, lmbcsToText(formula), false);
        out_ += "</formula></code></pardef>";
        pardefOpen_.reset();
        return true;
    }

    void closePardef() {
        if (pardefOpen_)
            out_ += "/>";
        pardefOpen_.reset();
    }

    static std::string codeElement(const char *event, DWORD flags, std::string_view source) {
        if (!source.empty() && source.back() == '\0')
            source.remove_suffix(1);
        if (source.empty())
            return {};
        const char *kind = (flags & HOTSPOTREC_RUNFLAG_SCRIPT) != 0 ? "lotusscript" : "formula";
        std::string out = std::string("<code event='") + event + "'><" + kind + ">";
        appendXmlEscaped(out, lmbcsToText(source), false);
        out += std::string("</") + kind + "></code>";
        return out;
    }

    bool hotspotBegin(const CdRecord &record) {
        const std::size_t length = record.length;
        if (length < odsSize<CDHOTSPOTBEGIN>() || !ensureParagraph())
            return false;
        const auto begin = fromOds<CDHOTSPOTBEGIN>(record.data);
        if (odsSize<CDHOTSPOTBEGIN>() + begin.DataLength > length)
            return false;
        std::string_view payload(reinterpret_cast<const char *>(record.data) + odsSize<CDHOTSPOTBEGIN>(),
                                 begin.DataLength);
        if (record.type == SIG_CD_HOTSPOTBEGIN) {
            // A file attachment icon: the $FILE object's name, then the name shown.
            if (begin.Type != HOTSPOTREC_TYPE_FILE)
                return false;
            const std::size_t nul = payload.find('\0');
            const std::string_view name = payload.substr(0, nul);
            std::string_view display = nul == std::string_view::npos ? name : payload.substr(nul + 1);
            display = display.substr(0, display.find('\0'));
            out_ += "<attachmentref" + attribute("name", lmbcsToText(name)) +
                    attribute("displayname", lmbcsToText(display)) + ">";
            hotspots_.push_back({HotspotKind::File, {}});
            return true;
        }
        switch (begin.Type) {
        case HOTSPOTREC_TYPE_HOTLINK: {
            if ((begin.Flags & HOTSPOTREC_RUNFLAG_INOTES) == 0)
                return false;
            std::string_view url = payload;
            if (!url.empty() && url.back() == '\0')
                url.remove_suffix(1);
            out_ += "<urllink" + attribute("href", lmbcsToText(url)) + ">";
            hotspots_.push_back({HotspotKind::Url, {}});
            return true;
        }
        case HOTSPOTREC_TYPE_BUTTON:
            hotspots_.push_back({HotspotKind::Button, codeElement("click", begin.Flags, payload)});
            return true;
        case HOTSPOTREC_TYPE_HOTREGION:
            if ((begin.Flags & HOTSPOTREC_RUNFLAG_COMPUTED) != 0) {
                out_ += "<computedtext>" + codeElement("value", begin.Flags, payload);
                hotspots_.push_back({HotspotKind::Computed, {}});
            } else {
                out_ += "<actionhotspot>" + codeElement("click", begin.Flags, payload);
                hotspots_.push_back({HotspotKind::Action, {}});
            }
            return true;
        default:
            return false;
        }
    }

    bool hotspotEnd(WORD type) {
        if (hotspots_.empty() || picture_)
            return false;
        const Hotspot hotspot = hotspots_.back();
        if ((type == SIG_CD_HOTSPOTEND) != (hotspot.kind == HotspotKind::File))
            return false;
        hotspots_.pop_back();
        switch (hotspot.kind) {
        case HotspotKind::Url:
            out_ += "</urllink>";
            return true;
        case HotspotKind::Button:
            return hotspot.labelled; // the button was written with its label
        case HotspotKind::Action:
            out_ += "</actionhotspot>";
            return true;
        case HotspotKind::Computed:
            out_ += "</computedtext>";
            return true;
        case HotspotKind::File:
            out_ += "</attachmentref>";
            return true;
        }
        return false;
    }

    // The label record of a button hotspot: the whole button element, its click code and label;
    // a label font other than the plain one is given by a run around the button.
    bool buttonRecord(const std::uint8_t *data, std::size_t length) {
        if (hotspots_.empty() || hotspots_.back().kind != HotspotKind::Button || hotspots_.back().labelled ||
            length < odsSize<CDBUTTON>())
            return false;
        const auto button = fromOds<CDBUTTON>(data);
        const std::string_view label(reinterpret_cast<const char *>(data) + odsSize<CDBUTTON>(),
                                     length - odsSize<CDBUTTON>());
        const bool plain = button.FontID == kPlainFont;
        if (!plain)
            out_ += "<run>" + fontElement(button.FontID);
        out_ += "<button";
        if (button.Width != 0)
            out_ += attribute("width", inches(button.Width));
        if (button.Lines != 1)
            out_ += attribute("maxlines", std::to_string(button.Lines));
        out_ += ">" + hotspots_.back().code;
        appendXmlEscaped(out_, lmbcsToText(label.substr(0, label.find('\0'))), false);
        out_ += "</button>";
        if (!plain)
            out_ += "</run>";
        hotspots_.back().labelled = true;
        return true;
    }

    // CDLINKEXPORT2: a link to a document, a view or a database, by the parts of the target
    // that are set; the comment, server hint and anchor follow as NUL-terminated strings.
    bool noteLink(const std::uint8_t *data, std::size_t length) {
        if (length < odsSize<CDLINKEXPORT2>() || !ensureParagraph())
            return false;
        const auto link = fromOds<CDLINKEXPORT2>(data);
        std::string_view rest(reinterpret_cast<const char *>(data) + odsSize<CDLINKEXPORT2>(),
                              length - odsSize<CDLINKEXPORT2>());
        std::vector<std::string_view> strings;
        while (!rest.empty() && strings.size() < 3) {
            const std::size_t nul = rest.find('\0');
            if (nul == std::string_view::npos)
                return false; // a string without its terminator
            strings.push_back(rest.substr(0, nul));
            rest.remove_prefix(nul + 1);
        }
        const auto zero = [](const UNID &unid) {
            return unid.File.Innards[0] == 0 && unid.File.Innards[1] == 0 && unid.Note.Innards[0] == 0 &&
                   unid.Note.Innards[1] == 0;
        };
        const char *kind = !zero(link.NoteLink.Note)   ? "doclink"
                           : !zero(link.NoteLink.View) ? "viewlink"
                                                       : "databaselink";
        out_ += std::string("<") + kind + attribute("database", timedateHex(link.NoteLink.File));
        if (!zero(link.NoteLink.View))
            out_ += attribute("view", unidText(link.NoteLink.View));
        if (!zero(link.NoteLink.Note))
            out_ += attribute("document", unidText(link.NoteLink.Note));
        static constexpr const char *kNames[] = {"description", "server", "anchor"};
        for (std::size_t i = 0; i < strings.size(); ++i) {
            if (!strings[i].empty() || i == 2)
                out_ += attribute(kNames[i], lmbcsToText(strings[i]));
        }
        out_ += "/>";
        return true;
    }

    // A resource naming a shared image: the picture's imageref (after a CDGRAPHIC) or a cell
    // background's.
    bool imageRef(const std::uint8_t *data, std::size_t length, bool inPicture) {
        if (length < odsSize<CDRESOURCE>())
            return false;
        const auto resource = fromOds<CDRESOURCE>(data);
        const std::size_t need = odsSize<CDRESOURCE>() + resource.ServerHintLength + resource.FileHintLength + 8 +
                                 resource.Length1;
        if (resource.Type != CDRESOURCE_TYPE_NAMEDELEMENT || (resource.Flags & CDRESOURCE_FLAGS_FORMULA) != 0 ||
            need > length)
            return false;
        const char *at = reinterpret_cast<const char *>(data) + odsSize<CDRESOURCE>();
        const std::string_view server(at, resource.ServerHintLength);
        const std::string_view file(at + server.size(), resource.FileHintLength);
        TIMEDATE replica{};
        const auto *replicaAt = reinterpret_cast<const std::uint8_t *>(at + server.size() + file.size());
        replica.Innards[0] = static_cast<DWORD>(wordAt(replicaAt, 0)) | static_cast<DWORD>(wordAt(replicaAt, 2)) << 16;
        replica.Innards[1] = static_cast<DWORD>(wordAt(replicaAt, 4)) | static_cast<DWORD>(wordAt(replicaAt, 6)) << 16;
        const std::string_view name(at + server.size() + file.size() + 8, resource.Length1);
        std::string element = "<imageref" + attribute("name", lmbcsToText(name));
        if (replica.Innards[0] != 0 || replica.Innards[1] != 0)
            element += attribute("database", timedateHex(replica));
        if (!server.empty())
            element += attribute("serverhint", lmbcsToText(server));
        if (!file.empty())
            element += attribute("filehint", lmbcsToText(file));
        element += "/>";
        if (inPicture) {
            out_ += "<picture";
            if (picture_->graphic.DestSize.width != 0)
                out_ += attribute("width", std::to_string(picture_->graphic.DestSize.width / 15) + "px");
            if (picture_->graphic.DestSize.height != 0)
                out_ += attribute("height", std::to_string(picture_->graphic.DestSize.height / 15) + "px");
            out_ += ">" + element + "</picture>";
            pictureClosed();
            picture_.reset();
        } else {
            out_ += cellBackgroundStart() + ">" + element + "</cellbackground>";
            cellRepeat_.reset();
        }
        return true;
    }

    std::string cellBackgroundStart() const {
        static constexpr std::string_view kRepeats[] = {"", "once", "vrepeat", "hrepeat", "tile", "resize", "center"};
        std::string out = "<cellbackground";
        if (*cellRepeat_ < std::size(kRepeats) && *cellRepeat_ != 0)
            out += attribute("repeat", kRepeats[*cellRepeat_]);
        return out;
    }

    void flushCellBackground() {
        if (cellRepeat_)
            out_ += cellBackgroundStart() + "/>";
        cellRepeat_.reset();
    }

    bool bracket(const CdRecord &record) {
        if (record.length < odsSize<CDBEGINRECORD>())
            return false;
        const auto bracket = fromOds<CDBEGINRECORD>(record.data);
        const bool begin = record.type == SIG_CD_BEGIN;
        switch (bracket.Signature) {
        case SIG_CD_BAR:
            closeParagraph();
            if (begin) {
                out_ += "\n<section>";
                ++sections_;
                return true;
            }
            if (sections_ == 0)
                return false;
            --sections_;
            out_ += "</section>";
            return true;
        case SIG_CD_PRETABLEBEGIN:
            // The pre-table block opens once before a table and must hold its CDPRETABLEBEGIN.
            if (begin) {
                if (inPreTable_ || preTable_)
                    return false;
                inPreTable_ = true;
                return true;
            }
            if (!inPreTable_ || !preTable_)
                return false;
            inPreTable_ = false;
            return true;
        case SIG_CD_LAYER:
            closeParagraph();
            if (begin) {
                out_ += "\n<layer>";
                ++layers_;
                layerPending_ = true;
                return true;
            }
            if (layers_ == 0 || layerPending_)
                return false;
            --layers_;
            out_ += "</layer>";
            return true;
        case SIG_CD_TEXT:
            // A highlighted run: CDBEGINRECORD, its CDCOLOR, the text, CDENDRECORD.
            if (begin) {
                if (highlight_ || !ensureParagraph())
                    return false;
                highlight_ = Highlight{};
                return true;
            }
            if (!highlight_ || !highlight_->written)
                return false;
            highlight_.reset();
            return true;
        default:
            return false;
        }
    }

    // The colour of a highlight: the application flag names it.
    bool highlightColor(const std::uint8_t *data, std::size_t length) {
        if (!highlight_ || !highlight_->name.empty() || length < 8)
            return false;
        const WORD flags = wordAt(data, 2);
        const WORD kind = flags & (COLOR_VALUE_FLAGS_RESERVED1 | COLOR_VALUE_FLAGS_RESERVED2 | COLOR_VALUE_FLAGS_RESERVED3);
        highlight_->name = kind == COLOR_VALUE_FLAGS_RESERVED1   ? "yellow"
                           : kind == COLOR_VALUE_FLAGS_RESERVED2 ? "pink"
                           : kind == COLOR_VALUE_FLAGS_RESERVED3 ? "blue"
                                                                 : "";
        return !highlight_->name.empty();
    }

    bool bar(const std::uint8_t *data, std::size_t length) {
        if (sections_ == 0 || length < odsSize<CDBAR>())
            return false;
        const auto bar = fromOds<CDBAR>(data);
        const std::size_t at = odsSize<CDBAR>() + ((bar.Flags & BARREC_HAS_COLOR) != 0 ? 2 : 0);
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

    // Tables. The column widths come from the cells' edges, so the tablecolumn elements are put
    // in when the table ends.
    bool tableBegin(const std::uint8_t *data, std::size_t length, bool nested) {
        if (length < odsSize<CDTABLEBEGIN>() || nested != !tables_.empty() || inPreTable_)
            return false;
        const auto begin = fromOds<CDTABLEBEGIN>(data);
        closeParagraph();
        const bool fit = (begin.Flags & CDTABLE_AUTO_CELL_WIDTH) != 0;
        out_ += "\n<table widthtype='" + std::string(fit ? "fitmargins" : "fixedleft") + "'";
        if (begin.LeftMargin != ONEINCH)
            out_ += attribute("leftmargin", inches(begin.LeftMargin));
        if (preTable_ && preTable_->MinRowHeight != 0)
            out_ += attribute("minrowheight", inches(preTable_->MinRowHeight));
        out_ += ">";
        if (border_)
            out_ += borderElement(*border_);
        Table table;
        table.columnsAt = out_.size();
        table.columns = preTable_ ? preTable_->Columns : 0;
        tables_.push_back(table);
        preTable_.reset();
        border_.reset();
        return true;
    }

    static std::string borderElement(const CDBORDERINFO &border) {
        static constexpr std::string_view kStyles[] = {"none",   "solid",  "double", "inset",  "outset", "ridge",
                                                       "groove", "dotted", "dashed", "picture", "graphic"};
        std::string out = "<border";
        if (border.BorderStyle < std::size(kStyles))
            out += attribute("style", kStyles[border.BorderStyle]);
        const WORD widths[] = {border.BorderWidthTop, border.BorderWidthRight, border.BorderWidthBottom,
                               border.BorderWidthLeft};
        std::string width = std::to_string(widths[0]) + "px";
        if (!std::all_of(std::begin(widths), std::end(widths), [&](WORD w) { return w == widths[0]; })) {
            for (int i = 1; i < 4; ++i)
                width += " " + std::to_string(widths[i]) + "px";
        }
        out += attribute("width", width);
        if ((border.Color.Flags & COLOR_VALUE_FLAGS_ISRGB) != 0)
            out += attribute("color", rgbText(border.Color));
        if ((border.BorderFlags & CDBORDER_FLAGS_DROP_SHADOW) != 0)
            out += attribute("dropshadow", "true") +
                   attribute("dropshadowwidth", std::to_string(border.DropShadowWidth) + "px");
        return out + "/>";
    }

    bool tableCell(const std::uint8_t *data, std::size_t length, bool nested) {
        if (tables_.empty() || nested != (tables_.size() > 1) || length < odsSize<CDTABLECELL>())
            return false;
        closeParagraph();
        const auto cell = fromOds<CDTABLECELL>(data);
        // Cell flags and borders the XML has no attribute for keep the item as item data.
        constexpr BYTE kExpressed = CDTABLECELL_USE_BKGCOLOR | CDTABLECELL_VALIGNCENTER | CDTABLECELL_VALIGNBOTTOM |
                                    CDTABLECELL_USE_GRADIENT | CDTABLECELL_GRADIENT_LTR;
        if ((cell.Flags & ~kExpressed) != 0 || cell.v42Border != 0 || (cell.Border != 0 && cell.Border != 0x55) ||
            ((cell.Flags & CDTABLECELL_GRADIENT_LTR) != 0 && (cell.Flags & CDTABLECELL_USE_GRADIENT) == 0))
            return false;
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
        table.edges.emplace(cell.Column, cell.LeftMargin);
        table.edges.emplace(static_cast<std::size_t>(cell.Column) + cell.ColumnSpan, cell.RightMargin);
        table.columns = std::max<std::size_t>(table.columns, static_cast<std::size_t>(cell.Column) + cell.ColumnSpan);
        out_ += "<tablecell";
        if (cell.RowSpan > 1)
            out_ += " rowspan='" + std::to_string(cell.RowSpan) + "'";
        if (cell.ColumnSpan > 1)
            out_ += " columnspan='" + std::to_string(cell.ColumnSpan) + "'";
        const std::size_t colorAt = out_.size();
        if ((cell.Flags & CDTABLECELL_USE_BKGCOLOR) != 0 && cell.BackgroundColor < 16)
            out_ += " bgcolor='" + std::string(kColorNames[cell.BackgroundColor]) + "'";
        cellColor_ = CellColor{colorAt, out_.size() - colorAt, cell.Flags, cell.BackgroundColor,
                               (cell.Flags & CDTABLECELL_USE_GRADIENT) != 0};
        if ((cell.Flags & CDTABLECELL_VALIGNCENTER) != 0)
            out_ += " valign='center'";
        else if ((cell.Flags & CDTABLECELL_VALIGNBOTTOM) != 0)
            out_ += " valign='bottom'";
        if (cell.Border == 0)
            out_ += " borderwidth='0px'";
        out_ += ">";
        table.cellOpen = true;
        return true;
    }

    bool tableEnd(bool nested) {
        if (tables_.empty() || nested != (tables_.size() > 1))
            return false;
        closeParagraph();
        const Table table = tables_.back();
        tables_.pop_back();
        if (table.cellOpen)
            out_ += "</tablecell>";
        if (table.rowOpen)
            out_ += "</tablerow>";
        out_ += "</table>";
        std::string columns;
        for (std::size_t c = 0; c < table.columns; ++c) {
            const auto left = table.edges.find(c), right = table.edges.find(c + 1);
            columns += "<tablecolumn";
            if (left != table.edges.end() && right != table.edges.end() && right->second > left->second)
                columns += attribute("width", inches(right->second - left->second));
            columns += "/>";
        }
        out_.insert(table.columnsAt, columns);
        return true;
    }

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
                    std::to_string(picture_->bitmap->Dest.height) + "px'>";
            GifConversion gif;
            if (bitmapsAsGif_) {
                gif = notesBitmapToGif(picture_->bytes);
                if (gif.gif.empty())
                    logf("DXL export: a Notes bitmap is written as notesbitmap, not GIF: %s", gif.problem.c_str());
            }
            if (!gif.gif.empty())
                out_ += "<gif originalformat='notesbitmap'>" + base64Encode(gif.gif) + "</gif></picture>";
            else
                out_ += "<notesbitmap>" + base64Encode(picture_->bytes) + "</notesbitmap></picture>";
            pictureClosed();
            picture_.reset();
        }
        return true;
    }

    // Inline records belong to a paragraph begun by CDPARAGRAPH and CDPABREFERENCE. Records
    // outside any (a picture item's records, say) have no XML form: a <par> around them would
    // read back with paragraph records the item never had.
    bool ensureParagraph() const { return inParagraph_ && !paragraphPending_; }

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

    static constexpr FONTID kPlainFont = static_cast<FONTID>(FONT_FACE_SWISS) | static_cast<FONTID>(10) << 24;

    static std::string fontElement(FONTID font) {
        const BYTE face = font & 0xFF, attrib = font >> 8 & 0xFF, color = font >> 16 & 0xFF, size = font >> 24;
        std::string out = "<font";
        if (size != 10)
            out += " size='" + std::to_string(size) + "pt'";
        std::string style;
        const std::pair<BYTE, std::string_view> styles[] = {
            {ISBOLD, "bold"}, {ISITALIC, "italic"}, {ISUNDERLINE, "underline"},
            {ISSTRIKEOUT, "strikethrough"}, {ISSUPER, "superscript"}, {ISSUB, "subscript"}};
        for (const auto &[bit, name] : styles) {
            if ((attrib & bit) != 0)
                style += (style.empty() ? "" : " ") + std::string(name);
        }
        if (!style.empty())
            out += " style='" + style + "'";
        if (color != 0 && color < 16)
            out += " color='" + std::string(kColorNames[color]) + "'";
        if (face == FONT_FACE_ROMAN)
            out += " name='serif'";
        else if (face == FONT_FACE_TYPEWRITER)
            out += " name='monospace'";
        return out + "/>";
    }

    void run(FONTID font, std::string_view lmbcs, std::string_view highlight = {}) {
        const bool plain = font == kPlainFont && highlight.empty();
        if (!plain)
            out_ += (highlight.empty() ? std::string("<run>") : "<run" + attribute("highlight", highlight) + ">") +
                    (font == kPlainFont ? std::string() : fontElement(font));
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
        pictureClosed();
        picture_.reset();
        return true;
    }

    // The exact colour of the cell just written (CDCOLOR, SIG_CD_TABLECELL_COLOR): its RGB and,
    // for a gradient, the second colour, in place of the named colour. Written only when the
    // importer reads the attributes back to the same records: the cell's colour index is the
    // one the RGB maps to, and the flags are the ones it sets.
    bool tableCellColor(const std::uint8_t *data, std::size_t length) {
        if (!cellColor_ || (cellColor_->flags & CDTABLECELL_USE_BKGCOLOR) == 0 || length < 8)
            return false;
        const WORD flags = wordAt(data, 2);
        const bool gradient = (flags & COLOR_VALUE_FLAGS_HASGRADIENT) != 0;
        if ((flags & ~COLOR_VALUE_FLAGS_HASGRADIENT) != COLOR_VALUE_FLAGS_ISRGB || data[7] != 0 ||
            gradient != cellColor_->gradient || length != (gradient ? 14u : 8u) ||
            (gradient && (wordAt(data, 8) != COLOR_VALUE_FLAGS_ISRGB || data[13] != 0)))
            return false;
        char rgb[8], alt[8];
        std::snprintf(rgb, sizeof rgb, "#%02X%02X%02X", data[4], data[5], data[6]);
        if (notesColorIndex(rgb) != cellColor_->index)
            return false;
        std::string attributes = attribute("bgcolor", rgb);
        if (gradient) {
            std::snprintf(alt, sizeof alt, "#%02X%02X%02X", data[10], data[11], data[12]);
            attributes += attribute("colorstyle", (cellColor_->flags & CDTABLECELL_GRADIENT_LTR) != 0 ? "hgradient"
                                                                                                  : "vgradient");
            attributes += attribute("altbgcolor", alt);
        }
        out_.replace(cellColor_->at, cellColor_->length, attributes);
        cellColor_.reset();
        return true;
    }

    // A caption record may follow a picture; it goes inside the picture element just written.
    void pictureClosed() { captionAt_ = out_.size() - std::string_view("</picture>").size(); }

    // CDCAPTION: written as <caption> when the importer would write the same record back: the
    // plain font in black, nothing in the reserved bytes, text without surrounding blanks.
    bool caption(const std::uint8_t *data, std::size_t length) {
        constexpr std::size_t kFixed = 28;
        if (!captionAt_ || length < kFixed)
            return false;
        const WORD textLength = wordAt(data, 4);
        const BYTE position = data[6];
        const FONTID font = static_cast<FONTID>(wordAt(data, 7)) | static_cast<FONTID>(wordAt(data, 9)) << 16;
        if (kFixed + textLength > length || position > 1 || font != kPlainFont || wordAt(data, 11) != COLOR_VALUE_FLAGS_ISRGB ||
            std::any_of(data + 13, data + kFixed, [](std::uint8_t b) { return b != 0; }))
            return false;
        const std::string text = lmbcsToText(std::string_view(reinterpret_cast<const char *>(data) + kFixed, textLength));
        if (text.empty() || text.find_first_of("\r\n\t\0") != std::string::npos || text.front() == ' ' ||
            text.back() == ' ' || text.find("  ") != std::string::npos)
            return false;
        std::string element = position == 1 ? "<caption position='center'>" : "<caption>";
        appendXmlEscaped(element, text, false);
        element += "</caption>";
        out_.insert(*captionAt_, element);
        captionAt_.reset();
        return true;
    }

    const bool bitmapsAsGif_;
    std::string out_;
    bool paragraphPending_ = false;
    bool inParagraph_ = false;
    std::optional<WORD> pardefOpen_; // a pardef element whose end is not yet written
    std::optional<Highlight> highlight_;
    std::optional<std::size_t> captionAt_; // where a caption goes in the picture just written
    struct CellColor {
        std::size_t at, length; // the cell's bgcolor attribute in out_ (length 0: none)
        BYTE flags;
        WORD index;
        bool gradient;
    };
    std::optional<CellColor> cellColor_; // the cell just written, whose colour record may follow
    std::vector<Hotspot> hotspots_;
    std::size_t sections_ = 0;
    std::size_t layers_ = 0;
    bool layerPending_ = false; // a layer's CDLAYER record is still to come
    std::size_t regions_ = 0;
    bool inPreTable_ = false;
    std::optional<CDPRETABLEBEGIN> preTable_;
    std::optional<CDBORDERINFO> border_;
    std::optional<BYTE> cellRepeat_; // a cell background whose image may follow
    std::optional<Picture> picture_;
    std::vector<Table> tables_;
};

} // namespace

std::optional<std::string> compositeToRichTextXml(std::span<const std::uint8_t> value, bool bitmapsAsGif) {
    Writer writer(bitmapsAsGif);
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
