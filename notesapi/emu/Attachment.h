// File attachments of an open note: the FILEOBJECT of a $FILE item, the object holding the file's
// bytes, and writing those bytes out.
#pragma once

#include "OpenNote.h"

#include <notes/nsfdata.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace notesemu {

struct Attachment {
    FILEOBJECT file{};
    std::string name;                    // LMBCS, as stored after the FILEOBJECT
    std::span<const std::uint8_t> bytes; // the object's bytes
};

// Reads a TYPE_OBJECT value (type word included) and finds its object. ERR_ITEM_DATATYPE for a
// value that is not a file object, ERR_INVALID_ITEMLEN for one too short for its file name,
// ERR_ENCODING for a compressed object (this runtime keeps attachments uncompressed) and
// ERR_OBJECT_TRUNCATED for an object that is missing or whose size disagrees with FileSize. Each
// failure is logged with the caller's name.
STATUS readAttachment(const OpenNote &note, std::span<const std::uint8_t> value, const char *caller,
                      Attachment &out);

// The first visible $FILE item whose file name (LMBCS) is `name` and whose host type is one of
// `hostTypes` (any when empty); ERR_ITEM_NOT_FOUND when there is none.
STATUS findAttachment(const OpenNote &note, std::string_view name, std::span<const WORD> hostTypes,
                      const char *caller, Attachment &out);

// The file name (LMBCS) of a $FILE item's FILEOBJECT, or an empty view when the value is not one.
std::string_view attachmentName(const OpenNote::OpenItem &item);

// The bytes of the readable attachment whose $FILE item has this LMBCS name, if any.
std::optional<std::span<const std::uint8_t>> attachmentBytes(const OpenNote &note, std::string_view name,
                                                             const char *caller);

// Writes the bytes to the file a caller names (see OutputFile::create) whole or not at all;
// ERR_EXISTS when the file exists and may not be replaced, the OS status when it cannot be written.
STATUS writeFileBytes(const char *fileName, std::span<const std::uint8_t> bytes, bool overwrite);

} // namespace notesemu
