#include "Attachment.h"

#include "Log.h"
#include "Ods.h"
#include "OutputFile.h"

#include <notes/notes.h>

#include <cstring>
#include <memory>

namespace notesemu {

STATUS readAttachment(const OpenNote &note, std::span<const std::uint8_t> value, const char *caller,
                      Attachment &out) {
    out = Attachment{};
    if (value.size() < 2 || (value[0] | value[1] << 8) != TYPE_OBJECT) {
        logf("%s: the item is not a file object", caller);
        return ERR_ITEM_DATATYPE;
    }
    const std::span<const std::uint8_t> data = value.subspan(2);
    if (data.size() < odsSize<FILEOBJECT>()) {
        logf("%s: the object item has %zu bytes, too few for a FILEOBJECT", caller, data.size());
        return ERR_INVALID_ITEMLEN;
    }
    out.file = fromOds<FILEOBJECT>(data.data());
    if ((out.file.Header.ObjectType & ~(OBJECT_NO_COPY | OBJECT_PRESERVE | OBJECT_PUBLIC)) != OBJECT_FILE) {
        logf("%s: the object item is of object type %u, not a file", caller, out.file.Header.ObjectType);
        return ERR_ITEM_DATATYPE;
    }
    if (data.size() - odsSize<FILEOBJECT>() < out.file.FileNameLength) {
        logf("%s: the file name of %u bytes runs past the item", caller, out.file.FileNameLength);
        return ERR_INVALID_ITEMLEN;
    }
    out.name.assign(reinterpret_cast<const char *>(data.data() + odsSize<FILEOBJECT>()),
                    out.file.FileNameLength);
    const DatabaseObject *object = note.findObject(out.file.Header.RRV);
    if (object == nullptr) {
        logf("%s: the attachment '%s' names object 0x%X, which the database does not hold", caller,
             out.name.c_str(), out.file.Header.RRV);
        return ERR_OBJECT_TRUNCATED;
    }
    if (object->status != NOERROR) {
        logf("%s: the attachment '%s' was too large for the runtime to hold when the database was loaded",
             caller, out.name.c_str());
        return object->status;
    }
    if ((out.file.CompressionType & COMPRESS_MASK) != COMPRESS_NONE) {
        logf("%s: the attachment '%s' is stored compressed (type %u); this runtime reads uncompressed "
             "attachments only",
             caller, out.name.c_str(), out.file.CompressionType & COMPRESS_MASK);
        return ERR_ENCODING;
    }
    const std::size_t size = note.database().database()->objectSize(*object);
    if (size != out.file.FileSize) {
        logf("%s: the attachment '%s' declares %u bytes but its object holds %zu", caller, out.name.c_str(),
             out.file.FileSize, size);
        return ERR_OBJECT_TRUNCATED;
    }
    return note.objectBytes(out.file.Header.RRV, *object, out.bytes);
}

STATUS findAttachment(const OpenNote &note, std::string_view name, std::span<const WORD> hostTypes,
                      const char *caller, Attachment &out) {
    for (const OpenNote::OpenItem &item : note.items()) {
        if (!item.visible || !sameItemName(item.name, "$FILE"))
            continue;
        const std::span<const std::uint8_t> value(item.valueBytes, item.valueLength);
        Attachment candidate;
        if (value.size() < 2 + odsSize<FILEOBJECT>() || (value[0] | value[1] << 8) != TYPE_OBJECT)
            continue;
        candidate.file = fromOds<FILEOBJECT>(value.data() + 2);
        if (value.size() - 2 - odsSize<FILEOBJECT>() < candidate.file.FileNameLength)
            continue;
        const std::string_view stored(reinterpret_cast<const char *>(value.data() + 2 + odsSize<FILEOBJECT>()),
                                      candidate.file.FileNameLength);
        if (stored != name)
            continue;
        bool hostMatches = hostTypes.empty();
        for (const WORD host : hostTypes)
            hostMatches = hostMatches || (candidate.file.HostType & HOST_MASK) == host;
        if (!hostMatches)
            continue;
        return readAttachment(note, value, caller, out);
    }
    logf("%s: the note has no attachment named '%.*s' of the expected kind", caller,
         static_cast<int>(name.size()), name.data());
    return ERR_ITEM_NOT_FOUND;
}

std::string_view attachmentName(const OpenNote::OpenItem &item) {
    if (item.valueLength < 2 + odsSize<FILEOBJECT>() ||
        (item.valueBytes[0] | item.valueBytes[1] << 8) != TYPE_OBJECT)
        return {};
    const FILEOBJECT file = fromOds<FILEOBJECT>(item.valueBytes + 2);
    if (item.valueLength - 2 - odsSize<FILEOBJECT>() < file.FileNameLength)
        return {};
    return std::string_view(reinterpret_cast<const char *>(item.valueBytes + 2 + odsSize<FILEOBJECT>()),
                            file.FileNameLength);
}

std::optional<std::span<const std::uint8_t>> attachmentBytes(const OpenNote &note, std::string_view name,
                                                             const char *caller) {
    for (const OpenNote::OpenItem &item : note.items()) {
        if (!item.visible || !sameItemName(item.name, "$FILE") || attachmentName(item) != name)
            continue;
        Attachment attachment;
        if (readAttachment(note, std::span<const std::uint8_t>(item.valueBytes, item.valueLength), caller,
                           attachment) == NOERROR)
            return attachment.bytes;
    }
    return std::nullopt;
}

STATUS writeFileBytes(const char *fileName, std::span<const std::uint8_t> bytes, bool overwrite) {
    std::unique_ptr<OutputFile> file;
    if (const STATUS status = OutputFile::create(fileName, overwrite, file); status != NOERROR)
        return status;
    if (const STATUS status = file->write(bytes); status != NOERROR)
        return status;
    return file->commit();
}

} // namespace notesemu
