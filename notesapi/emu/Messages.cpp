#include "Messages.h"

#include <notes/notes.h>

#include <algorithm>
#include <array>
#include <utility>

namespace notesemu {
namespace {

struct Message {
    STATUS code;
    std::string_view text;
};

// Sorted by code.
constexpr auto kMessages = std::to_array<Message>({
    {ERR_NOEXIST, "File does not exist"},
    {ERR_EXISTS, "File already exists"},
    {ERR_MEMORY, "Insufficient memory"},
    {ERR_CREATE, "File cannot be created"},
    {ERR_LOCK, "File is in use by another program"},
    {ERR_ACCESS, "Access to the file was denied by the operating system"},
    {ERR_INV_FILE_NAME, "File name is invalid or too long"},
    {ERR_CANCEL, "Operation cancelled"},
    {ERR_NO_NOTESINI, "The NOTES.INI file named by NOTES_INI or on the command line cannot be found or read"},
    {ERR_NOT_NSF, "File is not a database: the emulated Notes runtime reads databases stored as DXL "
                  "(an XML export), not NSF files"},
    {ERR_READONLY, "Database is read-only"},
    {ERR_STRUCT, "File structure is not understood"},
    {ERR_NO_MORE_MATCHES, "No more matching notes"},
    {ERR_NOTE_ID, "Invalid note ID"},
    {ERR_NOTES_NOT_INITIALIZED, "Notes runtime is not initialized (NotesInitExtended was not called)"},
    {ERR_NSF_VERSION, "Database version is not supported"},
    {ERR_DIRECTORY, "This operation is not valid on a directory"},
    {ERR_ITEM_NOT_FOUND, "Note item not found"},
    {ERR_NOTE_DELETED, "Note has been deleted"},
    {ERR_INVALID_NOTE, "Invalid or nonexistent note"},
    {ERR_NSFOPEN, "Database is in use"},
    {ERR_ENCODING, "Unknown compression type"},
    {ERR_NO_MODIFIED_NOTES, "No notes have been modified since the given time"},
    {ERR_NO_ITEM_IN_NOTE, "Item is not present in the note"},
    {ERR_ITEM_DATATYPE, "Item has an unexpected data type"},
    {ERR_BAD_PARAM, "Invalid parameter"},
    {ERR_INVALID_ITEMLEN, "Note is damaged: invalid item length"},
    {ERR_INVALID_ITEMTYPE, "Note is damaged: unknown item type"},
    {ERR_NOACCESS, "You are not authorized to perform that operation"},
    {ERR_OPEN_FILE, "You are not authorized to access that database"},
    {ERR_OBJECT_TRUNCATED, "Attachment object is truncated"},
    {ERR_NOTE_BADATTSIGN, "Attachment has been modified since it was signed"},
    {ERR_NOTE_NOT_SEALED, "Document is not encrypted"},
    {ERR_NOTE_ALREADY_SEALED, "Document is already encrypted"},
    {ERR_NOEXTRACT_ENCRYPTED, "Encrypted attachment cannot be extracted without its key"},
    {ERR_NOT_SEALED_FOR_YOU, "Document is encrypted, but not for you: you do not have the key to decrypt it"},
    {ERR_ALREADY_LOCKED, "Database is locked by replication or copy"},
    {ERR_INVALID_ITEMUNK, "Note is damaged: unknown item"},
    {ERR_NSF_CORRUPT2, "Database is corrupt and cannot be repaired"},
    {ERR_LOCALSEC_DBOPENFAILURE, "Database is locally encrypted and you are not allowed to open it"},
    {ERR_NO_SUCH_ITEM, "Requested item does not exist"},
    {ERR_IDFILE_NOT_FOUND, "ID file not found in the Directory"},
    {ERR_NOTE_NOT_FOLDER, "View is not a folder"},
    {ERR_NOT_FOUND, "Entry not found in index"},
    {ERR_IFMT, "Invalid international format argument"},
    {ERR_TFMT, "Invalid time or date format argument"},
    {ERR_TDO_CONV, "Invalid time or date value"},
    {ERR_HUFF2, "Attachment checksum does not match (Huffman data)"},
    {ERR_LZ1_DECOMPRESS_BAD_DATA, "Compressed (LZ1) data is corrupt"},
    {ERR_MISC_INVALID_ARGS, "Invalid arguments"},
    {ERR_MISC_MIMEPART_NOT_FOUND, "MIME part not found"},
    {ERR_MISC_UNEXPECTED_ERROR, "Unexpected internal error"},
    {ERR_MIME_PART_TRUNCATED, "MIME part is truncated"},
    {ERR_DATATYPE, "Unsupported data type"},
    {ERR_ODS_ENUM_COMPLETE, "Enumeration complete"},
    {ERR_ODS_NO_SUCH_ENTRY, "No such entry"},
    {ERR_ODS_INVALID_RFC822TEXTITEM, "Invalid RFC822 text item"},
    {ERR_NOT_IMPLEMENTED, "Function is not implemented by this server or runtime"},
    {ERR_SERVER_NOT_RESPONDING, "Server is not responding"},
    {ERR_BSAFE_UNSUPPORTED_CRYPTO_OP, "Cryptographic operation is not supported"},
    {ERR_MIME_NO_822HDR_NAME, "RFC822 header has no name"},
    {ERR_MIME_NO_822HDR_DELIM, "RFC822 header has no delimiter"},
    {ERR_NULL_DBHANDLE, "Database handle is NULL"},
    {ERR_MIME_PART_EXPECTED, "MIME part expected"},
    {ERR_MIME_PARSE_BAD_DATA, "MIME data cannot be parsed"},
    {ERR_MIME_PART_OVERFLOW, "MIME part data too large for one item"},
    {ERR_BSAFE_TOOSMALL, "Output buffer is too small"},
    {ERR_BSAFE_SUBPROCESS, "A subprocess may not switch IDs or prompt for a password"},
    {ERR_BSAFE_NULLPARAM, "Null parameter passed to a security function"},
    {ERR_BSAFE_USER_ABORT, "Password prompt cancelled"},
    {ERR_BSAFE_ID_PROTECTED, "ID file cannot be accessed or created"},
    {ERR_BSAFE_ID_TRUNC, "ID file is corrupted or is not an ID file"},
    {ERR_BSAFE_NON_EXISTENT, "Requested security item does not exist"},
    {ERR_BSAFE_INVUSERIDFILE, "Current user ID is corrupted or is not an ID file"},
    {ERR_BSAFE_CORRUPTFILE, "ID file is corrupted or is not an ID file"},
    {ERR_SECURE_NOKEYFILE, "Could not open the ID file"},
    {ERR_SECURE_BADPASSWORD, "Wrong password"},
    {ERR_NSF_NOT_SUPPORTED, "Function is not supported on this platform"},
});

static_assert(std::is_sorted(kMessages.begin(), kMessages.end(),
                             [](const Message &a, const Message &b) { return a.code < b.code; }),
              "message table must be sorted by code");

} // namespace

std::string_view statusText(STATUS code) {
    const auto found =
        std::lower_bound(kMessages.begin(), kMessages.end(), code,
                         [](const Message &message, STATUS value) { return message.code < value; });
    if (found == kMessages.end() || found->code != code)
        return {};
    return found->text;
}

} // namespace notesemu
