// Mail message bodies: the C entry point.
#include "Attachment.h"
#include "Log.h"
#include "MimeToCd.h"
#include "OpenNote.h"
#include "OutputFile.h"
#include "Runtime.h"

#include <notes/notes.h>

#include <memory>

using notesemu::HandleKind;
using notesemu::OpenNote;
using notesemu::Runtime;

extern "C" {

// Writes the body items of the name (Body when none is given) to the file as one value: the type
// word, then the data of every item of the name in item order. Composite items give
// TYPE_COMPOSITE and their records; a text body gives TYPE_TEXT and its text, with the records
// of any composite items of the name after it. MIME parts are converted for the file only (the
// note is not changed; MIMEConvertMIMEPartCC changes it). ERR_ITEM_NOT_FOUND when the note has
// no such item, ERR_ITEM_DATATYPE for a body of another type; the file is written whole or not
// at all.
NOTESAPI STATUS LNPUBLIC MailGetMessageBodyComposite(DHANDLE hMessage, char *ItemName, char *OutputFileName,
                                                     DWORD *OutputFileSize) {
    static const char kFunction[] = "MailGetMessageBodyComposite";
    if (OutputFileSize != nullptr)
        *OutputFileSize = 0;
    if (OutputFileName == nullptr || *OutputFileName == '\0')
        return ERR_INV_FILE_NAME;
    std::shared_ptr<OpenNote> note;
    if (const STATUS status = notesemu::openNoteOf(hMessage, kFunction, note); status != NOERROR)
        return status;
    const std::string_view name = ItemName != nullptr && *ItemName != '\0' ? ItemName : "Body";
    std::lock_guard lock(note->mutex());
    if (const STATUS status = note->readValues(); status != NOERROR)
        return status;
    std::vector<std::span<const std::uint8_t>> values, mimeParts;
    for (const OpenNote::OpenItem &item : note->items()) {
        if (!item.visible || !notesemu::sameItemName(item.name, name))
            continue;
        const WORD type = item.stored->type();
        if (type == TYPE_MIME_PART) {
            mimeParts.emplace_back(item.valueBytes, item.valueLength);
        } else if (type == TYPE_COMPOSITE || type == TYPE_TEXT) {
            values.emplace_back(item.valueBytes, item.valueLength);
        } else {
            notesemu::logf("%s: the %.*s item is of type 0x%04X, neither rich text nor text", kFunction,
                           static_cast<int>(name.size()), name.data(), type);
            return ERR_ITEM_DATATYPE;
        }
    }
    notesemu::MimeConversion converted;
    if (!mimeParts.empty()) {
        if (!values.empty()) {
            notesemu::logf("%s: the %.*s items mix MIME parts with other types", kFunction,
                           static_cast<int>(name.size()), name.data());
            return ERR_ITEM_DATATYPE;
        }
        if (const STATUS status = notesemu::convertMimeParts(
                mimeParts,
                [&note](std::string_view file) { return notesemu::attachmentBytes(*note, file, kFunction); },
                converted);
            status != NOERROR)
            return status;
        for (const std::vector<std::uint8_t> &value : converted.body)
            values.emplace_back(value);
    }
    if (values.empty()) {
        notesemu::logf("%s: the note has no %.*s item", kFunction, static_cast<int>(name.size()),
                       name.data());
        return ERR_ITEM_NOT_FOUND;
    }
    // The value's type is its first item's; the rest contribute their data without type words.
    std::unique_ptr<notesemu::OutputFile> file;
    if (const STATUS status = notesemu::OutputFile::create(OutputFileName, true, file); status != NOERROR)
        return status;
    std::uint64_t size = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::span<const std::uint8_t> bytes = i == 0 ? values[i] : values[i].subspan(2);
        if (const STATUS status = file->write(bytes); status != NOERROR)
            return status;
        size += bytes.size();
    }
    if (size > 0xFFFFFFFFU) {
        notesemu::logf("%s: the body of %llu bytes does not fit a DWORD size", kFunction,
                       static_cast<unsigned long long>(size));
        return ERR_MEMORY;
    }
    if (const STATUS status = file->commit(); status != NOERROR)
        return status;
    if (OutputFileSize != nullptr)
        *OutputFileSize = static_cast<DWORD>(size);
    return NOERROR;
}

} // extern "C"
