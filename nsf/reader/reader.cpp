#include "nsf/reader/reader.h"

#include <string.h>

#include "nsf/catalogue/images.h"
#include "nsf/catalogue/info.h"
#include "nsf/catalogue/subfiles.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/extract/dispatch.h"
#include "nsf/items/buffers.h"
#include "nsf/metadata/metadata.h"
#include "nsf/notes/creds.h"
#include <notes/notes.h>
#include "nsf/notes/session.h"
#include "nsf/notes/tempdir.h"
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/reader/options.h"
#include "nsf/base/status.h"
#include "nsf/templates/templates.h"

QLReaderInterface *QLAPI nsfGetContainerReaderInterfaceEx(QLReaderInterface *pTable)
{
    if (pTable == NULL)
        return NULL;
    pTable->fpInit = nsfInit;
    pTable->fpShutdown = nsfShutdown;
    pTable->fpGetContainerInfo = nsfGetContainerInfo;
    pTable->fpGetSubFileInfo = nsfGetSubFileInfo;
    pTable->fpGetSubFileMetadata = nsfGetSubFileMetadata;
    pTable->fpExtractSubFileToIOobj = nsfExtractSubFileToIOobj;
    pTable->fpExtractSubFileToIOobjEx = nsfExtractSubFileToIOobjEx;
    return pTable;
}

void nsfGetFileName8(const char *pszPath, char szFileName8[9])
{
    const char *pszDot = strchr(pszPath, '.');
    if (pszDot == NULL)
        pszDot = pszPath + strlen(pszPath);
    const char *pszStart = pszPath;
    for (const char *psz = pszDot; psz > pszPath; psz--) {
        if (psz[-1] == '\\' || psz[-1] == '/') {
            pszStart = psz;
            break;
        }
    }
    size_t cch = 0;
    while (cch < 8 && pszStart[cch] != '\0' && pszStart[cch] != '.') {
        szFileName8[cch] = pszStart[cch];
        cch++;
    }
    szFileName8[cch] = '\0';
}

namespace {

// Ends a failed open: writes the step's status and hands the context back so that the
// host can close it.
void *nsfFailInit(NSFCONTEXT *pContext, int *pStatus, int nStatus)
{
    *pStatus = nStatus;
    return pContext;
}

// Releases the host's hold on the input file: the database is read by its path through the Notes
// API, never through the I/O object.
int nsfReleaseInput(NSFCONTEXT *pContext, QLIOobj *pIOobj)
{
    static const char szFunc[] = "nsfInit()";
    if (pIOobj->fpClose == NULL) {
        if (pIOobj->fpOpen == NULL || pIOobj->fpOpen(pIOobj) == 0) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error opening I/O object for NSF file");
            return NSF_STATUS_ACCESS_FAILED;
        }
        if (pIOobj->fpClose == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Invalid I/O object for NSF file (no close function)");
            return NSF_STATUS_ACCESS_FAILED;
        }
    }
    pIOobj->fpClose(pIOobj);
    pContext->pIOobj = pIOobj;
    return NSF_STATUS_OK;
}

} // namespace

// Opens a container: allocates the context and runs the open steps in order. Returns the context
// (also after a failed step, which the status tells) or null when nothing could be allocated.
void *QLAPI nsfInit(QLIOobj *pIOobj, QLHAPI *services, uint32_t dwFlags, void *pReserved,
                    QLCredentialList *pCredentials, int *pStatus)
{
    static const char szFunc[] = "nsfInit()";
    (void)pReserved;
    if (pIOobj == NULL || services == NULL || pStatus == NULL) {
        if (pStatus != NULL)
            *pStatus = NSF_STATUS_BAD_ARGUMENT;
        return NULL;
    }

    NSFCONTEXT *pContext =
        (NSFCONTEXT *)services->allocator.fpAlloc(&services->allocator, sizeof(NSFCONTEXT));
    if (pContext == NULL) {
        *pStatus = NSF_STATUS_OUT_OF_MEMORY;
        return NULL;
    }
    memset(pContext, 0, sizeof(NSFCONTEXT));
    pContext->services = services;

    nsfLogOpen(pContext);
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "IOobj64.pFileName...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, pIOobj->pFileName != NULL ? pIOobj->pFileName : "NULL");

    pContext->dwFlags = dwFlags;
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "dwFlags 0x%lx, CNVO_CREATEROOTDIR %d, CNVO_SHOWHIDDENTEXT %d",
            (unsigned long)dwFlags, (dwFlags & CNVO_CREATEROOTDIR) ? 1 : 0,
            (dwFlags & CNVO_SHOWHIDDENTEXT) ? 1 : 0);

    nsfInitOptions(pContext);

    int nStatus = nsfInitBuffers(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitBuffers() failed");
        return nsfFailInit(pContext, pStatus, nStatus);
    }

    if (pIOobj->pFileName == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No input file path for NSF file");
        return nsfFailInit(pContext, pStatus, NSF_STATUS_INIT_FAILED);
    }
    nsfGetFileName8(pIOobj->pFileName, pContext->szFileName8);
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "szFileName8 %s", pContext->szFileName8);

    nStatus = nsfReleaseInput(pContext, pIOobj);
    if (nStatus != NSF_STATUS_OK)
        return nsfFailInit(pContext, pStatus, nStatus);

    nStatus = nsfInitNotes(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitNotes() failed");
        return nsfFailInit(pContext, pStatus, nStatus);
    }

    NSFCRED *pCred = NULL;
    if (pCredentials != NULL) {
        nStatus = nsfSaveUserIdFile(pContext);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfSaveUserIdFile() failed");
            return nsfFailInit(pContext, pStatus, nStatus);
        }
        nStatus = nsfInitCreds(pContext, pCredentials);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitCreds() failed");
            return nsfFailInit(pContext, pStatus, nStatus);
        }
        pCred = nsfChooseCred(pContext);
    }

    nStatus = nsfOpenDatabase(pContext, pCred != NULL ? pCred->pszUserIdFile : NULL, pIOobj->pFileName,
                              pCred != NULL ? pCred->pszPassword : NULL);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfOpenDatabase() failed");
        return nsfFailInit(pContext, pStatus, nStatus);
    }

    nStatus = nsfInitSubfiles(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitSubfiles() failed");
        return nsfFailInit(pContext, pStatus, nStatus);
    }

    if (pContext->bExtractByTemplate) {
        nStatus = nsfInitXMLTemplates(pContext);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitXMLTemplates() failed");
            return nsfFailInit(pContext, pStatus, nStatus);
        }
    }

    *pStatus = NSF_STATUS_OK;
    return pContext;
}

namespace {

// Frees every element of an array of owned blocks, then the array.
void nsfFreeArray(NSFCONTEXT *pContext, void **rgpBlocks, int32_t cBlocks)
{
    if (rgpBlocks == NULL)
        return;
    for (int32_t i = 0; i < cBlocks; i++)
        nsfFree(pContext, rgpBlocks[i]);
    nsfFree(pContext, rgpBlocks);
}

// Frees everything the context owns apart from the log and the context itself.
void nsfFreeContextArrays(NSFCONTEXT *pContext)
{
    for (int32_t i = 0; pContext->rgCreds != NULL && i < pContext->cCreds; i++) {
        nsfFree(pContext, pContext->rgCreds[i].pszUserIdFile);
        nsfFree(pContext, pContext->rgCreds[i].pszPassword);
    }
    nsfFree(pContext, pContext->rgCreds);
    pContext->rgCreds = NULL;
    pContext->cCreds = 0;

    for (int32_t i = 0; pContext->subFiles != NULL && i < pContext->numSubFiles; i++) {
        NSFSUBFILE *pSubFile = pContext->subFiles[i];
        if (pSubFile != NULL) {
            nsfFree(pContext, pSubFile->rgbOrigFileName);
            nsfFree(pContext, pSubFile->pbFileName);
        }
    }
    nsfFreeArray(pContext, (void **)pContext->subFiles, pContext->numSubFiles);
    pContext->subFiles = NULL;
    pContext->numSubFiles = pContext->maxSubFiles = 0;

    // Name slots beyond cItemNames may hold buffers from earlier scans: free every allocated slot.
    nsfFreeArray(pContext, (void **)pContext->rgpszItemNames, pContext->cItemNamesMax);
    pContext->rgpszItemNames = NULL;
    pContext->cItemNames = pContext->cItemNamesMax = 0;

    nsfFreeArray(pContext, (void **)pContext->rgpFolders, pContext->cFolders);
    pContext->rgpFolders = NULL;
    pContext->cFolders = pContext->cFoldersMax = 0;

    // A picture's bytes are a work buffer of the pool, freed with the pool below.
    nsfFreeArray(pContext, (void **)pContext->images, pContext->numImages);
    pContext->images = NULL;
    pContext->numImages = pContext->maxImages = 0;

    for (int32_t i = 0; pContext->rgpTemplates != NULL && i < pContext->cTemplates; i++) {
        if (pContext->rgpTemplates[i] != NULL)
            nsfFree(pContext, pContext->rgpTemplates[i]->pszName);
    }
    nsfFreeArray(pContext, (void **)pContext->rgpTemplates, pContext->cTemplates);
    pContext->rgpTemplates = NULL;
    pContext->cTemplates = 0;

    nsfFree(pContext, pContext->rgnImagesXML);
    pContext->rgnImagesXML = NULL;
    pContext->cImagesXML = pContext->cImagesXMLMax = 0;

    for (int32_t i = 0; pContext->buffers != NULL && i < pContext->numBuffers; i++)
        nsfFreeBuffer(pContext, &pContext->buffers[i]);
    nsfFree(pContext, pContext->buffers);
    pContext->buffers = NULL;
    pContext->numBuffers = pContext->numStandingBuffers = 0;
    NSFBUFFER **rgDirect[] = {&pContext->BufferMain, &pContext->BufferTemp, &pContext->BufferLMBCS,
                              &pContext->BufferUTF8, &pContext->BufferCD,   &pContext->BufferCDR,
                              &pContext->BufferCDR2, &pContext->BufferHTML, &pContext->BufferMHT,
                              &pContext->BufferXML};
    for (NSFBUFFER **ppBuffer : rgDirect)
        *ppBuffer = NULL;
}

} // namespace

// Closes a container in any state an open left it in: every step runs whatever the earlier ones
// reported.
void QLAPI nsfShutdown(void *pvContext)
{
    static const char szFunc[] = "nsfShutdown()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    if (pContext == NULL)
        return;

    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "...");
    if (pContext->hIDTable != NULLHANDLE)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "ID table is not destroyed");

    if (nsfCloseDatabase(pContext) != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCloseDatabase() failed");

    if (pContext->bNotesInitialised) {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Terminating Notes...");
        nsfCallAPI(pContext, szFunc, "NotesTerm()");
        NotesTerm();
        nsfRetAPI(pContext, szFunc, NOERROR);
        pContext->bNotesInitialised = 0;
    }

    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Deleting temp dir...");
    if (nsfDeleteTempDir(pContext) != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfDeleteTempDir() failed");

    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Freeing context...");
    nsfFreeContextArrays(pContext);

    nsfLogClose(pContext);
    QLAllocator *pAllocator = &pContext->services->allocator;
    pAllocator->fpFree(pAllocator, pContext);
}
