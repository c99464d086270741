// HTML (as found in mail) to composite records, through the gumbo HTML5 parser: paragraphs and
// the block elements, line breaks, bold, italic, underline, strike-through, super- and
// subscript, monospaced and heading text, links as URL hotspots, bulleted and numbered lists,
// horizontal rules, simple tables (one cell per td/th, no spans; a table inside a table is
// flattened into its cell's paragraphs) and pictures the caller can supply (cid: references and
// data: URLs). Scripts, styles and the head are not shown; a picture that cannot be had is kept
// as its alt text. Everything skipped is logged once per conversion.
//
// Hostile input: nesting is bounded before the parser sees the text (start tags beyond 256 open
// elements, or beyond 32 open formatting elements, are left out, their text kept), because the
// parser's tree building slows down with the square of the nesting; the conversion itself is
// linear in the size of the tree.
#pragma once

#include "CompositeBuilder.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace notesemu {

struct HtmlPicture {
    ImageKind kind = ImageKind::Gif;
    std::span<const std::uint8_t> bytes;
    ImageSize size;
};

// Resolves the src of an img element to a picture, or nullopt.
using HtmlPictureSource = std::function<std::optional<HtmlPicture>(std::string_view src)>;

// Converts UTF-8 HTML into the builder's current position.
void htmlToComposite(std::string_view html, CompositeBuilder &out, const HtmlPictureSource &pictures);

// The HTML with start tags beyond the nesting bounds left out; exposed for tests.
std::string boundHtmlNesting(std::string_view html, std::size_t &dropped);

} // namespace notesemu
