// Notes and items: the C entry points.
#include "Identity.h"
#include "Log.h"
#include "OpenNote.h"
#include "Platform.h"
#include "Rfc822Text.h"
#include "Runtime.h"
#include "Translate.h"

#include <notes/notes.h>

#include <algorithm>
#include <cstring>

using notesemu::HandleKind;
using notesemu::OpenNote;
using notesemu::Runtime;

namespace {

void fillItemInfo(const OpenNote::OpenItem &item, BLOCKID *retbhItem, WORD *retDataType, BLOCKID *retbhValue,
                  DWORD *retValueLength) {
    if (retbhItem != nullptr)
        *retbhItem = item.item;
    if (retDataType != nullptr)
        *retDataType = item.valueLength >= 2 ? static_cast<WORD>(item.valueBytes[0] | item.valueBytes[1] << 8)
                                             : TYPE_INVALID_OR_UNKNOWN;
    if (retbhValue != nullptr)
        *retbhValue = item.value;
    if (retValueLength != nullptr)
        *retValueLength = item.valueLength;
}

void clearItemInfo(BLOCKID *retbhItem, WORD *retDataType, BLOCKID *retbhValue, DWORD *retValueLength) {
    if (retbhItem != nullptr)
        *retbhItem = BLOCKID{};
    if (retDataType != nullptr)
        *retDataType = TYPE_INVALID_OR_UNKNOWN;
    if (retbhValue != nullptr)
        *retbhValue = BLOCKID{};
    if (retValueLength != nullptr)
        *retValueLength = 0;
}

// An item whose value was too large to load is found like any other (its item block is filled
// in, so that a walk can go on past it) but reading it fails with the status it carries.
STATUS readStatusOf(const OpenNote::OpenItem &item, const char *function) {
    if (item.stored->readStatus != NOERROR)
        notesemu::logf("%s: the value of item '%.*s' was too large to load", function,
                       static_cast<int>(item.name.size()), item.name.data());
    return item.stored->readStatus;
}

std::optional<std::string_view> nameArgument(const char *name, WORD length) {
    if (name == nullptr || length == 0)
        return std::nullopt;
    return std::string_view(name, length);
}

} // namespace

extern "C" {

NOTESAPI STATUS LNPUBLIC NSFNoteOpenExt(DBHANDLE hDB, NOTEID NoteID, DWORD flags, NOTEHANDLE *rethNote) {
    if (rethNote == nullptr)
        return ERR_BAD_PARAM;
    *rethNote = NULLHANDLE;
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    const auto database = runtime.handles().objectAs<notesemu::OpenDatabase>(HandleKind::Database, hDB);
    if (!database)
        return ERR_BAD_PARAM;
    const notesemu::Note *note = database->database()->findNote(NoteID);
    if (note == nullptr) {
        notesemu::logf("NSFNoteOpenExt: the database has no note 0x%X", NoteID);
        return ERR_INVALID_NOTE;
    }
    if (!database->canRead(*note)) {
        notesemu::logf("NSFNoteOpenExt: %s may not read note 0x%X (readers item)", database->user().c_str(),
                       NoteID);
        return ERR_NOACCESS;
    }
    std::shared_ptr<OpenNote> open;
    if (const STATUS status = OpenNote::open(runtime.handles(), hDB, database, *note, flags, open);
        status != NOERROR)
        return status;
    if (const STATUS status = runtime.handles().insertObject(HandleKind::Note, open, *rethNote);
        status != NOERROR) {
        open->release(runtime.handles());
        return status;
    }
    return NOERROR;
}

NOTESAPI STATUS LNPUBLIC NSFNoteOpen(DBHANDLE hDB, NOTEID NoteID, WORD OpenFlags, NOTEHANDLE *rethNote) {
    return NSFNoteOpenExt(hDB, NoteID, OpenFlags, rethNote);
}

NOTESAPI STATUS LNPUBLIC NSFNoteClose(NOTEHANDLE hNote) {
    std::shared_ptr<OpenNote> note;
    if (const STATUS status = notesemu::openNoteOf(hNote, "NSFNoteClose", note); status != NOERROR)
        return status;
    Runtime &runtime = Runtime::instance();
    {
        std::lock_guard lock(note->mutex());
        note->release(runtime.handles());
    }
    return runtime.handles().freeObject(HandleKind::Note, hNote);
}

NOTESAPI void LNPUBLIC NSFNoteGetInfo(NOTEHANDLE hNote, WORD Type, void *Value) {
    std::shared_ptr<OpenNote> open;
    if (notesemu::openNoteOf(hNote, "NSFNoteGetInfo", open) != NOERROR || Value == nullptr)
        return;
    const notesemu::Note &note = open->note();
    const notesemu::Database &database = *open->database().database();
    const auto put = [Value](const auto &value) { std::memcpy(Value, &value, sizeof value); };
    switch (Type) {
    case _NOTE_DB:
    case _NOTE_OBJSTORE_DB:
        put(DBHANDLE{open->dbHandle()});
        return;
    case _NOTE_ID:
        put(NOTEID{note.id});
        return;
    case _NOTE_OID:
        put(note.oid);
        return;
    case _NOTE_CLASS:
        put(WORD{note.noteClass});
        return;
    case _NOTE_MODIFIED:
        put(note.modified);
        return;
    case _NOTE_PRIVILEGES:
        put(WORD{0});
        return;
    case _NOTE_FLAGS: {
        const bool readOnly = open->database().level() < notesemu::AccessLevel::Author;
        put(WORD{static_cast<WORD>(readOnly ? NOTE_FLAG_READONLY : 0)});
        return;
    }
    case _NOTE_ACCESSED:
        put(note.accessed);
        return;
    case _NOTE_PARENT_NOTEID: {
        NOTEID parent = NOTEID_NO_PARENT;
        if (const auto unid = notesemu::parentUnid(database, note)) {
            if (const notesemu::Note *found = notesemu::findNoteByUnid(database, *unid))
                parent = found->id;
        }
        put(parent);
        return;
    }
    case _NOTE_RESPONSE_COUNT: {
        DWORD count = 0;
        for (const notesemu::Note &other : database.notes) {
            const auto parent = notesemu::parentUnid(database, other);
            if (parent && std::memcmp(&*parent, &note.oid, sizeof *parent) == 0)
                ++count;
        }
        put(count);
        return;
    }
    case _NOTE_RESPONSES:
        put(DHANDLE{open->responses()});
        return;
    case _NOTE_ADDED_TO_FILE:
        put(note.addedToFile);
        return;
    default:
        notesemu::logf("NSFNoteGetInfo: unknown selector %u", Type);
        return;
    }
}

NOTESAPI BOOL LNPUBLIC NSFNoteHasMIMEPart(NOTEHANDLE hNote) {
    std::shared_ptr<OpenNote> open;
    if (notesemu::openNoteOf(hNote, "NSFNoteHasMIMEPart", open) != NOERROR)
        return FALSE;
    std::lock_guard lock(open->mutex());
    for (const OpenNote::OpenItem &item : open->items()) {
        if (item.visible && item.stored->type() == TYPE_MIME_PART)
            return TRUE;
    }
    return FALSE;
}

NOTESAPI BOOL LNPUBLIC NSFNoteHasMIME(NOTEHANDLE hNote) {
    std::shared_ptr<OpenNote> open;
    if (notesemu::openNoteOf(hNote, "NSFNoteHasMIME", open) != NOERROR)
        return FALSE;
    std::lock_guard lock(open->mutex());
    for (const OpenNote::OpenItem &item : open->items()) {
        if (item.visible &&
            (item.stored->type() == TYPE_MIME_PART || item.stored->type() == TYPE_RFC822_TEXT))
            return TRUE;
    }
    return FALSE;
}

NOTESAPI STATUS LNPUBLIC NSFNoteDecrypt(NOTEHANDLE hNote, WORD DecryptFlags,
                                        ENCRYPTION_KEY *retKeyForAttachments) {
    (void)DecryptFlags; // attachments are decrypted with their note in any case
    std::shared_ptr<OpenNote> open;
    if (const STATUS status = notesemu::openNoteOf(hNote, "NSFNoteDecrypt", open); status != NOERROR)
        return status;
    std::lock_guard lock(open->mutex());
    if (!open->isSealed())
        return ERR_NOTE_NOT_SEALED;
    const notesemu::Database &database = *open->database().database();
    const std::string &user = open->database().user();
    bool anyEntries = false;
    const notesemu::Item *sealedFor = notesemu::findItem(database.itemsOf(open->note()), "$SealedFor");
    if (sealedFor == nullptr || !notesemu::itemNames(*sealedFor, user, anyEntries)) {
        notesemu::logf("NSFNoteDecrypt: note 0x%X is not encrypted for %s", open->note().id, user.c_str());
        return ERR_NOT_SEALED_FOR_YOU;
    }
    if (const STATUS status = open->reveal(Runtime::instance().handles()); status != NOERROR)
        return status;
    if (retKeyForAttachments != nullptr) {
        // The bulk key is opaque to callers; this one names the note it belongs to.
        ENCRYPTION_KEY key{};
        key.Byte1 = 1;
        std::memcpy(key.Text, &open->note().oid, sizeof key.Text);
        *retKeyForAttachments = key;
    }
    return NOERROR;
}

NOTESAPI STATUS LNPUBLIC NSFItemInfo(NOTEHANDLE hNote, const char *Name, WORD NameLength, BLOCKID *retbhItem,
                                     WORD *retDataType, BLOCKID *retbhValue, DWORD *retValueLength) {
    clearItemInfo(retbhItem, retDataType, retbhValue, retValueLength);
    std::shared_ptr<OpenNote> open;
    if (const STATUS status = notesemu::openNoteOf(hNote, "NSFItemInfo", open); status != NOERROR)
        return status;
    std::lock_guard lock(open->mutex());
    const auto index = open->findVisible(0, nameArgument(Name, NameLength));
    if (!index)
        return ERR_ITEM_NOT_FOUND;
    // The value is read only for a caller that asks for its block.
    if (retbhValue != nullptr) {
        if (const STATUS status = open->readValue(*index); status != NOERROR)
            return status;
    }
    fillItemInfo(open->items()[*index], retbhItem, retDataType, retbhValue, retValueLength);
    return readStatusOf(open->items()[*index], "NSFItemInfo");
}

NOTESAPI STATUS LNPUBLIC NSFItemInfoNext(NOTEHANDLE hNote, BLOCKID NextItem, const char *Name,
                                         WORD NameLength, BLOCKID *retbhItem, WORD *retDataType,
                                         BLOCKID *retbhValue, DWORD *retValueLength) {
    clearItemInfo(retbhItem, retDataType, retbhValue, retValueLength);
    std::shared_ptr<OpenNote> open;
    if (const STATUS status = notesemu::openNoteOf(hNote, "NSFItemInfoNext", open); status != NOERROR)
        return status;
    std::lock_guard lock(open->mutex());
    const auto previous = open->indexOfItemBlock(NextItem);
    if (!previous) {
        notesemu::logf("NSFItemInfoNext: the item block 0x%08X/%u is not an item of this note", NextItem.pool,
                       NextItem.block);
        return ERR_BAD_PARAM;
    }
    const auto index = open->findVisible(*previous + 1, nameArgument(Name, NameLength));
    if (!index)
        return ERR_ITEM_NOT_FOUND;
    // The value is read only for a caller that asks for its block.
    if (retbhValue != nullptr) {
        if (const STATUS status = open->readValue(*index); status != NOERROR)
            return status;
    }
    fillItemInfo(open->items()[*index], retbhItem, retDataType, retbhValue, retValueLength);
    return readStatusOf(open->items()[*index], "NSFItemInfoNext");
}

NOTESAPI STATUS LNPUBLIC NSFItemScan(NOTEHANDLE hNote, NSFITEMSCANPROC ActionRoutine,
                                     void *RoutineParameter) {
    if (ActionRoutine == nullptr)
        return ERR_BAD_PARAM;
    std::shared_ptr<OpenNote> open;
    if (const STATUS status = notesemu::openNoteOf(hNote, "NSFItemScan", open); status != NOERROR)
        return status;
    std::vector<OpenNote::OpenItem> items;
    {
        // The routine runs without the lock: it may call back into the note.
        std::lock_guard lock(open->mutex());
        if (const STATUS status = open->readValues(); status != NOERROR)
            return status;
        items = open->items();
    }
    for (const OpenNote::OpenItem &item : items) {
        if (!item.visible)
            continue;
        const STATUS status = ActionRoutine(0, item.flags, const_cast<char *>(item.name.data()),
                                            static_cast<WORD>(item.name.size()), item.valueBytes,
                                            item.valueLength, RoutineParameter);
        if (status != NOERROR)
            return status;
    }
    return NOERROR;
}

NOTESAPI WORD LNPUBLIC NSFItemGetText(NOTEHANDLE hNote, const char *ItemName, char *retBuffer,
                                      WORD BufferLength) {
    if (retBuffer != nullptr && BufferLength > 0)
        retBuffer[0] = '\0';
    std::shared_ptr<OpenNote> open;
    if (notesemu::openNoteOf(hNote, "NSFItemGetText", open) != NOERROR || ItemName == nullptr || retBuffer == nullptr || BufferLength == 0)
        return 0;
    std::lock_guard lock(open->mutex());
    const auto index = open->findVisible(0, std::string_view(ItemName));
    if (!index || open->readValue(*index) != NOERROR)
        return 0;
    const OpenNote::OpenItem &item = open->items()[*index];
    const std::span<const std::uint8_t> value(item.valueBytes, item.valueLength);
    std::string_view text;
    std::string converted;
    if (item.stored->type() == TYPE_RFC822_TEXT) {
        // A header item of an itemized message reads as the text it converts to.
        converted = notesemu::rfc822ToText(value.subspan(2), '\0', true);
        text = converted;
    } else {
        // A text list gives its first entry.
        const std::vector<std::string_view> entries = notesemu::textEntries(value);
        if (entries.empty())
            return 0;
        text = entries.front();
    }
    const std::size_t length = notesemu::lmbcsCut(text, BufferLength - 1u);
    std::memcpy(retBuffer, text.data(), length);
    retBuffer[length] = '\0';
    return static_cast<WORD>(length);
}

NOTESAPI STATUS LNPUBLIC SECKFMSwitchToIDFile(char *pIDFileName, char *pPassword, char *retUserName,
                                              WORD MaxUserNameLength, DWORD SwitchIdFlags, void *pReserved) {
    (void)pReserved;
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    if (pIDFileName == nullptr || *pIDFileName == '\0')
        return ERR_BSAFE_NULLPARAM;
    std::filesystem::path idPath;
    if (!notesemu::pathFromText(pIDFileName, idPath)) {
        notesemu::logf("SECKFMSwitchToIDFile(%s): the name is neither in the code page nor in UTF-8",
                       pIDFileName);
        return ERR_SECURE_NOKEYFILE;
    }
    notesemu::IdFile file;
    if (const STATUS status = notesemu::readIdFile(idPath, file); status != NOERROR)
        return status;
    if (retUserName != nullptr && file.userName.size() >= MaxUserNameLength) {
        notesemu::logf("SECKFMSwitchToIDFile: the user name needs %zu bytes, the buffer has %u",
                       file.userName.size() + 1, MaxUserNameLength);
        return ERR_BSAFE_TOOSMALL;
    }
    std::string user;
    if (const STATUS status = notesemu::switchIdentity(idPath, pPassword ? pPassword : "", user);
        status != NOERROR)
        return status;
    if (retUserName != nullptr) {
        std::memcpy(retUserName, user.data(), user.size());
        retUserName[user.size()] = '\0';
    }
    if ((SwitchIdFlags & fKFM_switchid_DontSetEnvVar) == 0)
        runtime.setEnvironmentValue("KeyFileName", pIDFileName);
    return NOERROR;
}

} // extern "C"
