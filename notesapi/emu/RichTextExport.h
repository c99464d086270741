// Composite records back to DXL rich-text XML (eDxlRichtextOption 0): paragraph definitions (with
// percentage margins and hide-when formulas), paragraphs, runs with their font and highlight, line
// breaks, URL, document, view and database links, attachment references, buttons, action hotspots,
// computed text, regions, layers, pictures (GIF, JPEG, PNG, Notes bitmaps, shared images, captions),
// horizontal rules, tables (column widths, borders, cell colours and backgrounds, nested tables) and
// sections. A value holding any record this writer does not express, or one whose fields the XML
// would not give back, gives nullopt, and the exporter keeps that item as raw item data, so nothing
// is lost.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace notesemu {

// `value` is a TYPE_COMPOSITE value with its type word; the result is a whole <richtext> element.
// With bitmapsAsGif (eConvertNotesbitmapsToGIF) a Notes bitmap is written as a GIF marked
// originalformat='notesbitmap'; one that cannot be decoded stays <notesbitmap>, with a log line.
std::optional<std::string> compositeToRichTextXml(std::span<const std::uint8_t> value, bool bitmapsAsGif = false);

} // namespace notesemu
