// The converter covers paragraphs: `pardef` (alignment, margins in every unit and as percentages
// of the window, spacing, tabs, page and keep flags, hide flags and hide-when formulas, list kinds,
// reading order), `par`, `run` and `font` (face, size, colour, styles and effects),
// `run/@highlight`, `break` (the NUL byte Notes stores for a line break inside a text run) and
// `nonxmlchar`; links (`urllink`, `doclink`, `viewlink`, `databaselink`), `attachmentref`,
// `picture` (GIF, JPEG, PNG, Notes bitmap, shared image by `imageref`, caption), `horizrule`,
// `button`, `actionhotspot`, `computedtext`, `region`, `layer`, `compositedata`, `table` (columns,
// spans, colours, borders, cell backgrounds, nested tables) and `section`; a form's `field`
// shows as its name. Text is converted from UTF-8 to LMBCS. Formulas and scripts are kept as the
// source text DXL gives: this runtime compiles no formulas.
//
// What it does with the rest, each logged once per conversion with the element's name:
// - anchors, spans, pop-ups and named-element links keep their visible text as plain text in the
//   surrounding run;
// - block containers (`block`) keep their paragraphs as ordinary paragraphs;
// - embedded controls, applets, image maps, OLE objects, subform references and the like are
//   dropped (they hold no text a reader sees as such);
// - an element not named anywhere keeps its text.
// Faces: the generic names and a few common face names map to the five static faces (no $Fonts
// item is written); other names follow `familyid`, else sans-serif. Colours: the named colours
// map to the 16 solid Notes colours; other RGB values to the exact or nearest entry of the
// 240-colour Notes palette (by squared RGB distance). Tab stops without a unit are ignored.
#include "RichText.h"

#include "Log.h"
#include "Composite.h"
#include "Database.h"
#include "DxlValues.h"
#include "Ods.h"
#include "ParagraphFlags.h"
#include "Translate.h"

#include <notes/notes.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace notesemu {
namespace {

constexpr std::size_t kMaxValueSize = MAXONESEGSIZE;
// Text bytes per CDTEXT record; longer runs continue in further records with the same font.
constexpr std::size_t kMaxTextBytes = 16000;
// Fixed sizes of records whose fields past the header stay zero here: CDPABHIDE (header, PABID,
// eight reserved bytes; the formula follows), CDREGIONBEGIN (header, version, flags, region
// number, 36-byte name), CDREGIONEND (header, region number, name) and CDLAYER (header and 16
// reserved bytes; bracketed with version 2).
constexpr std::size_t kPabHideSize = 14;
constexpr std::size_t kRegionBeginSize = 46;
constexpr std::size_t kRegionEndSize = 42;
constexpr std::size_t kLayerSize = 18;
// CDCAPTION: header, text length, position, FONTID, COLOR_VALUE, 11 reserved bytes; text follows.
constexpr std::size_t kCaptionSize = 28;
constexpr WORD kLayerVersion = 2;

// The 240-colour Notes palette, as 0xRRGGBB, indexed by the colour byte of a FONTID.
constexpr std::array<std::uint32_t, 240> kPalette{
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800000, 0x008000,
    0x000080, 0x800080, 0x808000, 0x008080, 0x808000, 0xC0C0C0, 0xFFFFFF, 0xFFEFCE, 0xFFFFC2, 0xFFFFD0,
    0xE0FFBF, 0xE0FFDF, 0xE0FFFF, 0xC2EFFF, 0xE0F1FF, 0xE0E0FF, 0xE8E0FF, 0xF1E0FF, 0xFFE0FF, 0xFFE0F5,
    0xFFE0E6, 0xFFFFFF, 0xFFFFDC, 0xFFE1B0, 0xFFFF7F, 0xF1F1B4, 0xC2FF91, 0xC1FFD5, 0xA4FFFF, 0xA1E2FF,
    0xC0FFFF, 0xBFBFFF, 0xD2BFFF, 0xE1BFFF, 0xFFC1FD, 0xFFC0E4, 0xFFC0CE, 0xF7F7F7, 0xFFC0B6, 0xFFC281,
    0xFFFF35, 0xF1F180, 0x7FFF7F, 0x82FFCA, 0x7FFFFF, 0x82E0FF, 0x82C0FF, 0x9F9FFF, 0xC29FFF, 0xE29FFF,
    0xFF9FFF, 0xFF9FCF, 0xFF9FA9, 0xEFEFEF, 0xFF9F9F, 0xFF9F71, 0xFFFF00, 0xE0E074, 0x41FF32, 0x42FFC7,
    0x42FFFF, 0x00BFFF, 0x5291EF, 0x8080FF, 0xC082FF, 0xE081FF, 0xFF7FFF, 0xFF82C2, 0xFF82A0, 0xE1E1E1,
    0xFF8080, 0xFF8141, 0xFFE118, 0xE1E140, 0x00FF00, 0x00FFB2, 0x00FFFF, 0x00A1E0, 0x2181FF, 0x6181FF,
    0xA160FF, 0xC062FF, 0xFF5FFF, 0xFF60AF, 0xFF6088, 0xD2D2D2, 0xFF4040, 0xFF421E, 0xFFBF18, 0xE1E100,
    0x00E100, 0x00E1AD, 0x00E0E0, 0x0082BF, 0x0080FF, 0x4181FF, 0x8242FF, 0x0D40FF, 0xFF42F9, 0xFF40A0,
    0xFF4070, 0xC0C0C0, 0xFF1F35, 0xFF1F10, 0xFF8100, 0xBFBF00, 0x00C200, 0x00C196, 0x00C1C2, 0x4181C0,
    0x0062E1, 0x4141FF, 0x4200FF, 0xC200FF, 0xFF22FF, 0xF52B97, 0xFF2259, 0xB2B2B2, 0xE01F25, 0xE12000,
    0xE26200, 0xA1A100, 0x00A000, 0x009F82, 0x3F8080, 0x0060A0, 0x0041C2, 0x0021BF, 0x4100C2, 0x8100FF,
    0xFF00FF, 0xFF0080, 0xFF0041, 0xA2A2A2, 0xC20000, 0xFF0000, 0xBF4100, 0x80803F, 0x3F803F, 0x008250,
    0x006062, 0x004080, 0x001FE2, 0x4040C2, 0x4000A2, 0x6000A1, 0xE000E0, 0xDF007F, 0xC20041, 0x8F8F8F,
    0xA00000, 0xE10000, 0xA13F00, 0x626200, 0x006000, 0x00603C, 0x004041, 0x002F80, 0x0000FF, 0x2020A0,
    0x2200A1, 0x40009F, 0xA1009F, 0xC0007F, 0x9F000F, 0x7F7F7F, 0x600000, 0xC21212, 0x824200, 0x424200,
    0x004200, 0x004023, 0x00323F, 0x002060, 0x0020C2, 0x2222C0, 0x000080, 0x1F007F, 0x800080, 0x820040,
    0x800000, 0x5F5F5F, 0x400000, 0xA11F12, 0x604200, 0x212100, 0x002100, 0x00201F, 0x002041, 0x00204F,
    0x0000E0, 0x0000A1, 0x000061, 0x1F0062, 0x40005F, 0x620042, 0x620012, 0x4F4F4F, 0xD0B1A1, 0xE0A175,
    0xD2B06A, 0xC0C27C, 0x82C168, 0x81C097, 0x7FC2BC, 0x7BB2CF, 0xB1B1D2, 0x9F9FE0, 0xC0A1E0, 0xE29FDE,
    0xEF91EB, 0xE29FC8, 0xF18FBC, 0x2F2F2F, 0x7F604F, 0xA16252, 0x806210, 0x82823F, 0x3F621F, 0x3C613E,
    0x37605E, 0x104160, 0x424282, 0x6260A1, 0x624181, 0x603181, 0x602162, 0x622152, 0x813F62, 0x000000,
};

struct NamedColor {
    std::string_view name;
    std::uint8_t index;
};
constexpr NamedColor kNamedColors[] = {
    {"black", NOTES_COLOR_BLACK},    {"white", NOTES_COLOR_WHITE}, {"red", NOTES_COLOR_RED},
    {"lime", NOTES_COLOR_GREEN},     {"blue", NOTES_COLOR_BLUE},   {"fuchsia", NOTES_COLOR_MAGENTA},
    {"yellow", NOTES_COLOR_YELLOW},  {"aqua", NOTES_COLOR_CYAN},   {"maroon", NOTES_COLOR_DKRED},
    {"green", NOTES_COLOR_DKGREEN},  {"navy", NOTES_COLOR_DKBLUE}, {"purple", NOTES_COLOR_DKMAGENTA},
    {"olive", NOTES_COLOR_DKYELLOW}, {"teal", NOTES_COLOR_DKCYAN}, {"gray", NOTES_COLOR_GRAY},
    {"silver", NOTES_COLOR_LTGRAY},  {"none", NOTES_COLOR_BLACK},  {"system", NOTES_COLOR_BLACK},
};

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::optional<double> parseNumber(std::string_view text) {
    text = trim(text);
    if (text.empty())
        return std::nullopt;
    // strtod needs a terminated string and accepts forms (hex, inf) a DXL value never has.
    const std::string copy(text);
    if (copy.find_first_not_of("0123456789.+-") != std::string::npos)
        return std::nullopt;
    char *end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (end != copy.c_str() + copy.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// A colour attribute as 0xRRGGBB, or nullopt when it cannot be read. Named colours give the
// palette entry they name.
std::optional<std::uint32_t> parseRgb(std::string_view text) {
    const std::string value = lower(trim(text));
    for (const NamedColor &named : kNamedColors) {
        if (named.name == value)
            return kPalette[named.index];
    }
    int r = 0, g = 0, b = 0;
    if (!value.empty() && value[0] == '#') {
        const std::string_view hex = std::string_view(value).substr(1);
        unsigned parsed = 0;
        if (hex.size() != 3 && hex.size() != 6)
            return std::nullopt;
        if (std::from_chars(hex.data(), hex.data() + hex.size(), parsed, 16).ptr != hex.data() + hex.size())
            return std::nullopt;
        if (hex.size() == 3) {
            r = static_cast<int>((parsed >> 8 & 0xF) * 17);
            g = static_cast<int>((parsed >> 4 & 0xF) * 17);
            b = static_cast<int>((parsed & 0xF) * 17);
        } else {
            r = static_cast<int>(parsed >> 16 & 0xFF);
            g = static_cast<int>(parsed >> 8 & 0xFF);
            b = static_cast<int>(parsed & 0xFF);
        }
    } else if (value.starts_with("rgb(") && value.ends_with(")")) {
        std::string_view inner = std::string_view(value).substr(4, value.size() - 5);
        int components[3];
        for (int i = 0; i < 3; ++i) {
            const std::size_t comma = inner.find(',');
            if ((i < 2) != (comma != std::string_view::npos))
                return std::nullopt;
            std::string_view part = trim(inner.substr(0, comma));
            const bool percent = part.ends_with('%');
            if (percent)
                part.remove_suffix(1);
            const auto number = parseNumber(part);
            if (!number)
                return std::nullopt;
            const double scaled = percent ? *number * 255.0 / 100.0 : *number;
            components[i] = static_cast<int>(std::lround(std::clamp(scaled, 0.0, 255.0)));
            inner = comma == std::string_view::npos ? std::string_view() : inner.substr(comma + 1);
        }
        r = components[0];
        g = components[1];
        b = components[2];
    } else {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(r << 16 | g << 8 | b);
}

// A colour attribute as a palette index, or nullopt when it cannot be read.
std::optional<std::uint8_t> parseColor(std::string_view text) {
    const std::string value = lower(trim(text));
    for (const NamedColor &named : kNamedColors) {
        if (named.name == value)
            return named.index;
    }
    const auto rgb = parseRgb(value);
    if (!rgb)
        return std::nullopt;
    const int r = static_cast<int>(*rgb >> 16 & 0xFF), g = static_cast<int>(*rgb >> 8 & 0xFF),
              b = static_cast<int>(*rgb & 0xFF);
    std::size_t best = 0;
    long bestDistance = -1;
    for (std::size_t i = 0; i < kPalette.size(); ++i) {
        const long dr = static_cast<long>(kPalette[i] >> 16 & 0xFF) - r;
        const long dg = static_cast<long>(kPalette[i] >> 8 & 0xFF) - g;
        const long db = static_cast<long>(kPalette[i] & 0xFF) - b;
        const long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<std::uint8_t>(best);
}

bool isNamedColor(std::string_view text) {
    const std::string value = lower(trim(text));
    for (const NamedColor &named : kNamedColors) {
        if (named.name == value)
            return true;
    }
    return false;
}

// A length in twips; nullopt for a percentage or a value without a known unit.
std::optional<double> parseTwips(std::string_view text) {
    text = trim(text);
    struct Unit {
        std::string_view suffix;
        double twips;
    };
    static constexpr Unit kUnits[] = {{"in", 1440.0}, {"cm", 1440.0 / 2.54}, {"mm", 144.0 / 2.54},
                                      {"pt", 20.0},   {"pc", 240.0},         {"px", 15.0}};
    for (const Unit &unit : kUnits) {
        if (text.ends_with(unit.suffix)) {
            const auto number = parseNumber(text.substr(0, text.size() - unit.suffix.size()));
            if (number)
                return *number * unit.twips;
            return std::nullopt;
        }
    }
    const auto number = parseNumber(text);
    if (number && *number == 0)
        return 0.0;
    return std::nullopt;
}

WORD clampWord(double value) {
    return static_cast<WORD>(std::lround(std::clamp(value, 0.0, 65535.0)));
}

struct Font {
    std::uint8_t face = FONT_FACE_SWISS;
    std::uint8_t attrib = 0;
    std::uint8_t color = NOTES_COLOR_BLACK;
    std::uint8_t size = 10;

    FONTID id() const {
        return static_cast<FONTID>(face) << FONT_FACE_SHIFT |
               static_cast<FONTID>(attrib) << FONT_STYLE_SHIFT |
               static_cast<FONTID>(color) << FONT_COLOR_SHIFT | static_cast<FONTID>(size) << FONT_SIZE_SHIFT;
    }
};

// Highlight colours of a run: the application flag Notes sets in the colour value and the RGB.
struct Highlight {
    WORD flag;
    std::uint32_t rgb;
};

std::optional<Highlight> parseHighlight(std::string_view text) {
    const std::string value = lower(trim(text));
    if (value == "yellow")
        return Highlight{COLOR_VALUE_FLAGS_RESERVED1, 0xFFFF80};
    if (value == "pink")
        return Highlight{COLOR_VALUE_FLAGS_RESERVED2, 0xFF80FF};
    if (value == "blue")
        return Highlight{COLOR_VALUE_FLAGS_RESERVED3, 0x80FFFF};
    return std::nullopt;
}

bool isTrue(const std::string *value) {
    return value != nullptr && lower(trim(*value)) == "true";
}

class RecordWriter {
public:
    void word(std::vector<std::uint8_t> &out, WORD value) {
        out.push_back(static_cast<std::uint8_t>(value & 0xFF));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void dword(std::vector<std::uint8_t> &out, DWORD value) {
        word(out, static_cast<WORD>(value & 0xFFFF));
        word(out, static_cast<WORD>(value >> 16));
    }
};

enum class Treatment { KeepText, Drop, Block };

struct ElementRule {
    std::string_view name;
    Treatment treatment;
};

// Elements the paragraph converter does not render, and what becomes of their content.
constexpr ElementRule kInlineRules[] = {
    {"span", Treatment::KeepText},
    {"urllink", Treatment::KeepText},
    {"namedelementlink", Treatment::KeepText},
    {"anchor", Treatment::KeepText},
    {"popup", Treatment::KeepText},
    {"picture", Treatment::Drop},
    {"horizrule", Treatment::Drop},
    {"field", Treatment::Drop},
    {"sharedfieldref", Treatment::Drop},
    {"code", Treatment::Drop},
    {"popuptext", Treatment::Drop},
    {"richtextdata", Treatment::Drop},
    {"javaapplet", Treatment::Drop},
    {"imagemap", Treatment::Drop},
    {"objectref", Treatment::Drop},
    {"border", Treatment::Drop},
    {"namedelementref", Treatment::Drop},
    {"embeddedcontrol", Treatment::Drop},
    {"subformref", Treatment::Drop},
    {"formregionbegin", Treatment::Drop},
    {"formregionend", Treatment::Drop},
    {"tablecolumn", Treatment::Drop},
    {"tablerowstyle", Treatment::Drop},
    {"cellbackground", Treatment::Drop},
    {"parstyle", Treatment::Drop},
    {"table", Treatment::Block},
    {"section", Treatment::Block},
    {"block", Treatment::Block},
};

Treatment treatmentOf(std::string_view name) {
    if (name.starts_with("embedded"))
        return Treatment::Drop;
    for (const ElementRule &rule : kInlineRules) {
        if (rule.name == name)
            return rule.treatment;
    }
    return Treatment::KeepText;
}

} // namespace

class Converter {
public:
    Converter() { startValue(); }

    std::vector<std::vector<std::uint8_t>> convert(const XmlNode &richtext) {
        for (const XmlNode &child : richtext.children)
            topLevel(child);
        return finish();
    }

    // One direct child of the richtext element; a `font` there applies to what follows.
    void topLevel(const XmlNode &child) { blockChild(child, rootFont_, false); }

    std::vector<std::vector<std::uint8_t>> finish() {
        endParagraph();
        values_.push_back(std::move(current_));
        return std::move(values_);
    }

private:
    // Output: whole records, split into values at record boundaries.
    void startValue() {
        current_.clear();
        current_.push_back(TYPE_COMPOSITE & 0xFF);
        current_.push_back(TYPE_COMPOSITE >> 8);
    }

    void emit(std::vector<std::uint8_t> record) {
        ++emitted_;
        if (record.size() & 1U)
            record.push_back(0);
        if (current_.size() + record.size() > kMaxValueSize && current_.size() > sizeof(WORD)) {
            values_.push_back(std::move(current_));
            startValue();
        }
        current_.insert(current_.end(), record.begin(), record.end());
    }

    std::vector<std::uint8_t> wsig(WORD signature, std::size_t length) {
        std::vector<std::uint8_t> record;
        record.reserve(length + 1);
        out_.word(record, signature);
        out_.word(record, static_cast<WORD>(length));
        return record;
    }

    std::vector<std::uint8_t> bsig(WORD signature, std::size_t length) {
        return {static_cast<std::uint8_t>(signature & 0xFF), static_cast<std::uint8_t>(length)};
    }

    void noteSkipped(std::string_view name, const char *what) {
        if (logged_.insert(std::string(name)).second)
            logf("rich text: <%.*s> %s", static_cast<int>(name.size()), name.data(), what);
    }

    // Paragraph definitions.
    WORD pabIdFor(const std::string &dxlId) {
        if (auto found = pabIds_.find(dxlId); found != pabIds_.end())
            return found->second;
        WORD id = 0;
        const auto number = parseNumber(dxlId);
        if (number && *number >= 1 && *number <= 60000 && std::trunc(*number) == *number &&
            !usedIds_.contains(static_cast<WORD>(*number)))
            id = static_cast<WORD>(*number);
        else
            id = nextAutoId_--;
        usedIds_.insert(id);
        pabIds_.emplace(dxlId, id);
        return id;
    }

    void pardef(const XmlNode &node) {
        const std::string *idText = node.attribute("id");
        const WORD id = pabIdFor(idText != nullptr ? *idText : std::string());
        CDPABDEFINITION pab{};
        pab.PABID = id;
        pab.LeftMargin = ONEINCH;
        pab.FirstLineLeftMargin = ONEINCH;
        if (const std::string *align = node.attribute("align")) {
            const std::string value = lower(trim(*align));
            pab.JustifyMode = value == "right"    ? JUSTIFY_RIGHT
                              : value == "center" ? JUSTIFY_CENTER
                              : value == "full"   ? JUSTIFY_BLOCK
                              : value == "none"   ? JUSTIFY_NONE
                                                  : JUSTIFY_LEFT;
        }
        auto spacing = [&](const char *name, WORD &field) {
            if (const std::string *text = node.attribute(name)) {
                const auto value = parseNumber(*text);
                if (value && *value >= 1 && *value <= 3)
                    field = clampWord(2 * (*value - 1));
            }
        };
        spacing("linespacing", pab.LineSpacing);
        spacing("spacebefore", pab.ParagraphSpacingBefore);
        spacing("spaceafter", pab.ParagraphSpacingAfter);
        // A margin given as a percentage of the window goes into the six-WORD tail Notes adds
        // after the fixed definition (offset and percent per margin), flagged in Flags2; the
        // fixed fields then keep their defaults.
        std::array<WORD, 6> tail{};
        bool hasPercent = false;
        auto margin = [&](const char *name, WORD &field, std::size_t slot, WORD percentFlag) {
            const std::string *text = node.attribute(name);
            if (text == nullptr)
                return false;
            if (const auto twips = parseTwips(*text)) {
                field = clampWord(*twips);
                tail[slot] = field;
                return true;
            }
            std::string_view value = trim(*text);
            if (value.ends_with('%')) {
                value.remove_suffix(1);
                if (const auto percent = parseNumber(value); percent && *percent >= 0 && *percent <= 100) {
                    tail[slot + 1] = clampWord(*percent);
                    pab.Flags2 |= percentFlag;
                    hasPercent = true;
                    return false;
                }
            }
            noteSkipped(name, "value without a length unit kept at its default");
            return false;
        };
        const bool hasLeft = margin("leftmargin", pab.LeftMargin, 0, PABFLAG2_LM_PERCENT);
        if (!margin("firstlineleftmargin", pab.FirstLineLeftMargin, 2, PABFLAG2_FLLM_PERCENT) && hasLeft) {
            pab.FirstLineLeftMargin = pab.LeftMargin;
            tail[2] = pab.LeftMargin;
        }
        margin("rightmargin", pab.RightMargin, 4, PABFLAG2_RM_PERCENT);
        if (hasPercent) {
            // The margins not given as percentages are offsets in the tail.
            if ((pab.Flags2 & PABFLAG2_LM_PERCENT) == 0) {
                pab.Flags2 |= PABFLAG2_LM_OFFSET;
                tail[0] = pab.LeftMargin;
            }
            if ((pab.Flags2 & PABFLAG2_FLLM_PERCENT) == 0) {
                pab.Flags2 |= PABFLAG2_FLLM_OFFSET;
                tail[2] = pab.FirstLineLeftMargin;
            }
            if ((pab.Flags2 & PABFLAG2_RM_PERCENT) == 0) {
                pab.Flags2 |= PABFLAG2_RM_OFFSET;
                tail[4] = pab.RightMargin;
            }
        }
        if (const std::string *tabs = node.attribute("tabs"))
            parseTabs(*tabs, pab);
        if (isTrue(node.attribute("newpage")))
            pab.Flags |= PABFLAG_PAGINATE_BEFORE;
        if (isTrue(node.attribute("keepwithnext")))
            pab.Flags |= PABFLAG_KEEP_WITH_NEXT;
        if (isTrue(node.attribute("keeptogether")))
            pab.Flags |= PABFLAG_KEEP_TOGETHER;
        if (const std::string *hide = node.attribute("hide"))
            parseHide(*hide, pab);
        if (const std::string *list = node.attribute("list"))
            parseList(*list, pab);
        if (const std::string *order = node.attribute("readingorder");
            order && lower(*order) == "righttoleft")
            pab.Flags2 |= PABFLAG2_BIDI_RTLREADING;
        // A hide-when formula: the paragraph hides by formula, and the formula follows the
        // definition in a CDPABHIDE record. It is kept as the source text it was given in.
        std::optional<std::string> hideWhen;
        for (const XmlNode &child : node.children) {
            if (child.isText)
                continue;
            if (child.name == "code" && lower(child.attribute("event") ? *child.attribute("event") : "") == "hidewhen") {
                if (const auto code = codeOf(node, "hidewhen")) {
                    hideWhen = code->text;
                    pab.Flags |= PABFLAG_HIDE_IF;
                    continue;
                }
            }
            noteSkipped(child.name, "in a paragraph definition ignored");
        }

        std::vector<std::uint8_t> record =
            wsig(SIG_CD_PABDEFINITION, odsSize<CDPABDEFINITION>() + (hasPercent ? sizeof tail : 0));
        out_.word(record, pab.PABID);
        out_.word(record, pab.JustifyMode);
        out_.word(record, pab.LineSpacing);
        out_.word(record, pab.ParagraphSpacingBefore);
        out_.word(record, pab.ParagraphSpacingAfter);
        out_.word(record, pab.LeftMargin);
        out_.word(record, pab.RightMargin);
        out_.word(record, pab.FirstLineLeftMargin);
        out_.word(record, pab.Tabs);
        for (SWORD tab : pab.Tab)
            out_.word(record, static_cast<WORD>(tab));
        out_.word(record, pab.Flags);
        out_.dword(record, pab.TabTypes);
        out_.word(record, pab.Flags2);
        if (hasPercent) {
            for (WORD value : tail)
                out_.word(record, value);
        }
        emit(std::move(record));
        if (hideWhen) {
            formulaKeptAsSource("hidewhen");
            std::vector<std::uint8_t> hide = wsig(SIG_CD_PABHIDE, kPabHideSize + hideWhen->size());
            out_.word(hide, id);
            hide.resize(kPabHideSize, 0);
            hide.insert(hide.end(), hideWhen->begin(), hideWhen->end());
            emit(std::move(hide));
        }
        defined_.insert(id);
        currentDef_ = id;
    }

    void parseTabs(std::string_view text, CDPABDEFINITION &pab) {
        std::size_t pos = 0;
        while (pos < text.size() && pab.Tabs < MAXTABS) {
            const std::size_t end = text.find_first_of(" ,", pos);
            std::string_view token = text.substr(pos, end == std::string_view::npos ? end : end - pos);
            pos = end == std::string_view::npos ? text.size() : end + 1;
            if (token.empty())
                continue;
            DWORD kind = TAB_LEFT;
            switch (token.front()) {
            case 'L':
                token.remove_prefix(1);
                break;
            case 'R':
                kind = TAB_RIGHT;
                token.remove_prefix(1);
                break;
            case 'C':
                kind = TAB_CENTER;
                token.remove_prefix(1);
                break;
            case 'D':
                kind = TAB_DECIMAL;
                token.remove_prefix(1);
                break;
            default:
                break;
            }
            const auto twips = parseTwips(token);
            if (!twips) {
                noteSkipped("tabs", "stop without a length unit ignored");
                continue;
            }
            const auto position = static_cast<SWORD>(std::min(*twips, 32767.0));
            pab.Tab[pab.Tabs] = kind == TAB_DECIMAL ? static_cast<SWORD>(-position) : position;
            pab.TabTypes |= kind << (2 * pab.Tabs);
            ++pab.Tabs;
        }
    }

    void parseHide(std::string_view text, CDPABDEFINITION &pab) {
        const std::string value = lower(text);
        std::size_t pos = 0;
        while (pos < value.size()) {
            const std::size_t end = value.find_first_of(" ,", pos);
            const std::string_view token =
                std::string_view(value).substr(pos, end == std::string::npos ? end : end - pos);
            pos = end == std::string::npos ? value.size() : end + 1;
            for (const HideToken &hide : kHideTokens) {
                if (hide.name == token) {
                    pab.Flags |= hide.flags;
                    pab.Flags2 |= hide.flags2;
                }
            }
        }
    }

    void parseList(std::string_view text, CDPABDEFINITION &pab) {
        const std::string value = lower(trim(text));
        for (const ListKind &kind : kListKinds) {
            if (kind.name == value) {
                pab.Flags |= kind.flags;
                pab.Flags2 |= kind.flags2;
            }
        }
    }

    // The definition a paragraph uses: its own, the last one, or a default written on demand.
    WORD definitionFor(const std::string *def) {
        if (def != nullptr) {
            const WORD id = pabIdFor(*def);
            if (!defined_.contains(id)) {
                noteSkipped("par", "refers to an undefined paragraph definition; a default one is used");
                XmlNode implicit;
                implicit.name = "pardef";
                implicit.attributes.emplace_back("id", *def);
                pardef(implicit);
            }
            currentDef_ = id;
            return id;
        }
        if (!currentDef_) {
            XmlNode implicit;
            implicit.name = "pardef";
            implicit.attributes.emplace_back("id", std::string());
            pardef(implicit);
        }
        return *currentDef_;
    }

    // Paragraphs and runs.
    void startParagraph(const std::string *def) {
        endParagraph();
        const WORD id = definitionFor(def);
        emit(bsig(SIG_CD_PARAGRAPH, odsSize<CDPARAGRAPH>()));
        std::vector<std::uint8_t> reference = bsig(SIG_CD_PABREFERENCE, odsSize<CDPABREFERENCE>());
        out_.word(reference, id);
        emit(std::move(reference));
        inParagraph_ = true;
    }

    void endParagraph() {
        flushRun();
        inParagraph_ = false;
    }

    void addText(std::string_view lmbcs, const Font &font, std::optional<Highlight> highlight) {
        if (lmbcs.empty())
            return;
        if (!inParagraph_)
            startParagraph(nullptr);
        const bool sameStyle = runFont_.id() == font.id() &&
                               runHighlight_.has_value() == highlight.has_value() &&
                               (!highlight || runHighlight_->flag == highlight->flag);
        if (!sameStyle)
            flushRun();
        runFont_ = font;
        runHighlight_ = highlight;
        runText_.append(lmbcs);
    }

    void flushRun() {
        std::string_view text = runText_;
        while (!text.empty()) {
            const std::size_t cut = std::max<std::size_t>(lmbcsCut(text, kMaxTextBytes), 1);
            const std::string_view piece = text.substr(0, cut);
            text.remove_prefix(cut);
            if (runHighlight_)
                highlightBegin(*runHighlight_);
            std::vector<std::uint8_t> record = wsig(SIG_CD_TEXT, odsSize<CDTEXT>() + piece.size());
            out_.dword(record, runFont_.id());
            record.insert(record.end(), piece.begin(), piece.end());
            emit(std::move(record));
            if (runHighlight_)
                highlightEnd();
        }
        runText_.clear();
    }

    void highlightBegin(const Highlight &highlight) {
        std::vector<std::uint8_t> begin = bsig(SIG_CD_BEGIN, odsSize<CDBEGINRECORD>());
        out_.word(begin, 0);
        out_.word(begin, SIG_CD_TEXT);
        emit(std::move(begin));
        std::vector<std::uint8_t> color = bsig(SIG_CD_COLOR, odsSize<CDCOLOR>());
        out_.word(color, static_cast<WORD>(highlight.flag | COLOR_VALUE_FLAGS_ISRGB));
        color.push_back(static_cast<std::uint8_t>(highlight.rgb >> 16));
        color.push_back(static_cast<std::uint8_t>(highlight.rgb >> 8));
        color.push_back(static_cast<std::uint8_t>(highlight.rgb));
        color.push_back(0);
        emit(std::move(color));
    }

    void highlightEnd() {
        std::vector<std::uint8_t> end = bsig(SIG_CD_END, odsSize<CDENDRECORD>());
        out_.word(end, 0);
        out_.word(end, SIG_CD_TEXT);
        emit(std::move(end));
    }

    // Character data: the importer's whitespace rule unless indentation is kept.
    std::string normaliseWhitespace(std::string_view text, bool keep) {
        if (keep)
            return std::string(text);
        std::string out;
        std::size_t i = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (c != '\n' && c != '\r') {
                out.push_back(c);
                ++i;
                continue;
            }
            while (i < text.size() &&
                   (text[i] == '\n' || text[i] == '\r' || text[i] == ' ' || text[i] == '\t'))
                ++i;
            const bool atEdge = out.empty() || i == text.size();
            const bool afterBlank = !out.empty() && (out.back() == ' ' || out.back() == '\t');
            if (!atEdge && !afterBlank)
                out.push_back(' ');
        }
        return out;
    }

    void applyFont(const XmlNode &node, Font &font) {
        if (const std::string *size = node.attribute("size")) {
            std::string_view value = trim(*size);
            if (value.ends_with("pt"))
                value.remove_suffix(2);
            if (const auto points = parseNumber(value); points && *points >= 1)
                font.size = static_cast<std::uint8_t>(std::lround(std::min(*points, 255.0)));
        }
        if (const std::string *color = node.attribute("color")) {
            if (const auto index = parseColor(*color))
                font.color = *index;
            else
                noteSkipped("font", "colour that cannot be read ignored");
        }
        if (const std::string *style = node.attribute("style"))
            applyStyle(*style, font);
        const std::string *name = node.attribute("name");
        const std::string *family = node.attribute("familyid");
        if (name != nullptr || family != nullptr)
            font.face = faceFor(name != nullptr ? lower(trim(*name)) : std::string(),
                                family != nullptr ? trim(*family) : std::string_view());
    }

    void applyStyle(std::string_view text, Font &font) {
        const std::string value = lower(text);
        std::size_t pos = 0;
        while (pos < value.size()) {
            const std::size_t end = value.find_first_of(" ,", pos);
            const std::string_view token =
                std::string_view(value).substr(pos, end == std::string::npos ? end : end - pos);
            pos = end == std::string::npos ? value.size() : end + 1;
            if (token == "normal")
                font.attrib = 0;
            else if (token == "bold")
                font.attrib |= ISBOLD;
            else if (token == "italic")
                font.attrib |= ISITALIC;
            else if (token == "underline")
                font.attrib |= ISUNDERLINE;
            else if (token == "strikethrough")
                font.attrib |= ISSTRIKEOUT;
            else if (token == "superscript")
                font.attrib = static_cast<std::uint8_t>((font.attrib & ~ISSUB) | ISSUPER);
            else if (token == "subscript")
                font.attrib = static_cast<std::uint8_t>((font.attrib & ~ISSUPER) | ISSUB);
            else if (token == "shadow")
                font.attrib = static_cast<std::uint8_t>((font.attrib & 0x3F) | ISSHADOW);
            else if (token == "emboss")
                font.attrib = static_cast<std::uint8_t>((font.attrib & 0x3F) | ISEMBOSS);
            else if (token == "extrude")
                font.attrib = static_cast<std::uint8_t>((font.attrib & 0x3F) | ISEXTRUDE);
        }
    }

    std::uint8_t faceFor(const std::string &name, std::string_view family) {
        struct FaceName {
            std::string_view name;
            std::uint8_t face;
        };
        static constexpr FaceName kFaces[] = {
            {"serif", FONT_FACE_ROMAN},
            {"default serif", FONT_FACE_ROMAN},
            {"times new roman", FONT_FACE_ROMAN},
            {"times", FONT_FACE_ROMAN},
            {"georgia", FONT_FACE_ROMAN},
            {"sans-serif", FONT_FACE_SWISS},
            {"default sans serif", FONT_FACE_SWISS},
            {"arial", FONT_FACE_SWISS},
            {"helvetica", FONT_FACE_SWISS},
            {"verdana", FONT_FACE_SWISS},
            {"tahoma", FONT_FACE_SWISS},
            {"monospace", FONT_FACE_TYPEWRITER},
            {"default monospace", FONT_FACE_TYPEWRITER},
            {"courier", FONT_FACE_TYPEWRITER},
            {"courier new", FONT_FACE_TYPEWRITER},
            {"consolas", FONT_FACE_TYPEWRITER},
            {"lucida console", FONT_FACE_TYPEWRITER},
            {"multilingual", FONT_FACE_UNICODE},
            {"user-interface", FONT_FACE_USERINTERFACE},
        };
        for (const FaceName &face : kFaces) {
            if (face.name == name)
                return face.face;
        }
        if (family == "10")
            return FONT_FACE_ROMAN;
        if (family == "30")
            return FONT_FACE_TYPEWRITER;
        if (!name.empty() && family.empty())
            noteSkipped("font", "face not among the static faces shown as sans-serif");
        return FONT_FACE_SWISS;
    }

    // Inline content of a paragraph or run: text, fonts, runs, breaks and what is kept of the rest.
    void inlineContent(const XmlNode &container, Font font, bool keep, std::optional<Highlight> highlight) {
        for (const XmlNode &child : container.children) {
            if (child.isText) {
                addText(utf8ToLmbcs(normaliseWhitespace(child.text, keep)), font, highlight);
                continue;
            }
            if (child.name == "font") {
                applyFont(child, font);
            } else if (child.name == "run") {
                std::optional<Highlight> runHighlight = highlight;
                if (const std::string *value = child.attribute("highlight"))
                    runHighlight = parseHighlight(*value);
                inlineContent(child, font, keep || isTrue(child.attribute("keepindentation")), runHighlight);
            } else if (child.name == "break") {
                addText(std::string_view("\0", 1), font, highlight);
            } else if (child.name == "nonxmlchar") {
                addNonXmlChar(child, font, highlight);
            } else if (child.name == "par" || child.name == "pardef") {
                // A paragraph where only inline content belongs: close this one and go on block-wise.
                blockElement(child, font, keep);
            } else if (child.name == "picture") {
                picture(child, font);
            } else if (child.name == "horizrule") {
                horizontalRule(child);
            } else if (child.name == "urllink" && child.attribute("href") != nullptr) {
                flushRun();
                urlLinkBegin(*child.attribute("href"));
                inlineContent(child, font, keep, highlight);
                flushRun();
                emit(bsig(SIG_CD_V4HOTSPOTEND, odsSize<BSIG>()));
            } else if (child.name == "doclink" || child.name == "viewlink" || child.name == "databaselink") {
                noteLink(child, font, keep, highlight);
            } else if (child.name == "attachmentref") {
                attachmentRef(child, font, keep);
            } else if (child.name == "button") {
                button(child, font);
            } else if (child.name == "actionhotspot" || child.name == "computedtext") {
                actionHotspot(child, font, keep, highlight);
            } else if (child.name == "region") {
                region(child, font, keep, highlight);
            } else if (child.name == "compositedata") {
                compositeData(child);
            } else if (child.name == "layer") {
                layer(child, font, keep);
            } else if (child.name == "field") {
                // A form's field shows as its name, the placeholder of its value.
                const std::string *name = child.attribute("name");
                addText(utf8ToLmbcs("[" + (name != nullptr ? *name : std::string()) + "]"), font, highlight);
            } else if (child.name == "table" || child.name == "section") {
                blockElement(child, font, keep);
            } else {
                switch (treatmentOf(child.name)) {
                case Treatment::Drop:
                    noteSkipped(child.name, "skipped");
                    break;
                case Treatment::KeepText:
                case Treatment::Block:
                    noteSkipped(child.name, "kept as its text only");
                    inlineContent(child, font, keep, highlight);
                    break;
                }
            }
        }
    }

    // A record in canonical form with its variable part; the header's length counts both.
    template <typename Record> void emitRecord(Record record, std::span<const std::uint8_t> tail = {}) {
        const std::size_t length = odsSize<Record>() + tail.size();
        record.Header.Length = static_cast<decltype(record.Header.Length)>(length);
        std::vector<std::uint8_t> bytes;
        bytes.reserve(length + 1);
        appendOds(bytes, record);
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        emit(std::move(bytes));
    }

    void urlLinkBegin(const std::string &href) {
        CDHOTSPOTBEGIN begin{};
        begin.Header.Signature = SIG_CD_V4HOTSPOTBEGIN;
        begin.Type = HOTSPOTREC_TYPE_HOTLINK;
        begin.Flags = HOTSPOTREC_RUNFLAG_INOTES;
        std::string url = utf8ToLmbcs(href);
        url.push_back('\0');
        if (url.size() > 0xFF00)
            url.resize(0xFF00);
        begin.DataLength = static_cast<WORD>(url.size());
        emitRecord(begin, std::span(reinterpret_cast<const std::uint8_t *>(url.data()), url.size()));
    }

    static std::optional<std::uint16_t> pixels(const std::string *text) {
        if (text == nullptr)
            return std::nullopt;
        std::string_view value = trim(*text);
        if (value.ends_with("px"))
            value.remove_suffix(2);
        const auto number = parseNumber(value);
        if (!number || *number < 0 || *number > 0xFFFF)
            return std::nullopt;
        return static_cast<std::uint16_t>(std::lround(*number));
    }

    // gif, jpeg and png pictures become CDGRAPHIC, CDIMAGEHEADER and CDIMAGESEGMENT records; a
    // picture of a shared image (imageref) a CDGRAPHIC and the resource record naming it. A
    // caption follows as text of the paragraph. Other image forms keep only their caption.
    void picture(const XmlNode &node, const Font &font) {
        const std::size_t emittedBefore = emitted_;
        const XmlNode *image = nullptr;
        const XmlNode *caption = nullptr;
        WORD type = 0;
        for (const XmlNode &child : node.children) {
            if (child.isText)
                continue;
            if (child.name == "caption")
                caption = &child;
            else if (!image && (child.name == "gif" || child.name == "jpeg" || child.name == "png" ||
                                child.name == "notesbitmap")) {
                image = &child;
                type = child.name == "gif" ? 1 : child.name == "jpeg" ? 2 : child.name == "png" ? 4 : 0;
            } else if (!image && child.name == "imageref") {
                image = &child;
            } else if (child.name != "border" && child.name != "code") {
                noteSkipped(child.name, "picture form not converted; the picture keeps its caption only");
            }
        }
        if (image != nullptr && image->name == "imageref") {
            flushRun();
            CDGRAPHIC graphic{};
            graphic.Header.Signature = SIG_CD_GRAPHIC;
            graphic.DestSize.width =
                static_cast<WORD>(std::min<std::uint32_t>(pixels(node.attribute("width")).value_or(0) * 15u, 0xFFFF));
            graphic.DestSize.height =
                static_cast<WORD>(std::min<std::uint32_t>(pixels(node.attribute("height")).value_or(0) * 15u, 0xFFFF));
            graphic.Version = CDGRAPHIC_VERSION3;
            emitRecord(graphic);
            imageRef(*image, SIG_CD_HREF);
        } else if (image != nullptr) {
            std::vector<std::uint8_t> bytes;
            Base64Decoder decoder(bytes);
            for (const XmlNode &text : image->children) {
                if (text.isText)
                    decoder.feed(text.text);
            }
            if (!decoder.finish() || bytes.empty()) {
                noteSkipped(image->name, "with data that is not valid base64 skipped");
            } else if (type == 0) {
                notesBitmap(bytes);
            } else {
                flushRun();
                const std::uint16_t width = pixels(node.attribute("width")).value_or(0);
                const std::uint16_t height = pixels(node.attribute("height")).value_or(0);
                CDGRAPHIC graphic{};
                graphic.Header.Signature = SIG_CD_GRAPHIC;
                graphic.DestSize.width = static_cast<WORD>(std::min<std::uint32_t>(width * 15u, 0xFFFF));
                graphic.DestSize.height = static_cast<WORD>(std::min<std::uint32_t>(height * 15u, 0xFFFF));
                graphic.Version = CDGRAPHIC_VERSION3;
                emitRecord(graphic);
                constexpr std::size_t kSegment = 10240;
                CDIMAGEHEADER header{};
                header.Header.Signature = SIG_CD_IMAGEHEADER;
                header.ImageType = type;
                header.Width = width;
                header.Height = height;
                header.ImageDataSize = static_cast<DWORD>(bytes.size());
                header.SegCount = static_cast<DWORD>((bytes.size() + kSegment - 1) / kSegment);
                emitRecord(header);
                for (std::size_t at = 0; at < bytes.size(); at += kSegment) {
                    const std::size_t size = std::min(kSegment, bytes.size() - at);
                    CDIMAGESEGMENT segment{};
                    segment.Header.Signature = SIG_CD_IMAGESEGMENT;
                    segment.DataSize = static_cast<WORD>(size);
                    segment.SegSize = static_cast<WORD>(size + size % 2);
                    std::vector<std::uint8_t> data(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                   bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
                    data.resize(segment.SegSize, 0);
                    emitRecord(segment, data);
                }
            }
        }
        if (caption != nullptr && emitted_ != emittedBefore)
            captionRecord(*caption, font);
        else if (caption != nullptr)
            inlineContent(*caption, font, false, std::nullopt);
    }

    // A picture's caption: CDCAPTION after the picture's records, with its position, the font
    // and that font's colour, then the text.
    void captionRecord(const XmlNode &node, const Font &font) {
        std::string text = utf8ToLmbcs(normaliseWhitespace(labelOf(node), false));
        if (text.size() > 0xFF00)
            text.resize(lmbcsCut(text, 0xFF00));
        const std::string *position = node.attribute("position");
        const std::uint32_t rgb = kPalette[font.color];
        std::vector<std::uint8_t> record = wsig(SIG_CD_CAPTION, kCaptionSize + text.size());
        out_.word(record, static_cast<WORD>(text.size()));
        record.push_back(position != nullptr && lower(trim(*position)) == "center" ? 1 : 0);
        out_.dword(record, font.id());
        out_.word(record, COLOR_VALUE_FLAGS_ISRGB);
        record.push_back(static_cast<std::uint8_t>(rgb >> 16));
        record.push_back(static_cast<std::uint8_t>(rgb >> 8));
        record.push_back(static_cast<std::uint8_t>(rgb));
        record.push_back(0);
        record.resize(kCaptionSize, 0);
        record.insert(record.end(), text.begin(), text.end());
        emit(std::move(record));
    }

    // <notesbitmap> holds the bitmap's records themselves: they follow a CDGRAPHIC as they are,
    // provided they are whole bitmap records beginning with CDBITMAPHEADER.
    void notesBitmap(const std::vector<std::uint8_t> &records) {
        std::vector<std::uint8_t> value{TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8};
        value.insert(value.end(), records.begin(), records.end());
        std::vector<std::vector<std::uint8_t>> kept;
        const STATUS status = walkComposite(value, [&](const CdRecord &record) -> STATUS {
            const bool bitmap = record.type == SIG_CD_BITMAPHEADER || record.type == SIG_CD_COLORTABLE ||
                                record.type == SIG_CD_PATTERNTABLE || record.type == SIG_CD_TRANSPARENTTABLE ||
                                record.type == SIG_CD_BITMAPSEGMENT;
            if (!bitmap || (kept.empty() && record.type != SIG_CD_BITMAPHEADER))
                return ERR_ODS_ENUM_COMPLETE;
            kept.emplace_back(record.data, record.data + record.length);
            return NOERROR;
        });
        if (status != NOERROR || kept.empty()) {
            noteSkipped("notesbitmap", "whose records cannot be read skipped");
            return;
        }
        std::size_t total = 0;
        for (const auto &record : kept)
            total += record.size() + record.size() % 2;
        if (total + 2 != value.size() + (value.size() % 2)) {
            noteSkipped("notesbitmap", "holding records other than a bitmap's skipped");
            return;
        }
        flushRun();
        CDGRAPHIC graphic{};
        graphic.Header.Signature = SIG_CD_GRAPHIC;
        graphic.Version = CDGRAPHIC_VERSION3;
        const auto header = fromOds<CDBITMAPHEADER>(kept.front().data());
        graphic.DestSize.width = static_cast<WORD>(std::min<std::uint32_t>(header.Dest.width * 15u, 0xFFFF));
        graphic.DestSize.height = static_cast<WORD>(std::min<std::uint32_t>(header.Dest.height * 15u, 0xFFFF));
        emitRecord(graphic);
        for (auto &record : kept)
            emit(std::move(record));
    }

    void horizontalRule(const XmlNode &node) {
        flushRun();
        CDHRULE rule{};
        rule.Header.Signature = SIG_CD_HORIZONTALRULE;
        rule.Flags = HRULE_FLAG_FITTOWINDOW;
        rule.Width = ONEINCH * 6;
        rule.Height = static_cast<WORD>(parseTwips(node.attribute("height") ? *node.attribute("height") : "0.0729in")
                                            .value_or(105));
        if (const std::string *color = node.attribute("color")) {
            if (const auto index = parseColor(*color)) {
                rule.Flags |= HRULE_FLAG_USECOLOR;
                rule.Color = *index;
            }
        }
        emitRecord(rule);
    }

    // Column widths of a table in twips: lengths as given, percentages of the table's reference
    // width (refwidth, else 6.5 inches: a letter page within one-inch margins); columns without a
    // readable width share what is left equally.
    std::vector<double> columnWidths(const XmlNode &node) {
        constexpr double kDefaultReference = 6.5 * ONEINCH;
        double reference = kDefaultReference;
        if (const std::string *refwidth = node.attribute("refwidth"))
            reference = parseTwips(*refwidth).value_or(kDefaultReference);
        std::vector<std::optional<double>> given;
        for (const XmlNode &child : node.children) {
            if (child.isText || child.name != "tablecolumn")
                continue;
            const std::string *width = child.attribute("width");
            std::optional<double> twips = width != nullptr ? parseTwips(*width) : std::nullopt;
            if (!twips && width != nullptr && trim(*width).ends_with('%')) {
                std::string_view value = trim(*width);
                value.remove_suffix(1);
                if (const auto percent = parseNumber(value); percent && *percent > 0 && *percent <= 100)
                    twips = *percent * reference / 100.0;
            }
            if (twips && *twips <= 0)
                twips.reset();
            given.push_back(twips);
        }
        if (given.empty()) {
            // No columns given: as many as the widest row needs.
            std::size_t columns = 1;
            for (const XmlNode &row : node.children) {
                if (row.isText || row.name != "tablerow")
                    continue;
                std::size_t count = 0;
                for (const XmlNode &cell : row.children) {
                    if (!cell.isText && cell.name == "tablecell")
                        count += spanOf(cell, "columnspan");
                }
                columns = std::max(columns, count);
            }
            noteSkipped("table", "without tablecolumn elements laid out with equal columns");
            given.resize(std::min<std::size_t>(columns, 255));
        }
        double known = 0;
        std::size_t unknown = 0;
        for (const auto &width : given) {
            known += width.value_or(0);
            unknown += width ? 0 : 1;
        }
        const double share = unknown == 0 ? 0 : std::max(reference - known, 720.0 * unknown) / unknown;
        std::vector<double> widths;
        for (const auto &width : given)
            widths.push_back(width.value_or(share));
        return widths;
    }

    static BYTE spanOf(const XmlNode &cell, const char *name) {
        const std::string *text = cell.attribute(name);
        const auto value = parseNumber(text != nullptr ? *text : "1");
        return static_cast<BYTE>(value && *value >= 1 && *value <= 255 ? *value : 1);
    }

    // Tables: the pre-table block (CDBEGINRECORD, CDPRETABLEBEGIN, CDBORDERINFO for a border,
    // CDENDRECORD), CDTABLEBEGIN, then per cell CDTABLECELL (its left and right edges in twips
    // from the table's left, and its width as a fraction of 20 inches of the table's width), its
    // background and its paragraphs, then CDTABLEEND; a table inside a cell uses the nested
    // signatures. Spans and background colours are kept; cells a span covers are not written.
    void table(const XmlNode &node, const Font &font, bool keep) {
        endParagraph();
        const bool nested = tableDepth_ > 0;
        ++tableDepth_;
        const std::vector<double> widths = columnWidths(node);
        std::vector<double> edges{0};
        for (double width : widths)
            edges.push_back(edges.back() + width);
        const double total = std::max(edges.back(), 1.0);
        std::size_t rows = 0;
        const XmlNode *border = nullptr;
        for (const XmlNode &child : node.children) {
            rows += !child.isText && child.name == "tablerow" ? 1 : 0;
            if (!child.isText && child.name == "border")
                border = &child;
        }
        const std::string *widthType = node.attribute("widthtype");
        const bool fit = widthType == nullptr || !lower(trim(*widthType)).starts_with("fixed");

        emit(bracket(SIG_CD_BEGIN, 1, SIG_CD_PRETABLEBEGIN));
        CDPRETABLEBEGIN pre{};
        pre.Header.Signature = SIG_CD_PRETABLEBEGIN;
        pre.Flags = fit ? CDPRETABLE_AUTO_CELL_WIDTH : 0;
        pre.Rows = static_cast<BYTE>(std::min<std::size_t>(rows, 255));
        pre.Columns = static_cast<BYTE>(std::min<std::size_t>(widths.size(), 255));
        pre.InnerBorderColor.Flags = COLOR_VALUE_FLAGS_ISRGB; // black
        if (const std::string *height = node.attribute("minrowheight"))
            pre.MinRowHeight = clampWord(parseTwips(*height).value_or(0));
        emitRecord(pre);
        if (border != nullptr)
            tableBorder(*border);
        emit(bracket(SIG_CD_END, 1, SIG_CD_PRETABLEBEGIN));

        CDTABLEBEGIN begin{};
        begin.Header.Signature = static_cast<BYTE>(nested ? SIG_CD_NESTEDTABLEBEGIN : SIG_CD_TABLEBEGIN);
        begin.LeftMargin = static_cast<WORD>(
            parseTwips(node.attribute("leftmargin") ? *node.attribute("leftmargin") : "1in").value_or(ONEINCH));
        begin.Flags = fit ? CDTABLE_AUTO_CELL_WIDTH : 0;
        emitRecord(begin);
        std::size_t row = 0;
        for (const XmlNode &rowNode : node.children) {
            if (rowNode.isText || rowNode.name != "tablerow")
                continue;
            std::size_t column = 0;
            for (const XmlNode &cellNode : rowNode.children) {
                if (cellNode.isText || cellNode.name != "tablecell")
                    continue;
                CDTABLECELL cell{};
                cell.Header.Signature = static_cast<BYTE>(nested ? SIG_CD_NESTEDTABLECELL : SIG_CD_TABLECELL);
                cell.Row = static_cast<BYTE>(std::min<std::size_t>(row, 255));
                cell.Column = static_cast<BYTE>(std::min<std::size_t>(column, 255));
                cell.RowSpan = spanOf(cellNode, "rowspan");
                cell.ColumnSpan = spanOf(cellNode, "columnspan");
                const double left = edges[std::min(column, widths.size())];
                const double right = edges[std::min(column + cell.ColumnSpan, widths.size())];
                cell.LeftMargin = clampWord(left);
                cell.RightMargin = clampWord(right);
                cell.FractionalWidth = clampWord(std::min(28800.0 * (right - left) / total, 28800.0));
                cell.Border = 0x55;
                if (const std::string *width = cellNode.attribute("borderwidth");
                    width != nullptr && pixels(width) == 0)
                    cell.Border = 0;
                // A colour other than a named one, and a gradient, also go into the cell colour
                // record (CDCOLOR, SIG_CD_TABLECELL_COLOR) after the cell, with the exact RGB.
                std::optional<std::uint32_t> exact, gradient;
                if (const std::string *color = cellNode.attribute("bgcolor")) {
                    if (const auto index = parseColor(*color)) {
                        cell.Flags |= CDTABLECELL_USE_BKGCOLOR;
                        cell.BackgroundColor = *index;
                        if (!isNamedColor(*color))
                            exact = parseRgb(*color);
                    }
                }
                const std::string *style = cellNode.attribute("colorstyle");
                const std::string *alt = cellNode.attribute("altbgcolor");
                if ((cell.Flags & CDTABLECELL_USE_BKGCOLOR) != 0 && style != nullptr && alt != nullptr &&
                    lower(trim(*style)).ends_with("gradient")) {
                    if ((gradient = parseRgb(*alt))) {
                        exact = exact.value_or(kPalette[cell.BackgroundColor]);
                        cell.Flags |= CDTABLECELL_USE_GRADIENT;
                        if (lower(trim(*style)) == "hgradient")
                            cell.Flags |= CDTABLECELL_GRADIENT_LTR;
                    }
                }
                if (const std::string *valign = cellNode.attribute("valign")) {
                    const std::string value = lower(trim(*valign));
                    cell.Flags |= value == "center"   ? CDTABLECELL_VALIGNCENTER
                                  : value == "bottom" ? CDTABLECELL_VALIGNBOTTOM
                                                      : 0;
                }
                emitRecord(cell);
                if (exact)
                    cellColor(*exact, gradient);
                for (const XmlNode &child : cellNode.children) {
                    if (!child.isText && child.name == "cellbackground")
                        cellBackground(child);
                }
                const std::optional<WORD> outerDef = currentDef_;
                blockContent(cellNode, font, keep);
                endParagraph();
                currentDef_ = outerDef;
                column += cell.ColumnSpan;
            }
            ++row;
        }
        CDTABLEEND end{};
        end.Header.Signature = static_cast<BYTE>(nested ? SIG_CD_NESTEDTABLEEND : SIG_CD_TABLEEND);
        emitRecord(end);
        --tableDepth_;
    }

    // Sections: the title in a CDBAR bracketed with its content by CDBEGINRECORD / CDENDRECORD.
    void section(const XmlNode &node, const Font &font, bool keep) {
        endParagraph();
        std::string title;
        for (const XmlNode &child : node.children) {
            if (!child.isText && child.name == "sectiontitle")
                title += textOf(child);
        }
        CDBEGINRECORD begin{};
        begin.Header.Signature = static_cast<BYTE>(SIG_CD_BEGIN);
        begin.Version = 0;
        begin.Signature = SIG_CD_BAR;
        emitRecord(begin);
        // The bar carries the title's colour (BARREC_HAS_COLOR and a colour WORD) before the
        // title, as Notes writes it.
        CDBAR bar{};
        bar.Header.Signature = SIG_CD_BAR;
        bar.Flags = (isTrue(node.attribute("expanded")) ? BARREC_EXPANDED : 0) | BARREC_HAS_COLOR;
        bar.FontID = font.id();
        std::string tail(2, '\0');
        tail[0] = static_cast<char>(font.color);
        tail += utf8ToLmbcs(title);
        tail.push_back('\0');
        emitRecord(bar, std::span(reinterpret_cast<const std::uint8_t *>(tail.data()), tail.size()));
        for (const XmlNode &child : node.children) {
            if (child.isText || child.name == "sectiontitle" || child.name == "code")
                continue;
            Font inner = font;
            blockChild(child, inner, keep);
        }
        endParagraph();
        CDENDRECORD end{};
        end.Header.Signature = static_cast<BYTE>(SIG_CD_END);
        end.Version = 0;
        end.Signature = SIG_CD_BAR;
        emitRecord(end);
    }

    static std::string textOf(const XmlNode &node) {
        std::string text;
        for (const XmlNode &child : node.children) {
            if (child.isText)
                text += child.text;
            else if (child.name != "code" && child.name != "font")
                text += textOf(child);
        }
        return std::string(trim(text));
    }

    void addNonXmlChar(const XmlNode &node, const Font &font, std::optional<Highlight> highlight) {
        const std::string *value = node.attribute("value");
        unsigned code = 0;
        if (value == nullptr ||
            std::from_chars(value->data(), value->data() + value->size(), code, 16).ptr !=
                value->data() + value->size() ||
            code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            noteSkipped("nonxmlchar", "with an unreadable value skipped");
            return;
        }
        std::string utf8;
        if (code < 0x80) {
            utf8.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            utf8.push_back(static_cast<char>(0xC0 | code >> 6));
            utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            utf8.push_back(static_cast<char>(0xE0 | code >> 12));
            utf8.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            utf8.push_back(static_cast<char>(0xF0 | code >> 18));
            utf8.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
            utf8.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
        addText(utf8ToLmbcs(utf8), font, highlight);
    }

    // Block content: children of richtext and of the containers whose paragraphs are kept.
    void blockContent(const XmlNode &container, Font font, bool keep) {
        for (const XmlNode &child : container.children)
            blockChild(child, font, keep);
    }

    void blockChild(const XmlNode &child, Font &font, bool keep) {
        if (child.isText) {
            if (!trim(child.text).empty()) {
                endParagraph();
                startParagraph(nullptr);
                addText(utf8ToLmbcs(normaliseWhitespace(child.text, keep)), font, std::nullopt);
                endParagraph();
            }
            return;
        }
        if (child.name == "font")
            applyFont(child, font);
        else
            blockElement(child, font, keep);
    }

    void blockElement(const XmlNode &node, const Font &font, bool keep) {
        if (node.name == "pardef") {
            endParagraph();
            pardef(node);
        } else if (node.name == "par") {
            startParagraph(node.attribute("def"));
            inlineContent(node, font, keep || isTrue(node.attribute("keepindentation")), std::nullopt);
            endParagraph();
        } else if (node.name == "sectiontitle") {
            startParagraph(nullptr);
            inlineContent(node, font, keep, std::nullopt);
            endParagraph();
        } else if (node.name == "table") {
            table(node, font, keep);
        } else if (node.name == "section") {
            section(node, font, keep);
        } else if (node.name == "layer") {
            layer(node, font, keep);
        } else if (node.name == "compositedata") {
            endParagraph();
            compositeData(node);
        } else if (node.name == "picture" || node.name == "horizrule" || node.name == "doclink" ||
                   node.name == "viewlink" || node.name == "databaselink" || node.name == "attachmentref" ||
                   node.name == "button" || node.name == "actionhotspot" || node.name == "computedtext" ||
                   node.name == "region") {
            startParagraph(nullptr);
            XmlNode wrapper;
            wrapper.children.push_back(node);
            inlineContent(wrapper, font, keep, std::nullopt);
            endParagraph();
        } else if (node.name == "cellbackground" && tableDepth_ > 0) {
            // Written with its cell.
        } else if (treatmentOf(node.name) == Treatment::Drop) {
            endParagraph();
            noteSkipped(node.name, "skipped");
        } else if (node.name == "run" || node.name == "break" || node.name == "nonxmlchar") {
            startParagraph(nullptr);
            XmlNode wrapper;
            wrapper.children.push_back(node);
            inlineContent(wrapper, font, keep, std::nullopt);
            endParagraph();
        } else {
            endParagraph();
            noteSkipped(node.name, "not converted; its paragraphs are kept as plain paragraphs");
            blockContent(node, font, keep || isTrue(node.attribute("keepindentation")));
        }
    }

    // Formulas and scripts of buttons, hotspots, computed text and hide-when conditions are kept
    // as the source text the DXL gives (this runtime has no formula compiler); logged once.
    void formulaKeptAsSource(std::string_view where) {
        noteSkipped(std::string(where) + " formula", "kept as its source text, not compiled");
    }

    struct Code {
        bool script = false; // LotusScript or JavaScript rather than a formula
        std::string text;    // LMBCS
    };

    // The `code` child of `owner` for the event (any event when empty; a code without an event
    // is taken for any): its formula or script.
    static std::optional<Code> codeOf(const XmlNode &owner, std::string_view event) {
        for (const XmlNode &child : owner.children) {
            if (child.isText || child.name != "code")
                continue;
            const std::string *name = child.attribute("event");
            if (!event.empty() && name != nullptr && lower(trim(*name)) != event)
                continue;
            for (const XmlNode &body : child.children) {
                if (body.isText)
                    continue;
                if (body.name == "formula" || body.name == "lotusscript" || body.name == "javascript")
                    return Code{body.name != "formula", utf8ToLmbcs(rawTextOf(body))};
            }
        }
        return std::nullopt;
    }

    static std::string rawTextOf(const XmlNode &node) {
        std::string text;
        for (const XmlNode &child : node.children)
            text += child.isText ? child.text : rawTextOf(child);
        return text;
    }

    void hotspotBegin(WORD signature, WORD type, DWORD flags, std::string data) {
        flushRun();
        if (data.size() > 0xFF00)
            data.resize(0xFF00);
        CDHOTSPOTBEGIN begin{};
        begin.Header.Signature = signature;
        begin.Type = type;
        begin.Flags = flags;
        begin.DataLength = static_cast<WORD>(data.size());
        emitRecord(begin, std::span(reinterpret_cast<const std::uint8_t *>(data.data()), data.size()));
    }

    void hotspotEnd(WORD signature) {
        flushRun();
        emit(bsig(signature, odsSize<CDHOTSPOTEND>()));
    }

    // doclink, viewlink and databaselink: a CDLINKEXPORT2 holding the target (replica ID, view
    // and document UNIDs; the parts a link does not name stay zero), then its comment, the
    // server hint and the anchor as NUL-terminated strings. Content of the element follows the
    // link as text.
    void noteLink(const XmlNode &node, const Font &font, bool keep, std::optional<Highlight> highlight) {
        CDLINKEXPORT2 link{};
        link.Header.Signature = SIG_CD_LINKEXPORT2;
        bool readable = true;
        if (const std::string *database = node.attribute("database")) {
            if (const auto replica = parseReplicaId(*database))
                link.NoteLink.File = *replica;
            else
                readable = false;
        }
        auto unid = [&](const char *name, UNID &field) {
            if (const std::string *text = node.attribute(name)) {
                if (const auto parsed = parseUnid(trim(*text)))
                    field = *parsed;
                else
                    readable = false;
            }
        };
        if (node.name != "databaselink")
            unid("view", link.NoteLink.View);
        if (node.name == "doclink")
            unid("document", link.NoteLink.Note);
        if (!readable)
            noteSkipped(node.name, "target that is not a replica ID or UNID kept as zero");
        std::string tail;
        for (const char *name : {"description", "server"}) {
            const std::string *text = node.attribute(name);
            tail += utf8ToLmbcs(text != nullptr ? *text : std::string());
            tail.push_back('\0');
        }
        if (const std::string *anchor = node.attribute("anchor")) {
            tail += utf8ToLmbcs(*anchor);
            tail.push_back('\0');
        }
        flushRun();
        emitRecord(link, std::span(reinterpret_cast<const std::uint8_t *>(tail.data()), tail.size()));
        inlineContent(node, font, keep, highlight);
    }

    // Replica IDs: 16 hex digits, or two groups of 8 separated by a colon.
    static std::optional<TIMEDATE> parseReplicaId(std::string_view text) {
        std::string digits;
        for (char c : trim(text)) {
            if (c != ':')
                digits.push_back(c);
        }
        return parseTimedateHex(digits);
    }

    // attachmentref: a file hotspot whose data names the $FILE object and the name shown, around
    // the icon picture when one is given.
    void attachmentRef(const XmlNode &node, const Font &font, bool keep) {
        const std::string *name = node.attribute("name");
        if (name == nullptr) {
            noteSkipped("attachmentref", "without a name kept as its text only");
            inlineContent(node, font, keep, std::nullopt);
            return;
        }
        const std::string *display = node.attribute("displayname");
        std::string data = utf8ToLmbcs(*name);
        data.push_back('\0');
        data += utf8ToLmbcs(display != nullptr ? *display : *name);
        data.push_back('\0');
        hotspotBegin(SIG_CD_HOTSPOTBEGIN, HOTSPOTREC_TYPE_FILE, 0, std::move(data));
        for (const XmlNode &child : node.children) {
            if (!child.isText && child.name == "picture")
                picture(child, font);
            else if (!child.isText)
                noteSkipped(child.name, "inside an attachment reference skipped");
        }
        hotspotEnd(SIG_CD_HOTSPOTEND);
    }

    // button: a button hotspot holding its click formula or script, with the CDBUTTON that
    // carries the label.
    void button(const XmlNode &node, const Font &font) {
        const auto code = codeOf(node, "click");
        DWORD flags = 0;
        if (code)
            flags = code->script ? HOTSPOTREC_RUNFLAG_SCRIPT : HOTSPOTREC_RUNFLAG_FORMULA;
        if (code)
            formulaKeptAsSource("button");
        hotspotBegin(SIG_CD_V4HOTSPOTBEGIN, HOTSPOTREC_TYPE_BUTTON, flags, code ? code->text : std::string());
        CDBUTTON record{};
        record.Header.Signature = SIG_CD_BUTTON;
        record.Flags = code && code->script ? BUTTON_RUNFLAG_SCRIPT : 0;
        if (const std::string *width = node.attribute("width"))
            record.Width = clampWord(parseTwips(*width).value_or(0));
        record.Lines = 1;
        if (const std::string *lines = node.attribute("maxlines")) {
            if (const auto value = parseNumber(*lines); value && *value >= 0)
                record.Lines = clampWord(*value);
        }
        record.FontID = font.id();
        const std::string label = utf8ToLmbcs(labelOf(node));
        emitRecord(record, std::span(reinterpret_cast<const std::uint8_t *>(label.data()), label.size()));
        hotspotEnd(SIG_CD_V4HOTSPOTEND);
    }

    // The visible text of an element, without its code.
    static std::string labelOf(const XmlNode &node) {
        std::string text;
        for (const XmlNode &child : node.children) {
            if (child.isText)
                text += child.text;
            else if (child.name != "code" && child.name != "font")
                text += labelOf(child);
        }
        return std::string(trim(text));
    }

    // actionhotspot (content that runs its formula when clicked) and computedtext (a formula
    // whose value is shown): hot-region hotspots, told apart by the computed flag.
    void actionHotspot(const XmlNode &node, const Font &font, bool keep, std::optional<Highlight> highlight) {
        const bool computed = node.name == "computedtext";
        const auto code = codeOf(node, computed ? "value" : "click");
        DWORD flags = computed ? HOTSPOTREC_RUNFLAG_COMPUTED : 0;
        if (code) {
            flags |= code->script ? HOTSPOTREC_RUNFLAG_SCRIPT : HOTSPOTREC_RUNFLAG_FORMULA;
            formulaKeptAsSource(node.name);
        }
        hotspotBegin(SIG_CD_V4HOTSPOTBEGIN, HOTSPOTREC_TYPE_HOTREGION, flags, code ? code->text : std::string());
        if (!computed)
            inlineContent(node, font, keep, highlight);
        hotspotEnd(SIG_CD_V4HOTSPOTEND);
    }

    // region: its content between CDREGIONBEGIN and CDREGIONEND, which carry the region's number.
    void region(const XmlNode &node, const Font &font, bool keep, std::optional<Highlight> highlight) {
        flushRun();
        const WORD number = ++regions_;
        std::vector<std::uint8_t> begin = wsig(SIG_CD_REGIONBEGIN, kRegionBeginSize);
        out_.word(begin, 0); // version
        out_.word(begin, 0); // flags
        out_.word(begin, number);
        begin.resize(kRegionBeginSize, 0);
        emit(std::move(begin));
        inlineContent(node, font, keep, highlight);
        flushRun();
        std::vector<std::uint8_t> end = wsig(SIG_CD_REGIONEND, kRegionEndSize);
        out_.word(end, number);
        end.resize(kRegionEndSize, 0);
        emit(std::move(end));
    }

    // layer: its block content bracketed as a layer (CDBEGINRECORD, CDLAYER ... CDENDRECORD).
    void layer(const XmlNode &node, const Font &font, bool keep) {
        endParagraph();
        emit(bracket(SIG_CD_BEGIN, kLayerVersion, SIG_CD_LAYER));
        std::vector<std::uint8_t> record = bsig(SIG_CD_LAYER, kLayerSize);
        record.resize(kLayerSize, 0);
        emit(std::move(record));
        blockContent(node, font, keep || isTrue(node.attribute("keepindentation")));
        endParagraph();
        emit(bracket(SIG_CD_END, kLayerVersion, SIG_CD_LAYER));
    }

    std::vector<std::uint8_t> bracket(WORD signature, WORD version, WORD bracketed) {
        std::vector<std::uint8_t> record = bsig(signature, odsSize<CDBEGINRECORD>());
        out_.word(record, version);
        out_.word(record, bracketed);
        return record;
    }

    // compositedata: records the exporter could not express, in base64; taken as they are when
    // they are whole records whose lengths agree with the data.
    void compositeData(const XmlNode &node) {
        std::vector<std::uint8_t> value{TYPE_COMPOSITE & 0xFF, TYPE_COMPOSITE >> 8};
        Base64Decoder decoder(value);
        for (const XmlNode &child : node.children) {
            if (child.isText)
                decoder.feed(child.text);
        }
        if (!decoder.finish() || value.size() <= 2) {
            noteSkipped("compositedata", "with data that is not valid base64 skipped");
            return;
        }
        std::vector<std::vector<std::uint8_t>> records;
        std::size_t total = sizeof(WORD);
        const STATUS status = walkComposite(value, [&](const CdRecord &record) -> STATUS {
            // A record must fit in one item value, as every record of rich text does.
            if (record.length == 0 || record.length > kMaxValueSize - sizeof(WORD))
                return ERR_ODS_ENUM_COMPLETE;
            std::vector<std::uint8_t> bytes(record.data, record.data + record.length);
            total += record.length + record.length % 2;
            records.push_back(std::move(bytes));
            return NOERROR;
        });
        if (status != NOERROR || records.empty() || (total != value.size() && total != value.size() + 1)) {
            noteSkipped("compositedata", "whose records do not add up to its data skipped");
            return;
        }
        flushRun();
        for (auto &record : records)
            emit(std::move(record));
    }

    void cellColor(std::uint32_t rgb, std::optional<std::uint32_t> gradient) {
        std::vector<std::uint8_t> record = bsig(SIG_CD_TABLECELL_COLOR, gradient ? 14 : 8);
        auto colorValue = [&](std::uint32_t value, WORD flags) {
            out_.word(record, flags);
            record.push_back(static_cast<std::uint8_t>(value >> 16));
            record.push_back(static_cast<std::uint8_t>(value >> 8));
            record.push_back(static_cast<std::uint8_t>(value));
            record.push_back(0);
        };
        colorValue(rgb, COLOR_VALUE_FLAGS_ISRGB | (gradient ? COLOR_VALUE_FLAGS_HASGRADIENT : 0));
        if (gradient)
            colorValue(*gradient, COLOR_VALUE_FLAGS_ISRGB);
        emit(std::move(record));
    }

    // A cell's background: its repeat mode and, for a shared image, a cell resource naming it.
    void cellBackground(const XmlNode &node) {
        struct RepeatName {
            std::string_view name;
            BYTE repeat;
        };
        static constexpr RepeatName kRepeats[] = {{"once", REPEAT_ONCE},    {"vrepeat", REPEAT_VERT},
                                                  {"hrepeat", REPEAT_HORIZ}, {"tile", REPEAT_BOTH},
                                                  {"resize", REPEAT_SIZE},   {"center", REPEAT_CENTER}};
        CDCELLBACKGROUNDDATA data{};
        data.Header.Signature = SIG_CD_CELLBACKGROUNDDATA;
        if (const std::string *repeat = node.attribute("repeat")) {
            for (const RepeatName &entry : kRepeats) {
                if (entry.name == lower(trim(*repeat)))
                    data.Repeat = entry.repeat;
            }
        }
        emitRecord(data);
        for (const XmlNode &child : node.children) {
            if (child.isText)
                continue;
            if (child.name == "imageref")
                imageRef(child, SIG_CD_TABLECELL_HREF);
            else
                noteSkipped(child.name, "as a cell background not converted");
        }
    }

    // imageref: a resource record naming a shared image (an image resource) by its name, with
    // the database's replica ID (zero for this database) and the hints.
    void imageRef(const XmlNode &node, WORD signature) {
        const std::string *nameText = node.attribute("name");
        if (nameText == nullptr || nameText->empty()) {
            noteSkipped("imageref", "without a name (a computed image) skipped");
            return;
        }
        const std::string name = utf8ToLmbcs(*nameText);
        const std::string server = utf8ToLmbcs(node.attribute("serverhint") ? *node.attribute("serverhint") : "");
        const std::string file = utf8ToLmbcs(node.attribute("filehint") ? *node.attribute("filehint") : "");
        TIMEDATE replica{};
        if (const std::string *database = node.attribute("database")) {
            if (const auto parsed = parseReplicaId(*database))
                replica = *parsed;
            else
                noteSkipped("imageref", "database that is not a replica ID taken as this database");
        }
        CDRESOURCE resource{};
        resource.Header.Signature = signature;
        resource.Type = CDRESOURCE_TYPE_NAMEDELEMENT;
        resource.ResourceClass = CDRESOURCE_CLASS_IMAGE;
        resource.Length1 = static_cast<WORD>(std::min<std::size_t>(name.size(), 0xFF00));
        resource.ServerHintLength = static_cast<WORD>(std::min<std::size_t>(server.size(), 0xFF00));
        resource.FileHintLength = static_cast<WORD>(std::min<std::size_t>(file.size(), 0xFF00));
        std::vector<std::uint8_t> tail(server.begin(), server.begin() + resource.ServerHintLength);
        tail.insert(tail.end(), file.begin(), file.begin() + resource.FileHintLength);
        out_.dword(tail, replica.Innards[0]);
        out_.dword(tail, replica.Innards[1]);
        tail.insert(tail.end(), name.begin(), name.begin() + resource.Length1);
        emitRecord(resource, tail);
    }

    // A table's border (border element): CDBORDERINFO with the style, the four widths in pixels
    // (one value for all sides, or top, right, bottom and left as in CSS) and the colour.
    void tableBorder(const XmlNode &node) {
        static constexpr std::string_view kStyles[] = {"none",   "solid",  "double", "inset",  "outset", "ridge",
                                                       "groove", "dotted", "dashed", "picture", "graphic"};
        CDBORDERINFO border{};
        border.Header.Signature = SIG_CD_BORDERINFO;
        border.BorderStyle = CDBORDERSTYLE_SOLID;
        if (const std::string *style = node.attribute("style")) {
            for (std::size_t i = 0; i < std::size(kStyles); ++i) {
                if (kStyles[i] == lower(trim(*style)))
                    border.BorderStyle = static_cast<WORD>(i);
            }
        }
        std::vector<WORD> widths;
        if (const std::string *width = node.attribute("width")) {
            std::string_view rest = *width;
            while (!trim(rest).empty() && widths.size() < 4) {
                rest = trim(rest);
                const std::size_t end = rest.find_first_of(" ,");
                const auto pixelsValue = pixels(std::string(rest.substr(0, end)));
                widths.push_back(pixelsValue.value_or(1));
                rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
            }
        }
        if (widths.empty())
            widths.push_back(1);
        while (widths.size() < 4)
            widths.push_back(widths.size() == 3 ? widths[1] : widths[0]);
        border.BorderWidthTop = widths[0];
        border.BorderWidthRight = widths[1];
        border.BorderWidthBottom = widths[2];
        border.BorderWidthLeft = widths[3];
        if (isTrue(node.attribute("dropshadow"))) {
            border.BorderFlags = CDBORDER_FLAGS_DROP_SHADOW;
            border.DropShadowWidth = pixels(node.attribute("dropshadowwidth")).value_or(12);
        }
        if (const std::string *color = node.attribute("color")) {
            if (const auto rgb = parseRgb(*color)) {
                border.Color.Flags = COLOR_VALUE_FLAGS_ISRGB;
                border.Color.Component1 = static_cast<BYTE>(*rgb >> 16);
                border.Color.Component2 = static_cast<BYTE>(*rgb >> 8);
                border.Color.Component3 = static_cast<BYTE>(*rgb);
            }
        } else {
            border.Color.Flags = COLOR_VALUE_FLAGS_ISRGB;
        }
        emitRecord(border);
    }

    static std::optional<std::uint16_t> pixels(const std::string &text) { return pixels(&text); }

    RecordWriter out_;
    std::vector<std::vector<std::uint8_t>> values_;
    std::vector<std::uint8_t> current_;
    std::map<std::string, WORD> pabIds_;
    std::set<WORD> usedIds_;
    std::set<WORD> defined_;
    WORD nextAutoId_ = 0xFFFF;
    std::optional<WORD> currentDef_;
    bool inParagraph_ = false;
    Font runFont_;
    std::optional<Highlight> runHighlight_;
    std::string runText_;
    std::set<std::string> logged_;
    Font rootFont_;
    std::size_t tableDepth_ = 0;
    WORD regions_ = 0;
    std::size_t emitted_ = 0; // records written so far
};

std::optional<std::uint8_t> notesColorIndex(std::string_view text) {
    return parseColor(text);
}

std::vector<std::vector<std::uint8_t>> richTextToCompositeItems(const XmlNode &richtext) {
    return Converter().convert(richtext);
}

RichTextStream::RichTextStream() : converter_(std::make_unique<Converter>()) {}

RichTextStream::~RichTextStream() = default;

void RichTextStream::addBlock(const XmlNode &child) {
    converter_->topLevel(child);
}

std::vector<std::vector<std::uint8_t>> RichTextStream::finish() {
    return converter_->finish();
}

} // namespace notesemu
