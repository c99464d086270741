// MIME to composite conversion: the C entry point.
#include "Attachment.h"
#include "Log.h"
#include "Ods.h"
#include "MimeToCd.h"
#include "OpenNote.h"
#include "Runtime.h"
#include "Translate.h"

#include <notes/notes.h>

#include <cstring>

using notesemu::HandleKind;
using notesemu::OpenNote;
using notesemu::Runtime;

namespace notesemu {

// The new $FILE item of an attachment made by the conversion: a FILEOBJECT naming an object of
// the working copy, shown by an icon in the body.
OpenNote::NewItem attachmentItem(OpenNote &note, const MimeAttachment &attachment) {
    const std::string name = utf8ToLmbcs(attachment.fileName).substr(0, 0xFFFF);
    FILEOBJECT file{};
    file.Header.ObjectType = OBJECT_FILE;
    file.FileNameLength = static_cast<WORD>(name.size());
    file.HostType = HOST_MSDOS;
    file.CompressionType = COMPRESS_NONE;
    file.Flags = FILEFLAG_INDOC;
    file.FileSize = static_cast<DWORD>(attachment.bytes.size());
    file.FileCreated = note.note().modified;
    file.FileModified = note.note().modified;
    file.Header.RRV = note.addObject(attachment.bytes);
    OpenNote::NewItem item;
    item.name = "$FILE";
    item.flags = ITEM_SUMMARY;
    item.value = {TYPE_OBJECT & 0xFF, TYPE_OBJECT >> 8};
    appendOds(item.value, file);
    item.value.insert(item.value.end(), name.begin(), name.end());
    return item;
}

} // namespace notesemu

extern "C" {

// Rewrites the visible TYPE_MIME_PART items of the name, in the open note's working copy, as
// TYPE_COMPOSITE items in the place of the first one. Attachments and parts the body cannot show
// become $FILE items; $FILE items that only held MIME part bodies go. ERR_MISC_INVALID_ARGS when
// the note has no MIME part of that name.
NOTESAPI STATUS LNPUBLIC MIMEConvertMIMEPartCC(NOTEHANDLE hNote, char *pItemName, WORD wItemNameLen,
                                               CCHANDLE hCC) {
    static const char kFunction[] = "MIMEConvertMIMEPartCC";
    std::shared_ptr<OpenNote> note;
    if (const STATUS status = notesemu::openNoteOf(hNote, kFunction, note); status != NOERROR)
        return status;
    if (pItemName == nullptr || wItemNameLen == 0)
        return ERR_MISC_INVALID_ARGS;
    if (hCC != nullptr)
        notesemu::logf("%s: conversion controls are not supported; the defaults are used", kFunction);
    const std::string itemName(pItemName, wItemNameLen);
    std::lock_guard lock(note->mutex());
    if (const STATUS status = note->readValues(); status != NOERROR)
        return status;
    const auto isPart = [&itemName](const OpenNote::OpenItem &item) {
        return notesemu::sameItemName(item.name, itemName) && item.stored->type() == TYPE_MIME_PART;
    };
    std::vector<std::span<const std::uint8_t>> parts;
    WORD flags = 0;
    for (const OpenNote::OpenItem &item : note->items()) {
        if (item.visible && isPart(item)) {
            if (parts.empty())
                flags = item.flags;
            parts.emplace_back(item.valueBytes, item.valueLength);
        }
    }
    if (parts.empty()) {
        notesemu::logf("%s: the note has no MIME part named '%s'", kFunction, itemName.c_str());
        return ERR_MISC_INVALID_ARGS;
    }
    const notesemu::MimeObjectSource objects = [&note](std::string_view name) {
        return notesemu::attachmentBytes(*note, name, "MIME conversion");
    };
    notesemu::MimeConversion converted;
    if (const STATUS status = notesemu::convertMimeParts(parts, objects, converted); status != NOERROR)
        return status;
    // Bodies held only for the MIME items are read before their items go; the new attachment
    // objects copy them.
    std::vector<OpenNote::NewItem> body, files;
    for (std::vector<std::uint8_t> &value : converted.body)
        body.push_back(
            OpenNote::NewItem{itemName, static_cast<WORD>(flags & ~ITEM_SUMMARY), std::move(value)});
    for (const notesemu::MimeAttachment &attachment : converted.attachments) {
        if (!attachment.existing)
            files.push_back(notesemu::attachmentItem(*note, attachment));
    }
    const auto remove = [&](const OpenNote::OpenItem &item) {
        if (isPart(item))
            return true;
        return notesemu::sameItemName(item.name, "$FILE") &&
               converted.consumedObjects.contains(std::string(notesemu::attachmentName(item)));
    };
    return note->replaceItems(Runtime::instance().handles(), itemName, remove, std::move(body), std::move(files));
}

} // extern "C"
