#include "nsf/catalogue/info.h"

#include <stdio.h>
#include <string.h>

#include "nsf/catalogue/subfiles.h"
#include "nsf/diag/log.h"
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

namespace {

const char *nsfSubFileTypeName(int32_t subFileType)
{
    switch (subFileType) {
    case QLSubFileType_Main:
        return "Main";
    case QLSubFileType_Attachment:
        return "Attachment";
    case QLSubFileType_OLE:
        return "OLE";
    case QLSubFileType_Folder:
        return "Folder";
    case QLSubFileType_Picture:
        return "Picture";
    default:
        return "Unknown";
    }
}

// The subfile at an index that is known to be in range; null for an empty slot.
const NSFSUBFILE *nsfSubFileAt(const NSFCONTEXT *pContext, int32_t nIndex)
{
    return pContext->subFiles != NULL ? pContext->subFiles[nIndex] : NULL;
}

// Whether the record at index i is a child of the record whose children are being walked, and
// whether the walk ends there: at the first record of the stop kind.
bool nsfIsChild(const NSFSUBFILE *pChild, int32_t nStopType, bool bMainOnly, bool *pbStop)
{
    *pbStop = pChild != NULL && pChild->subFileType == nStopType;
    return pChild != NULL && !*pbStop && (!bMainOnly || pChild->subFileType == QLSubFileType_Main);
}

// Counts the children of a record (the records after it up to the first one of the stop kind,
// only notes when bMainOnly is set, empty slots skipped) onto the host's childCount and hands
// their indexes out in a new array of the request's allocator. The host's count must arrive as 0;
// slots it counted before stay zero.
int nsfGetChildren(NSFCONTEXT *pContext, const NSFSUBFILE *pSubFile, int32_t nStopType, bool bMainOnly,
                   QLSubFileInfo *pSubFileInfo, QLAllocator *pAllocator, const char *pszFunc)
{
    bool bStop = false;
    uint32_t cChildren = 0;
    for (int32_t i = pSubFile->nSubFile + 1; i < pContext->numSubFiles && !bStop; i++) {
        if (nsfIsChild(nsfSubFileAt(pContext, i), nStopType, bMainOnly, &bStop))
            cChildren++;
    }
    if (cChildren == 0)
        return NSF_STATUS_OK;

    uint32_t ucCount = nsfSatAdd((uint32_t)pSubFileInfo->childCount, cChildren);
    pSubFileInfo->childCount = (int32_t)ucCount;
    uint32_t cb = nsfSatMul(ucCount, sizeof(int32_t));
    int32_t *rgn = (int32_t *)pAllocator->fpAlloc(pAllocator, cb);
    if (rgn == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, pszFunc, "Error allocating child array (child count %d)",
                pSubFileInfo->childCount);
        pSubFileInfo->childCount = 0;
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    memset(rgn, 0, cb);
    uint32_t n = 0;
    bStop = false;
    for (int32_t i = pSubFile->nSubFile + 1; i < pContext->numSubFiles && !bStop && n < cChildren; i++) {
        if (nsfIsChild(nsfSubFileAt(pContext, i), nStopType, bMainOnly, &bStop))
            rgn[n++] = i;
    }
    pSubFileInfo->childArray = rgn;
    return NSF_STATUS_OK;
}

// A copy of cb bytes, terminated, in the request's memory; null when it cannot be had.
char *nsfDupForHost(QLAllocator *pAllocator, const void *pv, uint32_t cb)
{
    char *psz = (char *)pAllocator->fpAlloc(pAllocator, nsfSatAdd(cb, 1));
    if (psz != NULL) {
        memcpy(psz, pv, cb);
        psz[cb] = '\0';
    }
    return psz;
}

} // namespace

int QLAPI nsfGetContainerInfo(void *pvContext, QLMainFileInfo *pMainFileInfo, QLRequest *pRequest)
{
    static const char szFunc[] = "nsfGetContainerInfo()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    if (pContext == NULL || pMainFileInfo == NULL || pRequest == NULL)
        return NSF_STATUS_BAD_ARGUMENT;
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "MainFileInfo.docInfo.eClass %d, eFormat %d",
            pMainFileInfo->docInfo.eClass, pMainFileInfo->docInfo.eFormat);
    pMainFileInfo->numSubFiles = pContext->numSubFiles;
    pMainFileInfo->charset = QLCharset_UTF8;
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Returning MainFileInfo...");
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "numSubFiles %d, charset %d, isMSBLSB %d, infoFlag 0x%lx",
            pMainFileInfo->numSubFiles, pMainFileInfo->charset, pMainFileInfo->isMSBLSB,
            (unsigned long)pMainFileInfo->infoFlag);
    return NSF_STATUS_OK;
}

int nsfGetMainFileInfo(NSFCONTEXT *pContext, const NSFSUBFILE *pSubFile, QLSubFileInfo *pSubFileInfo,
                       QLAllocator *pAllocator)
{
    static const char szFunc[] = "nsfGetMainFileInfo()";
    pSubFileInfo->infoFlag &= ~QLSubFileInfoFlag_NeedsExtraction;
    pSubFileInfo->parentIndex = (pContext->dwFlags & CNVO_CREATEROOTDIR) ? 0 : -1;
    int nStatus =
        nsfGetChildren(pContext, pSubFile, QLSubFileType_Main, false, pSubFileInfo, pAllocator, szFunc);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;

    if (pContext->szFileName8[0] != '\0') {
        const char *pszExt = pContext->bExportDXL ? ".dxl" : pSubFile->bNoteIsMail ? ".mail" : ".tmp";
        char szName[40];
        int cch =
            snprintf(szName, sizeof(szName), "%s_ql%d%s", pContext->szFileName8, pSubFile->nSubFile, pszExt);
        uint32_t cbName = cch > 0 ? (uint32_t)cch : 0;
        pSubFileInfo->subFileName = nsfDupForHost(pAllocator, szName, cbName);
        if (pSubFileInfo->subFileName == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating subfile file name (size %d)",
                    (int)cbName + 1);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
    }
    pSubFileInfo->fileTime = pSubFile->fileTime;
    return NSF_STATUS_OK;
}

int nsfGetAttachInfo(NSFCONTEXT *pContext, const NSFSUBFILE *pSubFile, QLSubFileInfo *pSubFileInfo,
                     QLAllocator *pAllocator)
{
    static const char szFunc[] = "nsfGetAttachInfo()";
    for (int32_t i = pSubFile->nSubFile - 1; i >= 0; i--) {
        const NSFSUBFILE *pParent = nsfSubFileAt(pContext, i);
        if (pParent != NULL && pParent->subFileType == QLSubFileType_Main) {
            pSubFileInfo->parentIndex = i;
            break;
        }
    }
    if (pSubFile->pbFileName != NULL) {
        pSubFileInfo->subFileName = nsfDupForHost(pAllocator, pSubFile->pbFileName, pSubFile->cbFileName);
        if (pSubFileInfo->subFileName == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating subfile file name (size %d)",
                    (int)nsfSatAdd(pSubFile->cbFileName, 1));
            return NSF_STATUS_OUT_OF_MEMORY;
        }
    }
    pSubFileInfo->fileTime = pSubFile->fileTime;
    return NSF_STATUS_OK;
}

int nsfGetFolderInfo(NSFCONTEXT *pContext, const NSFSUBFILE *pSubFile, QLSubFileInfo *pSubFileInfo,
                     QLAllocator *pAllocator)
{
    static const char szFunc[] = "nsfGetFolderInfo()";
    pSubFileInfo->infoFlag &= ~QLSubFileInfoFlag_NeedsExtraction;
    pSubFileInfo->parentIndex = -1;
    return nsfGetChildren(pContext, pSubFile, QLSubFileType_Folder, true, pSubFileInfo, pAllocator, szFunc);
}

int QLAPI nsfGetSubFileInfo(void *pvContext, int32_t nIndex, QLSubFileInfo *pSubFileInfo, QLRequest *pRequest)
{
    static const char szFunc[] = "nsfGetSubFileInfo()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    if (pContext == NULL || pSubFileInfo == NULL || pRequest == NULL || pRequest->pAllocator == NULL)
        return NSF_STATUS_BAD_ARGUMENT;
    pContext->curSubFile = nIndex < INT32_MAX ? nIndex + 1 : 0; // any index the host gives
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "nIndex %d 0x%X", nIndex, (unsigned)nIndex);
    if (nIndex < 0 || nIndex >= pContext->numSubFiles) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid subfile index %d (# subfiles %d)", nIndex,
                pContext->numSubFiles);
        return NSF_STATUS_BAD_ARGUMENT;
    }
    const NSFSUBFILE *pSubFile = nsfSubFileAt(pContext, nIndex);
    if (pSubFile == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "No subfile (index %d)", nIndex);
        return NSF_STATUS_INTERNAL;
    }

    pSubFileInfo->subFileType = pSubFile->subFileType;
    pSubFileInfo->charset = QLCharset_UTF8;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "SubFile.dwNoteID %ld", (long)pSubFile->dwNoteID);

    int nStatus;
    switch (pSubFile->subFileType) {
    case QLSubFileType_Main:
        nStatus = nsfGetMainFileInfo(pContext, pSubFile, pSubFileInfo, pRequest->pAllocator);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetMainFileInfo() failed");
            return nStatus;
        }
        break;
    case QLSubFileType_Attachment:
    case QLSubFileType_OLE:
        nStatus = nsfGetAttachInfo(pContext, pSubFile, pSubFileInfo, pRequest->pAllocator);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetAttachInfo() failed");
            return nStatus;
        }
        break;
    case QLSubFileType_Folder:
        nStatus = nsfGetFolderInfo(pContext, pSubFile, pSubFileInfo, pRequest->pAllocator);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetFolderInfo() failed");
            return nStatus;
        }
        break;
    default:
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid subfile type (%d)", pSubFile->subFileType);
        return NSF_STATUS_INTERNAL;
    }

    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Returning SubFileInfo...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "subFileName...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc,
           pSubFileInfo->subFileName != NULL ? pSubFileInfo->subFileName : "NULL");
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "subFileType %d (QLSubFileType_%s), subFileSize %ld",
            pSubFileInfo->subFileType, nsfSubFileTypeName(pSubFileInfo->subFileType),
            (long)pSubFileInfo->subFileSize);
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "infoFlag 0x%lx, QLSubFileInfoFlag_NeedsExtraction %d",
            (unsigned long)pSubFileInfo->infoFlag,
            (pSubFileInfo->infoFlag & QLSubFileInfoFlag_NeedsExtraction) ? 1 : 0);
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "charset %d, isMSBLSB %d, fileTime...", pSubFileInfo->charset,
            pSubFileInfo->isMSBLSB);
    nsfLogDump(pContext, NSF_LOG_INFO, &pSubFileInfo->fileTime, sizeof(pSubFileInfo->fileTime));
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "parentIndex %d, childCount %d, childArray[]...",
            pSubFileInfo->parentIndex, pSubFileInfo->childCount);
    for (int32_t i = 0; pSubFileInfo->childArray != NULL && i < pSubFileInfo->childCount; i++)
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "childArray[%d] %d", i, pSubFileInfo->childArray[i]);
    return NSF_STATUS_OK;
}
