// Reads a database stored as DXL into the in-memory model, in one streaming pass with expat.
//
// Safety: external entities are never read, parameter entities are never parsed, and a document
// that declares any entity is refused (ERR_NOT_NSF), so entity expansion cannot blow up. Each
// item value is held to LoadOptions::maxValueBytes (characters of a text, number or date value,
// decoded bytes of base64 data, the characters of a rich-text element): an item over the limit
// is skipped with a line in the runtime log, the rest of the database loads.
//
// Outcomes: NOERROR and a database; ERR_NOEXIST for a missing file; ERR_NOT_NSF for a file that
// is not DXL (not XML, or a root that is not the DXL `database` element); ERR_STRUCT for a DXL
// database that cannot be loaded (malformed or truncated XML after the root, duplicate note
// IDs). A failed load gives no database at all. Anything the loader does not know (elements,
// attributes, value forms, raw values that do not fit their type, invalid base64) is skipped
// with a line in the runtime log.
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
};

struct LoadResult {
    STATUS status = NOERROR;
    std::shared_ptr<Database> database; // null unless status is NOERROR
};

LoadResult loadDxlFile(const std::filesystem::path &path, const LoadOptions &options = {});
// The same from text in memory; `name` stands for the file in log lines.
LoadResult loadDxlText(std::string_view text, std::string_view name, const LoadOptions &options = {});

} // namespace notesemu
