#include "nsf/extract/files.h"

#include <string.h>

#include "nsf/base/context.h"
#include "nsf/base/status.h"
#include "nsf/catalogue/subfiles.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/note.h"
#include "nsf/items/itemdata.h"
#include "nsf/notes/tempdir.h"
#include "nsf/os/qlsys.h"
#include <notes/notes.h>
#include <notes/nsfole.h>

namespace {

const char szFileItem[] = "$FILE";

// The Notes status of a call as the reader's status, never 0 for a failed call.
int nsfFailedAPI(int nStatus)
{
    return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
}

// True when the $FILE value (type word included) is a file object named exactly as the catalogue
// recorded the attachment. Guards against a note whose $FILE items changed after the catalogue
// was built: the ordinal would then name another file.
bool nsfFileItemMatches(NSFCONTEXT *pContext, const NSFSUBFILE *pSubFile, BLOCKID bhValue, DWORD dwValueLen,
                        const char *pszFunc)
{
    nsfCallAPI(pContext, pszFunc, "OSLockBlock()");
    const uint8_t *pbBlock = OSLockBlock(uint8_t, bhValue);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    if (pbBlock == NULL)
        return false;
    bool bMatches = false;
    FILEOBJECT fileObj;
    if (dwValueLen >= sizeof(WORD) &&
        nsfReadFileObject(pContext, pbBlock + sizeof(WORD), dwValueLen - sizeof(WORD), NSF_LOG_DIAG,
                          NSF_LOG_WARNING, pszFunc, &fileObj)) {
        uint32_t cbRoom = dwValueLen - sizeof(WORD) - ODSLength(_FILEOBJECT);
        uint32_t cbName = fileObj.FileNameLength;
        if (cbName > cbRoom)
            cbName = cbRoom;
        bMatches = cbName == pSubFile->cbOrigFileName &&
                   (cbName == 0 || memcmp(pbBlock + sizeof(WORD) + ODSLength(_FILEOBJECT),
                                          pSubFile->rgbOrigFileName, cbName) == 0);
    }
    nsfCallAPI(pContext, pszFunc, "OSUnlockBlock()");
    OSUnlockBlock(bhValue);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    return bMatches;
}

// Detaches the file attachment at the subfile's $FILE ordinal into the temporary file.
int nsfDetachFile(NSFCONTEXT *pContext, ENCRYPTION_KEY *pKey, NSFSUBFILE *pSubFile, NOTEHANDLE hNote,
                  const char *pszTempFile)
{
    static const char szFunc[] = "nsfExtractFile()";
    if (pSubFile->nFileItem < 1) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid attachment ordinal %d", pSubFile->nFileItem);
        return NSF_STATUS_INTERNAL;
    }
    NSFITEMWALK walk;
    nsfBeginItemWalk(&walk, hNote, szFileItem);
    while (walk.cItems < pSubFile->nFileItem) {
        bool bFound = false;
        int nStatus = nsfNextItem(pContext, szFunc, &walk, &bFound);
        if (nStatus != NSF_STATUS_OK || !bFound) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "No attachment item at ordinal %d (found %d)",
                    pSubFile->nFileItem, walk.cItems);
            return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
        }
    }
    const WORD wType = walk.wType;
    const BLOCKID bhItem = walk.bhItem;
    const BLOCKID bhValue = walk.bhValue;
    const DWORD dwValueLen = walk.dwValueLen;
    if (wType != TYPE_OBJECT || !nsfFileItemMatches(pContext, pSubFile, bhValue, dwValueLen, szFunc)) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Attachment item at ordinal %d is not the catalogued file",
                pSubFile->nFileItem);
        return NSF_STATUS_ACCESS_FAILED;
    }
    nsfCallAPI(pContext, szFunc, "NSFNoteExtractFile()");
    STATUS status = NSFNoteExtractFile(hNote, bhItem, pszTempFile, pKey);
    int nStatus = nsfRetAPI(pContext, szFunc, status);
    return status == NOERROR ? NSF_STATUS_OK : nsfFailedAPI(nStatus);
}

// Copies the open temporary file into the I/O object through BufferTemp: opens the object, writes
// one block per read and closes the object on every path after it was opened.
int nsfCopyTempFile(NSFCONTEXT *pContext, QLSYS_FILE hFile, const char *pszTempFile, QLIOobj *pIOobj)
{
    static const char szFunc[] = "nsfExtractFile()";
    NSFBUFFER *pTemp = pContext->BufferTemp;
    if (pTemp == NULL || pTemp->rgbData == NULL || pTemp->ucbDataSize == 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No copy buffer");
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    // The size the detached file has, so that a read that stops early is not taken for its end.
    QLSYS_STAT st;
    bool bKnownSize = qlsys_stat(pszTempFile, &st) == 0;

    if (pIOobj->fpOpen == NULL || pIOobj->fpOpen(pIOobj) == 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error opening I/O object");
        return NSF_STATUS_OUTPUT_FAILED;
    }
    int nStatus = NSF_STATUS_OK;
    uint64_t ucbCopied = 0;
    pTemp->ucbData = (uint32_t)qlsys_fread(pTemp->rgbData, 1, pTemp->ucbDataSize, hFile);
    while (pTemp->ucbData != 0) {
        if (pIOobj->fpWrite == NULL || pIOobj->fpWrite(pIOobj, pTemp->rgbData, pTemp->ucbData) == 0) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error writing temp file to I/O object");
            nStatus = NSF_STATUS_OUTPUT_FAILED;
            break;
        }
        ucbCopied += pTemp->ucbData;
        pTemp->ucbData = (uint32_t)qlsys_fread(pTemp->rgbData, 1, pTemp->ucbDataSize, hFile);
    }
    pTemp->ucbData = 0;
    if (nStatus == NSF_STATUS_OK && bKnownSize && ucbCopied != (uint64_t)st.st_size) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error reading temp file (read %llu of %llu bytes)...",
                (unsigned long long)ucbCopied, (unsigned long long)st.st_size);
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, pszTempFile);
        nStatus = NSF_STATUS_OUTPUT_FAILED;
    }
    if (pIOobj->fpClose != NULL && pIOobj->fpClose(pIOobj) == 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error closing I/O object");
        nStatus = NSF_STATUS_OUTPUT_FAILED;
    }
    return nStatus;
}

} // namespace

int nsfExtractFile(NSFCONTEXT *pContext, ENCRYPTION_KEY *pKey, QLIOobj *pIOobj, NSFSUBFILE *pSubFile,
                   NOTEHANDLE hNote)
{
    static const char szFunc[] = "nsfExtractFile()";
    char szTempFile[NSF_PATH_SIZE];
    szTempFile[0] = '\0';
    bool bHavePath = false;
    QLSYS_FILE hFile = QLSYS_INVALID_FILE;

    int nStatus = nsfGetTempFilePath(pContext, "tmp", szTempFile, sizeof(szTempFile));
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetTempFilePath() failed");
    } else {
        bHavePath = true;
        switch (pSubFile->subFileType) {
        case QLSubFileType_Attachment:
            nStatus = nsfDetachFile(pContext, pKey, pSubFile, hNote, szTempFile);
            break;
        case QLSubFileType_OLE: {
            // The object's name as the note stores it; the catalogue keeps it terminated.
            char *pszObject = (char *)pSubFile->rgbOrigFileName;
            if (pszObject == NULL) {
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, "OLE object has no name");
                nStatus = NSF_STATUS_INTERNAL;
                break;
            }
            nsfCallAPI(pContext, szFunc, "NSFNoteExtractOLE2Object()");
            STATUS status = NSFNoteExtractOLE2Object(hNote, pszObject, szTempFile, NULL, TRUE, 0);
            int nRet = nsfRetAPI(pContext, szFunc, status);
            nStatus = status == NOERROR ? NSF_STATUS_OK : nsfFailedAPI(nRet);
            break;
        }
        default:
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid subfile type (%d)", pSubFile->subFileType);
            nStatus = NSF_STATUS_INTERNAL;
            break;
        }
    }

    if (nStatus == NSF_STATUS_OK) {
        hFile = nsfOpenTempFile(pContext, szTempFile, szFunc);
        nStatus = hFile == QLSYS_INVALID_FILE ? NSF_STATUS_OUTPUT_FAILED
                                              : nsfCopyTempFile(pContext, hFile, szTempFile, pIOobj);
    }

    if (nStatus != NSF_STATUS_OK &&
        (pSubFile->subFileType == QLSubFileType_Attachment || pSubFile->subFileType == QLSubFileType_OLE)) {
        if (pSubFile->subFileType == QLSubFileType_OLE) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "rgbOrigFileName...");
            nsfLogDump(pContext, NSF_LOG_WARNING, pSubFile->rgbOrigFileName, pSubFile->cbOrigFileName);
        }
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "szTempFile...");
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, szTempFile);
    }
    if (bHavePath && nsfRemoveTempFile(pContext, hFile, szTempFile, szFunc) != NSF_STATUS_OK)
        nStatus = NSF_STATUS_OUTPUT_FAILED;
    return nStatus;
}

QLSYS_FILE nsfOpenTempFile(NSFCONTEXT *pContext, const char *pszTempFile, const char *pszFunc)
{
    QLSYS_FILE hFile = qlsys_fopen(pszTempFile, "r+b");
    if (hFile == QLSYS_INVALID_FILE) {
        nsfLog(pContext, NSF_LOG_ERROR, pszFunc, "Error opening temp file...");
        nsfLog(pContext, NSF_LOG_ERROR, pszFunc, pszTempFile);
    }
    return hFile;
}

int nsfRemoveTempFile(NSFCONTEXT *pContext, QLSYS_FILE hFile, const char *pszTempFile, const char *pszFunc)
{
    int nStatus = NSF_STATUS_OK;
    if (hFile != QLSYS_INVALID_FILE && qlsys_fclose(hFile) != 0) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "qlsys_fclose() failed, szTempFile...");
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, pszTempFile);
        nStatus = NSF_STATUS_OUTPUT_FAILED;
    }
    if (qlsys_unlink(pszTempFile) != 0) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "qlsys_unlink() failed, szTempFile...");
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, pszTempFile);
        nStatus = NSF_STATUS_OUTPUT_FAILED;
    }
    return nStatus;
}

void LNCALLBACK nsfDXLWriteCB(const BYTE *pbData, DWORD dwLength, void *pvAction)
{
    NSFDXLOUTPUT *pOutput = (NSFDXLOUTPUT *)pvAction;
    if (pOutput == NULL || pOutput->bWriteFailed || dwLength == 0)
        return;
    QLIOobj *pIOobj = pOutput->pIOobj;
    if (pIOobj->fpWrite == NULL || pIOobj->fpWrite(pIOobj, pbData, dwLength) == 0) {
        // The exporter cannot be told to stop: the failure is kept for nsfExtractNoteDXL.
        pOutput->bWriteFailed = 1;
        return;
    }
    pOutput->ucbWritten += dwLength;
}

int nsfExtractNoteDXL(NSFCONTEXT *pContext, NOTEHANDLE hNote, QLIOobj *pIOobj)
{
    static const char szFunc[] = "nsfExtractNoteDXL()";
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Exporting note to DXL...");

    DXLEXPORTHANDLE hExporter = NULLMEMHANDLE;
    nsfCallAPI(pContext, szFunc, "DXLCreateExporter()");
    STATUS status = DXLCreateExporter(&hExporter);
    int nStatus = nsfRetAPI(pContext, szFunc, status);
    if (status != NOERROR)
        return nsfFailedAPI(nStatus);

    DWORD dwTrue = TRUE;
    DXL_EXPORT_PROPERTY eProperty =
        pContext->bExportDXL_PureXML ? eConvertNotesbitmapsToGIF : eDxlRichtextOption;
    nsfCallAPI(pContext, szFunc, "DXLSetExporterProperty()");
    status = DXLSetExporterProperty(hExporter, eProperty, &dwTrue);
    nStatus = nsfRetAPI(pContext, szFunc, status);
    if (status != NOERROR)
        nStatus = nsfFailedAPI(nStatus);

    int nExportStatus = NSF_STATUS_OK;
    NSFDXLOUTPUT output = {pContext, pIOobj, 0, 0};
    if (nStatus == NSF_STATUS_OK) {
        nsfCallAPI(pContext, szFunc, "DXLExportNote()");
        status = DXLExportNote(hExporter, nsfDXLWriteCB, hNote, &output);
        nExportStatus = nsfRetAPI(pContext, szFunc, status);
        if (status != NOERROR)
            nExportStatus = nsfFailedAPI(nExportStatus);

        MEMHANDLE hLog = NULLMEMHANDLE;
        nsfCallAPI(pContext, szFunc, "DXLGetExporterProperty()");
        status = DXLGetExporterProperty(hExporter, eDxlExportResultLog, &hLog);
        nStatus = nsfRetAPI(pContext, szFunc, status);
        if (status != NOERROR) {
            nStatus = nsfFailedAPI(nStatus);
        } else if (hLog != NULLMEMHANDLE) {
            const char *pszLog = (const char *)OSMemoryLock(hLog);
            if (pszLog != NULL) {
                if (pszLog[0] != '\0') {
                    nsfLog(pContext, NSF_LOG_INFO, szFunc, "DXL Export Result Log...");
                    // One log line per line of the result log: the log escapes line breaks inside
                    // a message, which would run the whole result log into one line.
                    for (const char *pszLine = pszLog; *pszLine != '\0';) {
                        size_t cbLine = strcspn(pszLine, "\r\n");
                        if (cbLine != 0)
                            nsfLogf(pContext, NSF_LOG_INFO, szFunc, "%.*s", (int)cbLine, pszLine);
                        pszLine += cbLine;
                        pszLine += strspn(pszLine, "\r\n");
                    }
                }
                OSMemoryUnlock(hLog);
            }
            // The text was made for this call; nobody else frees it.
            OSMemoryFree(hLog);
        }
    }

    if (hExporter != NULLMEMHANDLE) {
        nsfCallAPI(pContext, szFunc, "DXLDeleteExporter()");
        DXLDeleteExporter(hExporter);
        nsfRetAPI(pContext, szFunc, NOERROR);
    }

    // A failed export or a refused write leaves the output incomplete: that is no success.
    if (nStatus == NSF_STATUS_OK && nExportStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "DXL export failed");
        nStatus = nExportStatus;
    }
    if (nStatus == NSF_STATUS_OK && output.bWriteFailed) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing DXL to I/O object (after %u bytes)",
                output.ucbWritten);
        nStatus = NSF_STATUS_OUTPUT_FAILED;
    }
    return nStatus;
}
