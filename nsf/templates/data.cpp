// The data elements of the template language: item text, names, addresses, dates, durations,
// zones, rich text and pictures; and the picture parts written after a template run.
#include "nsf/templates/templates.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/catalogue/images.h"
#include "nsf/catalogue/subfiles.h"
#include "nsf/diag/log.h"
#include "nsf/extract/mail.h"
#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"
#include "nsf/items/itemdata.h"
#include "nsf/richtext/richtext.h"
#include "nsf/templates/engine.h"
#include <notes/notes.h>

namespace {

// The delimiter line of every MHT message the reader writes.
const char szDelimiter[] = "------=_NextPart_000_0004_01CB58DD.164505B0";
const uint32_t cchDelimiter = sizeof(szDelimiter) - 1;
const char szBodyEnd[] = "</BODY></HTML>";
const uint32_t cchBodyEnd = sizeof(szBodyEnd) - 1;

// Number of a template picture: the first is 999, the next 998, and so on.
const int32_t nFirstImageXML = 999;

int nsfAppendBytes(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, const void *pData, uint32_t cbData)
{
    int nStatus = nsfCheckBuffer(pContext, pBuffer, nsfSatAdd(cbData, 1));
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    if (cbData != 0)
        memcpy(pBuffer->rgbData + pBuffer->ucbData, pData, cbData);
    pBuffer->ucbData += cbData;
    pBuffer->rgbData[pBuffer->ucbData] = 0;
    return NSF_STATUS_OK;
}

const char *nsfImageExtension(uint16_t wImageType)
{
    switch (wImageType) {
    case CDIMAGETYPE_GIF:
        return ".gif";
    case CDIMAGETYPE_JPEG:
        return ".jpeg";
    case CDIMAGETYPE_BMP:
        return ".bmp";
    default:
        return "";
    }
}

// True when the text at psz begins a name component prefix: CN=, OU= or O=. *pcch is its length.
bool nsfIsNamePrefix(const char *psz, size_t *pcch)
{
    if (strncmp(psz, "CN=", 3) == 0 || strncmp(psz, "OU=", 3) == 0) {
        *pcch = 3;
        return true;
    }
    if (strncmp(psz, "O=", 2) == 0) {
        *pcch = 2;
        return true;
    }
    return false;
}

// A name list made readable: "; " between names, and the component prefixes taken off (type
// absent), or only the common name of each name kept (type CN). Into BufferUTF8.
int nsfPutAddress(NSFXMLRUN *pRun, const NSFXMLITEM *pItem)
{
    static const char szFunc[] = "nsfPutAddress()";
    NSFCONTEXT *pContext = pRun->pContext;
    NSFBUFFER *pOut = pContext->BufferUTF8;
    const char *pszValue = nsfItemText(pItem);
    size_t cchValue = strlen(pszValue);
    pOut->ucbData = 0;
    int nStatus = nsfCheckBuffer(pContext, pOut, nsfSatAdd(nsfSatMul((uint32_t)cchValue, 2), 1));
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    char *pszOut = (char *)pOut->rgbData;
    size_t cchOut = 0;
    bool bCommonOnly = pRun->pszType != NULL && strcmp(pRun->pszType, "CN") == 0;

    const char *psz = pszValue;
    const char *pszEnd = pszValue + cchValue;
    while (psz < pszEnd) {
        // One name: up to the next ';' or line break.
        const char *pszName = psz;
        while (psz < pszEnd && *psz != ';' && *psz != '\r' && *psz != '\n')
            psz++;
        const char *pszNameEnd = psz;
        if (bCommonOnly) {
            const char *pszCN = NULL;
            for (const char *pszPart = pszName; pszPart < pszNameEnd;) {
                if (pszNameEnd - pszPart >= 3 && strncmp(pszPart, "CN=", 3) == 0) {
                    pszCN = pszPart + 3;
                    break;
                }
                while (pszPart < pszNameEnd && *pszPart != '/')
                    pszPart++;
                if (pszPart < pszNameEnd)
                    pszPart++;
            }
            // A name without a common name (an Internet address) is kept whole.
            const char *pszFrom = pszCN != NULL ? pszCN : pszName;
            const char *pszTo = pszFrom;
            while (pszTo < pszNameEnd && (pszCN == NULL || *pszTo != '/'))
                pszTo++;
            memcpy(pszOut + cchOut, pszFrom, (size_t)(pszTo - pszFrom));
            cchOut += (size_t)(pszTo - pszFrom);
        } else {
            bool bComponentStart = true;
            for (const char *pszChar = pszName; pszChar < pszNameEnd;) {
                size_t cchPrefix = 0;
                if (bComponentStart && nsfIsNamePrefix(pszChar, &cchPrefix) &&
                    pszChar + cchPrefix <= pszNameEnd) {
                    pszChar += cchPrefix;
                    bComponentStart = false;
                    continue;
                }
                bComponentStart = *pszChar == '/';
                pszOut[cchOut++] = *pszChar++;
            }
        }
        // The separator: ';' becomes ", ", line breaks stay.
        if (psz < pszEnd && *psz == ';') {
            memcpy(pszOut + cchOut, ", ", 2);
            cchOut += 2;
            psz++;
            while (psz < pszEnd && *psz == ' ')
                psz++;
        } else {
            while (psz < pszEnd && (*psz == '\r' || *psz == '\n'))
                pszOut[cchOut++] = *psz++;
        }
    }
    pOut->ucbData = (uint32_t)cchOut;
    pszOut[cchOut] = '\0';
    return NSF_STATUS_OK;
}

// A time formatted by the host, with the run's host format code or the element's QL key.
int nsfPutDateQL(NSFXMLRUN *pRun, const NSFXMLITEM *pItem)
{
    static const char szFunc[] = "nsfPutDateQL()";
    NSFCONTEXT *pContext = pRun->pContext;
    NSFBUFFER *pOut = pContext->BufferUTF8;
    pOut->ucbData = 0;
    if (!nsfItemHasValue(pItem))
        return NSF_STATUS_OK;
    struct tm tmTime;
    if (nsfScanTime(pContext, nsfItemText(pItem), &tmTime) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfScanTime() failed");
        return NSF_STATUS_OK;
    }
    TFMT tfmt = pRun->TimeFormat;
    int32_t eDateTimeFmt = pRun->eDateTimeFmt;
    if (pRun->pszFormat != NULL)
        nsfSetFormat(pRun, pRun->pszFormat, &tfmt, &eDateTimeFmt);
    int nStatus = nsfCheckBuffer(pContext, pOut, 256);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    QLHAPI *pHAPI = pContext->services;
    int cch = pHAPI->fpFormatDateTime(pHAPI, &tmTime, eDateTimeFmt, pHAPI->nDateOrder, pHAPI->b24Hour,
                                      (char *)pOut->rgbData, 256);
    if (cch <= 0 || cch >= 256) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "HAPI.fpFormatDateTime() failed");
        pOut->ucbData = 0;
        return NSF_STATUS_OK;
    }
    pOut->ucbData = (uint32_t)cch;
    pOut->rgbData[cch] = 0;
    return NSF_STATUS_OK;
}

// The duration from the main item's time to the second item's, in days, hours, minutes and seconds.
int nsfPutTime(NSFXMLRUN *pRun, const NSFXMLITEM *pItem)
{
    static const char szFunc[] = "nsfPutTime()";
    NSFCONTEXT *pContext = pRun->pContext;
    NSFBUFFER *pOut = pContext->BufferUTF8;
    pOut->ucbData = 0;
    NSFXMLITEM *pItem2 = &pRun->rgItems[1];
    int nStatus = nsfGetItemValue(pRun->pszItem, pItem2, pRun);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemValue() failed (item2)");
        return nStatus;
    }
    int64_t dTime = 0;
    if (nsfGetTime(pRun, nsfItemText(pItem), nsfItemText(pItem2), &dTime) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetTime() failed");
        return NSF_STATUS_OK;
    }
    if (dTime == 0)
        return NSF_STATUS_OK;
    if (dTime < 0)
        dTime = -dTime;
    static const struct {
        int64_t cSeconds;
        const char *pszOne;
        const char *pszMany;
    } rgUnits[] = {{86400, "day", "days"}, {3600, "hour", "hours"}, {60, "min", "mins"}, {1, "sec", "secs"}};
    char szText[128];
    size_t cch = 0;
    szText[0] = '\0';
    for (const auto &unit : rgUnits) {
        int64_t n = dTime / unit.cSeconds;
        dTime %= unit.cSeconds;
        if (n <= 0)
            continue;
        cch += (size_t)snprintf(szText + cch, sizeof(szText) - cch, "%s%lld %s", cch > 0 ? ", " : "", (long long)n,
                                n > 1 ? unit.pszMany : unit.pszOne);
        if (cch >= sizeof(szText))
            cch = sizeof(szText) - 1;
    }
    nStatus = nsfAppendBytes(pContext, pOut, szText, (uint32_t)cch);
    if (nStatus != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
    return nStatus;
}

// The zone of a time read with its zone shown: the last word, when it has three letters.
int nsfPutZone(NSFXMLRUN *pRun, const NSFXMLITEM *pItem)
{
    static const char szFunc[] = "nsfPutZone()";
    NSFCONTEXT *pContext = pRun->pContext;
    pContext->BufferUTF8->ucbData = 0;
    const char *pszValue = nsfItemText(pItem);
    const char *pszBlank = strrchr(pszValue, ' ');
    if (pszBlank == NULL || strlen(pszBlank + 1) != 3)
        return NSF_STATUS_OK;
    int nStatus = nsfAppendBytes(pContext, pContext->BufferUTF8, pszBlank + 1, 3);
    if (nStatus != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
    return nStatus;
}

// The stored zone of a time as an offset from UTC: "(UTC-05:00)" west, "(UTC+01:00)" east.
int nsfPutZoneUTC(NSFXMLRUN *pRun, const NSFXMLITEM *pItem)
{
    static const char szFunc[] = "nsfPutZoneUTC()";
    NSFCONTEXT *pContext = pRun->pContext;
    pContext->BufferUTF8->ucbData = 0;
    if (!pItem->fItemIsPresent || pItem->wDataType != TYPE_TIME)
        return NSF_STATUS_OK;
    TIMEDATE td;
    memset(&td, 0, sizeof(td));
    int nStatus = nsfGetItemData(pContext, pRun->hNote, pItem->szName, NSF_DATA_TIMEDATE, &td);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() failed");
        return nStatus;
    }
    struct tm tmTime, tmZone;
    nStatus = nsfConvertTIMEDATEtoTM(pContext, &td, &tmTime, &tmZone);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertTIMEDATEtoTM() failed");
        return nStatus;
    }
    // Notes counts zone hours positive west of Greenwich.
    char szText[32];
    int cch = snprintf(szText, sizeof(szText), "(UTC%c%02d:%02d)", tmZone.tm_hour < 0 ? '+' : '-',
                       abs(tmZone.tm_hour), abs(tmZone.tm_min));
    nStatus = nsfAppendBytes(pContext, pContext->BufferUTF8, szText, (uint32_t)cch);
    if (nStatus != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
    return nStatus;
}

// Splits converted rich text: the HTML stays in BufferMHT, ended by CR LF; its picture parts go to
// BufferXML, to be written after the template output.
int nsfPutMHTImagesXML(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfPutMHTImagesXML()";
    NSFBUFFER *pMHT = pContext->BufferMHT;
    if (pMHT->rgbData == NULL)
        return NSF_STATUS_OK;
    const char *pchData = (const char *)pMHT->rgbData;
    if (pMHT->ucbData >= cchDelimiter + 2) {
        for (int64_t iOff = (int64_t)pMHT->ucbData - (cchDelimiter + 2); iOff >= 0; iOff--) {
            if (memcmp(pchData + iOff, szDelimiter, cchDelimiter) == 0) {
                pMHT->ucbData = (uint32_t)iOff;
                break;
            }
        }
    }
    uint32_t iEnd = 0;
    bool bFound = false;
    for (; iEnd + cchBodyEnd <= pMHT->ucbData; iEnd++) {
        if (memcmp(pchData + iEnd, szBodyEnd, cchBodyEnd) == 0) {
            bFound = true;
            break;
        }
    }
    if (!bFound)
        return NSF_STATUS_OK;
    uint32_t iRest = iEnd + cchBodyEnd;
    while (iRest < pMHT->ucbData && (pchData[iRest] == '\r' || pchData[iRest] == '\n'))
        iRest++;
    uint32_t cbRest = pMHT->ucbData - iRest;
    if (cbRest > cchDelimiter && memcmp(pchData + iRest, szDelimiter, cchDelimiter) == 0) {
        NSFBUFFER *pXML = pContext->BufferXML;
        int nStatus = nsfAppendBytes(pContext, pXML, "\r\n", 2);
        if (nStatus == NSF_STATUS_OK)
            nStatus = nsfAppendBytes(pContext, pXML, pchData + iRest, cbRest);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
        nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferXML.ucbData %u 0x%x, (char *)rgbData...", pXML->ucbData,
                pXML->ucbData);
        nsfLog(pContext, NSF_LOG_DUMP, szFunc, (const char *)pXML->rgbData);
    }
    // "</BODY></HTML>" is overwritten by the line end; the parts were copied above.
    pMHT->rgbData[iEnd] = '\r';
    pMHT->rgbData[iEnd + 1] = '\n';
    pMHT->ucbData = iEnd + 2;
    pMHT->rgbData[pMHT->ucbData] = 0;
    return NSF_STATUS_OK;
}

// Rich text converted to HTML: an item (rich), the mail body (body), or a form's fields (form).
int nsfPutRichText(NSFXMLRUN *pRun, const NSFXMLITEM *pItem)
{
    static const char szFunc[] = "nsfPutRichText()";
    NSFCONTEXT *pContext = pRun->pContext;
    NSFBUFFER *pCDR = pContext->BufferCDR;
    NSFBUFFER *pMHT = pContext->BufferMHT;
    pCDR->ucbData = 0;
    pMHT->ucbData = 0;
    if (!pItem->fItemIsPresent)
        return NSF_STATUS_OK;
    int nStatus;
    if (pRun->nElement == NSF_XML_BODY) {
        if ((nStatus = nsfGetMessageBodyCDR(pContext, pRun->hNote)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetMessageBodyCDR() failed");
            return nStatus;
        }
    } else {
        if ((nStatus = nsfGetItemData(pContext, pRun->hNote, pItem->szName, NSF_DATA_CDR, NULL)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() failed");
            return nStatus;
        }
        if (pRun->nElement == NSF_XML_FORM &&
            (nStatus = nsfConvertCDRforXML(pContext, pRun->hNote)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertCDRforXML() failed");
            return nStatus;
        }
    }
    pMHT->ucbData = 0;
    if (pContext->BufferCDR->ucbData == 0)
        return NSF_STATUS_OK;
    if ((nStatus = nsfConvertCDRtoMHT(pContext, pRun->hNote)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertCDRtoMHT() failed");
        pMHT->ucbData = 0;
        return nStatus;
    }
    if ((nStatus = nsfPutMHTImagesXML(pContext)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfPutMHTImagesXML() failed");
        pMHT->ucbData = 0;
        return nStatus;
    }
    nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferMHT.ucbData %u 0x%x, (char *)pbData...", pMHT->ucbData,
            pMHT->ucbData);
    if (pMHT->rgbData != NULL)
        nsfLog(pContext, NSF_LOG_DUMP, szFunc, (const char *)pMHT->rgbData);
    return NSF_STATUS_OK;
}

// Appends a picture number to the template picture list. Returns 0 or NSF_STATUS_OUT_OF_MEMORY.
int nsfNewImageXML(int32_t nImage, NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfNewImageXML()";
    NSFCONTEXT *pContext = pRun->pContext;
    if (pContext->cImagesXML >= pContext->cImagesXMLMax) {
        int32_t *rgNew;
        if (pContext->rgnImagesXML == NULL) {
            rgNew = (int32_t *)nsfAlloc(pContext, sizeof(int32_t));
            if (rgNew == NULL) {
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error allocating image index array");
                return NSF_STATUS_OUT_OF_MEMORY;
            }
        } else {
            uint32_t cbArray = nsfSatMul(nsfSatAdd((uint32_t)pContext->cImagesXMLMax, 1), sizeof(int32_t));
            rgNew = (int32_t *)nsfRealloc(pContext, pContext->rgnImagesXML, cbArray);
            if (rgNew == NULL) {
                nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error re-allocating image index array for image # %d",
                        pContext->cImagesXML + 1);
                return NSF_STATUS_OUT_OF_MEMORY;
            }
        }
        pContext->rgnImagesXML = rgNew;
        pContext->cImagesXMLMax++;
    }
    pContext->rgnImagesXML[pContext->cImagesXML++] = nImage;
    return NSF_STATUS_OK;
}

// A picture reference: the note's logo, or a catalogue picture named by link or file. Into
// BufferHTML, as an IMG tag or (image_uri) the quoted location.
int nsfPutImage(NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfPutImage()";
    NSFCONTEXT *pContext = pRun->pContext;
    NSFBUFFER *pHTML = pContext->BufferHTML;
    pHTML->ucbData = 0;
    NSFIMAGE *pImage = NULL;
    if (pRun->nElement == NSF_XML_LOGO) {
        int32_t nLogo = pRun->pSubFile != NULL ? pRun->pSubFile->nMailLogoImage : 0;
        if (nLogo <= 0 || nLogo > pContext->numImages)
            return NSF_STATUS_OK;
        pImage = pContext->images[nLogo - 1];
    } else if (pRun->pszLink != NULL) {
        pImage = nsfFindImage(pContext, pRun->pszLink, pRun->pszLink);
        if (pImage == NULL) {
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid image link %s", pRun->pszLink);
            return NSF_STATUS_OK;
        }
    } else if (pRun->pszFile != NULL) {
        pImage = nsfFindImage(pContext, NULL, pRun->pszFile);
        if (pImage == NULL) {
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid image file %s", pRun->pszFile);
            return NSF_STATUS_OK;
        }
    } else {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "No image link or file");
        return NSF_STATUS_OK;
    }
    if (pImage == NULL || pImage->pBuffer == NULL || pImage->pBuffer->rgbData == NULL ||
        pImage->pBuffer->ucbData == 0)
        return NSF_STATUS_OK;

    int nStatus = nsfNewImageXML(pImage->nImage, pRun);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfNewImageXML() failed");
        return nStatus;
    }
    int32_t nNumber = nFirstImageXML + 1 - pContext->cImagesXML;
    uint32_t dwNoteID = pRun->pSubFile != NULL ? pRun->pSubFile->dwNoteID : 0;
    char szTag[128];
    int cch = snprintf(szTag, sizeof(szTag),
                       pRun->nElement == NSF_XML_IMAGE_URI ? "\"file:///ql_%X_image%d%s\""
                                                           : "<IMG src=3D\"file:///ql_%X_image%d%s\">",
                       (unsigned)dwNoteID, (int)nNumber, nsfImageExtension(pImage->wImageType));
    nStatus = nsfAppendBytes(pContext, pHTML, szTag, (uint32_t)cch);
    if (nStatus != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
    return nStatus;
}

// Writes a work buffer to the run's output and empties it.
int nsfWriteBuffer(NSFXMLRUN *pRun, NSFBUFFER *pBuffer)
{
    static const char szFunc[] = "nsfStartDataElement()";
    if (pBuffer->ucbData == 0)
        return NSF_STATUS_OK;
    nsfLogf(pRun->pContext, NSF_LOG_DIAG, szFunc, "BufferHTML.ucbData %u 0x%x, rgbData...", pBuffer->ucbData,
            pBuffer->ucbData);
    nsfLogDump(pRun->pContext, NSF_LOG_DIAG, pBuffer->rgbData, pBuffer->ucbData);
    int nStatus = nsfWriteXML(pRun, pBuffer->rgbData, pBuffer->ucbData);
    pBuffer->ucbData = 0;
    return nStatus;
}

} // namespace

int nsfStartDataElement(NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfStartDataElement()";
    NSFCONTEXT *pContext = pRun->pContext;
    int nElement = pRun->nElement;
    NSFXMLITEM *pItem = &pRun->rgItems[0];
    nsfClearItem(pItem);

    const char *pszItemName = NULL;
    bool bNeedsItem = false;
    switch (nElement) {
    case NSF_XML_BODY:
        pszItemName = "Body";
        break;
    case NSF_XML_TEXT:
    case NSF_XML_RICH:
    case NSF_XML_FORM:
    case NSF_XML_ADDR:
    case NSF_XML_NAME:
    case NSF_XML_DATE:
    case NSF_XML_DATE_QL:
    case NSF_XML_TIME:
    case NSF_XML_ZONE:
    case NSF_XML_ZONE_UTC:
        bNeedsItem = true;
        pszItemName = pRun->pszName;
        break;
    default:
        break;
    }
    if (bNeedsItem && pszItemName == NULL) {
        NSFXMLITEM *pLevelItem = nsfLevelItem(pRun, pRun->nLevel);
        if (pRun->nLevel == 0 || pLevelItem == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Element has no main or parent item");
            return NSF_STATUS_INVALID_TEMPLATE;
        }
        // A time is read again so that the element's own format applies.
        if (pLevelItem->fItemIsPresent && pLevelItem->wDataType == TYPE_TIME)
            pszItemName = pLevelItem->szName;
        else
            pItem = pLevelItem;
    }
    int nStatus;
    if (pszItemName != NULL && (nStatus = nsfGetItemValue(pszItemName, pItem, pRun)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemValue() failed (item1)");
        return nStatus;
    }

    NSFBUFFER *pUTF8 = pContext->BufferUTF8;
    pUTF8->ucbData = 0;
    pContext->BufferHTML->ucbData = 0;
    const char *pszFailed = NULL;
    nStatus = NSF_STATUS_OK;
    switch (nElement) {
    case NSF_XML_TEXT:
    case NSF_XML_DATE: {
        const char *pszValue = nsfItemText(pItem);
        if ((nStatus = nsfAppendBytes(pContext, pUTF8, pszValue, (uint32_t)strlen(pszValue))) != NSF_STATUS_OK)
            pszFailed = "nsfPutText() failed";
        break;
    }
    case NSF_XML_NAME:
        if ((nStatus = nsfAppendBytes(pContext, pUTF8, pItem->szName, (uint32_t)strlen(pItem->szName))) !=
            NSF_STATUS_OK)
            pszFailed = "nsfPutText() failed";
        break;
    case NSF_XML_INDEX: {
        char szIndex[16];
        int cch = snprintf(szIndex, sizeof(szIndex), "%d", (int)pRun->nForIndex);
        if ((nStatus = nsfAppendBytes(pContext, pUTF8, szIndex, (uint32_t)cch)) != NSF_STATUS_OK)
            pszFailed = "nsfPutText() failed";
        break;
    }
    case NSF_XML_ADDR:
        if ((nStatus = nsfPutAddress(pRun, pItem)) != NSF_STATUS_OK)
            pszFailed = "nsfPutAddress() failed";
        break;
    case NSF_XML_DATE_QL:
        if ((nStatus = nsfPutDateQL(pRun, pItem)) != NSF_STATUS_OK)
            pszFailed = "nsfPutDateQL() failed";
        break;
    case NSF_XML_TIME:
        if ((nStatus = nsfPutTime(pRun, pItem)) != NSF_STATUS_OK)
            pszFailed = "nsfPutTime() failed";
        break;
    case NSF_XML_ZONE:
        if ((nStatus = nsfPutZone(pRun, pItem)) != NSF_STATUS_OK)
            pszFailed = "nsfPutZone() failed";
        break;
    case NSF_XML_ZONE_UTC:
        if ((nStatus = nsfPutZoneUTC(pRun, pItem)) != NSF_STATUS_OK)
            pszFailed = "nsfPutZoneUTC() failed";
        break;
    case NSF_XML_RICH:
    case NSF_XML_BODY:
    case NSF_XML_FORM:
        if ((nStatus = nsfPutRichText(pRun, pItem)) != NSF_STATUS_OK)
            pszFailed = "nsfPutRichText() failed";
        break;
    case NSF_XML_LOGO:
    case NSF_XML_IMAGE:
    case NSF_XML_IMAGE_URI:
        if ((nStatus = nsfPutImage(pRun)) != NSF_STATUS_OK)
            pszFailed = "nsfPutImage() failed";
        break;
    case NSF_XML_FORMAT:
        if ((nStatus = nsfSetFormat(pRun, pRun->pszFormat, NULL, NULL)) != NSF_STATUS_OK)
            pszFailed = "nsfSetFormat() failed";
        break;
    default:
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Element <%s> not handled", nsfElementName(nElement) != NULL ? nsfElementName(nElement) : "?");
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    if (pszFailed != NULL) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, pszFailed);
        return nStatus;
    }

    switch (nElement) {
    case NSF_XML_RICH:
    case NSF_XML_BODY:
    case NSF_XML_FORM:
        return nsfWriteBuffer(pRun, pContext->BufferMHT);
    case NSF_XML_LOGO:
    case NSF_XML_IMAGE:
    case NSF_XML_IMAGE_URI:
        return nsfWriteBuffer(pRun, pContext->BufferHTML);
    case NSF_XML_FORMAT:
        return NSF_STATUS_OK;
    default:
        break;
    }
    if (pUTF8->ucbData != 0 && (nStatus = nsfConvertUTF8toHTML(pContext)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertUTF8toHTML() failed");
        return nStatus;
    }
    return nsfWriteBuffer(pRun, pContext->BufferHTML);
}

int nsfExtractMailImagesXML(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj)
{
    static const char szFunc[] = "nsfExtractMailImagesXML()";
    (void)hNote;
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Extracting all mail XML images...");
    NSFBUFFER *pXML = pContext->BufferXML;
    if (pXML != NULL && pXML->ucbData != 0) {
        nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferXML.ucbData %u 0x%x, (char *)rgbData...", pXML->ucbData,
                pXML->ucbData);
        nsfLogDump(pContext, NSF_LOG_DUMP, pXML->rgbData, pXML->ucbData);
        uint32_t cbData = pXML->ucbData;
        pXML->ucbData = 0;
        if (pIOobj == NULL || pIOobj->fpWrite == NULL || pIOobj->fpWrite(pIOobj, pXML->rgbData, cbData) == 0) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error writing mail body images to I/O object (size %u)", cbData);
            return NSF_STATUS_OUTPUT_FAILED;
        }
    }
    for (int32_t i = 0; i < pContext->cImagesXML; i++) {
        int32_t nImage = pContext->rgnImagesXML[i];
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "rgnImagesXML[%d].nImage %d", i, nImage);
        if (nImage < 1 || nImage > pContext->numImages || pContext->images[nImage - 1] == NULL)
            continue;
        int nStatus = nsfExtractMailImage(pContext, pSubFile, pContext->images[nImage - 1], nFirstImageXML - i, pIOobj);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfExtractMailImage() failed");
            return nStatus;
        }
    }
    pContext->cImagesXML = 0;
    return NSF_STATUS_OK;
}
