// Notes and their items as every subsystem reaches them: open (and decrypt) a note and close it,
// walk the items of one name, and gather note IDs by a database search into an ID table. Each
// Notes call is traced under the caller's log name.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <notes/nsfnote.h>
#include <notes/pool.h>

struct NSFCONTEXT;

// Opens a note of the open database keeping its MIME items raw (OPEN_RAW_MIME), as every note
// of the reader is opened. 0 with *phNote set, or the mapped status of the failed open.
int nsfOpenNote(NSFCONTEXT *pContext, const char *pszCaller, NOTEID dwNoteID, NOTEHANDLE *phNote);
// Decrypts an open note. The Notes status comes back in *pStatus when it is given: "not sealed"
// and "not sealed for you" map to 0 like success, and a caller that must tell them apart reads it.
int nsfDecryptNote(NSFCONTEXT *pContext, const char *pszCaller, NOTEHANDLE hNote, STATUS *pStatus);
// nsfOpenNote with the open flags given (a DXL export opens a note without OPEN_RAW_MIME).
int nsfOpenNoteExt(NSFCONTEXT *pContext, const char *pszCaller, NOTEID dwNoteID, DWORD dwFlags,
                   NOTEHANDLE *phNote);
// nsfDecryptNote with the decryption flags given; the key for the note's encrypted attachments
// comes back in *pKey when it is given (null with DECRYPT_ATTACHMENTS_IN_PLACE).
int nsfDecryptNoteExt(NSFCONTEXT *pContext, const char *pszCaller, NOTEHANDLE hNote, WORD wFlags,
                      ENCRYPTION_KEY *pKey, STATUS *pStatus);
// Closes a note opened by nsfOpenNote. 0 or the mapped status of the close.
int nsfCloseNote(NSFCONTEXT *pContext, const char *pszCaller, NOTEHANDLE hNote);

// A walk over the items of one name of an open note, in the note's order.
struct NSFITEMWALK {
    NOTEHANDLE hNote;
    const char *pszName;
    WORD cbName;
    int32_t cItems; // items found so far; the current item is number cItems (from 1)
    BLOCKID bhItem;
    WORD wType;
    BLOCKID bhValue;
    DWORD dwValueLen;
};

// Starts (or restarts) a walk over the items named pszName.
void nsfBeginItemWalk(NSFITEMWALK *pWalk, NOTEHANDLE hNote, const char *pszName);
// Steps to the next item: 0 with *pbFound set for an item (its type and value in the walk), 0
// with *pbFound clear at the normal end of the walk (no failure is logged for it), or the mapped
// status of a failed call. An empty name names no item.
int nsfNextItem(NSFCONTEXT *pContext, const char *pszCaller, NSFITEMWALK *pWalk, bool *pbFound);

// Searches the open database for the notes of the classes in wClassMask and inserts their IDs
// into hTable; with bDocumentsOnly only notes whose class is exactly NOTE_CLASS_DOCUMENT. 0, or
// NSF_STATUS_ACCESS_FAILED when the search fails (a failed insertion stops it).
int nsfSearchNoteIDs(NSFCONTEXT *pContext, const char *pszCaller, WORD wClassMask, bool bDocumentsOnly,
                     DHANDLE hTable);
// Steps through an ID table in ascending order: true with *pdwNoteID set, false after the last.
// *pbFirst starts true and is cleared by the first call.
bool nsfNextNoteID(NSFCONTEXT *pContext, const char *pszCaller, DHANDLE hTable, bool *pbFirst, DWORD *pdwNoteID);
