#include "nsf/metadata/metadata.h"

#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "nsf/catalogue/subfiles.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/itemdata.h"
#include "nsf/items/note.h"
#include <notes/notes.h>
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/base/text.h"

static int nsfGetItemMetadata(NSFCONTEXT *pContext, QLAllocator *pResultMemory, QLSubFileMetaData *pResult,
                              DWORD dwNoteID, NOTEHANDLE hNote, const char *pszItemName, const char *pszLabel,
                              bool bReadValue);
static int nsfNewMetadataElem(NSFCONTEXT *pContext, QLSubFileMetaData *pResult, QLAllocator *pResultMemory);

namespace {

// The prefix of the names whose values the reader computes instead of reading an item.
const char szQLPrefix[] = "$$$QL_";
const size_t cchQLPrefix = sizeof(szQLPrefix) - 1;

// Item name slots: each owns a buffer of this size; the array starts with and grows by the step.
const uint32_t cbItemName = 130;
const uint32_t ucItemNamesStep = 100;

// Folder array: its first size and its growth step.
const uint32_t ucFoldersFirst = 100;
const uint32_t ucFoldersStep = 10;

// The notices Notes puts in place of a body it could not decrypt.
const char szEncryptedNotice1[] =
    "[Portions of this Notes document are encrypted with an Internet certificate and cannot be read.]";
const char szEncryptedNotice2[] =
    "[Portions of this MIME document are encrypted with a Notes certificate and cannot be read.]";

// The mail field set: the label of each element and the item it is read from. Sent is read from
// PostedDate when the note has it.
struct NSFMAILFIELD {
    const char *pszLabel;
    const char *pszItemName;
};
const NSFMAILFIELD rgMailFields[] = {
    {"From", "From"},       {"Sent", "ComposedDate"}, {"To", "SendTo"},          {"Cc", "CopyTo"},
    {"Bcc", "BlindCopyTo"}, {"Subject", "Subject"},   {"Priority", "Importance"}};

const char *nsfMetaNameTypeName(int32_t type)
{
    switch (type) {
    case QLMetaNameType_Integer:
        return "Integer";
    case QLMetaNameType_String:
        return "String";
    default:
        return "Invalid";
    }
}

// Replaces BufferMain's text with the text given.
int nsfSetMainText(NSFCONTEXT *pContext, const char *pszText, const char *pszFunc)
{
    NSFBUFFER *pMain = pContext->BufferMain;
    pMain->ucbData = 0;
    uint32_t cch = (uint32_t)strlen(pszText);
    int nStatus = nsfCheckBuffer(pContext, pMain, cch);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    memcpy(pMain->rgbData, pszText, cch + 1);
    pMain->ucbData = cch;
    return NSF_STATUS_OK;
}

// Appends text to BufferMain and keeps it terminated.
int nsfAppendMainText(NSFCONTEXT *pContext, const char *pszText, const char *pszFunc)
{
    NSFBUFFER *pMain = pContext->BufferMain;
    uint32_t cch = (uint32_t)strlen(pszText);
    int nStatus = nsfCheckBuffer(pContext, pMain, cch);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    memcpy(pMain->rgbData + pMain->ucbData, pszText, cch + 1);
    pMain->ucbData += cch;
    return NSF_STATUS_OK;
}

// A terminated copy in the result's memory, or null.
char *nsfDupForResult(QLAllocator *pResultMemory, const void *pv, uint32_t cb)
{
    char *psz = (char *)pResultMemory->fpAlloc(pResultMemory, nsfSatAdd(cb, 1));
    if (psz != NULL) {
        memcpy(psz, pv, cb);
        psz[cb] = '\0';
    }
    return psz;
}


// Appends the elements of the mail field set, in their order.
int nsfGetMailMetadata(NSFCONTEXT *pContext, DWORD dwNoteID, NOTEHANDLE hNote, QLSubFileMetaData *pResult,
                       QLAllocator *pResultMemory, const char *pszFunc)
{
    for (size_t i = 0; i < sizeof(rgMailFields) / sizeof(rgMailFields[0]); i++) {
        const char *pszItemName = rgMailFields[i].pszItemName;
        if (strcmp(rgMailFields[i].pszLabel, "Sent") == 0 &&
            nsfItemIsPresent(pContext, hNote, "PostedDate", pszFunc))
            pszItemName = "PostedDate";
        int nStatus = nsfGetItemMetadata(pContext, pResultMemory, pResult, dwNoteID, hNote, pszItemName,
                                         rgMailFields[i].pszLabel, true);
        if (nStatus != NSF_STATUS_OK) {
            nsfLogf(pContext, NSF_LOG_WARNING, pszFunc,
                    "nsfGetItemMetadata() failed, pszItemName %s, pesFieldName %s", pszItemName,
                    rgMailFields[i].pszLabel);
            return nStatus;
        }
    }
    return NSF_STATUS_OK;
}

// Logs what slot 4 hands back.
void nsfLogMetadata(NSFCONTEXT *pContext, const QLSubFileMetaData *pResult, const char *pszFunc)
{
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLog(pContext, NSF_LOG_INFO, pszFunc, "Returning SubFileMetaData...");
    nsfLogf(pContext, NSF_LOG_INFO, pszFunc, "nElem %d, infoFlag 0x%lx, ppElem...", pResult->nElem,
            (unsigned long)pResult->infoFlag);
    for (int32_t i = 0; pResult->ppElem != NULL && i < pResult->nElem; i++) {
        const QLSubFileMetaDataElem *pElem = pResult->ppElem[i];
        if (pElem == NULL)
            continue;
        nsfLogf(pContext, NSF_LOG_INFO, pszFunc,
                "ppElem[%d] strType %s, isDataValid %d, dataSize %d 0x%x, data...", i,
                pElem->strType != NULL ? pElem->strType : "NULL", pElem->isDataValid, pElem->dataSize,
                (unsigned)pElem->dataSize);
        if (pElem->data != NULL && pElem->dataSize > 0)
            nsfLogDump(pContext, NSF_LOG_INFO, pElem->data, (uint32_t)pElem->dataSize);
    }
}

} // namespace

// Appends a zeroed element to the result. Returns 0 or NSF_STATUS_OUT_OF_MEMORY.
static int nsfNewMetadataElem(NSFCONTEXT *pContext, QLSubFileMetaData *pResult, QLAllocator *pResultMemory)
{
    static const char szFunc[] = "nsfNewMetadataElem()";
    QLSubFileMetaDataElem **ppElem;
    if (pResult->ppElem == NULL) {
        pResult->nElem = 0;
        ppElem =
            (QLSubFileMetaDataElem **)pResultMemory->fpAlloc(pResultMemory, sizeof(QLSubFileMetaDataElem *));
    } else {
        uint32_t ucElems = nsfSatAdd((uint32_t)pResult->nElem, 1);
        ppElem = (QLSubFileMetaDataElem **)pResultMemory->fpRealloc(
            pResultMemory, pResult->ppElem, nsfSatMul(ucElems, sizeof(QLSubFileMetaDataElem *)));
    }
    if (ppElem == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating metadata array (# item names %d)",
                pContext->cItemNames);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    pResult->ppElem = ppElem;

    QLSubFileMetaDataElem *pElem =
        (QLSubFileMetaDataElem *)pResultMemory->fpAlloc(pResultMemory, sizeof(QLSubFileMetaDataElem));
    if (pElem == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating metadata array element # %d",
                pResult->nElem + 1);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    memset(pElem, 0, sizeof(*pElem));
    pResult->ppElem[pResult->nElem++] = pElem;
    return NSF_STATUS_OK;
}

int nsfGetQLMetadata(NSFCONTEXT *pContext, NOTEHANDLE hNote, DWORD dwNoteID, const char *pszName)
{
    static const char szFunc[] = "nsfGetQLMetadata()";
    int nStatus = nsfSetMainText(pContext, "", szFunc);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;

    char szValue[64];
    if (strcmp(pszName, "$$$QL_NoteOID") == 0 || strcmp(pszName, "$$$QL_UName") == 0) {
        ORIGINATORID oid;
        memset(&oid, 0, sizeof(oid));
        nsfCallAPI(pContext, szFunc, "NSFNoteGetInfo()");
        NSFNoteGetInfo(hNote, _NOTE_OID, &oid);
        nsfRetAPI(pContext, szFunc, NOERROR);
        snprintf(szValue, sizeof(szValue), "%.8X%.8X%.8X%.8X", (unsigned)oid.File.Innards[1],
                 (unsigned)oid.File.Innards[0], (unsigned)oid.Note.Innards[1], (unsigned)oid.Note.Innards[0]);
        return nsfSetMainText(pContext, szValue, szFunc);
    }
    if (strcmp(pszName, "$$$QL_NoteID") == 0) {
        NOTEID noteId = 0;
        nsfCallAPI(pContext, szFunc, "NSFNoteGetInfo()");
        NSFNoteGetInfo(hNote, _NOTE_ID, &noteId);
        nsfRetAPI(pContext, szFunc, NOERROR);
        snprintf(szValue, sizeof(szValue), "%.8X", (unsigned)noteId);
        return nsfSetMainText(pContext, szValue, szFunc);
    }
    if (strcmp(pszName, "$$$QL_Folders") == 0) {
        nStatus = nsfGetNoteFolders(pContext, dwNoteID);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetNoteFolders() failed");
        return nStatus;
    }
    if (strcmp(pszName, "$$$QL_BodyIsEncrypted") == 0) {
        nStatus = nsfGetItemData(pContext, hNote, "Body", NSF_DATA_TEXT, NULL);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemValue() failed");
            return nStatus;
        }
        const char *pszBody = (const char *)pContext->BufferMain->rgbData;
        bool bBodyIsEncrypted =
            pContext->BufferMain->ucbData != 0 &&
            (strcmp(pszBody, szEncryptedNotice1) == 0 || strcmp(pszBody, szEncryptedNotice2) == 0);
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bBodyIsEncrypted %d", bBodyIsEncrypted);
        snprintf(szValue, sizeof(szValue), "%d", bBodyIsEncrypted);
        return nsfSetMainText(pContext, szValue, szFunc);
    }
    return NSF_STATUS_OK;
}

// Appends one element: named by the label, else by the item, with the item's text as its data
// unless bReadValue is clear. A value that cannot be read leaves its element without data and
// is logged; only a failure of the result's memory ends the request.
static int nsfGetItemMetadata(NSFCONTEXT *pContext, QLAllocator *pResultMemory, QLSubFileMetaData *pResult,
                              DWORD dwNoteID, NOTEHANDLE hNote, const char *pszItemName, const char *pszLabel,
                              bool bReadValue)
{
    static const char szFunc[] = "nsfGetItemMetadata()";
    int nStatus = nsfNewMetadataElem(pContext, pResult, pResultMemory);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfNewMetadataElem() failed");
        return nStatus;
    }
    if (pszItemName == NULL)
        return NSF_STATUS_OK;
    QLSubFileMetaDataElem *pElem = pResult->ppElem[pResult->nElem - 1];

    const char *pszName = pszLabel != NULL ? pszLabel : pszItemName;
    pElem->strType = nsfDupForResult(pResultMemory, pszName, (uint32_t)strlen(pszName));
    if (pElem->strType == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating metadata array element name %s", pszName);
        return NSF_STATUS_OUT_OF_MEMORY;
    }

    if (!bReadValue)
        return NSF_STATUS_OK;

    if (strncmp(pszItemName, szQLPrefix, cchQLPrefix) == 0) {
        nStatus = nsfGetQLMetadata(pContext, hNote, dwNoteID, pszItemName);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetQLMetadata() failed");
    } else {
        nStatus = nsfGetItemData(pContext, hNote, pszItemName, NSF_DATA_TEXT, NULL);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() failed");
    }
    if (nStatus != NSF_STATUS_OK) {
        // One damaged value must not hide the others: whatever part of it was read is dropped.
        nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Value of %s cannot be read (status %d): element without data",
                pszName, nStatus);
        return NSF_STATUS_OK;
    }

    NSFBUFFER *pMain = pContext->BufferMain;
    if (pMain->ucbData == 0 || pMain->rgbData == NULL)
        return NSF_STATUS_OK;
    uint32_t cbData = nsfSatAdd(pMain->ucbData, 1);
    pElem->data = nsfDupForResult(pResultMemory, pMain->rgbData, pMain->ucbData);
    if (pElem->data == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating metadata array element data (size %d)",
                (int)cbData);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    pElem->dataSize = (int32_t)cbData;
    pElem->type = QLMetaDataType_UTF8String;
    pElem->isDataValid = 1;
    return NSF_STATUS_OK;
}

int nsfGetNoteMetadata(NSFCONTEXT *pContext, DWORD dwNoteID, NOTEHANDLE hNote, int32_t cMetaNames,
                       const QLMetaName *rgMetaNames, QLSubFileMetaData *pResult, QLAllocator *pResultMemory)
{
    static const char szFunc[] = "nsfGetNoteMetadata()";
    if (rgMetaNames != NULL) {
        for (int32_t i = 0; i < cMetaNames; i++) {
            const char *pszItemName =
                rgMetaNames[i].type == QLMetaNameType_String ? rgMetaNames[i].name : NULL;
            int nStatus =
                nsfGetItemMetadata(pContext, pResultMemory, pResult, dwNoteID, hNote, pszItemName, NULL, true);
            if (nStatus != NSF_STATUS_OK) {
                nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemMetadata() failed, pszItemName %s",
                        pszItemName != NULL ? pszItemName : "NULL");
                return nStatus;
            }
        }
        return NSF_STATUS_OK;
    }

    if (cMetaNames >= 0)
        return nsfGetMailMetadata(pContext, dwNoteID, hNote, pResult, pResultMemory, szFunc);

    int nStatus = nsfGetNoteItemNames(pContext, hNote);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetNoteItemNames() failed");
        return nStatus;
    }
    // A value is read over every item of its name, so it goes with the first element of that name;
    // the later ones (the parts of a long body, repeated names) carry the name alone.
    for (int32_t i = 0; i < pContext->cItemNames; i++) {
        const char *pszItemName = pContext->rgpszItemNames[i];
        bool bFirstOfName = true;
        for (int32_t j = 0; j < i && bFirstOfName; j++)
            bFirstOfName = !nsfEqualNoCase(pContext->rgpszItemNames[j], pszItemName);
        nStatus = nsfGetItemMetadata(pContext, pResultMemory, pResult, dwNoteID, hNote, pszItemName, NULL,
                                     bFirstOfName);
        if (nStatus != NSF_STATUS_OK) {
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemMetadata() failed, pszItemName %s",
                    pszItemName != NULL ? pszItemName : "NULL");
            return nStatus;
        }
    }
    return NSF_STATUS_OK;
}

int QLAPI nsfGetSubFileMetadata(void *pvContext, int32_t nIndex, int32_t cMetaNames, QLMetaName *rgMetaNames,
                                QLSubFileMetaData *pResult, QLRequest *pResultMemory)
{
    static const char szFunc[] = "nsfGetSubFileMetadata()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    if (pContext == NULL || pResult == NULL || pResultMemory == NULL || pResultMemory->pAllocator == NULL)
        return NSF_STATUS_BAD_ARGUMENT;
    QLAllocator *pAllocator = pResultMemory->pAllocator;

    nsfSetCurSubFile(pContext, nIndex);
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "nIndex %d 0x%X", nIndex, (unsigned)nIndex);
    if (nIndex < 0 || nIndex >= pContext->numSubFiles) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid subfile index %d (# subfiles %d)", nIndex,
                pContext->numSubFiles);
        return NSF_STATUS_BAD_ARGUMENT;
    }
    const NSFSUBFILE *pSubFile = pContext->subFiles != NULL ? pContext->subFiles[nIndex] : NULL;
    if (pSubFile == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "No subfile (index %d)", nIndex);
        return NSF_STATUS_INTERNAL;
    }
    if (pSubFile->subFileType != QLSubFileType_Main) {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Subfile is not a note (no metadata)");
        return NSF_STATUS_OK;
    }

    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "cMetaNames %d, rgMetaNames 0x%lx", cMetaNames,
            (unsigned long)(uintptr_t)rgMetaNames);
    if (rgMetaNames != NULL) {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "rgMetaNames...");
        for (int32_t i = 0; i < cMetaNames; i++) {
            bool bString = rgMetaNames[i].type == QLMetaNameType_String;
            nsfLogf(pContext, NSF_LOG_INFO, szFunc,
                    "rgMetaNameArray[%d] type %d (QLMetaNameType_%s), name %s", i, rgMetaNames[i].type,
                    nsfMetaNameTypeName(rgMetaNames[i].type),
                    bString && rgMetaNames[i].name != NULL ? rgMetaNames[i].name : "Invalid");
        }
    }

    NOTEHANDLE hNote = NULLHANDLE;
    int nStatus = nsfOpenNote(pContext, szFunc, pSubFile->dwNoteID, &hNote);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    nStatus = nsfDecryptNote(pContext, szFunc, hNote, NULL);
    if (nStatus == NSF_STATUS_OK) {
        nStatus = nsfGetNoteMetadata(pContext, pSubFile->dwNoteID, hNote, cMetaNames, rgMetaNames, pResult,
                                     pAllocator);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetNoteMetadata() failed");
        else
            nsfLogMetadata(pContext, pResult, szFunc);
    }

    int nCloseStatus = nsfCloseNote(pContext, szFunc, hNote);
    return nStatus != NSF_STATUS_OK ? nStatus : nCloseStatus;
}

int nsfNewItemName(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfNewItemName()";
    if (pContext->rgpszItemNames == NULL) {
        pContext->cItemNames = 0;
        pContext->cItemNamesMax = 0;
        char **rgNew = (char **)nsfAllocZero(pContext, nsfSatMul(ucItemNamesStep, sizeof(char *)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc,
                    "Error allocating item names array (max # item names %d)", (int)ucItemNamesStep);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pContext->rgpszItemNames = rgNew;
        pContext->cItemNamesMax = (int32_t)ucItemNamesStep;
    } else if (pContext->cItemNames >= pContext->cItemNamesMax) {
        uint32_t ucMax = nsfSatAdd((uint32_t)pContext->cItemNamesMax, ucItemNamesStep);
        char **rgNew =
            (char **)nsfRealloc(pContext, pContext->rgpszItemNames, nsfSatMul(ucMax, sizeof(char *)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc,
                    "Error re-allocating item names array (max # item names %d)", (int)ucMax);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        memset(rgNew + pContext->cItemNamesMax, 0,
               (ucMax - (uint32_t)pContext->cItemNamesMax) * sizeof(char *));
        pContext->rgpszItemNames = rgNew;
        pContext->cItemNamesMax = (int32_t)ucMax;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "cItemNamesMax %d", pContext->cItemNamesMax);
    }

    char **ppszSlot = &pContext->rgpszItemNames[pContext->cItemNames];
    if (*ppszSlot == NULL) {
        *ppszSlot = (char *)nsfAlloc(pContext, cbItemName);
        if (*ppszSlot == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating item name # %d",
                    pContext->cItemNames + 1);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
    }
    (*ppszSlot)[0] = '\0';
    return NSF_STATUS_OK;
}

// The NSFItemScan action routine of nsfGetNoteItemNames; always lets the scan go on.
static STATUS LNCALLBACK nsfItemScanCB(WORD, WORD, char *pszName, WORD wNameLength, void *, DWORD,
                                       void *pvContext)
{
    static const char szFunc[] = "nsfItemScanCB()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    nsfRetAPI(pContext, szFunc, NOERROR);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "wNameLength %u, pszName...", wNameLength);
    nsfLogDump(pContext, NSF_LOG_DIAG, pszName, wNameLength);
    if (nsfNewItemName(pContext) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfNewItemName() failed");
        pContext->bItemNamesIncomplete = 1;
    } else {
        uint32_t cch = wNameLength < cbItemName - 1 ? wNameLength : cbItemName - 1;
        char *pszSlot = pContext->rgpszItemNames[pContext->cItemNames++];
        if (pszName != NULL)
            memcpy(pszSlot, pszName, cch);
        else
            cch = 0;
        pszSlot[cch] = '\0';
    }
    nsfCallAPI(pContext, szFunc, "NSFItemScan()");
    return NOERROR;
}

int nsfGetNoteItemNames(NSFCONTEXT *pContext, NOTEHANDLE hNote)
{
    static const char szFunc[] = "nsfGetNoteItemNames()";
    pContext->cItemNames = 0;
    pContext->bItemNamesIncomplete = 0;
    nsfCallAPI(pContext, szFunc, "NSFItemScan()");
    STATUS status = NSFItemScan(hNote, nsfItemScanCB, pContext);
    int nStatus = nsfRetAPI(pContext, szFunc, status);
    if (status != NOERROR)
        return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
    if (pContext->bItemNamesIncomplete) {
        // A name that was not kept would be missing from every list made from these names.
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error keeping every item name");
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    return NSF_STATUS_OK;
}

// Appends a zero-filled folder record with room for dwIDEntries note IDs.
static int nsfNewFolder(NSFCONTEXT *pContext, uint32_t dwIDEntries)
{
    static const char szFunc[] = "nsfNewFolder()";
    if (pContext->rgpFolders == NULL) {
        pContext->cFolders = 0;
        pContext->cFoldersMax = 0;
        NSFFOLDER **rgNew =
            (NSFFOLDER **)nsfAllocZero(pContext, nsfSatMul(ucFoldersFirst, sizeof(NSFFOLDER *)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating folder array (max # folders %d)",
                    (int)ucFoldersFirst);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pContext->rgpFolders = rgNew;
        pContext->cFoldersMax = (int32_t)ucFoldersFirst;
    } else if (pContext->cFolders >= pContext->cFoldersMax) {
        uint32_t ucMax = nsfSatAdd((uint32_t)pContext->cFoldersMax, ucFoldersStep);
        NSFFOLDER **rgNew =
            (NSFFOLDER **)nsfRealloc(pContext, pContext->rgpFolders, nsfSatMul(ucMax, sizeof(NSFFOLDER *)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error re-allocating folder array (max # folders %d)",
                    (int)ucMax);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        memset(rgNew + pContext->cFoldersMax, 0,
               (ucMax - (uint32_t)pContext->cFoldersMax) * sizeof(NSFFOLDER *));
        pContext->rgpFolders = rgNew;
        pContext->cFoldersMax = (int32_t)ucMax;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "cFoldersMax %d", pContext->cFoldersMax);
    }

    // The record declares room for one ID; the others follow it.
    uint32_t cbFolder =
        nsfSatAdd((uint32_t)offsetof(NSFFOLDER, rgdwNoteIDs), nsfSatMul(dwIDEntries, sizeof(uint32_t)));
    if (cbFolder < sizeof(NSFFOLDER))
        cbFolder = sizeof(NSFFOLDER);
    NSFFOLDER *pFolder = (NSFFOLDER *)nsfAllocZero(pContext, cbFolder);
    if (pFolder == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating folder # %d (size %u)",
                pContext->cFolders + 1, cbFolder);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    pFolder->dwIDEntries = (int32_t)dwIDEntries;
    pContext->rgpFolders[pContext->cFolders++] = pFolder;
    return NSF_STATUS_OK;
}

namespace {

// Records the folder of an open view note with its note IDs and its title. A view that is no
// folder, or whose table cannot be read, is skipped.
void nsfAddFolder(NSFCONTEXT *pContext, NOTEHANDLE hNote, NOTEID noteId, const char *pszFunc)
{
    DHANDLE hTable = NULLHANDLE;
    nsfCallAPI(pContext, pszFunc, "NSFFolderGetIDTable()");
    STATUS status = NSFFolderGetIDTable(pContext->hDB, pContext->hDB, noteId, 0, &hTable);
    // A view that is not a folder is the normal case here, not a failure to report.
    nsfRetAPI(pContext, pszFunc, ERR(status) == ERR_NOTE_NOT_FOLDER ? NOERROR : status);
    if (status != NOERROR || hTable == NULLHANDLE)
        return;

    nsfCallAPI(pContext, pszFunc, "IDEntries()");
    DWORD dwIDEntries = IDEntries(hTable);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "View note (folder) dwIDEntries %d", (int)dwIDEntries);
    NSFFOLDER *pFolder = NULL;
    if (nsfNewFolder(pContext, dwIDEntries) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfNewFolder() failed");
    } else {
        pFolder = pContext->rgpFolders[pContext->cFolders - 1];
        pFolder->dwNoteID = noteId;
        nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Added view note as folder, dwNoteID %d, cFolders %d",
                (int)noteId, pContext->cFolders);
        DWORD dwID = 0;
        uint32_t n = 0;
        bool bFirst = true;
        while (n < dwIDEntries && nsfNextNoteID(pContext, pszFunc, hTable, &bFirst, &dwID))
            pFolder->rgdwNoteIDs[n++] = dwID;
        // The table may hold fewer IDs than it counted; only those read are the folder's.
        pFolder->dwIDEntries = (int32_t)n;
    }
    nsfCallAPI(pContext, pszFunc, "IDDestroyTable()");
    nsfRetAPI(pContext, pszFunc, IDDestroyTable(hTable));
    if (pFolder == NULL)
        return;

    nsfCallAPI(pContext, pszFunc, "NSFItemGetText()");
    WORD cch = NSFItemGetText(hNote, "$TITLE", pFolder->szName, (WORD)sizeof(pFolder->szName));
    nsfRetAPI(pContext, pszFunc, NOERROR);
    pFolder->szName[cch < sizeof(pFolder->szName) ? cch : sizeof(pFolder->szName) - 1] = '\0';
    if (cch == 0) {
        nsfLogf(pContext, NSF_LOG_ERROR, pszFunc, "Error getting item (size %u, MAXWORD %u)", 0u, 65535u);
    } else {
        nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "Folder szName...");
        nsfLog(pContext, NSF_LOG_DIAG, pszFunc, pFolder->szName);
    }
}

} // namespace

// The NSFSearch action routine of the folder search: records each folder with its note IDs.
static STATUS LNCALLBACK nsfFolderSearchCB(void *pvContext, SEARCH_MATCH *pMatch, ITEM_TABLE *)
{
    static const char szFunc[] = "nsfFolderSearchCB()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    nsfRetAPI(pContext, szFunc, NOERROR);
    NOTEID noteId = pMatch->ID.NoteID;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Opening view note, dwNoteID %d", (int)noteId);
    // A view that cannot be opened stops the search, as the reader always did.
    NOTEHANDLE hNote = NULLHANDLE;
    int nStatus = nsfOpenNote(pContext, szFunc, noteId, &hNote);
    if (nStatus == NSF_STATUS_OK) {
        nsfAddFolder(pContext, hNote, noteId, szFunc);
        nStatus = nsfCloseNote(pContext, szFunc, hNote);
    }
    nsfCallAPI(pContext, szFunc, "NSFSearch()");
    return nStatus == NSF_STATUS_OK ? NOERROR : ERR_INVALID_NOTE;
}

int nsfGetNoteFolders(NSFCONTEXT *pContext, DWORD dwNoteID)
{
    static const char szFunc[] = "nsfGetNoteFolders()";
    if (pContext->rgpFolders == NULL) {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Searching for folders...");
        nsfCallAPI(pContext, szFunc, "NSFSearch()");
        STATUS status = NSFSearch(pContext->hDB, NULLHANDLE, NULL, 0, NOTE_CLASS_VIEW, NULL,
                                  nsfFolderSearchCB, pContext, NULL);
        nsfRetAPI(pContext, szFunc, status);
        if (status != NOERROR)
            return NSF_STATUS_ACCESS_FAILED;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Search for folders done, cFolders %d", pContext->cFolders);
    }

    int nStatus = nsfSetMainText(pContext, "", szFunc);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    for (int32_t i = 0; i < pContext->cFolders; i++) {
        const NSFFOLDER *pFolder = pContext->rgpFolders[i];
        if (pFolder == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No folder");
            return NSF_STATUS_INTERNAL;
        }
        for (int32_t j = 0; j < pFolder->dwIDEntries; j++) {
            if (pFolder->rgdwNoteIDs[j] != dwNoteID)
                continue;
            if (pContext->BufferMain->ucbData != 0 &&
                (nStatus = nsfAppendMainText(pContext, ", ", szFunc)) != NSF_STATUS_OK)
                return nStatus;
            if ((nStatus = nsfAppendMainText(pContext, pFolder->szName, szFunc)) != NSF_STATUS_OK)
                return nStatus;
        }
    }
    return NSF_STATUS_OK;
}
