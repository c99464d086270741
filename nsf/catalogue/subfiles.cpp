#include "nsf/catalogue/subfiles.h"

#include <string.h>

#include "nsf/catalogue/images.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"
#include "nsf/items/itemdata.h"
#include "nsf/items/note.h"
#include <notes/notes.h>
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

namespace {

// Note classes of the note search without the option ExtractAllNotes: documents and views.
const WORD wSearchClasses = NOTE_CLASS_DOCUMENT | NOTE_CLASS_VIEW;

// The fewest slots a subfile array is made with or grown by. The array is sized from the number
// of notes found; with no note at all (a root record only) or very few notes carrying many
// attachments, that number alone gives no room or grows the array one slot at a time.
const uint32_t ucMinSubFilesStep = 64;

// The items whose presence makes a note a mail note: the mail header table without its two rows
// that name no item (a zero-length name would make the Notes API report the note's first item).
const char *const rgpszMailHeaderItems[] = {"From",     "PostedDate",    "ComposedDate", "SendTo",
                                            "CopyTo",   "BlindCopyTo",   "Subject",      "Importance",
                                            "Chair",    "StartDateTime", "EndDateTime",  "RepeatForUnit",
                                            "Location", "Attendees",     "$FILE"};

// The note's Subject as a file-name-safe word: letters and digits kept, other ASCII bytes made
// "_", bytes from 0x7F on dropped, at most 63 characters.
void nsfMakeSafeSubject(const uint8_t *pbText, uint32_t cbText, char szSubject[64])
{
    uint32_t cch = 0;
    for (uint32_t i = 0; i < cbText && cch < 64; i++) {
        uint8_t b = pbText[i];
        if (b >= 0x7F)
            continue;
        bool bKeep = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9');
        szSubject[cch++] = bKeep ? (char)b : '_';
    }
    if (cch > 63)
        cch = 63;
    szSubject[cch] = '\0';
}

// Copies cb bytes into a new terminated block of the reader's allocator, or null.
uint8_t *nsfDupBytes(NSFCONTEXT *pContext, const void *pv, uint32_t cb)
{
    uint8_t *pb = (uint8_t *)nsfAlloc(pContext, nsfSatAdd(cb, 1));
    if (pb != NULL) {
        memcpy(pb, pv, cb);
        pb[cb] = 0;
    }
    return pb;
}

// Reads the mail logo item of a mail note and records the picture it names.
int nsfGetMailLogo(NSFCONTEXT *pContext, NOTEHANDLE hNote, NSFSUBFILE *pSubFile, const char *pszFunc)
{
    const char *pszItemName =
        pContext->szMailLogoFieldName[0] != '\0' ? pContext->szMailLogoFieldName : "Logo";
    if (!nsfItemIsPresent(pContext, hNote, pszItemName, pszFunc))
        return NSF_STATUS_OK;
    nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "Getting mail note logo...");
    int nStatus = nsfGetItemData(pContext, hNote, pszItemName, NSF_DATA_TEXT, NULL);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "nsfGetItemData() failed");
        return nStatus;
    }
    const char *pszValue = (const char *)pContext->BufferMain->rgbData;
    if (pContext->BufferMain->ucbData == 0 || pszValue[0] == '\0')
        pszValue = pContext->szMailLogoFieldDefaultValue[0] != '\0' ? pContext->szMailLogoFieldDefaultValue
                                                                    : "StdNotesLtr0";
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "%s: %s", pszItemName, pszValue);
    NSFIMAGE *pImage = nsfFindImage(pContext, pszValue, NULL);
    if (pImage != NULL && pImage->pBuffer != NULL && pImage->pBuffer->rgbData != NULL)
        pSubFile->nMailLogoImage = pImage->nImage;
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "nMailLogoImage %d", pSubFile->nMailLogoImage);
    return NSF_STATUS_OK;
}

// Walks the $FILE items of an open note and adds each file attachment. A failed attachment is
// logged and the walk goes on, so that it costs only its own record; the first failure is returned.
int nsfGetNoteAttachments(NSFCONTEXT *pContext, NOTEHANDLE hNote, DWORD dwNoteID, const char *pszFunc)
{
    int nFirstFailure = NSF_STATUS_OK;
    NSFITEMWALK walk;
    nsfBeginItemWalk(&walk, hNote, "$FILE");
    for (;;) {
        bool bFound = false;
        int nStatus = nsfNextItem(pContext, pszFunc, &walk, &bFound);
        if (nStatus != NSF_STATUS_OK)
            return nStatus;
        if (!bFound)
            break;
        nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "wValueDataType 0x%x (%s, %s)", walk.wType,
                nsfGetValueClassName(walk.wType), nsfGetItemTypeName(walk.wType));
        if (walk.wType != TYPE_OBJECT)
            continue;
        nStatus = nsfGetAttachSubfile(pContext, dwNoteID, walk.cItems, walk.bhItem, walk.bhValue, walk.dwValueLen);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfGetAttachSubfile() failed");
            if (nFirstFailure == NSF_STATUS_OK)
                nFirstFailure = nStatus;
        }
    }
    return nFirstFailure;
}

// Fills a new attachment record from the file object: its names and its time.
int nsfFillAttachSubfile(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, const FILEOBJECT *pFileObj,
                         const uint8_t *pbName, uint32_t cbName, const char *pszFunc)
{
    if (cbName > 0) {
        pSubFile->rgbOrigFileName = nsfDupBytes(pContext, pbName, cbName);
        if (pSubFile->rgbOrigFileName == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, pszFunc, "Error allocating subfile file name (size %d)",
                    (int)cbName);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pSubFile->cbOrigFileName = cbName;
        nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "cbFileName %d, pbFileName (LBMCS)...", (int)cbName);
        nsfLogDump(pContext, NSF_LOG_DIAG, pbName, cbName);

        // An LMBCS character of up to 3 bytes never needs more than 3 bytes of UTF-8 per byte.
        NSFBUFFER *pTemp = pContext->BufferTemp;
        pTemp->ucbData = 0;
        uint32_t ucbRoom = nsfSatMul(cbName, 3);
        if (nsfCheckBuffer(pContext, pTemp, ucbRoom < 0xFFFF ? ucbRoom : 0xFFFF) != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
        WORD wRoom = pTemp->ucbDataSize > 0xFFFF ? (WORD)0xFFFF : (WORD)pTemp->ucbDataSize;
        WORD cbIn = cbName > 0xFFFF ? (WORD)0xFFFF : (WORD)cbName;
        nsfCallAPI(pContext, pszFunc, "OSTranslate()");
        WORD cbUTF8 = pTemp->rgbData != NULL ? OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, (const char *)pbName,
                                                           cbIn, (char *)pTemp->rgbData, wRoom)
                                             : 0;
        nsfRetAPI(pContext, pszFunc, NOERROR);
        if (cbUTF8 == 0) {
            nsfLogf(pContext, NSF_LOG_ERROR, pszFunc,
                    "Error converting attachment name from LMBCS to UTF8 (size %d)", (int)cbName);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pSubFile->pbFileName = nsfDupBytes(pContext, pTemp->rgbData, cbUTF8);
        if (pSubFile->pbFileName == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, pszFunc, "Error allocating subfile file name (size %d)",
                    (int)cbUTF8);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pSubFile->cbFileName = cbUTF8;
        nsfLogf(pContext, NSF_LOG_INFO, pszFunc, "cbFileName %d, pbFileName...", (int)cbUTF8);
        nsfLogDump(pContext, NSF_LOG_INFO, pSubFile->pbFileName, cbUTF8);
    }

    const TIMEDATE *pTime = &pFileObj->FileModified;
    if (pTime->Innards[0] == 0 && pTime->Innards[1] == 0)
        pTime = &pFileObj->FileCreated;
    if (pTime->Innards[0] == 0 && pTime->Innards[1] == 0) {
        // Neither time was stored: the record keeps the zero that stands for an unknown time.
        nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "Attachment has no file time");
        return NSF_STATUS_OK;
    }
    struct tm tmTime;
    int nStatus = nsfConvertTIMEDATEtoTM(pContext, pTime, &tmTime, NULL);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, " nsfConvertTIMEDATEtoTM() failed");
        return nStatus;
    }
    nStatus = nsfConvertTMtoFILETIME(pContext, &tmTime, &pSubFile->fileTime);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfConvertTMtoFILETIME() failed");
        return nStatus;
    }
    return NSF_STATUS_OK;
}

// The part of nsfGetAttachSubfile that runs while the value block is locked. pbValue and cbValue
// are the value after its type word.
int nsfReadAttachObject(NSFCONTEXT *pContext, DWORD dwNoteID, int32_t nFileItem, const uint8_t *pbValue,
                        uint32_t cbValue, const char *pszFunc)
{
    FILEOBJECT fileObj;
    if (!nsfReadFileObject(pContext, pbValue, cbValue, NSF_LOG_DIAG, NSF_LOG_WARNING, pszFunc, &fileObj))
        return NSF_STATUS_OK;
    WORD cbFileObj = ODSLength(_FILEOBJECT);
    WORD wHostType = fileObj.HostType & HOST_MASK;
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "FileObj wHostType 0x%x (%s)", wHostType,
            nsfGetObjectHostName(wHostType));

    int32_t subFileType;
    switch (wHostType) {
    case HOST_MSDOS:
    case HOST_MAC:
    case HOST_UNKNOWN:
    case HOST_HPFS:
        subFileType = QLSubFileType_Attachment;
        break;
    case HOST_BYTEARRAY_EXT:
        subFileType = QLSubFileType_OLE;
        break;
    case HOST_OLE:
    case HOST_OLELIB:
    case HOST_BYTEARRAY_PAGE:
    case HOST_CDSTORAGE:
    case HOST_STREAM:
    case HOST_LINK:
        return NSF_STATUS_OK;
    default:
        nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Unknown wHostType 0x%x (%s)", wHostType,
                nsfGetObjectHostName(wHostType));
        return NSF_STATUS_OK;
    }

    uint32_t cbName = fileObj.FileNameLength;
    if (cbName > cbValue - cbFileObj) {
        nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "File name runs past the value (length %u, room %u)",
                cbName, cbValue - cbFileObj);
        cbName = cbValue - cbFileObj;
    }

    int nStatus = nsfNewSubFile(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfNewSubFile() failed");
        return nStatus;
    }
    NSFSUBFILE *pSubFile = pContext->numSubFiles > 0 ? pContext->subFiles[pContext->numSubFiles - 1] : NULL;
    if (pSubFile == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, pszFunc, "No subfile found");
        return NSF_STATUS_INTERNAL;
    }
    pSubFile->nFileItem = nFileItem;
    pSubFile->subFileType = subFileType;
    pSubFile->dwNoteID = dwNoteID;

    nStatus = nsfFillAttachSubfile(pContext, pSubFile, &fileObj, pbValue + cbFileObj, cbName, pszFunc);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    nsfLogf(pContext, NSF_LOG_INFO, pszFunc, "Added attachment as subfile, dwNoteID %d, cSubFiles %d",
            (int)dwNoteID, pContext->numSubFiles);
    return NSF_STATUS_OK;
}

} // namespace

int nsfNewSubFile(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfNewSubFile()";
    if (pContext->subFiles == NULL) {
        pContext->numSubFiles = 0;
        pContext->maxSubFiles = 0;
        uint32_t ucMax = nsfSatMul(pContext->dwIDEntries, 4);
        if (ucMax < ucMinSubFilesStep)
            ucMax = ucMinSubFilesStep;
        NSFSUBFILE **rgNew = (NSFSUBFILE **)nsfAllocZero(pContext, nsfSatMul(ucMax, sizeof(NSFSUBFILE *)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating subfile array (max # subfiles %d)",
                    (int)ucMax);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pContext->subFiles = rgNew;
        pContext->maxSubFiles = (int32_t)ucMax;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "cSubFilesMax %d", pContext->maxSubFiles);
    } else if (pContext->numSubFiles >= pContext->maxSubFiles) {
        uint32_t ucStep =
            pContext->dwIDEntries > ucMinSubFilesStep ? pContext->dwIDEntries : ucMinSubFilesStep;
        uint32_t ucMax = nsfSatAdd((uint32_t)pContext->maxSubFiles, ucStep);
        NSFSUBFILE **rgNew =
            (NSFSUBFILE **)nsfRealloc(pContext, pContext->subFiles, nsfSatMul(ucMax, sizeof(NSFSUBFILE *)));
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error re-allocating subfile array (max # subfiles %d)",
                    (int)ucMax);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        memset(rgNew + pContext->maxSubFiles, 0,
               (ucMax - (uint32_t)pContext->maxSubFiles) * sizeof(NSFSUBFILE *));
        pContext->subFiles = rgNew;
        pContext->maxSubFiles = (int32_t)ucMax;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "cSubFilesMax %d", pContext->maxSubFiles);
    }

    NSFSUBFILE *pSubFile = (NSFSUBFILE *)nsfAllocZero(pContext, sizeof(NSFSUBFILE));
    if (pSubFile == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating subfile # %d", pContext->numSubFiles + 1);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    pSubFile->nSubFile = pContext->numSubFiles;
    pContext->subFiles[pContext->numSubFiles++] = pSubFile;
    return NSF_STATUS_OK;
}

int nsfGetNoteFILETIME(NSFCONTEXT *pContext, NOTEHANDLE hNote, QL_FILETIME *pFileTime)
{
    static const char szFunc[] = "nsfGetNoteFILETIME()";
    const char *pszItemName = "PostedDate";
    if (!nsfItemIsPresent(pContext, hNote, pszItemName, szFunc)) {
        pszItemName = "ComposedDate";
        if (!nsfItemIsPresent(pContext, hNote, pszItemName, szFunc)) {
            nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Note has no posted or composed time");
            return NSF_STATUS_OK;
        }
    }
    int nStatus = nsfGetItemData(pContext, hNote, pszItemName, NSF_DATA_TEXT, NULL);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() failed");
        return nStatus;
    }
    const char *pszTime = (const char *)pContext->BufferMain->rgbData;
    if (pContext->BufferMain->ucbData == 0 || pszTime[0] == '\0') {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() returned no text");
        return NSF_STATUS_INTERNAL;
    }
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Note sent time...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, pszTime);
    struct tm tmTime;
    nStatus = nsfScanTime(pContext, pszTime, &tmTime);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfScanTime() failed");
        return nStatus;
    }
    nStatus = nsfConvertTMtoFILETIME(pContext, &tmTime, pFileTime);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertTMtoFILETIME() failed");
        return nStatus;
    }
    return NSF_STATUS_OK;
}

int nsfGetNoteSubfile(NSFCONTEXT *pContext, NOTEHANDLE hNote, DWORD dwNoteID, bool *pbIsSubfile)
{
    static const char szFunc[] = "nsfGetNoteSubfile()";
    *pbIsSubfile = false;

    WORD wNoteClass = 0;
    nsfCallAPI(pContext, szFunc, "NSFNoteGetInfo()");
    NSFNoteGetInfo(hNote, _NOTE_CLASS, &wNoteClass);
    nsfRetAPI(pContext, szFunc, NOERROR);
    bool bNoteIsDocument = (wNoteClass & NOTE_CLASS_DOCUMENT) != 0;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "wNoteClass 0x%x (%s), bNoteIsDocument %d", wNoteClass,
            nsfGetNoteClassName(wNoteClass), bNoteIsDocument);

    nsfCallAPI(pContext, szFunc, "NSFNoteHasMIME()");
    bool bNoteHasMIME = NSFNoteHasMIME(hNote) != FALSE;
    nsfRetAPI(pContext, szFunc, NOERROR);
    nsfCallAPI(pContext, szFunc, "NSFNoteHasMIMEPart()");
    bool bNoteHasMIMEPart = NSFNoteHasMIMEPart(hNote) != FALSE;
    nsfRetAPI(pContext, szFunc, NOERROR);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bNoteHasMIME %d, bNoteHasMIMEPart %d", bNoteHasMIME,
            bNoteHasMIMEPart);

    char szSubject[64] = "";
    if (nsfItemIsPresent(pContext, hNote, "Subject", szFunc)) {
        if (nsfGetItemData(pContext, hNote, "Subject", NSF_DATA_TEXT, NULL) != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_DIAG, szFunc, "nsfGetItemData() failed");
        else
            nsfMakeSafeSubject(pContext->BufferMain->rgbData, pContext->BufferMain->ucbData, szSubject);
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "szSubject %s", szSubject);

    char szForm[64] = "";
    bool bFormIsPresent = nsfItemIsPresent(pContext, hNote, "Form", szFunc);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pszItemName %s, fItemIsPresent %d", "Form", bFormIsPresent);
    if (bFormIsPresent) {
        if (nsfGetItemData(pContext, hNote, "Form", NSF_DATA_TEXT, NULL) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_DIAG, szFunc, "nsfGetItemData() failed");
        } else {
            uint32_t cb = pContext->BufferMain->ucbData < 63 ? pContext->BufferMain->ucbData : 63;
            memcpy(szForm, pContext->BufferMain->rgbData, cb);
            szForm[cb] = '\0';
        }
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "szForm %s", szForm);

    bool bMailHeader = false;
    for (size_t i = 0; i < sizeof(rgpszMailHeaderItems) / sizeof(rgpszMailHeaderItems[0]) && !bMailHeader;
         i++)
        bMailHeader = nsfItemIsPresent(pContext, hNote, rgpszMailHeaderItems[i], szFunc);
    bool bMailBody = nsfItemIsPresent(pContext, hNote, "Body", szFunc);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bNoteIsDocument %d, bMailHeader %d, bMailBody %d",
            bNoteIsDocument, bMailHeader, bMailBody);

    bool bNoteIsMail = bNoteIsDocument && bMailHeader;
    bool bNoteIsSubfile = bMailHeader || bMailBody || pContext->bExtractAllFields;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bNoteIsMail %d, bNoteIsSubfile %d", bNoteIsMail, bNoteIsSubfile);
    if (!bNoteIsSubfile) {
        nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Note is not subfile");
        return NSF_STATUS_OK;
    }

    int nStatus = nsfNewSubFile(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfNewSubFile() failed");
        return nStatus;
    }
    NSFSUBFILE *pSubFile = pContext->numSubFiles > 0 ? pContext->subFiles[pContext->numSubFiles - 1] : NULL;
    if (pSubFile == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No subfile");
        return NSF_STATUS_INTERNAL;
    }
    pSubFile->subFileType = QLSubFileType_Main;
    pSubFile->dwNoteID = dwNoteID;
    pSubFile->bNoteIsDocument = bNoteIsDocument;
    pSubFile->bNoteHasMIME = bNoteHasMIME;
    pSubFile->bNoteHasMIMEPart = bNoteHasMIMEPart;
    memcpy(pSubFile->szSubject, szSubject, sizeof(szSubject));
    memcpy(pSubFile->szForm, szForm, sizeof(szForm));
    pSubFile->bNoteIsMail = bNoteIsMail;

    if (nsfGetNoteFILETIME(pContext, hNote, &pSubFile->fileTime) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetNoteFILETIME() failed");
        memset(&pSubFile->fileTime, 0, sizeof(pSubFile->fileTime));
    }

    nsfLogf(pContext, NSF_LOG_INFO, szFunc,
            "Added note as subfile, dwNoteID %d, bNoteIsMail %d, cSubFiles %d", (int)dwNoteID, bNoteIsMail,
            pContext->numSubFiles);
    *pbIsSubfile = true;

    if (bNoteIsMail)
        return nsfGetMailLogo(pContext, hNote, pSubFile, szFunc);
    return NSF_STATUS_OK;
}

int nsfGetAttachSubfile(NSFCONTEXT *pContext, DWORD dwNoteID, int32_t nFileItem, BLOCKID bhItem,
                        BLOCKID bhValue, DWORD dwValueLen)
{
    static const char szFunc[] = "nsfGetAttachSubfile()";
    (void)bhItem;
    nsfCallAPI(pContext, szFunc, "OSLockBlock()");
    const uint8_t *pbBlock = OSLockBlock(uint8_t, bhValue);
    nsfRetAPI(pContext, szFunc, NOERROR);
    if (pbBlock == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error locking attachment name data block");
        return NSF_STATUS_INTERNAL;
    }

    int nStatus;
    if (dwValueLen < sizeof(WORD)) {
        nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Truncated attachment object (size %u)",
                (unsigned)dwValueLen);
        nStatus = NSF_STATUS_OK;
    } else {
        // Step over the value's leading type word.
        nStatus = nsfReadAttachObject(pContext, dwNoteID, nFileItem, pbBlock + sizeof(WORD),
                                      dwValueLen - sizeof(WORD), szFunc);
    }

    nsfCallAPI(pContext, szFunc, "OSUnlockBlock()");
    OSUnlockBlock(bhValue);
    nsfRetAPI(pContext, szFunc, NOERROR);
    return nStatus;
}

int nsfGetNoteSubfiles(NSFCONTEXT *pContext, DWORD dwNoteID)
{
    static const char szFunc[] = "nsfGetNoteSubfiles()";
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Getting note subfiles, dwNoteID %d", (int)dwNoteID);
    NOTEHANDLE hNote = NULLHANDLE;
    int nStatus = nsfOpenNote(pContext, szFunc, dwNoteID, &hNote);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;

    bool bIsSubfile = false;
    nStatus = nsfGetNoteSubfile(pContext, hNote, dwNoteID, &bIsSubfile);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetNoteSubfile() failed");
    } else if (bIsSubfile && !pContext->bExportDXL) {
        // A DXL rendering carries the attachments inside the note, so they are listed only otherwise.
        nStatus = nsfDecryptNote(pContext, szFunc, hNote, NULL);
        if (nStatus == NSF_STATUS_OK)
            nStatus = nsfGetNoteAttachments(pContext, hNote, dwNoteID, szFunc);
    }

    int nCloseStatus = nsfCloseNote(pContext, szFunc, hNote);
    return nStatus != NSF_STATUS_OK ? nStatus : nCloseStatus;
}

namespace {

// Steps 2 to 7 of nsfInitSubfiles, run while the ID table exists. Returns the status of the first
// failure of the picture catalogue, the search or the root record.
int nsfFillCatalogue(NSFCONTEXT *pContext, const char *pszFunc)
{
    int nStatus = nsfInitImages(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfInitImages() failed");
        return nStatus;
    }
    // Picture buffers lie below this mark from now on, so that no reset gives them back.
    pContext->numStandingBuffers = pContext->numBuffers;

    nsfLog(pContext, NSF_LOG_INFO, pszFunc, "Searching for notes...");
    WORD wClassMask = pContext->bExtractAllNotes ? NOTE_CLASS_ALL : wSearchClasses;
    // Without the option only documents become subfiles; the views the search also matches are
    // skipped as they come.
    nStatus = nsfSearchNoteIDs(pContext, pszFunc, wClassMask, !pContext->bExtractAllNotes, pContext->hIDTable);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    nsfLog(pContext, NSF_LOG_DIAG, pszFunc, "Search for notes done");
    nsfCallAPI(pContext, pszFunc, "IDEntries()");
    pContext->dwIDEntries = IDEntries(pContext->hIDTable);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "dwIDEntries %ld", (long)pContext->dwIDEntries);
    nsfLog(pContext, NSF_LOG_INFO, pszFunc, "Getting subfiles from notes...");

    if (pContext->dwFlags & CNVO_CREATEROOTDIR) {
        nStatus = nsfNewSubFile(pContext);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfNewSubFile() failed (root node)");
            return nStatus;
        }
        NSFSUBFILE *pRoot = pContext->numSubFiles > 0 ? pContext->subFiles[pContext->numSubFiles - 1] : NULL;
        if (pRoot == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, pszFunc, "No subfile");
            return NSF_STATUS_INTERNAL;
        }
        pRoot->subFileType = QLSubFileType_Folder;
    }

    DWORD dwNoteID = 0;
    bool bFirst = true;
    while (nsfNextNoteID(pContext, pszFunc, pContext->hIDTable, &bFirst, &dwNoteID)) {
        int nStatus = nsfGetNoteSubfiles(pContext, dwNoteID);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfGetNoteSubfiles() failed");
        // A damaged note costs only its own records; memory running out would leave records
        // without names or times and a list that looks whole, so it fails the open.
        if (nStatus == NSF_STATUS_OUT_OF_MEMORY)
            return nStatus;
    }
    return NSF_STATUS_OK;
}

} // namespace

int nsfInitSubfiles(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfInitSubfiles()";
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Creating ID table...");
    nsfCallAPI(pContext, szFunc, "IDCreateTable()");
    STATUS status = IDCreateTable(sizeof(NOTEID), &pContext->hIDTable);
    nsfRetAPI(pContext, szFunc, status);
    if (status != NOERROR) {
        pContext->hIDTable = NULLHANDLE;
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    if (pContext->hIDTable == NULLHANDLE) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error creating ID table");
        return NSF_STATUS_OUT_OF_MEMORY;
    }

    int nStatus = nsfFillCatalogue(pContext, szFunc);

    if (pContext->hIDTable != NULLHANDLE) {
        nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Destroying ID table...");
        nsfCallAPI(pContext, szFunc, "IDDestroyTable()");
        status = IDDestroyTable(pContext->hIDTable);
        int nDestroyStatus = nsfRetAPI(pContext, szFunc, status);
        pContext->hIDTable = NULLHANDLE;
        if (nStatus == NSF_STATUS_OK)
            nStatus = nDestroyStatus;
    }
    return nStatus;
}
