// Reads a database stored as DXL into the in-memory model, in one streaming pass with expat.
//
// Safety: external entities are never read, parameter entities are never parsed, and a document
// that declares any entity is refused (ERR_NOT_NSF), so entity expansion cannot blow up. Only
// regular files are opened (a FIFO or a device is refused at once). A token expat cannot finish
// within LoadOptions::maxTokenBytes (a start tag with a huge attribute, an endless comment) is
// refused (ERR_STRUCT) instead of being scanned again on every buffer.
//
// Nothing is lost silently: each item value is held to LoadOptions::maxValueBytes (characters of
// a text, number or date value, decoded bytes of base64 data, the memory of a rich-text item's
// tree); an item over the limit stays in its note, with its name, flags and type but without its
// value, and reading it fails with ERR_MEMORY (an attachment keeps its file object, and only
// extracting it fails). Item names are kept whole; a name too long for an item (see
// kMaxItemNameBytes) is refused with a log line. A note without a note ID, or with the ID of an
// earlier note, gets a fresh ID that no note of the file has. An item that protects its note
// ($SealedFor, a readers item) and cannot be loaded leaves the note sealed for nobody or
// readable by nobody.
//
// Outcomes: NOERROR and a database; ERR_NOEXIST for a missing file; ERR_NOT_NSF for a file that
// is not DXL (not XML, not a regular file, or a root that is not the DXL `database` element);
// ERR_STRUCT for a DXL database that cannot be loaded (malformed or truncated XML after the root,
// an oversized token). A failed load gives no database at all. Anything else the loader does not
// know (elements, attributes, value forms, raw values that do not fit their type, invalid base64)
// is skipped with a line in the runtime log.
#pragma once

#include "Database.h"

#include <notes/global.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string_view>

namespace notesemu {

struct LoadOptions {
    // 256 MiB: far above any item Notes can store in a note (64 KB per item, 2 GB attachments
    // are the exception and stay loadable up to this size).
    static constexpr std::size_t kDefaultMaxValueBytes = std::size_t{256} << 20;
    std::size_t maxValueBytes = kDefaultMaxValueBytes;
    // Rich-text elements nested deeper than this are skipped (the converter recurses).
    std::size_t maxRichTextDepth = 200;
    // No DXL construct needs a start tag, comment or processing instruction of this size.
    std::size_t maxTokenBytes = std::size_t{8} << 20;
};

struct LoadResult {
    STATUS status = NOERROR;
    std::shared_ptr<Database> database; // null unless status is NOERROR
};

// The longest item name the runtime holds: an open note keeps an item's header, name and value
// offset within one 64 KB block of its pool.
inline constexpr std::size_t kMaxItemNameBytes = 0xFF00;

// The options NSFDbOpen loads with; tests lower the limits to exercise them through the API.
LoadOptions &defaultLoadOptions();

LoadResult loadDxlFile(const std::filesystem::path &path, const LoadOptions &options = {});
// The same from text in memory; `name` stands for the file in log lines.
LoadResult loadDxlText(std::string_view text, std::string_view name, const LoadOptions &options = {});

} // namespace notesemu
