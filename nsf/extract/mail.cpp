#include "nsf/extract/mail.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/catalogue/images.h"
#include "nsf/catalogue/subfiles.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/extract/mailparts.h"
#include "nsf/extract/mht.h"
#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"
#include "nsf/items/itemdata.h"
#include "nsf/metadata/metadata.h"
#include "nsf/notes/tempdir.h"
#include "nsf/os/qlsys.h"
#include "nsf/richtext/base64.h"
#include "nsf/richtext/richtext.h"
#include "nsf/templates/templates.h"
#include <notes/notes.h>

namespace {

const char szBodyItem[] = "Body";

// The start of every MHT message: the multipart envelope and the start of its HTML part.
const char szMHTEnvelope[] = "MIME-Version: 1.0\r\n"
                             "Content-Type: multipart/related;\r\n"
                             "\ttype=\"text/html\";\r\n"
                             "\tboundary=\"----=_NextPart_000_0004_01CB58DD.164505B0\"\r\n"
                             "\r\n"
                             "This is a multi-part message in MIME format.\r\n"
                             "\r\n" NSF_MHT_DELIMITER "\r\n"
                             "Content-Type: text/html;\r\n"
                             "\tcharset=\"utf-8\"\r\n"
                             "Content-Transfer-Encoding: quoted-printable\r\n"
                             "Content-Location: file://C:\\1.htm\r\n"
                             "\r\n"
                             "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n";

// The head of the HTML part, quoted-printable as the part declares ("=3D" is "=").
const char szHTMLHead[] = "<HTML><HEAD>\r\n"
                          "<META http-equiv=3DContent-Type content=3D\"text/html; charset=3Dutf-8\">\r\n"
                          "<META content=3D\"MSHTML 6.00.6000.17080\" name=3DGENERATOR></HEAD>\r\n"
                          "<BODY>\r\n";

const char szMHTClosingFormat[] = "\r\n\r\n%s--\r\n";

const char szImagePartFormat[] = "\r\n%s\r\nContent-Type: image/%s\r\nContent-Transfer-Encoding: base64\r\n"
                                 "Content-Location: file:///ql_%X_image%d%s\r\n\r\n";

const char szLogoTableStartFormat[] = "<TABLE style=3D\"vertical-align:top;\">\r\n<TBODY>\r\n"
                                      "<TR style=3D\"vertical-align:top;\">\r\n<TD>\r\n"
                                      "<IMG src=3D\"file:///ql_%X_image%d%s\">\r\n</TD>\r\n<TD>\r\n";
const char szHeaderFontStart[] = "<P>\r\n<FONT face=3D\"Arial Unicode MS\" size=3D2>\r\n";
const char szHeaderFontEnd[] = "<BR>\r\n</FONT>\r\n</P>\r\n";
const char szLogoTableEnd[] = "</TD>\r\n</TBODY>\r\n</TABLE>\r\n";

// The rows of the mail header, in the order they are written.
enum {
    nRowFrom = 0,
    nRowPostedDate = 1,
    nRowComposedDate = 2,
    nRowAltSent = 3,
    nRowNoSent = 4,
    nRowStarts = 11,
    nRowEnds = 12,
    nRowRepeats = 13,
    nRowAttachments = 16,
    nMailHeaderRows = 17
};

struct NSFMAILHEADERROW {
    const char *pszItemName; // null: the AltSentField option (row 3) or no item (row 4)
    const char *pszLabel;
};

const NSFMAILHEADERROW rgMailHeaderRows[nMailHeaderRows] = {
    {"From", "From"},
    {"PostedDate", "Sent"},
    {"ComposedDate", "Sent"},
    {NULL, "Sent"},
    {NULL, "Sent"},
    {"SendTo", "To"},
    {"CopyTo", "Cc"},
    {"BlindCopyTo", "Bcc"},
    {"Subject", "Subject"},
    {"Importance", "Priority"},
    {"Chair", "Chair"},
    {"StartDateTime", "Starts"},
    {"EndDateTime", "Ends"},
    {"RepeatForUnit", "Repeats"},
    {"Location", "Location"},
    {"Attendees", "Attendees"},
    {"$FILE", "Attachments"},
};

// The MIME subtype and file extension of a picture by its CDIMAGETYPE; empty for other types.
void nsfImageTypeNames(uint16_t wImageType, const char **ppszSubtype, const char **ppszExtension)
{
    switch (wImageType) {
    case 1:
        *ppszSubtype = "gif";
        *ppszExtension = ".gif";
        break;
    case 2:
        *ppszSubtype = "jpeg";
        *ppszExtension = ".jpeg";
        break;
    case 3:
        *ppszSubtype = "bmp";
        *ppszExtension = ".bmp";
        break;
    default:
        *ppszSubtype = "";
        *ppszExtension = "";
        break;
    }
}

// The logo picture of the memo, or null when it has none (or the number is out of range).
NSFIMAGE *nsfMailLogo(NSFCONTEXT *pContext, const NSFSUBFILE *pSubFile)
{
    int32_t n = pSubFile->nMailLogoImage;
    if (n < 1 || n > pContext->numImages || pContext->images == NULL)
        return NULL;
    return pContext->images[n - 1];
}

bool nsfWrite(QLIOobj *pIOobj, const void *pv, uint32_t cb)
{
    return pIOobj->fpWrite != NULL && pIOobj->fpWrite(pIOobj, pv, cb) != 0;
}

// Empties a buffer and makes sure it has a block that holds cbRoom bytes and a terminator.
int nsfEmptyBuffer(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, uint32_t cbRoom)
{
    pBuffer->ucbData = 0;
    int nStatus = nsfCheckBuffer(pContext, pBuffer, cbRoom);
    if (nStatus == NSF_STATUS_OK)
        pBuffer->rgbData[0] = 0;
    return nStatus;
}

// Appends bytes to a buffer whose room the caller has made, and terminates it.
void nsfPut(NSFBUFFER *pBuffer, const void *pv, uint32_t cb)
{
    memcpy(pBuffer->rgbData + pBuffer->ucbData, pv, cb);
    pBuffer->ucbData += cb;
    pBuffer->rgbData[pBuffer->ucbData] = 0;
}

// Appends bytes to a buffer, making room first. Logs a failure under the caller's name.
int nsfAppendBytes(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, const void *pv, uint32_t cb, const char *pszFunc)
{
    int nStatus = nsfCheckBuffer(pContext, pBuffer, cb);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    nsfPut(pBuffer, pv, cb);
    return NSF_STATUS_OK;
}

// Formats text into BufferTemp (replacing what it held). The text must fit the 4096 bytes every
// standing buffer keeps; only the fixed pieces of the message are formatted here.
int nsfFormatTemp(NSFCONTEXT *pContext, const char *pszFunc, const char *pszFormat, ...)
    __attribute__((format(printf, 3, 4)));
int nsfFormatTemp(NSFCONTEXT *pContext, const char *pszFunc, const char *pszFormat, ...)
{
    NSFBUFFER *pTemp = pContext->BufferTemp;
    int nStatus = nsfEmptyBuffer(pContext, pTemp, 1024);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    va_list args;
    va_start(args, pszFormat);
    int cch = vsnprintf((char *)pTemp->rgbData, pTemp->ucbDataSize, pszFormat, args);
    va_end(args);
    if (cch < 0 || (uint32_t)cch >= pTemp->ucbDataSize) {
        nsfLog(pContext, NSF_LOG_ERROR, pszFunc, "Error formatting MHT text");
        pTemp->ucbData = 0;
        return NSF_STATUS_INTERNAL;
    }
    pTemp->ucbData = (uint32_t)cch;
    return NSF_STATUS_OK;
}

// Builds the attachment list of the memo in BufferMain: the names of the catalogue entries that
// follow the memo up to the next note, joined by ", ".
int nsfGetAttachmentList(NSFCONTEXT *pContext, const NSFSUBFILE *pSubFile, const char *pszFunc)
{
    NSFBUFFER *pMain = pContext->BufferMain;
    for (int32_t i = pSubFile->nSubFile + 1; i >= 1 && i < pContext->numSubFiles; i++) {
        const NSFSUBFILE *pEntry = pContext->subFiles[i];
        if (pEntry == NULL)
            continue;
        if (pEntry->subFileType == QLSubFileType_Main)
            break;
        if (pEntry->pbFileName == NULL || pEntry->cbFileName == 0)
            continue;
        if (pMain->ucbData != 0) {
            int nStatus = nsfAppendBytes(pContext, pMain, ", ", 2, pszFunc);
            if (nStatus != NSF_STATUS_OK)
                return nStatus;
        }
        int nStatus = nsfAppendBytes(pContext, pMain, pEntry->pbFileName, pEntry->cbFileName, pszFunc);
        if (nStatus != NSF_STATUS_OK)
            return nStatus;
    }
    return NSF_STATUS_OK;
}

// The special handling of a header row's value in BufferMain: date ranges show their start, the
// repeat unit its word.
void nsfAdjustHeaderValue(NSFCONTEXT *pContext, int32_t nRow, const char *pszFunc)
{
    NSFBUFFER *pMain = pContext->BufferMain;
    if (nRow == nRowStarts || nRow == nRowEnds) {
        const void *pvSemicolon = memchr(pMain->rgbData, ';', pMain->ucbData);
        if (pvSemicolon != NULL) {
            pMain->ucbData = (uint32_t)((const uint8_t *)pvSemicolon - pMain->rgbData);
            pMain->rgbData[pMain->ucbData] = 0;
        }
    } else if (nRow == nRowRepeats) {
        const char *pszWord = NULL;
        switch (pMain->rgbData[0]) {
        case 'D':
            pszWord = "Daily";
            break;
        case 'W':
            pszWord = "Weekly";
            break;
        case 'M':
            pszWord = "Monthly";
            break;
        case 'Y':
            pszWord = "Yearly";
            break;
        default:
            break;
        }
        if (pszWord == NULL) {
            nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Field %s has unhandled value: %s",
                    rgMailHeaderRows[nRow].pszLabel, (const char *)pMain->rgbData);
        } else {
            // The buffer keeps at least 4096 bytes: the word always fits.
            pMain->ucbData = 0;
            nsfPut(pMain, pszWord, (uint32_t)strlen(pszWord));
        }
    }
}

// Cuts the converter's closing delimiter ("--" after the delimiter line) off BufferMHT. Only the
// closing form is cut, so that a picture part is never taken for it.
void nsfCutClosingDelimiter(NSFCONTEXT *pContext)
{
    NSFBUFFER *pMHT = pContext->BufferMHT;
    const uint32_t cbClosing = NSF_MHT_DELIMITER_LEN + 2;
    if (pMHT->rgbData == NULL || pMHT->ucbData < cbClosing)
        return;
    for (uint32_t off = pMHT->ucbData - cbClosing + 1; off-- > 0;) {
        if (memcmp(pMHT->rgbData + off, NSF_MHT_DELIMITER "--", cbClosing) == 0) {
            pMHT->ucbData = off;
            pMHT->rgbData[off] = 0;
            return;
        }
    }
}

// True when an item name before position i of the item name list equals the one at i (ASCII case
// ignored, as Notes compares item names). A value stored as several items of one name is read
// whole by nsfGetItemData, so its name is written once.
bool nsfItemNameSeen(NSFCONTEXT *pContext, int32_t i)
{
    const char *pszName = pContext->rgpszItemNames[i];
    for (int32_t j = 0; j < i; j++) {
        const char *pszEarlier = pContext->rgpszItemNames[j];
        if (pszEarlier == NULL)
            continue;
        size_t k = 0;
        while (pszName[k] != '\0' && (pszName[k] == pszEarlier[k] ||
                                      ((pszName[k] | 0x20) == (pszEarlier[k] | 0x20) &&
                                       ((pszName[k] | 0x20) >= 'a' && (pszName[k] | 0x20) <= 'z'))))
            k++;
        if (pszName[k] == '\0' && pszEarlier[k] == '\0')
            return true;
    }
    return false;
}

} // namespace

int nsfExtractField(NSFCONTEXT *pContext, const char *pszLabel, QLIOobj *pIOobj, uint8_t bHTML)
{
    static const char szFunc[] = "nsfExtractField()";
    int nStatus;
    if (pszLabel != NULL) {
        NSFBUFFER *pTemp = pContext->BufferTemp;
        uint32_t cchLabel = (uint32_t)strlen(pszLabel);
        nStatus = nsfEmptyBuffer(pContext, pTemp, nsfSatAdd(cchLabel, 16));
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
        if (bHTML)
            nsfPut(pTemp, "<B>", 3);
        nsfPut(pTemp, pszLabel, cchLabel);
        nsfPut(pTemp, ": ", 2);
        if (bHTML)
            nsfPut(pTemp, "</B>", 4);
        if (!nsfWrite(pIOobj, pTemp->rgbData, pTemp->ucbData)) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing field name to I/O object (size %u)",
                    pTemp->ucbData);
            return NSF_STATUS_OUTPUT_FAILED;
        }
    }

    NSFBUFFER *pMain = pContext->BufferMain;
    if (pMain->ucbData == 0)
        return NSF_STATUS_OK;

    if (bHTML) {
        NSFBUFFER *pUTF8 = pContext->BufferUTF8;
        pUTF8->ucbData = 0;
        if ((nStatus = nsfAppendBytes(pContext, pUTF8, pMain->rgbData, pMain->ucbData, szFunc)) != NSF_STATUS_OK)
            return nStatus;
        nStatus = nsfConvertUTF8toHTML(pContext);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertUTF8toHTML() failed");
            return nStatus;
        }
        NSFBUFFER *pHTML = pContext->BufferHTML;
        if ((nStatus = nsfAppendBytes(pContext, pHTML, "<BR>", 4, szFunc)) != NSF_STATUS_OK)
            return nStatus;
        pMain->ucbData = 0;
        if ((nStatus = nsfAppendBytes(pContext, pMain, pHTML->rgbData, pHTML->ucbData, szFunc)) != NSF_STATUS_OK)
            return nStatus;
    }
    if ((nStatus = nsfAppendBytes(pContext, pMain, "\r\n", 2, szFunc)) != NSF_STATUS_OK)
        return nStatus;
    if (!nsfWrite(pIOobj, pMain->rgbData, pMain->ucbData)) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing field value to I/O object (size %u)",
                pMain->ucbData);
        return NSF_STATUS_OUTPUT_FAILED;
    }
    return NSF_STATUS_OK;
}

int nsfExtractMailHeader(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj,
                         uint8_t bGetFormattedBody)
{
    static const char szFunc[] = "nsfExtractMailHeader()";
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Extracting mail header...");
    int nStatus;
    NSFIMAGE *pLogo = nsfMailLogo(pContext, pSubFile);

    if (bGetFormattedBody) {
        const char *pszSubtype = "";
        const char *pszExtension = "";
        if (pLogo != NULL) {
            nsfImageTypeNames(pLogo->wImageType, &pszSubtype, &pszExtension);
            nStatus = nsfFormatTemp(pContext, szFunc, szLogoTableStartFormat, (unsigned)pSubFile->dwNoteID,
                                    NSF_MAIL_LOGO_IMAGE, pszExtension);
        } else {
            nStatus = nsfFormatTemp(pContext, szFunc, "%s", "");
        }
        if (nStatus != NSF_STATUS_OK)
            return nStatus;
        NSFBUFFER *pTemp = pContext->BufferTemp;
        if ((nStatus = nsfAppendBytes(pContext, pTemp, szHeaderFontStart, sizeof(szHeaderFontStart) - 1,
                                      szFunc)) != NSF_STATUS_OK)
            return nStatus;
        if (!nsfWrite(pIOobj, pTemp->rgbData, pTemp->ucbData)) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing MHT header start to I/O object (size %u)",
                    pTemp->ucbData);
            return NSF_STATUS_OUTPUT_FAILED;
        }
    }

    for (int32_t nRow = 0; nRow < nMailHeaderRows; nRow++) {
        const char *pszItemName = nRow == nRowAltSent ? pContext->szAltSentField : rgMailHeaderRows[nRow].pszItemName;
        if (nRow == nRowAltSent && pszItemName[0] == '\0')
            continue;
        if (nRow != nRowNoSent) {
            nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pszItemName %s", pszItemName);
            if (!nsfItemIsPresent(pContext, hNote, pszItemName, szFunc))
                continue;
        }
        NSFBUFFER *pMain = pContext->BufferMain;
        if ((nStatus = nsfEmptyBuffer(pContext, pMain, 0)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
        if (nRow == nRowAttachments) {
            if ((nStatus = nsfGetAttachmentList(pContext, pSubFile, szFunc)) != NSF_STATUS_OK)
                return nStatus;
        } else if (nRow != nRowNoSent) {
            nStatus = nsfGetItemData(pContext, hNote, pszItemName, NSF_DATA_TEXT, NULL);
            if (nStatus != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() failed");
                return nStatus;
            }
        } else if (!bGetFormattedBody) {
            nsfPut(pMain, " ", 1);
        }
        if (pMain->ucbData == 0)
            continue;
        nsfAdjustHeaderValue(pContext, nRow, szFunc);
        nStatus = nsfExtractField(pContext, rgMailHeaderRows[nRow].pszLabel, pIOobj, bGetFormattedBody);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractField() failed");
            return nStatus;
        }
        // One Sent line at most: the first of the Sent rows that has a value ends them.
        if (nRow >= nRowPostedDate && nRow <= nRowAltSent)
            nRow = nRowNoSent;
    }

    if (bGetFormattedBody) {
        NSFBUFFER *pTemp = pContext->BufferTemp;
        if ((nStatus = nsfEmptyBuffer(pContext, pTemp, 0)) != NSF_STATUS_OK ||
            (nStatus = nsfAppendBytes(pContext, pTemp, szHeaderFontEnd, sizeof(szHeaderFontEnd) - 1, szFunc)) !=
                NSF_STATUS_OK)
            return nStatus;
        if (pLogo != NULL &&
            (nStatus = nsfAppendBytes(pContext, pTemp, szLogoTableEnd, sizeof(szLogoTableEnd) - 1, szFunc)) !=
                NSF_STATUS_OK)
            return nStatus;
        if (!nsfWrite(pIOobj, pTemp->rgbData, pTemp->ucbData)) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing MHT header end to I/O object (size %u)",
                    pTemp->ucbData);
            return NSF_STATUS_OUTPUT_FAILED;
        }
    }
    return NSF_STATUS_OK;
}

int nsfGetMessageBodyCDR(NSFCONTEXT *pContext, NOTEHANDLE hNote)
{
    static const char szFunc[] = "nsfGetMessageBodyCDR()";
    char szTempFile[NSF_PATH_SIZE];
    int nStatus = nsfGetTempFilePath(pContext, "cd", szTempFile, sizeof(szTempFile));
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetTempFilePath() failed");
        return nStatus;
    }
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "szTempFile...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, szTempFile);

    if (pContext->logLevel >= NSF_LOG_DIAG) {
        nsfCallAPI(pContext, szFunc, "NSFNoteHasMIMEPart()");
        BOOL bHasMIMEPart = NSFNoteHasMIMEPart(hNote);
        nsfRetAPI(pContext, szFunc, NOERROR);
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bNoteHasMIMEPart %d", bHasMIMEPart ? 1 : 0);
    }

    QLSYS_FILE hFile = QLSYS_INVALID_FILE;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pszItemName %s", szBodyItem);
    WORD wType = 0;
    nsfCallAPI(pContext, szFunc, "NSFItemInfo()");
    STATUS status = NSFItemInfo(hNote, szBodyItem, (WORD)(sizeof(szBodyItem) - 1), NULL, &wType, NULL, NULL);
    nStatus = nsfRetAPI(pContext, szFunc, status);
    if (status != NOERROR)
        nStatus = nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
    else
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "wValueDataType 0x%x (%s, %s)", wType,
                nsfGetValueClassName(wType), nsfGetItemTypeName(wType));

    if (nStatus == NSF_STATUS_OK && wType == TYPE_MIME_PART) {
        nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Converting MIME data to composite data...");
        nsfCallAPI(pContext, szFunc, "MIMEConvertMIMEPartCC()");
        status = MIMEConvertMIMEPartCC(hNote, (char *)szBodyItem, (WORD)(sizeof(szBodyItem) - 1), 0);
        nStatus = nsfRetAPI(pContext, szFunc, status);
        if (status != NOERROR)
            nStatus = nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
    }

    DWORD dwSize = 0;
    if (nStatus == NSF_STATUS_OK) {
        nsfCallAPI(pContext, szFunc, "MailGetMessageBodyComposite()");
        status = MailGetMessageBodyComposite(hNote, NULL, szTempFile, &dwSize);
        nStatus = nsfRetAPI(pContext, szFunc, status);
        if (status != NOERROR)
            nStatus = nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
        else
            nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "dwSize %ld", (long)dwSize);
    }

    NSFBUFFER *pCDR = pContext->BufferCDR;
    if (nStatus == NSF_STATUS_OK && dwSize == 0) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "MailGetMessageBodyComposite() returned no text");
    } else if (nStatus == NSF_STATUS_OK) {
        pCDR->ucbData = 0;
        nStatus = nsfCheckBuffer(pContext, pCDR, dwSize);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
    }
    if (nStatus == NSF_STATUS_OK && dwSize != 0) {
        hFile = qlsys_fopen(szTempFile, "r+b");
        if (hFile == QLSYS_INVALID_FILE) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error opening temp file...");
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, szTempFile);
            nStatus = NSF_STATUS_OUTPUT_FAILED;
        } else {
            // One byte more than announced shows a file that is longer than its size says.
            pCDR->ucbData = (uint32_t)qlsys_fread(pCDR->rgbData, 1, (size_t)dwSize + 1, hFile);
            if (pCDR->ucbData != dwSize) {
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error reading temp file...");
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, szTempFile);
                pCDR->ucbData = 0;
                nStatus = NSF_STATUS_OUTPUT_FAILED;
            }
            pCDR->rgbData[pCDR->ucbData] = 0;
        }
    }

    if (hFile != QLSYS_INVALID_FILE && qlsys_fclose(hFile) != 0) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "qlsys_fclose() failed, szTempFile...");
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, szTempFile);
        nStatus = NSF_STATUS_OUTPUT_FAILED;
    }
    if (qlsys_unlink(szTempFile) != 0) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "qlsys_unlink() failed, szTempFile...");
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, szTempFile);
        nStatus = NSF_STATUS_OUTPUT_FAILED;
    }
    return nStatus;
}

int nsfExtractMailImage(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NSFIMAGE *pImage, int32_t nImage,
                        QLIOobj *pIOobj)
{
    static const char szFunc[] = "nsfExtractMailImage()";
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Extracting mail image, nImage %d", nImage);
    if (pImage == NULL || pImage->pBuffer == NULL || pImage->pBuffer->rgbData == NULL) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "No image data");
        return NSF_STATUS_INTERNAL;
    }
    const char *pszSubtype;
    const char *pszExtension;
    nsfImageTypeNames(pImage->wImageType, &pszSubtype, &pszExtension);
    int nStatus = nsfFormatTemp(pContext, szFunc, szImagePartFormat, NSF_MHT_DELIMITER, pszSubtype,
                                (unsigned)pSubFile->dwNoteID, nImage, pszExtension);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    NSFBUFFER *pTemp = pContext->BufferTemp;
    if (!nsfWrite(pIOobj, pTemp->rgbData, pTemp->ucbData)) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing image header to I/O object (size %u)",
                pTemp->ucbData);
        return NSF_STATUS_OUTPUT_FAILED;
    }

    const NSFBUFFER *pData = pImage->pBuffer;
    pTemp->ucbData = 0;
    nStatus = nsfCheckBuffer(pContext, pTemp, nsfBase64Size(pData->ucbData));
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    int32_t nLineLen = 0;
    pTemp->ucbData = encode_base64(pData->rgbData, pData->ucbData, (char *)pTemp->rgbData, &nLineLen);
    if (pTemp->ucbData == 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error converting image data to BASE64");
        return NSF_STATUS_OUTPUT_FAILED;
    }
    pTemp->rgbData[pTemp->ucbData] = 0;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "encode_base64() returned ucbData %u, nBase64LineLen %d",
            pTemp->ucbData, nLineLen);
    if (!nsfWrite(pIOobj, pTemp->rgbData, pTemp->ucbData)) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing image data to I/O object (size %u)",
                pTemp->ucbData);
        return NSF_STATUS_OUTPUT_FAILED;
    }
    return NSF_STATUS_OK;
}

int nsfExtractMailBody(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj,
                       uint8_t bGetFormattedBody)
{
    static const char szFunc[] = "nsfExtractMailBody()";
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Extracting mail body...");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pszItemName %s", szBodyItem);
    bool bHasBody = nsfItemIsPresent(pContext, hNote, szBodyItem, szFunc);
    if (!bHasBody && !bGetFormattedBody) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "No mail body item");
        return NSF_STATUS_OK;
    }
    NSFBUFFER *pMain = pContext->BufferMain;
    int nStatus = nsfEmptyBuffer(pContext, pMain, 0);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }

    if (bGetFormattedBody) {
        pContext->BufferCD->ucbData = 0;
        pContext->BufferCDR->ucbData = 0;
        if (bHasBody && (nStatus = nsfGetMessageBodyCDR(pContext, hNote)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetMessageBodyCDR() failed");
            return nStatus;
        }
        if ((nStatus = nsfConvertCDRtoMHT(pContext, hNote)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertCDRtoMHT() failed");
            return nStatus;
        }
        nsfCutClosingDelimiter(pContext);
        NSFBUFFER *pMHT = pContext->BufferMHT;
        if (pMHT->ucbData != 0 &&
            (nStatus = nsfAppendBytes(pContext, pMain, pMHT->rgbData, pMHT->ucbData, szFunc)) != NSF_STATUS_OK)
            return nStatus;
    } else {
        nStatus = nsfGetItemData(pContext, hNote, szBodyItem, NSF_DATA_TEXT, NULL);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() failed");
            return nStatus;
        }
    }

    if (pMain->ucbData != 0) {
        if (!bGetFormattedBody && !nsfWrite(pIOobj, "\r\n", 2)) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error writing blank line to I/O object");
            return NSF_STATUS_OUTPUT_FAILED;
        }
        if (!nsfWrite(pIOobj, pMain->rgbData, pMain->ucbData)) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing mail body to I/O object (size %u)",
                    pMain->ucbData);
            return NSF_STATUS_OUTPUT_FAILED;
        }
    }

    NSFIMAGE *pLogo = nsfMailLogo(pContext, pSubFile);
    if (bGetFormattedBody && pLogo != NULL) {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Extracting mail logo...");
        nStatus = nsfExtractMailImage(pContext, pSubFile, pLogo, NSF_MAIL_LOGO_IMAGE, pIOobj);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractMailImage() failed");
            return nStatus;
        }
    }
    return NSF_STATUS_OK;
}

int nsfExtractMailFields(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj,
                         uint8_t bGetFormattedBody, uint8_t bExcludeMailHeader, uint8_t bExtractByTemplate)
{
    static const char szFunc[] = "nsfExtractMailFields()";
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Extracting mail fields...");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bGetFormattedBody %d, bExcludeMailHeader %d, bExtractByTemplate %d",
            bGetFormattedBody, bExcludeMailHeader, bExtractByTemplate);
    int nStatus;

    if (bGetFormattedBody && bExtractByTemplate) {
        // Without a loaded main template there is no header to write: say so before any byte goes
        // out, rather than writing a message without its fields.
        if (pContext->cTemplates == 0 || pContext->rgpTemplates == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No templates loaded for template extraction");
            return NSF_STATUS_NO_TEMPLATES;
        }
        if (pContext->nMainTemplate == 0) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No main template loaded for template extraction");
            return NSF_STATUS_NO_MAIN_TEMPLATE;
        }
    }

    if (bGetFormattedBody) {
        if (!nsfWrite(pIOobj, szMHTEnvelope, sizeof(szMHTEnvelope) - 1)) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing MHT header to I/O object (size %u)",
                    (unsigned)(sizeof(szMHTEnvelope) - 1));
            return NSF_STATUS_OUTPUT_FAILED;
        }
        if (bExtractByTemplate) {
            nStatus = nsfExtractMailFieldsXML(pContext, pSubFile, hNote, pIOobj);
            if (nStatus != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractMailFieldsXML() failed");
                return nStatus;
            }
        } else if (!nsfWrite(pIOobj, szHTMLHead, sizeof(szHTMLHead) - 1)) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing HTML header to I/O object (size %u)",
                    (unsigned)(sizeof(szHTMLHead) - 1));
            return NSF_STATUS_OUTPUT_FAILED;
        }
    }

    if (!(bGetFormattedBody && bExtractByTemplate)) {
        if (!bExcludeMailHeader && (nStatus = nsfExtractMailHeader(pContext, pSubFile, hNote, pIOobj,
                                                                   bGetFormattedBody)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractMailHeader() failed");
            return nStatus;
        }
        if ((nStatus = nsfExtractMailBody(pContext, pSubFile, hNote, pIOobj, bGetFormattedBody)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractMailBody() failed");
            return nStatus;
        }
    }

    if (bGetFormattedBody) {
        if (bExtractByTemplate && (nStatus = nsfExtractMailImagesXML(pContext, pSubFile, hNote, pIOobj)) !=
                                      NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractMailImagesXML() failed");
            return nStatus;
        }
        nStatus = nsfFormatTemp(pContext, szFunc, szMHTClosingFormat, NSF_MHT_DELIMITER);
        if (nStatus != NSF_STATUS_OK)
            return nStatus;
        NSFBUFFER *pTemp = pContext->BufferTemp;
        if (!nsfWrite(pIOobj, pTemp->rgbData, pTemp->ucbData)) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing MHT last part to I/O object (size %u)",
                    pTemp->ucbData);
            return NSF_STATUS_OUTPUT_FAILED;
        }
    }
    return NSF_STATUS_OK;
}

int nsfExtractAllFields(NSFCONTEXT *pContext, NOTEHANDLE hNote, QLIOobj *pIOobj)
{
    static const char szFunc[] = "nsfExtractAllFields()";
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Extracting all fields...");
    int nStatus = nsfGetNoteItemNames(pContext, hNote);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetNoteItemNames() failed");
        return nStatus;
    }
    // The first failed read is the result: the list is written whole except for that item, and
    // the caller learns that something is missing.
    int nResult = NSF_STATUS_OK;
    for (int32_t i = 0; i < pContext->cItemNames; i++) {
        const char *pszItemName = pContext->rgpszItemNames[i];
        if (pszItemName == NULL || nsfItemNameSeen(pContext, i))
            continue;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pszItemName %s", pszItemName);
        nStatus = nsfGetItemData(pContext, hNote, pszItemName, NSF_DATA_TEXT, NULL);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() failed");
            if (nResult == NSF_STATUS_OK)
                nResult = nStatus;
            continue;
        }
        NSFBUFFER *pMain = pContext->BufferMain;
        if (pMain->ucbData == 0 && (nStatus = nsfAppendBytes(pContext, pMain, " ", 1, szFunc)) != NSF_STATUS_OK)
            return nStatus;
        nStatus = nsfExtractField(pContext, pszItemName, pIOobj, 0);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractField() failed");
            return nStatus;
        }
    }
    return nResult;
}
