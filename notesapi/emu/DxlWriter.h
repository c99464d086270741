// Writes databases and single notes in the DXL dialect the loader reads: every note in note
// format (`note` with its class, noteinfo and all items), single-quoted attributes, base64
// wrapped at 76 columns, no formatting whitespace inside character data. Each value is written in
// its XML form when reading that form back gives the very same bytes, and as rawitemdata
// otherwise, so that load, write and load again give the same notes and items.
#pragma once

#include "Database.h"

#include <ostream>
#include <span>
#include <string>
#include <string_view>

namespace notesemu {

// The whole database: prolog, root attributes, ACL, then the notes in note ID order.
void writeDatabaseDxl(std::ostream &out, const Database &database);

// One note with the given items (the stored ones, or an open note's working copy). With `root`
// the element carries the namespace and the database's version and replica ID attributes, as a
// document of its own; without, it is ready to go inside a `database` element.
// richTextAsXml: rich text items whose records all have an XML form are written as <richtext>;
// bitmapsAsGif: their Notes bitmaps as GIF pictures.
std::string noteDxl(const Database &database, const Note &note, std::span<const Item> items, bool root,
                    bool richTextAsXml = false, bool bitmapsAsGif = false);

// Appends text escaped for DXL: markup characters always, and in an attribute value (quoted with
// ') also the apostrophe and the line and tab characters, which a parser would otherwise normalise.
// A CR is escaped everywhere, so that it survives a reload.
void appendXmlEscaped(std::string &out, std::string_view text, bool attribute);

} // namespace notesemu
