#include "nsf/items/note.h"

#include <string.h>

#include "nsf/base/context.h"
#include "nsf/base/status.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include <notes/notes.h>

namespace {

// The reader status of a finished call: the mapped status, or INTERNAL for a failure that the
// mapping lets pass as success.
int nsfCallStatus(STATUS status, int nMapped)
{
    if (status == NOERROR)
        return NSF_STATUS_OK;
    return nMapped != NSF_STATUS_OK ? nMapped : NSF_STATUS_INTERNAL;
}

// What the search callback needs besides the context.
struct NSFSEARCH {
    NSFCONTEXT *pContext;
    DHANDLE hTable;
    bool bDocumentsOnly;
};

// The NSFSearch action routine: inserts the ID of each match, or of each document match.
// Returns the insertion's status, so that a failed insertion stops the search.
STATUS LNCALLBACK nsfSearchCB(void *pvSearch, SEARCH_MATCH *pMatch, ITEM_TABLE *)
{
    static const char szFunc[] = "nsfSearchCB()";
    NSFSEARCH *pSearch = (NSFSEARCH *)pvSearch;
    NSFCONTEXT *pContext = pSearch->pContext;
    nsfRetAPI(pContext, szFunc, NOERROR);
    STATUS status = NOERROR;
    NOTEID noteId = pMatch->ID.NoteID;
    if (pSearch->bDocumentsOnly && pMatch->NoteClass != NOTE_CLASS_DOCUMENT) {
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Skipping non-document note, dwNoteID %d", (int)noteId);
    } else {
        BOOL bInserted = FALSE;
        nsfCallAPI(pContext, szFunc, "IDInsert()");
        status = IDInsert(pSearch->hTable, noteId, &bInserted);
        nsfRetAPI(pContext, szFunc, status);
        if (status == NOERROR && bInserted)
            nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Inserted note, dwNoteID %d, wNoteClass 0x%x (%s)",
                    (int)noteId, pMatch->NoteClass, nsfGetNoteClassName(pMatch->NoteClass));
    }
    nsfCallAPI(pContext, szFunc, "NSFSearch()");
    return status;
}

} // namespace

int nsfOpenNote(NSFCONTEXT *pContext, const char *pszCaller, NOTEID dwNoteID, NOTEHANDLE *phNote)
{
    return nsfOpenNoteExt(pContext, pszCaller, dwNoteID, OPEN_RAW_MIME, phNote);
}

int nsfOpenNoteExt(NSFCONTEXT *pContext, const char *pszCaller, NOTEID dwNoteID, DWORD dwFlags,
                   NOTEHANDLE *phNote)
{
    *phNote = NULLHANDLE;
    nsfCallAPI(pContext, pszCaller, "NSFNoteOpenExt()");
    STATUS status = NSFNoteOpenExt(pContext->hDB, dwNoteID, dwFlags, phNote);
    int nStatus = nsfCallStatus(status, nsfRetAPI(pContext, pszCaller, status));
    if (nStatus != NSF_STATUS_OK)
        *phNote = NULLHANDLE;
    return nStatus;
}

int nsfDecryptNote(NSFCONTEXT *pContext, const char *pszCaller, NOTEHANDLE hNote, STATUS *pStatus)
{
    ENCRYPTION_KEY key;
    return nsfDecryptNoteExt(pContext, pszCaller, hNote, 0, &key, pStatus);
}

int nsfDecryptNoteExt(NSFCONTEXT *pContext, const char *pszCaller, NOTEHANDLE hNote, WORD wFlags,
                      ENCRYPTION_KEY *pKey, STATUS *pStatus)
{
    nsfCallAPI(pContext, pszCaller, "NSFNoteDecrypt()");
    STATUS status = NSFNoteDecrypt(hNote, wFlags, pKey);
    if (pStatus != NULL)
        *pStatus = status;
    // The two "ignored" statuses map to 0 here: a note that is not encrypted, or not for us, is
    // read as far as it can be.
    return nsfRetAPI(pContext, pszCaller, status);
}

int nsfCloseNote(NSFCONTEXT *pContext, const char *pszCaller, NOTEHANDLE hNote)
{
    nsfCallAPI(pContext, pszCaller, "NSFNoteClose()");
    STATUS status = NSFNoteClose(hNote);
    return nsfCallStatus(status, nsfRetAPI(pContext, pszCaller, status));
}

void nsfBeginItemWalk(NSFITEMWALK *pWalk, NOTEHANDLE hNote, const char *pszName)
{
    memset(pWalk, 0, sizeof(*pWalk));
    pWalk->hNote = hNote;
    pWalk->pszName = pszName;
    pWalk->cbName = (WORD)strnlen(pszName, 0xFFFF);
}

int nsfNextItem(NSFCONTEXT *pContext, const char *pszCaller, NSFITEMWALK *pWalk, bool *pbFound)
{
    *pbFound = false;
    // A zero-length name would make the API match any item; an empty name names none.
    if (pWalk->cbName == 0 || pWalk->cItems == 0x7FFFFFFF)
        return NSF_STATUS_OK;
    STATUS status;
    if (pWalk->cItems == 0) {
        nsfCallAPI(pContext, pszCaller, "NSFItemInfo()");
        status = NSFItemInfo(pWalk->hNote, pWalk->pszName, pWalk->cbName, &pWalk->bhItem, &pWalk->wType,
                             &pWalk->bhValue, &pWalk->dwValueLen);
    } else {
        nsfCallAPI(pContext, pszCaller, "NSFItemInfoNext()");
        status = NSFItemInfoNext(pWalk->hNote, pWalk->bhItem, pWalk->pszName, pWalk->cbName, &pWalk->bhItem,
                                 &pWalk->wType, &pWalk->bhValue, &pWalk->dwValueLen);
    }
    if (ERR(status) == ERR_ITEM_NOT_FOUND) {
        // The normal end of the walk, not a failure to report.
        nsfRetAPI(pContext, pszCaller, NOERROR);
        return NSF_STATUS_OK;
    }
    int nStatus = nsfCallStatus(status, nsfRetAPI(pContext, pszCaller, status));
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    pWalk->cItems++;
    *pbFound = true;
    return NSF_STATUS_OK;
}

int nsfSearchNoteIDs(NSFCONTEXT *pContext, const char *pszCaller, WORD wClassMask, bool bDocumentsOnly,
                     DHANDLE hTable)
{
    NSFSEARCH search = {pContext, hTable, bDocumentsOnly};
    nsfCallAPI(pContext, pszCaller, "NSFSearch()");
    STATUS status = NSFSearch(pContext->hDB, NULLHANDLE, NULL, 0, wClassMask, NULL, nsfSearchCB, &search, NULL);
    nsfRetAPI(pContext, pszCaller, status);
    return status == NOERROR ? NSF_STATUS_OK : NSF_STATUS_ACCESS_FAILED;
}

bool nsfNextNoteID(NSFCONTEXT *pContext, const char *pszCaller, DHANDLE hTable, bool *pbFirst, DWORD *pdwNoteID)
{
    nsfCallAPI(pContext, pszCaller, "IDScan()");
    BOOL bFound = IDScan(hTable, *pbFirst ? TRUE : FALSE, pdwNoteID);
    nsfRetAPI(pContext, pszCaller, NOERROR);
    *pbFirst = false;
    return bFound != FALSE;
}
