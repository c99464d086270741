#include "nsf/notes/creds.h"

#include <string.h>

#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/itemdata.h"
#include "nsf/items/note.h"
#include <notes/notes.h>
#include "nsf/notes/session.h"
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

namespace {

// Opens, counts and closes every document the ID table holds; the loop of a credential test. A
// note that this identity cannot decrypt ends the count: what follows it is not counted.
int nsfCountReadableNotes(NSFCONTEXT *pContext, NSFCRED *pCred, const char *pszFunc)
{
    DWORD dwNoteID = 0;
    bool bFirst = true;
    while (nsfNextNoteID(pContext, pszFunc, pContext->hIDTable, &bFirst, &dwNoteID)) {
        NOTEHANDLE hNote = NULLHANDLE;
        int nStatus = nsfOpenNote(pContext, pszFunc, dwNoteID, &hNote);
        if (nStatus != NSF_STATUS_OK)
            return nStatus;
        pCred->cNotes++;

        if (nsfItemIsPresent(pContext, hNote, "Encrypt", pszFunc)) {
            if (nsfGetItemData(pContext, hNote, "Encrypt", NSF_DATA_TEXT, NULL) != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "nsfGetItemData() failed");
            } else if (pContext->BufferMain->rgbData[0] == '1') {
                STATUS status = NOERROR;
                nStatus = nsfDecryptNote(pContext, pszFunc, hNote, &status);
                // Elsewhere "not sealed for you" reads the note as far as it goes; here it is the
                // very thing the test measures.
                if (nStatus == NSF_STATUS_OK && ERR(status) == ERR_NOT_SEALED_FOR_YOU) {
                    nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Note cannot be decrypted, dwNoteID %d",
                            (int)dwNoteID);
                    nStatus = NSF_STATUS_ACCESS_REFUSED;
                }
                if (nStatus != NSF_STATUS_OK) {
                    nsfCloseNote(pContext, pszFunc, hNote);
                    return nStatus;
                }
            }
        }
        if (nsfItemIsPresent(pContext, hNote, "Body", pszFunc))
            pCred->cBody++;
        else
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "No mail body item");
        nsfCloseNote(pContext, pszFunc, hNote);
    }
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Creds cNotes %d, cBody %d", pCred->cNotes, pCred->cBody);
    return NSF_STATUS_OK;
}

} // namespace

int nsfNewCred(NSFCONTEXT *pContext, const char *pszIdFile, const char *pszPassword)
{
    static const char szFunc[] = "nsfNewCred()";
    if (pszIdFile == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No User ID file");
        return NSF_STATUS_INTERNAL;
    }
    int32_t nCred = pContext->cCreds + 1;
    NSFCRED *rgNew;
    if (pContext->rgCreds == NULL) {
        rgNew = (NSFCRED *)nsfAlloc(pContext, sizeof(NSFCRED));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating credentials array for credential # %d",
                    nCred);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
    } else {
        rgNew =
            (NSFCRED *)nsfRealloc(pContext, pContext->rgCreds, nsfSatMul((uint32_t)nCred, sizeof(NSFCRED)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc,
                    "Error re-allocating credentials array for credential # %d", nCred);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
    }
    pContext->rgCreds = rgNew;

    QLHAPI *pHAPI = pContext->services;
    NSFCRED cred;
    memset(&cred, 0, sizeof(cred));
    cred.pszUserIdFile = pHAPI->fpDupString(pHAPI, pszIdFile);
    if (cred.pszUserIdFile == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error duplicating string of User ID file...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, pszIdFile);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    if (pszPassword != NULL) {
        cred.pszPassword = pHAPI->fpDupString(pHAPI, pszPassword);
        if (cred.pszPassword == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error duplicating string of Password...");
            nsfFree(pContext, cred.pszUserIdFile);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
    }
    pContext->rgCreds[pContext->cCreds++] = cred;
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "pszUserIdFile...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, pszIdFile);
    if (pszPassword == NULL)
        nsfLog(pContext, NSF_LOG_DIAG, szFunc, "pszPassword...");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "cCreds %d", pContext->cCreds);
    return NSF_STATUS_OK;
}

// Pairs ID files with the passwords around them: an ID file takes the password pending before it
// and every password after it up to the next ID file.
int nsfInitCreds(NSFCONTEXT *pContext, const QLCredentialList *pList)
{
    static const char szFunc[] = "nsfInitCreds()";
    const char *pszIdFile = NULL;
    const char *pszPassword = NULL;
    int nStatus = NSF_STATUS_OK;
    for (int32_t i = 0; pList->items != NULL && i < pList->count && nStatus == NSF_STATUS_OK; i++) {
        const QLCredentialItem *pItem = pList->items[i];
        if (pItem == NULL || pItem->value == NULL)
            continue;
        if (pItem->type == QLCredentialType_UserIdFile) {
            if (pszIdFile != NULL) {
                nStatus = nsfNewCred(pContext, pszIdFile, pszPassword);
                pszPassword = NULL;
            }
            pszIdFile = pItem->value;
        } else if (pItem->type == QLCredentialType_Password) {
            if (pszIdFile != NULL && pszPassword != NULL)
                nStatus = nsfNewCred(pContext, pszIdFile, pszPassword);
            pszPassword = pItem->value;
        }
    }
    if (nStatus == NSF_STATUS_OK && pszIdFile != NULL)
        nStatus = nsfNewCred(pContext, pszIdFile, pszPassword);
    if (nStatus != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfNewCred() failed");
    return nStatus;
}

int nsfTestCreds(NSFCONTEXT *pContext, const char *pszPath, NSFCRED *pCred)
{
    static const char szFunc[] = "nsfTestCreds()";
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Testing credentials...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Creds pszUserIdFile, pszPassword...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, pCred->pszUserIdFile);

    int nStatus = nsfOpenDatabase(pContext, pCred->pszUserIdFile, pszPath, pCred->pszPassword);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfOpenDatabase() failed, pszUserIdFile...");
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, pCred->pszUserIdFile);
    } else {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Creating ID table...");
        nsfCallAPI(pContext, szFunc, "IDCreateTable()");
        STATUS status = IDCreateTable(sizeof(NOTEID), &pContext->hIDTable);
        nsfRetAPI(pContext, szFunc, status);
        if (status != NOERROR || pContext->hIDTable == NULLHANDLE) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error creating ID table");
            pContext->hIDTable = NULLHANDLE;
            nStatus = NSF_STATUS_OUT_OF_MEMORY;
        } else {
            nsfLog(pContext, NSF_LOG_INFO, szFunc, "Searching for notes (creds)...");
            nStatus = nsfSearchNoteIDs(pContext, szFunc, NOTE_CLASS_DOCUMENT, true, pContext->hIDTable);
            if (nStatus == NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_INFO, szFunc, "Search for notes done");
                nsfCallAPI(pContext, szFunc, "IDEntries()");
                pContext->dwIDEntries = IDEntries(pContext->hIDTable);
                nsfRetAPI(pContext, szFunc, NOERROR);
                nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "dwIDEntries %ld", (long)pContext->dwIDEntries);
                nsfLog(pContext, NSF_LOG_INFO, szFunc, "Checking credentials on notes...");
                nStatus = nsfCountReadableNotes(pContext, pCred, szFunc);
            }
        }
    }

    if (pContext->hIDTable != NULLHANDLE) {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Destroying ID table...");
        nsfCallAPI(pContext, szFunc, "IDDestroyTable()");
        STATUS status = IDDestroyTable(pContext->hIDTable);
        nsfRetAPI(pContext, szFunc, status);
        if (status == NOERROR)
            pContext->hIDTable = NULLHANDLE;
    }
    // Close also switches back to the client's own ID file, which is needed after a switch even
    // when the database then failed to open.
    bool bOpened = pContext->hDB != NULLHANDLE;
    if (bOpened || pContext->szUserIdFile[0] != '\0') {
        int nCloseStatus = nsfCloseDatabase(pContext);
        if (nCloseStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCloseDatabase() failed");
        if (bOpened)
            nStatus = nCloseStatus;
    }
    return nStatus;
}

NSFCRED *nsfChooseCred(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfInit()";
    if (pContext->cCreds == 0)
        return NULL;
    if (pContext->cCreds == 1)
        return &pContext->rgCreds[0];

    for (int32_t i = 0; i < pContext->cCreds; i++) {
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Testing credential # %d of %d", i + 1, pContext->cCreds);
        if (nsfTestCreds(pContext, pContext->pIOobj->pFileName, &pContext->rgCreds[i]) != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfTestCreds() failed");
    }
    int32_t iBest = 0;
    for (int32_t i = 1; i < pContext->cCreds; i++) {
        if (pContext->rgCreds[i].cBody > pContext->rgCreds[iBest].cBody)
            iBest = i;
    }
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Using credential # %d of %d", iBest + 1, pContext->cCreds);
    return &pContext->rgCreds[iBest];
}
