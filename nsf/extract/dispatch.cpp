#include "nsf/extract/dispatch.h"

#include <string.h>

#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/catalogue/subfiles.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/extract/files.h"
#include "nsf/extract/mail.h"
#include "nsf/items/buffers.h"
#include "nsf/items/note.h"
#include <notes/notes.h>

namespace {

// The kind of note that the extra subfile info of slot 7 must name.
const int32_t nExtraSubFileKindNote = QLExtraSubFileKind_Note;

const char *nsfOrNull(const char *psz)
{
    return psz != NULL ? psz : "NULL";
}

// Logs the flags the host finds in its extract-info record after a successful extraction.
void nsfLogExtractInfo(NSFCONTEXT *pContext, const QLSubFileExtractInfo *pInfo, const char *pszFunc)
{
    uint32_t dwFlag = pInfo->infoFlag;
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLog(pContext, NSF_LOG_INFO, pszFunc, "Returning SubFileExtractInfo...");
    nsfLogf(pContext, NSF_LOG_INFO, pszFunc, "infoFlag 0x%lx", (unsigned long)dwFlag);
    nsfLogf(pContext, NSF_LOG_INFO, pszFunc,
            "QLSubFileExtractInfoFlag_NeedsExtraction %d, _FileCreated %d, _CharsetConverted %d",
            (dwFlag & QLSubFileExtractInfoFlag_NeedsExtraction) ? 1 : 0,
            (dwFlag & QLSubFileExtractInfoFlag_FileCreated) ? 1 : 0,
            (dwFlag & QLSubFileExtractInfoFlag_CharsetConverted) ? 1 : 0);
    nsfLogf(pContext, NSF_LOG_INFO, pszFunc,
            "QLSubFileExtractInfoFlag_External %d, _FolderCreated %d, _NonFormattedBodyExtracted %d",
            (dwFlag & QLSubFileExtractInfoFlag_External) ? 1 : 0,
            (dwFlag & QLSubFileExtractInfoFlag_FolderCreated) ? 1 : 0,
            (dwFlag & QLSubFileExtractInfoFlag_NonFormattedBodyExtracted) ? 1 : 0);
}

// Removes the catalogue entries from nFirst on, last first, and gives their memory back.
void nsfDropSubFiles(NSFCONTEXT *pContext, int32_t nFirst)
{
    for (int32_t i = pContext->numSubFiles - 1; i >= nFirst && i >= 0; i--) {
        NSFSUBFILE *pSubFile = pContext->subFiles[i];
        if (pSubFile != NULL) {
            nsfFree(pContext, pSubFile->rgbOrigFileName);
            nsfFree(pContext, pSubFile->pbFileName);
            nsfFree(pContext, pSubFile);
            pContext->subFiles[i] = NULL;
        }
    }
    if (nFirst < pContext->numSubFiles)
        pContext->numSubFiles = nFirst;
}

} // namespace

int nsfExtractNote(NSFCONTEXT *pContext, NOTEHANDLE hNote, QLIOobj *pIOobj, NSFSUBFILE *pSubFile)
{
    static const char szFunc[] = "nsfExtractNote()";
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Extracting note...");
    if (pIOobj->fpOpen == NULL || pIOobj->fpOpen(pIOobj) == 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error opening I/O object");
        return NSF_STATUS_OUTPUT_FAILED;
    }

    int nStatus;
    if (pContext->bExportDXL) {
        nStatus = nsfExtractNoteDXL(pContext, hNote, pIOobj);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractNoteDXL() failed");
    } else if (pSubFile->bNoteIsMail && pContext->bGetFormattedBody) {
        uint8_t bByTemplate = pContext->bExtractByTemplate && !pContext->bExcludeMailHeader;
        nStatus = nsfExtractMailFields(pContext, pSubFile, hNote, pIOobj, 1, pContext->bExcludeMailHeader,
                                       bByTemplate);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractMailFields() failed");
    } else if (pContext->bExtractAllFields) {
        nStatus = nsfExtractAllFields(pContext, hNote, pIOobj);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractAllFields() failed");
    } else {
        // A mail memo gets its header lines unless they are left out; any other document only
        // the text of its body.
        uint8_t bExclude = pSubFile->bNoteIsMail ? pContext->bExcludeMailHeader : 1;
        nStatus = nsfExtractMailFields(pContext, pSubFile, hNote, pIOobj, 0, bExclude, 0);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractMailFields() failed");
    }

    if (pIOobj->fpClose != NULL && pIOobj->fpClose(pIOobj) == 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error closing I/O object");
        return NSF_STATUS_OUTPUT_FAILED;
    }
    return nStatus;
}

int QLAPI nsfExtractSubFileToIOobj(void *pvContext, int32_t nIndex, QLIOobj *pIOobj,
                                   QLSubFileExtractInfo *pExtractInfo, void *pvFifth, uint32_t nFlag)
{
    static const char szFunc[] = "nsfExtractSubFileToIOobj()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    if (pContext == NULL || pIOobj == NULL || pExtractInfo == NULL || pvFifth == NULL)
        return NSF_STATUS_BAD_ARGUMENT;

    nsfSetCurSubFile(pContext, nIndex);
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "nIndex %d 0x%X", nIndex, (unsigned)nIndex);
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "IOobj64.pFileName...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, nsfOrNull(pIOobj->pFileName));
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "SubFileExtractInfo.filePath...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, nsfOrNull(pExtractInfo->filePath));
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "SubFileExtractInfo.fileName...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, nsfOrNull(pExtractInfo->fileName));
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "nFlag 0x%x", nFlag);

    pContext->bExcludeMailHeader = (nFlag & QLExtractFlag_ExcludeMailHeader) ? 1 : 0;
    pContext->bGetFormattedBody = (nFlag & QLExtractFlag_GetFormattedBody) ? 1 : 0;
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "bExcludeMailHeader %d, bGetFormattedBody %d",
            pContext->bExcludeMailHeader, pContext->bGetFormattedBody);

    int nStatus = nsfResetBuffers(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfResetBuffers() failed");
        return nStatus;
    }
    if (nIndex < 0 || nIndex >= pContext->numSubFiles) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid subfile index %d (# subfiles %d)", nIndex,
                pContext->numSubFiles);
        return NSF_STATUS_BAD_ARGUMENT;
    }
    NSFSUBFILE *pSubFile = pContext->subFiles != NULL ? pContext->subFiles[nIndex] : NULL;
    if (pSubFile == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "No subfile (subfile index %d)", nIndex);
        return NSF_STATUS_INTERNAL;
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "SubFile.szSubject %s", pSubFile->szSubject);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "SubFile.szForm %s", pSubFile->szForm);

    if (pSubFile->subFileType == QLSubFileType_Folder) {
        // The root entry is a folder of the host's tree, not a note: there is nothing to open or
        // write.
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Root entry (nothing to extract)");
        nsfLogExtractInfo(pContext, pExtractInfo, szFunc);
        return NSF_STATUS_OK;
    }

    NOTEHANDLE hNote = NULLHANDLE;
    nStatus = nsfOpenNoteExt(pContext, szFunc, pSubFile->dwNoteID, pContext->bExportDXL ? 0 : OPEN_RAW_MIME, &hNote);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;

    ENCRYPTION_KEY key;
    memset(&key, 0, sizeof(key));
    ENCRYPTION_KEY *pKey = NULL;
    if (pContext->bExportDXL) {
        nStatus = nsfDecryptNoteExt(pContext, szFunc, hNote, DECRYPT_ATTACHMENTS_IN_PLACE, NULL, NULL);
    } else {
        nStatus = nsfDecryptNoteExt(pContext, szFunc, hNote, 0, &key, NULL);
        pKey = &key;
    }

    if (nStatus == NSF_STATUS_OK) {
        switch (pSubFile->subFileType) {
        case QLSubFileType_Main:
            nStatus = nsfExtractNote(pContext, hNote, pIOobj, pSubFile);
            if (nStatus != NSF_STATUS_OK)
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractNote() failed");
            break;
        case QLSubFileType_Attachment:
        case QLSubFileType_OLE:
            nStatus = nsfExtractFile(pContext, pKey, pIOobj, pSubFile, hNote);
            if (nStatus != NSF_STATUS_OK)
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractFile() failed");
            break;
        default:
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid subfile type (%d)", pSubFile->subFileType);
            nStatus = NSF_STATUS_INTERNAL;
            break;
        }
    }
    if (nStatus == NSF_STATUS_OK)
        nsfLogExtractInfo(pContext, pExtractInfo, szFunc);

    nsfCloseNote(pContext, szFunc, hNote);
    return nStatus;
}

int QLAPI nsfExtractSubFileToIOobjEx(void *pvContext, int32_t nIndex, QLIOobj *pIOobj,
                                     QLSubFileExtractInfo *pExtractInfo, void *pvFifth,
                                     QLExtractArgsEx *pArgs)
{
    static const char szFunc[] = "nsfExtractSubFileToIOobjEx()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    if (pContext == NULL || pIOobj == NULL || pExtractInfo == NULL || pvFifth == NULL || pArgs == NULL)
        return NSF_STATUS_BAD_ARGUMENT;

    nsfSetCurSubFile(pContext, nIndex);
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "...");

    const QLExtraSubFileInfo *pExtra = pArgs->pExtraSubFileInfo;
    if (pExtra == NULL) {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Calling nsfExtractSubFileToIOobj()...");
        int nStatus = nsfExtractSubFileToIOobj(pContext, nIndex, pIOobj, pExtractInfo, pvFifth, pArgs->nFlag);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractSubFileToIOobj() failed");
        return nStatus;
    }
    if (pExtra->dwNoteID == 0 || pExtra->eKind != nExtraSubFileKindNote) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Invalid extra subfile info");
        return NSF_STATUS_BAD_ARGUMENT;
    }

    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Extracting note (with attachments), dwNoteID %d",
            (int)pExtra->dwNoteID);
    const int32_t nFirst = pContext->numSubFiles;
    int nStatus = nsfGetNoteSubfiles(pContext, pExtra->dwNoteID);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetNoteSubfiles() failed");
        // What was added before the failure goes too: the host's catalogue stays as it was.
        nsfDropSubFiles(pContext, nFirst);
        return nStatus;
    }
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Note subfiles %d", pContext->numSubFiles - nFirst);

    // Every entry is extracted even when one fails; the first failure is the result.
    int nResult = NSF_STATUS_OK;
    const int32_t nEnd = pContext->numSubFiles;
    for (int32_t i = nFirst; i < nEnd; i++) {
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Calling nsfExtractSubFileToIOobj() for subfile %d", i);
        nStatus = nsfExtractSubFileToIOobj(pContext, i, pIOobj, pExtractInfo, pvFifth, pArgs->nFlag);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractSubFileToIOobj() failed");
            if (nResult == NSF_STATUS_OK)
                nResult = nStatus;
        }
    }
    nsfDropSubFiles(pContext, nFirst);
    return nResult;
}
