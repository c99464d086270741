// The converter covers paragraphs: `pardef` (alignment, margins, spacing, tabs, page and keep
// flags, hide-when flags, list kinds, reading order), `par`, `run` and `font` (face, size,
// colour, styles and effects), `run/@highlight`, `break` (the NUL byte Notes stores for a line
// break inside a text run) and `nonxmlchar`. Text is converted from UTF-8 to LMBCS.
//
// What it does with the rest, each logged once per conversion with the element's name:
// - links, anchors, spans, pop-ups, hotspots, regions and attachment references keep their
//   visible text as plain text in the surrounding run (the link or hotspot itself is dropped);
// - tables, sections and other block containers keep their paragraphs: each cell's or
//   section's paragraphs become ordinary paragraphs, a section title a paragraph of its own;
// - pictures, rules, buttons, fields, computed text, formulas, embedded controls, raw composite
//   data and the like are dropped (they hold no text a reader sees as such);
// - an element not named anywhere keeps its text.
// Faces: the generic names and a few common face names map to the five static faces (no $Fonts
// item is written); other names follow `familyid`, else sans-serif. Colours: the named colours
// map to the 16 solid Notes colours; other RGB values to the exact or nearest entry of the
// 240-colour Notes palette (by squared RGB distance). Percentage margins and tab stops without
// a unit keep the defaults.
#include "RichText.h"

#include "Log.h"
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

// A colour attribute as a palette index, or nullopt when it cannot be read.
std::optional<std::uint8_t> parseColor(std::string_view text) {
    const std::string value = lower(trim(text));
    for (const NamedColor &named : kNamedColors) {
        if (named.name == value)
            return named.index;
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
    {"doclink", Treatment::KeepText},
    {"viewlink", Treatment::KeepText},
    {"databaselink", Treatment::KeepText},
    {"namedelementlink", Treatment::KeepText},
    {"anchor", Treatment::KeepText},
    {"popup", Treatment::KeepText},
    {"actionhotspot", Treatment::KeepText},
    {"region", Treatment::KeepText},
    {"attachmentref", Treatment::KeepText},
    {"picture", Treatment::Drop},
    {"horizrule", Treatment::Drop},
    {"computedtext", Treatment::Drop},
    {"button", Treatment::Drop},
    {"field", Treatment::Drop},
    {"sharedfieldref", Treatment::Drop},
    {"code", Treatment::Drop},
    {"popuptext", Treatment::Drop},
    {"compositedata", Treatment::Drop},
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
    {"layer", Treatment::Block},
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
        auto margin = [&](const char *name, WORD &field) {
            const std::string *text = node.attribute(name);
            if (text == nullptr)
                return false;
            if (const auto twips = parseTwips(*text)) {
                field = clampWord(*twips);
                return true;
            }
            noteSkipped(name, "value without a length unit or as a percentage kept at its default");
            return false;
        };
        const bool hasLeft = margin("leftmargin", pab.LeftMargin);
        if (!margin("firstlineleftmargin", pab.FirstLineLeftMargin) && hasLeft)
            pab.FirstLineLeftMargin = pab.LeftMargin;
        margin("rightmargin", pab.RightMargin);
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
        for (const XmlNode &child : node.children) {
            if (!child.isText)
                noteSkipped(child.name, "in a paragraph definition ignored");
        }

        std::vector<std::uint8_t> record = wsig(SIG_CD_PABDEFINITION, sizeof(CDPABDEFINITION));
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
        emit(std::move(record));
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
        struct HideToken {
            std::string_view name;
            WORD flags;
            WORD flags2;
        };
        static constexpr HideToken kTokens[] = {
            {"read", PABFLAG_HIDE_RO, 0},     {"edit", PABFLAG_HIDE_RW, 0},
            {"print", PABFLAG_HIDE_PR, 0},    {"copy", PABFLAG_HIDE_CO, 0},
            {"preview", PABFLAG_HIDE_PV, 0},  {"previewedit", PABFLAG_HIDE_PVE, 0},
            {"notes", PABFLAG_HIDE_NOTES, 0}, {"web", 0, PABFLAG2_HIDE_WEB},
        };
        const std::string value = lower(text);
        std::size_t pos = 0;
        while (pos < value.size()) {
            const std::size_t end = value.find_first_of(" ,", pos);
            const std::string_view token =
                std::string_view(value).substr(pos, end == std::string::npos ? end : end - pos);
            pos = end == std::string::npos ? value.size() : end + 1;
            for (const HideToken &hide : kTokens) {
                if (hide.name == token) {
                    pab.Flags |= hide.flags;
                    pab.Flags2 |= hide.flags2;
                }
            }
        }
    }

    void parseList(std::string_view text, CDPABDEFINITION &pab) {
        struct ListKind {
            std::string_view name;
            WORD flags;
            WORD flags2;
        };
        static constexpr ListKind kKinds[] = {
            {"bullet", PABFLAG_BULLET, 0},
            {"circle", PABFLAG_BULLET, PABFLAG2_CIRCLELIST},
            {"square", PABFLAG_BULLET, PABFLAG2_SQUARELIST},
            {"check", PABFLAG_BULLET, PABFLAG2_CHECKEDLIST},
            {"uncheck", PABFLAG_BULLET, PABFLAG2_UNCHECKEDLIST},
            {"number", PABFLAG_NUMBEREDLIST, 0},
            {"romanupper", PABFLAG_NUMBEREDLIST, PABFLAG2_CHECKEDLIST | PABFLAG2_CIRCLELIST},
            {"romanlower", PABFLAG_NUMBEREDLIST, PABFLAG2_CHECKEDLIST | PABFLAG2_SQUARELIST},
            {"alphaupper", PABFLAG_NUMBEREDLIST, PABFLAG2_SQUARELIST | PABFLAG2_CIRCLELIST},
            {"alphalower", PABFLAG_NUMBEREDLIST,
             PABFLAG2_CHECKEDLIST | PABFLAG2_SQUARELIST | PABFLAG2_CIRCLELIST},
        };
        const std::string value = lower(trim(text));
        for (const ListKind &kind : kKinds) {
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
        emit(bsig(SIG_CD_PARAGRAPH, sizeof(CDPARAGRAPH)));
        std::vector<std::uint8_t> reference = bsig(SIG_CD_PABREFERENCE, sizeof(CDPABREFERENCE));
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
            std::vector<std::uint8_t> record = wsig(SIG_CD_TEXT, sizeof(CDTEXT) + piece.size());
            out_.dword(record, runFont_.id());
            record.insert(record.end(), piece.begin(), piece.end());
            emit(std::move(record));
            if (runHighlight_)
                highlightEnd();
        }
        runText_.clear();
    }

    void highlightBegin(const Highlight &highlight) {
        std::vector<std::uint8_t> begin = bsig(SIG_CD_BEGIN, sizeof(CDBEGINRECORD));
        out_.word(begin, 0);
        out_.word(begin, SIG_CD_TEXT);
        emit(std::move(begin));
        std::vector<std::uint8_t> color = bsig(SIG_CD_COLOR, sizeof(CDCOLOR));
        out_.word(color, static_cast<WORD>(highlight.flag | COLOR_VALUE_FLAGS_ISRGB));
        color.push_back(static_cast<std::uint8_t>(highlight.rgb >> 16));
        color.push_back(static_cast<std::uint8_t>(highlight.rgb >> 8));
        color.push_back(static_cast<std::uint8_t>(highlight.rgb));
        color.push_back(0);
        emit(std::move(color));
    }

    void highlightEnd() {
        std::vector<std::uint8_t> end = bsig(SIG_CD_END, sizeof(CDENDRECORD));
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
};

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
