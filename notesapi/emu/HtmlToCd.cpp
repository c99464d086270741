#include "HtmlToCd.h"

#include "DxlValues.h"
#include "Log.h"

#include <notes/notes.h>

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <memory>
#include <set>
#include <vector>

namespace notesemu {
namespace {

constexpr std::size_t kMaxOpenElements = 256;
constexpr std::size_t kMaxOpenFormatting = 32;
// Elements below this depth of the parsed tree give their text only.
constexpr int kMaxWalkDepth = 300;

bool isOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool isVoidElement(std::string_view name) {
    return isOneOf(name, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param",
                          "source", "track", "wbr", "keygen"});
}

bool isRawTextElement(std::string_view name) {
    return isOneOf(name, {"script", "style", "textarea", "title", "xmp", "iframe", "noembed", "noframes"});
}

bool isFormattingElement(std::string_view name) {
    return isOneOf(name, {"a", "b", "big", "code", "em", "font", "i", "nobr", "s", "small", "strike",
                          "strong", "tt", "u"});
}

bool isBlockStart(std::string_view name) {
    return isOneOf(name,
                   {"address",  "article",    "aside",  "blockquote", "center", "details", "dir", "div", "dl",
                    "fieldset", "figcaption", "figure", "footer",     "form",   "h1",      "h2",  "h3",  "h4",
                    "h5",       "h6",         "header", "hr",         "main",   "menu",    "nav", "ol",  "p",
                    "pre",      "section",    "table",  "ul",         "li",     "dd",      "dt"});
}

std::size_t findCaseless(std::string_view text, std::string_view what, std::size_t from) {
    if (what.empty() || text.size() < what.size())
        return std::string_view::npos;
    for (std::size_t i = from; i + what.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < what.size() &&
               std::tolower(static_cast<unsigned char>(text[i + k])) == static_cast<unsigned char>(what[k]))
            ++k;
        if (k == what.size())
            return i;
    }
    return std::string_view::npos;
}

// Arena for the parser: gumbo frees nothing we need freed one by one, and its own tree release
// recurses over the depth of the tree, so the whole arena goes at once instead.
class ParserArena {
public:
    static void *allocate(void *self, std::size_t size) {
        return static_cast<ParserArena *>(self)->take(size);
    }
    static void release(void *, void *) {}

private:
    void *take(std::size_t size) {
        size = (size + 15) & ~std::size_t{15};
        if (size > kChunk / 8) {
            large_.push_back(std::make_unique<std::max_align_t[]>(size / sizeof(std::max_align_t) + 1));
            return large_.back().get();
        }
        if (size > free_) {
            chunks_.push_back(std::make_unique<std::max_align_t[]>(kChunk / sizeof(std::max_align_t)));
            next_ = reinterpret_cast<char *>(chunks_.back().get());
            free_ = kChunk;
        }
        void *out = next_;
        next_ += size;
        free_ -= size;
        return out;
    }

    static constexpr std::size_t kChunk = 1 << 20;
    std::vector<std::unique_ptr<std::max_align_t[]>> chunks_, large_;
    char *next_ = nullptr;
    std::size_t free_ = 0;
};

std::string_view tagName(const GumboNode *node) {
    if (node->v.element.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(node->v.element.tag);
    GumboStringPiece original = node->v.element.original_tag;
    gumbo_tag_from_original_text(&original);
    return std::string_view(original.data, original.length);
}

std::string_view attribute(const GumboNode *node, const char *name) {
    const GumboAttribute *found = gumbo_get_attribute(&node->v.element.attributes, name);
    return found != nullptr ? std::string_view(found->value) : std::string_view();
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

struct State {
    TextStyle text;
    ParagraphStyle paragraph;
    bool pre = false;
    std::optional<std::string> link;
    int listDepth = 0;
    ListKind listKind = ListKind::None;
    int tableDepth = 0;
};

class Converter {
public:
    Converter(CompositeBuilder &out, const HtmlPictureSource &pictures) : out_(out), pictures_(pictures) {}

    void run(const GumboNode *root) {
        State state;
        walk(root, state, 0);
        out_.linkEnd();
    }

    void report() const {
        for (const std::string &line : notes_)
            logf("HTML conversion: %s", line.c_str());
    }

private:
    void note(std::string line) { notes_.insert(std::move(line)); }

    void blockBreak() { needParagraph_ = true; }

    // Makes sure inline content has a paragraph, and is inside the link it belongs to.
    void ensureInline(const State &state) {
        if (needParagraph_ || !started_) {
            out_.linkEnd();
            out_.paragraph(state.paragraph);
            needParagraph_ = false;
            started_ = true;
            lastWasSpace_ = true;
        }
        if (state.link && !out_.inLink())
            out_.linkBegin(*state.link);
        else if (!state.link && out_.inLink())
            out_.linkEnd();
    }

    void text(std::string_view raw, const State &state) {
        std::string collapsed;
        if (state.pre) {
            collapsed.reserve(raw.size());
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\r') {
                    collapsed += '\n';
                    if (i + 1 < raw.size() && raw[i + 1] == '\n')
                        ++i;
                } else {
                    collapsed += raw[i];
                }
            }
        } else {
            // Spaces at the start of a paragraph and after a space are not shown.
            bool space = lastWasSpace_ || needParagraph_;
            for (const char c : raw) {
                if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                    if (!space)
                        collapsed += ' ';
                    space = true;
                } else {
                    collapsed += c;
                    space = false;
                }
            }
        }
        if (collapsed.empty())
            return;
        ensureInline(state);
        out_.text(collapsed, state.text);
        lastWasSpace_ = !state.pre && collapsed.back() == ' ';
    }

    void lineBreak(const State &state) {
        ensureInline(state);
        out_.text("\n", state.text);
        lastWasSpace_ = true;
    }

    void children(const GumboNode *node, const State &state, int depth) {
        const GumboVector &list =
            node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
        for (unsigned i = 0; i < list.length; ++i)
            walk(static_cast<const GumboNode *>(list.data[i]), state, depth + 1);
    }

    // The text of a subtree too deep to convert, gathered without recursion.
    void flatText(const GumboNode *root, const State &state) {
        note("elements nested deeper than " + std::to_string(kMaxWalkDepth) + " levels kept as plain text");
        std::vector<const GumboNode *> stack{root};
        while (!stack.empty()) {
            const GumboNode *node = stack.back();
            stack.pop_back();
            if (node->type == GUMBO_NODE_TEXT || node->type == GUMBO_NODE_WHITESPACE ||
                node->type == GUMBO_NODE_CDATA) {
                text(node->v.text.text, state);
            } else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE) {
                const std::string_view name = tagName(node);
                if (isRawTextElement(name) && name != "textarea" && name != "title")
                    continue;
                if (isBlockStart(name) || name == "br" || name == "tr")
                    blockBreak();
                const GumboVector &list = node->v.element.children;
                for (unsigned i = list.length; i > 0; --i)
                    stack.push_back(static_cast<const GumboNode *>(list.data[i - 1]));
            }
        }
    }

    void walk(const GumboNode *node, const State &parent, int depth) {
        switch (node->type) {
        case GUMBO_NODE_DOCUMENT:
            children(node, parent, depth);
            return;
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            text(node->v.text.text, parent);
            return;
        case GUMBO_NODE_COMMENT:
            return;
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE:
            break;
        }
        if (depth > kMaxWalkDepth) {
            flatText(node, parent);
            return;
        }
        element(node, parent, depth);
    }

    void element(const GumboNode *node, const State &parent, int depth) {
        const std::string name = lower(tagName(node));
        State state = parent;
        if (isOneOf(name, {"head", "script", "style", "template", "meta", "link", "base", "title"})) {
            if (name == "script" || name == "style")
                note(name + " elements are not shown");
            return;
        }
        if (isOneOf(name, {"svg", "math", "object", "embed", "iframe", "frame", "frameset", "applet",
                           "canvas", "video", "audio"})) {
            note("<" + name + "> content kept as its text only");
        }
        if (name == "br") {
            lineBreak(state);
            return;
        }
        if (name == "hr") {
            out_.linkEnd();
            out_.horizontalRule();
            started_ = true;
            blockBreak();
            return;
        }
        if (name == "img") {
            picture(node, state);
            return;
        }
        if (name == "table") {
            table(node, state, depth);
            return;
        }
        if (name == "input" || name == "select" || name == "button" || name == "textarea") {
            note("form controls kept as their text only");
        }
        applyInline(name, node, state);
        const bool block = isBlockStart(name) || isOneOf(name, {"tr", "caption"});
        if (block)
            applyBlock(name, node, state);
        if (name == "a") {
            const std::string href(trimmed(attribute(node, "href")));
            const std::string scheme =
                lower(href.substr(0, href.find(':') == std::string::npos ? 0 : href.find(':')));
            if (!href.empty() && href[0] != '#' && scheme != "javascript" && href.size() < 0x7000)
                state.link = href;
            else if (!href.empty())
                note("links to page anchors and scripts kept as their text");
        }
        if (block)
            blockBreak();
        children(node, state, depth);
        if (block)
            blockBreak();
        if (name == "a" && state.link && !parent.link)
            out_.linkEnd();
    }

    void applyInline(const std::string &name, const GumboNode *node, State &state) {
        TextStyle &t = state.text;
        if (isOneOf(name, {"b", "strong"}))
            t.attrib |= ISBOLD;
        else if (isOneOf(name, {"i", "em", "cite", "var", "dfn", "address"}))
            t.attrib |= ISITALIC;
        else if (isOneOf(name, {"u", "ins"}))
            t.attrib |= ISUNDERLINE;
        else if (isOneOf(name, {"s", "strike", "del"}))
            t.attrib |= ISSTRIKEOUT;
        else if (name == "sup")
            t.attrib = static_cast<std::uint8_t>((t.attrib & ~ISSUB) | ISSUPER);
        else if (name == "sub")
            t.attrib = static_cast<std::uint8_t>((t.attrib & ~ISSUPER) | ISSUB);
        else if (isOneOf(name, {"code", "tt", "kbd", "samp", "pre", "listing", "plaintext", "xmp"}))
            t.face = FONT_FACE_TYPEWRITER;
        else if (name == "small")
            t.size = static_cast<std::uint8_t>(std::max(6, t.size - 2));
        else if (name == "big")
            t.size = static_cast<std::uint8_t>(std::min(72, t.size + 2));
        else if (name == "th")
            t.attrib |= ISBOLD;
        else if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
            static constexpr std::array<std::uint8_t, 6> kSizes{18, 16, 14, 12, 10, 8};
            t.attrib |= ISBOLD;
            t.size = kSizes[static_cast<std::size_t>(name[1] - '1')];
        }
        const std::string style = lower(attribute(node, "style"));
        if (style.find("font-weight:bold") != std::string::npos ||
            style.find("font-weight: bold") != std::string::npos)
            t.attrib |= ISBOLD;
        if (style.find("font-style:italic") != std::string::npos ||
            style.find("font-style: italic") != std::string::npos)
            t.attrib |= ISITALIC;
        if (style.find("underline") != std::string::npos)
            t.attrib |= ISUNDERLINE;
    }

    void applyBlock(const std::string &name, const GumboNode *node, State &state) {
        if (name == "pre" || name == "listing" || name == "plaintext")
            state.pre = true;
        if (name == "center")
            state.paragraph.justify = JUSTIFY_CENTER;
        const std::string align = lower(trimmed(attribute(node, "align")));
        if (align == "center")
            state.paragraph.justify = JUSTIFY_CENTER;
        else if (align == "right")
            state.paragraph.justify = JUSTIFY_RIGHT;
        else if (align == "justify")
            state.paragraph.justify = JUSTIFY_BLOCK;
        else if (align == "left")
            state.paragraph.justify = JUSTIFY_LEFT;
        if (name == "ul" || name == "ol" || name == "dir" || name == "menu") {
            state.listKind = name == "ol" ? ListKind::Numbered : ListKind::Bullet;
            state.listDepth = std::min(state.listDepth + 1, 8);
            state.paragraph.list = ListKind::None;
        } else if (name == "li") {
            state.paragraph.list = state.listKind == ListKind::None ? ListKind::Bullet : state.listKind;
            state.paragraph.indent =
                static_cast<std::uint8_t>(std::max(state.listDepth - 1, 0) + blockIndent(state));
        } else if (name == "blockquote" || name == "dd") {
            state.paragraph.indent = static_cast<std::uint8_t>(std::min(state.paragraph.indent + 1, 16));
        }
    }

    static int blockIndent(const State &state) {
        return state.paragraph.list == ListKind::None ? state.paragraph.indent : 0;
    }

    void picture(const GumboNode *node, const State &state) {
        const std::string_view src = trimmed(attribute(node, "src"));
        const std::string_view alt = attribute(node, "alt");
        std::optional<HtmlPicture> found;
        if (lower(src.substr(0, 5)) == "data:")
            found = dataPicture(src);
        else if (!src.empty() && pictures_)
            found = pictures_(src);
        if (found) {
            ensureInline(state);
            out_.picture(found->kind, found->size.width, found->size.height, found->bytes);
            lastWasSpace_ = false;
            return;
        }
        note("pictures the message does not carry are kept as their alt text");
        if (!trimmed(alt).empty())
            text("[" + std::string(trimmed(alt)) + "]", state);
    }

    std::optional<HtmlPicture> dataPicture(std::string_view src) {
        const std::size_t comma = src.find(',');
        if (comma == std::string_view::npos)
            return std::nullopt;
        const std::string meta = lower(src.substr(5, comma - 5));
        if (meta.find(";base64") == std::string::npos)
            return std::nullopt;
        ImageKind kind;
        if (meta.starts_with("image/gif"))
            kind = ImageKind::Gif;
        else if (meta.starts_with("image/png"))
            kind = ImageKind::Png;
        else if (meta.starts_with("image/jpeg") || meta.starts_with("image/jpg"))
            kind = ImageKind::Jpeg;
        else if (meta.starts_with("image/bmp"))
            kind = ImageKind::Bmp;
        else
            return std::nullopt;
        std::vector<std::uint8_t> bytes;
        Base64Decoder decoder(bytes);
        decoder.feed(src.substr(comma + 1));
        if (!decoder.finish()) {
            note("a data: picture with malformed base64 kept as its alt text");
            return std::nullopt;
        }
        const auto size = imageSize(kind, bytes);
        if (!size)
            return std::nullopt;
        decoded_.push_back(std::move(bytes));
        return HtmlPicture{kind, decoded_.back(), *size};
    }

    // Rows of a table: tr elements directly inside it or inside its thead, tbody and tfoot.
    static std::vector<const GumboNode *> rowsOf(const GumboNode *table) {
        std::vector<const GumboNode *> rows;
        const GumboVector &list = table->v.element.children;
        for (unsigned i = 0; i < list.length; ++i) {
            const auto *child = static_cast<const GumboNode *>(list.data[i]);
            if (child->type != GUMBO_NODE_ELEMENT)
                continue;
            if (child->v.element.tag == GUMBO_TAG_TR) {
                rows.push_back(child);
            } else if (child->v.element.tag == GUMBO_TAG_THEAD || child->v.element.tag == GUMBO_TAG_TBODY ||
                       child->v.element.tag == GUMBO_TAG_TFOOT) {
                const GumboVector &inner = child->v.element.children;
                for (unsigned k = 0; k < inner.length; ++k) {
                    const auto *row = static_cast<const GumboNode *>(inner.data[k]);
                    if (row->type == GUMBO_NODE_ELEMENT && row->v.element.tag == GUMBO_TAG_TR)
                        rows.push_back(row);
                }
            }
        }
        return rows;
    }

    static std::vector<const GumboNode *> cellsOf(const GumboNode *row) {
        std::vector<const GumboNode *> cells;
        const GumboVector &list = row->v.element.children;
        for (unsigned i = 0; i < list.length; ++i) {
            const auto *child = static_cast<const GumboNode *>(list.data[i]);
            if (child->type == GUMBO_NODE_ELEMENT &&
                (child->v.element.tag == GUMBO_TAG_TD || child->v.element.tag == GUMBO_TAG_TH))
                cells.push_back(child);
        }
        return cells;
    }

    void table(const GumboNode *node, const State &parent, int depth) {
        State state = parent;
        state.link.reset();
        out_.linkEnd();
        const std::vector<const GumboNode *> rows = rowsOf(node);
        const GumboVector &list = node->v.element.children;
        for (unsigned i = 0; i < list.length; ++i) {
            const auto *child = static_cast<const GumboNode *>(list.data[i]);
            if (child->type == GUMBO_NODE_ELEMENT && child->v.element.tag == GUMBO_TAG_CAPTION) {
                blockBreak();
                children(child, state, depth);
                blockBreak();
            }
        }
        if (parent.tableDepth > 0 || rows.empty()) {
            // A table inside a cell: its cells become paragraphs of the cell.
            if (parent.tableDepth > 0)
                note("tables inside tables flattened into paragraphs");
            for (const GumboNode *row : rows) {
                for (const GumboNode *cell : cellsOf(row)) {
                    blockBreak();
                    State cellState = state;
                    applyInline(lower(tagName(cell)), cell, cellState);
                    children(cell, cellState, depth + 1);
                }
            }
            blockBreak();
            return;
        }
        std::size_t columns = 1;
        for (const GumboNode *row : rows)
            columns = std::max(columns, cellsOf(row).size());
        if (columns > 255) {
            note("table columns beyond 255 joined into the last cell");
            columns = 255;
        }
        for (std::size_t first = 0; first < rows.size(); first += 255) {
            const std::size_t count = std::min<std::size_t>(255, rows.size() - first);
            if (first > 0)
                note("tables of more than 255 rows continue in another table");
            out_.tableBegin(static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(columns));
            for (std::size_t r = 0; r < count; ++r) {
                const std::vector<const GumboNode *> cells = cellsOf(rows[first + r]);
                for (std::size_t c = 0; c < columns; ++c) {
                    out_.tableCell(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(c),
                                   static_cast<std::uint8_t>(columns));
                    State cellState = state;
                    cellState.tableDepth = parent.tableDepth + 1;
                    cellState.paragraph = ParagraphStyle{};
                    cellState.listDepth = 0;
                    cellState.listKind = ListKind::None;
                    needParagraph_ = true;
                    const std::size_t last = c + 1 == columns ? cells.size() : std::min(c + 1, cells.size());
                    for (std::size_t k = c; k < last; ++k) {
                        State own = cellState;
                        applyInline(lower(tagName(cells[k])), cells[k], own);
                        applyBlock(lower(tagName(cells[k])), cells[k], own);
                        children(cells[k], own, depth + 2);
                    }
                    // Every cell holds at least one paragraph.
                    if (needParagraph_) {
                        out_.paragraph(cellState.paragraph);
                        needParagraph_ = false;
                    }
                    out_.linkEnd();
                }
            }
            out_.tableEnd();
        }
        started_ = true;
        blockBreak();
    }

    CompositeBuilder &out_;
    const HtmlPictureSource &pictures_;
    bool needParagraph_ = false;
    bool started_ = false;
    bool lastWasSpace_ = true;
    std::deque<std::vector<std::uint8_t>> decoded_;
    std::set<std::string> notes_;
};

} // namespace

std::string boundHtmlNesting(std::string_view html, std::size_t &dropped) {
    dropped = 0;
    std::string out;
    out.reserve(html.size());
    std::vector<std::string> open;
    std::size_t formatting = 0;
    const auto popTo = [&](std::size_t index) {
        while (open.size() > index) {
            formatting -= isFormattingElement(open.back()) ? 1 : 0;
            open.pop_back();
        }
    };
    // Index of the innermost open element of one of `names` above any of `stops`.
    const auto findOpen = [&](std::initializer_list<std::string_view> names,
                              std::initializer_list<std::string_view> stops) -> std::optional<std::size_t> {
        for (std::size_t i = open.size(); i > 0; --i) {
            if (isOneOf(open[i - 1], names))
                return i - 1;
            if (isOneOf(open[i - 1], stops))
                return std::nullopt;
        }
        return std::nullopt;
    };
    std::size_t i = 0;
    while (i < html.size()) {
        const std::size_t lt = html.find('<', i);
        out.append(html.substr(i, lt == std::string_view::npos ? std::string_view::npos : lt - i));
        if (lt == std::string_view::npos)
            break;
        if (html.substr(lt, 4) == "<!--") {
            const std::size_t end = html.find("-->", lt + 4);
            const std::size_t stop = end == std::string_view::npos ? html.size() : end + 3;
            out.append(html.substr(lt, stop - lt));
            i = stop;
            continue;
        }
        const bool closing = lt + 1 < html.size() && html[lt + 1] == '/';
        const std::size_t nameStart = lt + 1 + (closing ? 1 : 0);
        if (nameStart >= html.size() || !std::isalpha(static_cast<unsigned char>(html[nameStart]))) {
            out += '<';
            i = lt + 1;
            continue;
        }
        std::size_t nameEnd = nameStart;
        while (nameEnd < html.size() && (std::isalnum(static_cast<unsigned char>(html[nameEnd])) ||
                                         html[nameEnd] == '-' || html[nameEnd] == ':'))
            ++nameEnd;
        std::size_t end = nameEnd;
        char quote = 0;
        while (end < html.size() && (quote != 0 || html[end] != '>')) {
            if (quote != 0 && html[end] == quote)
                quote = 0;
            else if (quote == 0 && (html[end] == '"' || html[end] == '\''))
                quote = html[end];
            ++end;
        }
        if (end >= html.size()) {
            out.append(html.substr(lt));
            break;
        }
        const std::string_view tag = html.substr(lt, end + 1 - lt);
        const std::string name = lower(html.substr(nameStart, nameEnd - nameStart));
        i = end + 1;
        if (closing) {
            for (std::size_t k = open.size(); k > 0; --k) {
                if (open[k - 1] == name) {
                    popTo(k - 1);
                    break;
                }
            }
            out.append(tag);
            continue;
        }
        if (isRawTextElement(name)) {
            const std::size_t close = findCaseless(html, "</" + name, i);
            const std::size_t stop = close == std::string_view::npos ? html.size() : close;
            out.append(tag);
            out.append(html.substr(i, stop - i));
            i = stop;
            continue;
        }
        // The end tags HTML leaves out: a new item, row or cell closes the open one.
        if (name == "li") {
            if (const auto at = findOpen({"li"}, {"ul", "ol", "menu", "dir", "table"}))
                popTo(*at);
        } else if (name == "dt" || name == "dd") {
            if (const auto at = findOpen({"dt", "dd"}, {"dl", "table"}))
                popTo(*at);
        } else if (name == "tr") {
            if (const auto at = findOpen({"tr"}, {"table"}))
                popTo(*at);
        } else if (name == "td" || name == "th") {
            if (const auto at = findOpen({"td", "th"}, {"tr", "table"}))
                popTo(*at);
        } else if (name == "option") {
            if (const auto at = findOpen({"option"}, {"select"}))
                popTo(*at);
        }
        if (isBlockStart(name)) {
            if (const auto at = findOpen({"p"}, {"table", "td", "th", "button", "li", "div", "blockquote"}))
                popTo(*at);
        }
        if (isVoidElement(name) || tag.ends_with("/>")) {
            out.append(tag);
            continue;
        }
        const bool format = isFormattingElement(name);
        if (open.size() >= kMaxOpenElements || (format && formatting >= kMaxOpenFormatting)) {
            ++dropped;
            continue;
        }
        open.push_back(name);
        formatting += format ? 1 : 0;
        out.append(tag);
    }
    return out;
}

void htmlToComposite(std::string_view html, CompositeBuilder &out, const HtmlPictureSource &pictures) {
    std::size_t dropped = 0;
    const std::string bounded = boundHtmlNesting(html, dropped);
    if (dropped > 0)
        logf("HTML conversion: %zu start tags nested beyond %zu elements (or %zu formatting elements) left "
             "out; their text is kept",
             dropped, kMaxOpenElements, kMaxOpenFormatting);
    ParserArena arena;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &ParserArena::allocate;
    options.deallocator = &ParserArena::release;
    options.userdata = &arena;
    options.max_errors = 0;
    const GumboOutput *parsed = gumbo_parse_with_options(&options, bounded.data(), bounded.size());
    Converter converter(out, pictures);
    converter.run(parsed->document);
    converter.report();
}

} // namespace notesemu
