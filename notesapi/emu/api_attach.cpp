// Attachments and OLE objects: the C entry points.
#include "Attachment.h"
#include "Log.h"
#include "OpenNote.h"
#include "Runtime.h"

#include <notes/notes.h>

#include <algorithm>
#include <cstring>

using notesemu::Attachment;
using notesemu::HandleKind;
using notesemu::OpenNote;
using notesemu::Runtime;

namespace {

// The attachment of the $FILE item the block names. An encrypted attachment (a sealed item of an
// encrypted note) needs the bulk key NSFNoteDecrypt handed out for this note; any other
// attachment ignores the key.
STATUS attachmentAt(const OpenNote &note, BLOCKID bhItem, const ENCRYPTION_KEY *key, const char *function,
                    Attachment &out) {
    const auto index = note.indexOfItemBlock(bhItem);
    if (!index) {
        notesemu::logf("%s: the item block 0x%08X/%u is not an item of this note", function, bhItem.pool,
                       bhItem.block);
        return ERR_BAD_PARAM;
    }
    const OpenNote::OpenItem &item = note.items()[*index];
    if (note.note().sealed && (item.flags & ITEM_SEAL) != 0) {
        if (key == nullptr) {
            notesemu::logf("%s: the attachment is encrypted and no key was given", function);
            return ERR_NOEXTRACT_ENCRYPTED;
        }
        ENCRYPTION_KEY expected{};
        expected.Byte1 = 1;
        std::memcpy(expected.Text, &note.note().oid, sizeof expected.Text);
        if (key->Byte1 != expected.Byte1 ||
            std::memcmp(key->Text, expected.Text, sizeof expected.Text) != 0) {
            notesemu::logf("%s: the key given is not the key of this note's attachments", function);
            return ERR_NOT_SEALED_FOR_YOU;
        }
    }
    return notesemu::readAttachment(note, std::span<const std::uint8_t>(item.valueBytes, item.valueLength),
                                    function, out);
}

// Resource forks and MacBinary belong to Macintosh attachments, which carry none here.
bool asksForMacintoshForm(WORD flags, const char *function) {
    if ((flags & (NTEXT_RESONLY | NTEXT_FTYPE_MASK)) == 0)
        return false;
    notesemu::logf("%s: extraction flags 0x%04X ask for a Macintosh form this runtime does not keep",
                   function, flags);
    return true;
}

} // namespace

extern "C" {

NOTESAPI STATUS LNPUBLIC NSFNoteExtractFileExt(NOTEHANDLE hNote, BLOCKID bhItem, const char *FileName,
                                               ENCRYPTION_KEY *DecryptionKey, WORD wFlags) {
    static const char kFunction[] = "NSFNoteExtractFile";
    if (FileName == nullptr || *FileName == '\0')
        return ERR_INV_FILE_NAME;
    if (asksForMacintoshForm(wFlags, kFunction))
        return ERR_BAD_PARAM;
    std::shared_ptr<OpenNote> note;
    if (const STATUS status = notesemu::openNoteOf(hNote, kFunction, note); status != NOERROR)
        return status;
    std::lock_guard lock(note->mutex());
    Attachment attachment;
    if (const STATUS status = attachmentAt(*note, bhItem, DecryptionKey, kFunction, attachment);
        status != NOERROR)
        return status;
    return notesemu::writeFileBytes(FileName, attachment.bytes, true);
}

NOTESAPI STATUS LNPUBLIC NSFNoteExtractFile(NOTEHANDLE hNote, BLOCKID bhItem, const char *FileName,
                                            ENCRYPTION_KEY *DecryptionKey) {
    return NSFNoteExtractFileExt(hNote, bhItem, FileName, DecryptionKey, 0);
}

NOTESAPI STATUS LNPUBLIC NSFNoteExtractWithCallback(NOTEHANDLE hNote, BLOCKID bhItem,
                                                    ENCRYPTION_KEY *DecryptionKey, WORD wFlags,
                                                    NOTEEXTRACTCALLBACK pNoteExtractCallback, void *pParam) {
    static const char kFunction[] = "NSFNoteExtractWithCallback";
    if (pNoteExtractCallback == nullptr)
        return ERR_BAD_PARAM;
    if (asksForMacintoshForm(wFlags, kFunction))
        return ERR_BAD_PARAM;
    std::shared_ptr<OpenNote> note;
    if (const STATUS status = notesemu::openNoteOf(hNote, kFunction, note); status != NOERROR)
        return status;
    Attachment attachment;
    {
        std::lock_guard lock(note->mutex());
        if (const STATUS status = attachmentAt(*note, bhItem, DecryptionKey, kFunction, attachment);
            status != NOERROR)
            return status;
    }
    // The bytes belong to the database or the note, both of which outlive this call; the
    // callback runs without the note's lock so that it may call back into the runtime.
    constexpr std::size_t kChunk = 64 * 1024;
    for (std::size_t at = 0; at < attachment.bytes.size(); at += kChunk) {
        const std::size_t length = std::min(kChunk, attachment.bytes.size() - at);
        if (const STATUS status =
                pNoteExtractCallback(attachment.bytes.data() + at, static_cast<DWORD>(length), pParam);
            status != NOERROR)
            return status;
    }
    return NOERROR;
}

NOTESAPI STATUS LNPUBLIC NSFNoteExtractOLE2Object(NOTEHANDLE hNote, char *pszObjectName, char *pszFileName,
                                                  ENCRYPTION_KEY *pEncryptionKey, BOOL fOverwrite,
                                                  DWORD dwFlags) {
    static const char kFunction[] = "NSFNoteExtractOLE2Object";
    (void)pEncryptionKey; // the objects of this runtime are stored in the clear
    (void)dwFlags;        // no flags are defined for this call
    if (pszObjectName == nullptr || *pszObjectName == '\0')
        return ERR_BAD_PARAM;
    if (pszFileName == nullptr || *pszFileName == '\0')
        return ERR_INV_FILE_NAME;
    std::shared_ptr<OpenNote> note;
    if (const STATUS status = notesemu::openNoteOf(hNote, kFunction, note); status != NOERROR)
        return status;
    std::lock_guard lock(note->mutex());
    // An OLE2 object is kept as the structured-storage file itself in a $FILE item of host type
    // HOST_BYTEARRAY_EXT named by the object's name.
    static constexpr WORD kHosts[] = {HOST_BYTEARRAY_EXT};
    Attachment attachment;
    if (const STATUS status = notesemu::findAttachment(*note, pszObjectName, kHosts, kFunction, attachment);
        status != NOERROR)
        return status;
    return notesemu::writeFileBytes(pszFileName, attachment.bytes, fOverwrite != FALSE);
}

} // extern "C"
