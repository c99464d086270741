// Running a template against a mail note: the parser handlers, the conditions, the loops through
// loop documents, the action elements, and the item and time-format services of the elements.
#include "nsf/templates/templates.h"

#include <string.h>
#include <time.h>

#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/catalogue/subfiles.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"
#include "nsf/items/itemdata.h"
#include "nsf/os/qlsys.h"
#include "nsf/templates/engine.h"
#include <notes/notes.h>

namespace {

// The frame of a loop document. Nothing is added between the tags of the body: every character
// inside the root is output of the pass, so the body is reproduced exactly as the template has it.
const char szLoopOpening[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<quillon>";
const char szLoopClosing[] = "</quillon>\r\n";

bool nsfIsFatal(int nStatus)
{
    return nStatus == NSF_STATUS_OUT_OF_MEMORY || nStatus == NSF_STATUS_INVALID_TEMPLATE ||
           nStatus == NSF_STATUS_TEMPLATE_STOPPED;
}

const char *nsfOr(const char *psz, const char *pszElse)
{
    return psz != NULL ? psz : pszElse;
}

void XMLCALL nsfStartElementXML(void *pvRun, const XML_Char *pszElement, const XML_Char **rgpszAttrs);
void XMLCALL nsfEndElementXML(void *pvRun, const XML_Char *pszElement);
void XMLCALL nsfCharacterDataXML(void *pvRun, const XML_Char *pchData, int cbData);
void XMLCALL nsfForStartElementXML(void *pvRun, const XML_Char *pszElement, const XML_Char **rgpszAttrs);
void XMLCALL nsfForEndElementXML(void *pvRun, const XML_Char *pszElement);

// Ends the processing of the rest of the document: every handler removed, the status recorded.
void nsfStopRun(NSFXMLRUN *pRun, int nStatus)
{
    nsfLog(pRun->pContext, NSF_LOG_WARNING, "nsfParseXMLTemplateR()", "Stopping XML processing");
    XML_SetElementHandler(pRun->parser, NULL, NULL);
    XML_SetCharacterDataHandler(pRun->parser, NULL);
    if (pRun->nError == NSF_STATUS_OK)
        pRun->nError = nStatus;
}

// Logs an item record.
void nsfDumpItem(NSFCONTEXT *pContext, const char *pszFunc, const NSFXMLITEM *pItem)
{
    if (pContext->logLevel < NSF_LOG_DIAG)
        return;
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Item.szName %s, fItemIsPresent %d", pItem->szName,
            pItem->fItemIsPresent);
    nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Item.wDataType 0x%x (%s, %s)", pItem->wDataType,
            nsfGetValueClassName(pItem->wDataType), nsfGetItemTypeName(pItem->wDataType));
    if (pItem->pBuffer != NULL) {
        nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "ItemBuffer.nBuffer %d, ucbData %u 0x%x, rgbData...",
                pItem->pBuffer->nBuffer, pItem->pBuffer->ucbData, pItem->pBuffer->ucbData);
        nsfLog(pContext, NSF_LOG_DIAG, pszFunc, nsfItemText(pItem));
    }
}

// Appends bytes to a work buffer, keeping a terminator after them. Returns 0 or the status of
// nsfCheckBuffer.
int nsfAppend(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, const void *pData, uint32_t cbData)
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

int nsfAppendText(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, const char *psz)
{
    return nsfAppend(pContext, pBuffer, psz, (uint32_t)strlen(psz));
}

// Appends an attribute value to the loop document, escaped so that the loop document's parser
// hands back exactly the value this parser delivered.
int nsfAppendAttributeValue(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, const char *pszValue)
{
    const char *pszRun = pszValue;
    for (const char *psz = pszValue;; psz++) {
        const char *pszEntity = NULL;
        switch (*psz) {
        case '&':
            pszEntity = "&amp;";
            break;
        case '<':
            pszEntity = "&lt;";
            break;
        case '>':
            pszEntity = "&gt;";
            break;
        case '"':
            pszEntity = "&quot;";
            break;
        case '\t':
            pszEntity = "&#9;";
            break;
        case '\n':
            pszEntity = "&#10;";
            break;
        case '\r':
            pszEntity = "&#13;";
            break;
        default:
            break;
        }
        if (pszEntity == NULL && *psz != '\0')
            continue;
        int nStatus = nsfAppend(pContext, pBuffer, pszRun, (uint32_t)(psz - pszRun));
        if (nStatus == NSF_STATUS_OK && pszEntity != NULL)
            nStatus = nsfAppendText(pContext, pBuffer, pszEntity);
        if (nStatus != NSF_STATUS_OK || *psz == '\0')
            return nStatus;
        pszRun = psz + 1;
    }
}

// Appends character data to the loop document as CDATA sections; a "]]>" inside the data is split
// across two sections, which no single section could hold.
int nsfAppendCDATA(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, const char *pchData, uint32_t cbData)
{
    int nStatus = nsfAppendText(pContext, pBuffer, "<![CDATA[");
    uint32_t iRun = 0;
    for (uint32_t i = 0; nStatus == NSF_STATUS_OK && i + 2 < cbData; i++) {
        if (pchData[i] == ']' && pchData[i + 1] == ']' && pchData[i + 2] == '>') {
            nStatus = nsfAppend(pContext, pBuffer, pchData + iRun, i + 2 - iRun);
            if (nStatus == NSF_STATUS_OK)
                nStatus = nsfAppendText(pContext, pBuffer, "]]><![CDATA[");
            iRun = i + 2;
        }
    }
    if (nStatus == NSF_STATUS_OK)
        nStatus = nsfAppend(pContext, pBuffer, pchData + iRun, cbData - iRun);
    if (nStatus == NSF_STATUS_OK)
        nStatus = nsfAppendText(pContext, pBuffer, "]]>");
    return nStatus;
}

// Stores the attributes of a start tag in the run by their first letter.
void nsfSetAttributes(NSFXMLRUN *pRun, const char **rgpszAttrs)
{
    static const char szFunc[] = "nsfSetAttributes()";
    pRun->pszName = pRun->pszItem = pRun->pszText = pRun->pszType = NULL;
    pRun->pszFormat = pRun->pszLink = pRun->pszFile = NULL;
    pRun->nMax = 0;
    for (int i = 0; rgpszAttrs[i] != NULL && rgpszAttrs[i + 1] != NULL; i += 2) {
        const char *pszAttr = rgpszAttrs[i];
        const char *pszValue = rgpszAttrs[i + 1];
        nsfLogf(pRun->pContext, NSF_LOG_DIAG, szFunc, "%s=\"%s\"", pszAttr, pszValue);
        switch (pszAttr[0]) {
        case 'f':
            if (strcmp(pszAttr, "file") == 0)
                pRun->pszFile = pszValue;
            else
                pRun->pszFormat = pszValue;
            break;
        case 'i':
            pRun->pszItem = pszValue;
            break;
        case 'l':
            pRun->pszLink = pszValue;
            break;
        case 'm': {
            int32_t nMax = 0;
            for (const char *psz = pszValue; *psz >= '0' && *psz <= '9'; psz++)
                nMax = nMax > 99999999 ? nMax : nMax * 10 + (*psz - '0');
            pRun->nMax = nMax;
            break;
        }
        case 'n':
            pRun->pszName = pszValue;
            break;
        case 't':
            if (strcmp(pszAttr, "type") == 0)
                pRun->pszType = pszValue;
            else
                pRun->pszText = pszValue;
            break;
        default:
            break;
        }
    }
}

// The zone of a time text: what follows its last blank, which must be three characters.
bool nsfGetZone(NSFCONTEXT *pContext, const char *pszFunc, const char *pszTime, const char *pszWhich,
                char szZone[4])
{
    const char *pszBlank = strrchr(pszTime, ' ');
    if (pszBlank == NULL) {
        nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "No timezone in %s...", pszWhich);
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, pszTime);
        return false;
    }
    if (strlen(pszBlank + 1) != 3) {
        nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Invalid timezone in %s...", pszWhich);
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, pszTime);
        return false;
    }
    memcpy(szZone, pszBlank + 1, 4);
    return true;
}

// The system's zone as three upper-case letters. Returns the reader status.
int nsfGetSystemTimeZone(NSFCONTEXT *pContext, char szZone[4])
{
    static const char szFunc[] = "nsfGetSystemTimeZone()";
    char szName[64];
    if (qlsys_timezone_name(szName, sizeof(szName)) != 0) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "GetTimeZoneInformation() failed");
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "Error getting system time zone");
        return NSF_STATUS_INTERNAL;
    }
    int cch = 0;
    for (const char *psz = szName; *psz != '\0' && cch < 3; psz++) {
        if (*psz >= 'A' && *psz <= 'Z')
            szZone[cch++] = *psz;
    }
    szZone[cch] = '\0';
    if (cch < 3) {
        nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Error getting system time zone from %s", szName);
        return NSF_STATUS_INTERNAL;
    }
    return NSF_STATUS_OK;
}

// The texts a text or date comparison compares: the main item's value and the text attribute, or
// the second item's value when it has one. False when either is missing.
bool nsfGetCompareTexts(NSFXMLRUN *pRun, const NSFXMLITEM *pItem, const char **ppsz1, const char **ppsz2)
{
    NSFXMLITEM *pItem2 = &pRun->rgItems[1];
    *ppsz1 = nsfItemHasValue(pItem) ? nsfItemText(pItem) : NULL;
    *ppsz2 = nsfItemHasValue(pItem2) ? nsfItemText(pItem2) : pRun->pszText;
    return *ppsz1 != NULL && *ppsz2 != NULL;
}

bool nsfSetTextCondition(NSFXMLRUN *pRun, const NSFXMLITEM *pItem, int nElement)
{
    static const char szFunc[] = "nsfSetTextCondition()";
    const char *psz1, *psz2;
    if (!nsfGetCompareTexts(pRun, pItem, &psz1, &psz2))
        return false;
    nsfLog(pRun->pContext, NSF_LOG_DIAG, szFunc, "pszText1...");
    nsfLog(pRun->pContext, NSF_LOG_DIAG, szFunc, psz1);
    nsfLog(pRun->pContext, NSF_LOG_DIAG, szFunc, "pszText2...");
    nsfLog(pRun->pContext, NSF_LOG_DIAG, szFunc, psz2);
    int nCompare = nsfCompareNoCase(psz1, psz2);
    switch (nElement) {
    case NSF_XML_IFNE:
        return nCompare != 0;
    case NSF_XML_IFLT:
        return nCompare < 0;
    case NSF_XML_IFLE:
        return nCompare <= 0;
    case NSF_XML_IFGT:
        return nCompare > 0;
    case NSF_XML_IFGE:
        return nCompare >= 0;
    default: // ifeq and case
        return nCompare == 0;
    }
}

bool nsfSetDateCondition(NSFXMLRUN *pRun, const NSFXMLITEM *pItem, int nElement)
{
    static const char szFunc[] = "nsfSetDateCondition()";
    NSFCONTEXT *pContext = pRun->pContext;
    const char *psz1, *psz2;
    if (!nsfGetCompareTexts(pRun, pItem, &psz1, &psz2))
        return false;
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "pszDate1...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, psz1);
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "pszDate2...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, psz2);
    int64_t dTime = 0;
    if (nsfGetTime(pRun, psz1, psz2, &dTime) != NSF_STATUS_OK) {
        // A time that cannot be read does not hide what the template shows.
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetTime() failed");
        return true;
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "(int)dTime3 %d", (int)dTime);
    switch (nElement) {
    case NSF_XML_IFDTNE:
        return dTime != 0;
    case NSF_XML_IFDTLT:
        return dTime < 0;
    case NSF_XML_IFDTLE:
        return dTime <= 0;
    case NSF_XML_IFDTGT:
        return dTime > 0;
    case NSF_XML_IFDTGE:
        return dTime >= 0;
    default:
        return dTime == 0;
    }
}

bool nsfSetZoneCondition(NSFXMLRUN *pRun, const NSFXMLITEM *pItem, int nElement)
{
    static const char szFunc[] = "nsfSetZoneCondition()";
    NSFCONTEXT *pContext = pRun->pContext;
    char szZone1[4], szZone2[4];
    if (!nsfItemHasValue(pItem) || !nsfGetZone(pContext, szFunc, nsfItemText(pItem), "date1", szZone1))
        return false;
    NSFXMLITEM *pItem2 = &pRun->rgItems[1];
    if (pRun->pszItem != NULL) {
        if (!nsfItemHasValue(pItem2) || !nsfGetZone(pContext, szFunc, nsfItemText(pItem2), "date2", szZone2))
            return false;
    } else if (pRun->pszText != NULL) {
        size_t cch = strnlen(pRun->pszText, 3);
        memcpy(szZone2, pRun->pszText, cch);
        szZone2[cch] = '\0';
    } else if (nsfGetSystemTimeZone(pContext, szZone2) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetSystemTimeZone() failed");
        return false;
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pszZone1...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, szZone1);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pszZone2...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, szZone2);
    bool bEqual = nsfEqualNoCase(szZone1, szZone2);
    return nElement == NSF_XML_IFTZEQ ? bEqual : !bEqual;
}

bool nsfSetIniCondition(NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfSetIniCondition()";
    NSFCONTEXT *pContext = pRun->pContext;
    if (pRun->pszName == NULL || pRun->pszText == NULL)
        return false;
    NSFBUFFER *pTemp = pContext->BufferTemp;
    pTemp->ucbData = 0;
    if (nsfCheckBuffer(pContext, pTemp, 1024) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return false;
    }
    QLHAPI *pHAPI = pContext->services;
    char *pszData = (char *)pTemp->rgbData;
    pszData[0] = '\0';
    // A key without a value reads as the empty default.
    if (pHAPI->fpGetProfileString(pHAPI, "tessel", pRun->pszName, "", pszData, 1024, 0) == 0)
        pszData[0] = '\0';
    pszData[1023] = '\0';
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "pszName...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, pRun->pszName);
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "pszText...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, pRun->pszText);
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "pszData...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, pszData);
    return nsfEqualNoCase(pszData, pRun->pszText);
}

// Evaluates the condition of a control element on its item record.
bool nsfSetCondition(NSFXMLRUN *pRun, const NSFXMLITEM *pItem)
{
    int nElement = pRun->nElement;
    if ((nElement >= NSF_XML_IFEQ && nElement <= NSF_XML_IFGE) || nElement == NSF_XML_CASE)
        return nsfSetTextCondition(pRun, pItem, nElement);
    if (nElement >= NSF_XML_IFDTEQ && nElement <= NSF_XML_IFDTGE)
        return nsfSetDateCondition(pRun, pItem, nElement);
    if (nElement == NSF_XML_IFTZEQ || nElement == NSF_XML_IFTZNE)
        return nsfSetZoneCondition(pRun, pItem, nElement);
    if (nElement == NSF_XML_IFEX || nElement == NSF_XML_SWITCH || nElement == NSF_XML_FOR)
        return nsfItemHasValue(pItem);
    if (nElement == NSF_XML_IFNEX)
        return !nsfItemHasValue(pItem);
    if (nElement == NSF_XML_IFINI)
        return nsfSetIniCondition(pRun);
    return false;
}

// Starts copying the body of a loop whose condition is on. Returns the reader status.
int nsfStartForElement(NSFXMLRUN *pRun, NSFXMLITEM *pItem)
{
    static const char szFunc[] = "nsfStartForElement()";
    NSFCONTEXT *pContext = pRun->pContext;
    pRun->pForItem = pItem;
    pRun->nForMax = pRun->nMax;
    pRun->BufferFOR->ucbData = 0;
    int nStatus = nsfAppendText(pContext, pRun->BufferFOR, szLoopOpening);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "BufferFOR.ucbData %u, (char *)rgbData...",
            pRun->BufferFOR->ucbData);
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, (const char *)pRun->BufferFOR->rgbData);
    pRun->bFor = true;
    XML_SetElementHandler(pRun->parser, nsfForStartElementXML, nsfForEndElementXML);
    return NSF_STATUS_OK;
}

// Runs the loop document once per ';'-separated piece of the loop item's value.
int nsfEndForElement(NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfEndForElement()";
    NSFCONTEXT *pContext = pRun->pContext;
    int nStatus = nsfAppendText(pContext, pRun->BufferFOR, szLoopClosing);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "BufferFOR.ucbData %u, (char *)rgbData...",
            pRun->BufferFOR->ucbData);
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, (const char *)pRun->BufferFOR->rgbData);
    nsfLog(pContext, NSF_LOG_DIAG, NULL, "");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Initial pForItem...");
    nsfDumpItem(pContext, szFunc, pRun->pForItem);

    NSFTEMPLATE loop;
    memset(&loop, 0, sizeof(loop));
    loop.nTemplate = pRun->pTemplate->nTemplate;
    loop.pszName = pRun->pTemplate->pszName;
    loop.pBuffer = pRun->BufferFOR;
    loop.cLevels = pRun->pTemplate->cLevels;

    // Each pass sees one piece of the value through a view of the loop item; the item itself is
    // left as it is.
    const char *pszValue = nsfItemText(pRun->pForItem);
    uint32_t cbValue = pRun->pForItem->pBuffer != NULL ? pRun->pForItem->pBuffer->ucbData : 0;
    NSFBUFFER piece;
    NSFXMLITEM view = *pRun->pForItem;
    view.pBuffer = &piece;
    uint32_t iStart = 0;
    for (int32_t nPass = 1;; nPass++) {
        if (pRun->nForMax > 0 && nPass > pRun->nForMax)
            break;
        uint32_t iEnd = iStart;
        while (iEnd < cbValue && pszValue[iEnd] != ';')
            iEnd++;
        memset(&piece, 0, sizeof(piece));
        piece.rgbData = (uint8_t *)(pszValue + iStart);
        piece.ucbData = iEnd - iStart;
        piece.ucbDataSize = piece.ucbData;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "nForIndex %d, pForItem...", nPass);
        nStatus =
            nsfParseXMLTemplateR(pContext, pRun->pSubFile, pRun->hNote, pRun->pIOobj, &loop, &view, nPass);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfParseXMLTemplateR() failed");
            break;
        }
        if (iEnd >= cbValue)
            break;
        iStart = iEnd + 1;
    }
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Final pForItem...");
    nsfDumpItem(pContext, szFunc, pRun->pForItem);
    pRun->BufferFOR->ucbData = 0;
    return nStatus;
}

// Control elements and the root at their start tag: opens the level and sets the condition.
int nsfStartCondElement(NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfStartCondElement()";
    NSFCONTEXT *pContext = pRun->pContext;
    int nElement = pRun->nElement;
    if (nElement == NSF_XML_QUILLON) {
        pRun->bCondition = true;
        return NSF_STATUS_OK;
    }

    if (pRun->nLevel + 1 > NSF_XML_MAX_LEVELS || pRun->nLevel + 1 > pRun->pTemplate->cLevels) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Element <%s> is nested more than %d levels",
                nsfElementName(nElement), pRun->pTemplate->cLevels);
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    pRun->nLevel++;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "nLevel %d", pRun->nLevel);
    pRun->rgnElements[pRun->nLevel] = nElement;
    NSFXMLITEM *pItem = nsfLevelItem(pRun, pRun->nLevel);
    nsfClearItem(pItem);

    int nStatus = NSF_STATUS_OK;
    bool bResult = false;
    if (pRun->bCondition) {
        if (nElement <= NSF_XML_FOR) {
            if (pRun->pszName == NULL) {
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Element has no main item");
                nStatus = NSF_STATUS_INVALID_TEMPLATE;
            } else if ((nStatus = nsfGetItemValue(pRun->pszName, pItem, pRun)) != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemValue() failed");
            }
        }
        if (nStatus == NSF_STATUS_OK && nElement <= NSF_XML_IFTZNE && pRun->pszItem != NULL &&
            (nStatus = nsfGetItemValue(pRun->pszItem, &pRun->rgItems[1], pRun)) != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemValue() failed");

        // A condition whose items cannot be read stays off.
        if (nStatus == NSF_STATUS_OK) {
            switch (nElement) {
            case NSF_XML_SWITCH:
                pRun->bSwitchMatched = false;
                bResult = nsfSetCondition(pRun, pItem);
                break;
            case NSF_XML_ELSE:
                bResult = !pRun->rgbConditions[pRun->nLevel];
                break;
            case NSF_XML_CASE:
                if (!pRun->bSwitchMatched) {
                    const NSFXMLITEM *pSwitchItem = nsfLevelItem(pRun, pRun->nLevel - 1);
                    bResult = pSwitchItem != NULL && nsfSetCondition(pRun, pSwitchItem);
                    pRun->bSwitchMatched = bResult;
                }
                break;
            case NSF_XML_DEFAULT:
                bResult = !pRun->bSwitchMatched;
                pRun->bSwitchMatched = true;
                break;
            default:
                bResult = nsfSetCondition(pRun, pItem);
                break;
            }
        }
    }

    pRun->rgbConditions[pRun->nLevel] = bResult;
    if (nElement == NSF_XML_FOR && bResult) {
        nStatus = nsfStartForElement(pRun, pItem);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfStartForElement() failed");
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bCondition %d", bResult ? 1 : 0);
    pRun->bCondition = bResult;
    return nStatus;
}

// Control elements and the root at their end tag: runs a loop and closes the level.
int nsfEndCondElement(NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfEndCondElement()";
    NSFCONTEXT *pContext = pRun->pContext;
    if (pRun->nElement == NSF_XML_QUILLON) {
        pRun->bCondition = false;
        return NSF_STATUS_OK;
    }
    if (pRun->nLevel <= 0) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid element nesting level %d", pRun->nLevel);
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    int nStatus = NSF_STATUS_OK;
    if (pRun->nElement == NSF_XML_FOR && pRun->rgbConditions[pRun->nLevel] && pRun->pForItem != NULL) {
        nStatus = nsfEndForElement(pRun);
        pRun->pForItem = NULL;
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfEndForElement() failed");
    }
    pRun->nLevel--;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "nLevel %d", pRun->nLevel);
    pRun->bCondition = pRun->nLevel > 0 ? pRun->rgbConditions[pRun->nLevel] : true;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bCondition %d", pRun->bCondition ? 1 : 0);
    return nStatus;
}

// The actions call, log, quit and stop. Returns the reader status.
int nsfStartCtrlElement(NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfStartCtrlElement()";
    NSFCONTEXT *pContext = pRun->pContext;
    const char *pszTemplate = pRun->pTemplate->pszName;
    int nLevel = pRun->pszType != NULL ? nsfParseLogLevel(pRun->pszType) : NSF_LOG_DIAG;
    if (nLevel == 0)
        nLevel = NSF_LOG_DIAG;
    switch (pRun->nElement) {
    case NSF_XML_CALL: {
        NSFTEMPLATE *pCalled = pRun->pszFile != NULL ? nsfFindTemplate(pContext, pRun->pszFile) : NULL;
        int nStatus =
            nsfParseXMLTemplateR(pContext, pRun->pSubFile, pRun->hNote, pRun->pIOobj, pCalled, NULL, 0);
        if (nStatus != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfParseXMLTemplateR() failed");
        return nStatus;
    }
    case NSF_XML_LOG:
        nsfLog(pContext, nLevel, pszTemplate, nsfOr(pRun->pszText, ""));
        return NSF_STATUS_OK;
    case NSF_XML_QUIT:
        if (pRun->pszText != NULL)
            nsfLog(pContext, nLevel, pszTemplate, pRun->pszText);
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "Stopping XML processing");
        XML_SetElementHandler(pRun->parser, NULL, NULL);
        XML_SetCharacterDataHandler(pRun->parser, NULL);
        pRun->bQuit = true;
        return NSF_STATUS_OK;
    case NSF_XML_STOP:
        nsfLog(pContext, NSF_LOG_ERROR, pszTemplate, nsfOr(pRun->pszText, ""));
        return NSF_STATUS_TEMPLATE_STOPPED;
    default:
        return NSF_STATUS_INTERNAL;
    }
}

void XMLCALL nsfStartElementXML(void *pvRun, const XML_Char *pszElement, const XML_Char **rgpszAttrs)
{
    static const char szFunc[] = "nsfStartElementXML()";
    NSFXMLRUN *pRun = (NSFXMLRUN *)pvRun;
    NSFCONTEXT *pContext = pRun->pContext;
    nsfLog(pContext, NSF_LOG_DIAG, NULL, "");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pcszElement <%s>, nLevel %d, bCondition %d", pszElement,
            pRun->nLevel, pRun->bCondition ? 1 : 0);
    XML_SetCharacterDataHandler(pRun->parser, NULL);
    int nElement = nsfElementNumber(pszElement);
    pRun->nElement = nElement;
    if (pRun->bCondition)
        nsfSetAttributes(pRun, rgpszAttrs);
    nsfClearItem(&pRun->rgItems[1]);

    int nStatus = NSF_STATUS_OK;
    if (nElement == NSF_XML_NONE) {
        nStatus = NSF_STATUS_INVALID_TEMPLATE;
    } else if (nElement <= NSF_XML_QUILLON) {
        if ((nStatus = nsfStartCondElement(pRun)) != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfStartCondElement() failed");
    } else if (pRun->bCondition && nElement <= NSF_XML_STOP) {
        if ((nStatus = nsfStartCtrlElement(pRun)) != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfStartCtrlElement() failed");
    } else if (pRun->bCondition) {
        if ((nStatus = nsfStartDataElement(pRun)) != NSF_STATUS_OK)
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfStartDataElement() failed");
    }

    if (nStatus == NSF_STATUS_OK) {
        if (pRun->bCondition && !pRun->bQuit)
            XML_SetCharacterDataHandler(pRun->parser, nsfCharacterDataXML);
        return;
    }
    nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Element <%s> failed with error %d", pszElement, nStatus);
    if (nsfIsFatal(nStatus)) {
        if (nStatus == NSF_STATUS_INVALID_TEMPLATE)
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid element <%s>", pszElement);
        nsfStopRun(pRun, nStatus);
    }
}

void XMLCALL nsfEndElementXML(void *pvRun, const XML_Char *pszElement)
{
    static const char szFunc[] = "nsfEndElementXML()";
    NSFXMLRUN *pRun = (NSFXMLRUN *)pvRun;
    NSFCONTEXT *pContext = pRun->pContext;
    nsfLog(pContext, NSF_LOG_DIAG, NULL, "");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pcszElement </%s>, nLevel %d, bCondition %d", pszElement,
            pRun->nLevel, pRun->bCondition ? 1 : 0);
    XML_SetCharacterDataHandler(pRun->parser, NULL);
    int nElement = nsfElementNumber(pszElement);
    pRun->nElement = nElement;
    if (nElement >= NSF_XML_IFEQ && nElement <= NSF_XML_QUILLON) {
        int nStatus = nsfEndCondElement(pRun);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfEndCondElement() failed");
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Element </%s> failed with error %d", pszElement,
                    nStatus);
            nsfStopRun(pRun, nStatus);
            return;
        }
    }
    if (pRun->bCondition)
        XML_SetCharacterDataHandler(pRun->parser, nsfCharacterDataXML);
}

void XMLCALL nsfCharacterDataXML(void *pvRun, const XML_Char *pchData, int cbData)
{
    static const char szFunc[] = "nsfCharacterDataXML()";
    NSFXMLRUN *pRun = (NSFXMLRUN *)pvRun;
    NSFCONTEXT *pContext = pRun->pContext;
    if (!pRun->bCondition || cbData <= 0)
        return;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "bFor %d, cbChar %d 0x%x, pbChar...", pRun->bFor ? 1 : 0, cbData,
            (unsigned)cbData);
    nsfLogDump(pContext, NSF_LOG_DIAG, pchData, (uint32_t)cbData);
    if (!pRun->bFor) {
        // A failed write costs this piece only; the run goes on.
        nsfWriteXML(pRun, pchData, (uint32_t)cbData);
        return;
    }
    int nStatus = nsfAppendCDATA(pContext, pRun->BufferFOR, pchData, (uint32_t)cbData);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        nsfStopRun(pRun, nStatus);
    }
}

void XMLCALL nsfForStartElementXML(void *pvRun, const XML_Char *pszElement, const XML_Char **rgpszAttrs)
{
    static const char szFunc[] = "nsfForStartElementXML()";
    NSFXMLRUN *pRun = (NSFXMLRUN *)pvRun;
    NSFCONTEXT *pContext = pRun->pContext;
    nsfLog(pContext, NSF_LOG_DIAG, NULL, "");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pcszElement <%s>", pszElement);
    if (strcmp(pszElement, "for") == 0) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Element <%s> cannot be nested", pszElement);
        nsfStopRun(pRun, NSF_STATUS_INVALID_TEMPLATE);
        return;
    }
    NSFBUFFER *pFor = pRun->BufferFOR;
    int nStatus = nsfAppendText(pContext, pFor, "<");
    if (nStatus == NSF_STATUS_OK)
        nStatus = nsfAppendText(pContext, pFor, pszElement);
    for (int i = 0; nStatus == NSF_STATUS_OK && rgpszAttrs[i] != NULL && rgpszAttrs[i + 1] != NULL; i += 2) {
        nStatus = nsfAppendText(pContext, pFor, " ");
        if (nStatus == NSF_STATUS_OK)
            nStatus = nsfAppendText(pContext, pFor, rgpszAttrs[i]);
        if (nStatus == NSF_STATUS_OK)
            nStatus = nsfAppendText(pContext, pFor, "=\"");
        if (nStatus == NSF_STATUS_OK)
            nStatus = nsfAppendAttributeValue(pContext, pFor, rgpszAttrs[i + 1]);
        if (nStatus == NSF_STATUS_OK)
            nStatus = nsfAppendText(pContext, pFor, "\"");
    }
    if (nStatus == NSF_STATUS_OK)
        nStatus = nsfAppendText(pContext, pFor, ">");
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        nsfStopRun(pRun, nStatus);
    }
}

void XMLCALL nsfForEndElementXML(void *pvRun, const XML_Char *pszElement)
{
    static const char szFunc[] = "nsfForEndElementXML()";
    NSFXMLRUN *pRun = (NSFXMLRUN *)pvRun;
    NSFCONTEXT *pContext = pRun->pContext;
    nsfLog(pContext, NSF_LOG_DIAG, NULL, "");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pcszElement </%s>", pszElement);
    if (strcmp(pszElement, "for") == 0) {
        XML_SetElementHandler(pRun->parser, nsfStartElementXML, nsfEndElementXML);
        pRun->bFor = false;
        nsfEndElementXML(pvRun, pszElement);
        return;
    }
    NSFBUFFER *pFor = pRun->BufferFOR;
    int nStatus = nsfAppendText(pContext, pFor, "</");
    if (nStatus == NSF_STATUS_OK)
        nStatus = nsfAppendText(pContext, pFor, pszElement);
    if (nStatus == NSF_STATUS_OK)
        nStatus = nsfAppendText(pContext, pFor, ">");
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        nsfStopRun(pRun, nStatus);
    }
}

// Gives back the work buffers of a run.
void nsfFreeRun(NSFXMLRUN *pRun)
{
    NSFCONTEXT *pContext = pRun->pContext;
    for (int32_t i = 0; pRun->rgItems != NULL && i < pRun->cItems; i++)
        nsfFreeBuffer(pContext, &pRun->rgItems[i].pBuffer);
    nsfFree(pContext, pRun->rgItems);
    pRun->rgItems = NULL;
    nsfFreeBuffer(pContext, &pRun->BufferFOR);
}

// Makes the item records and BufferFOR of a run. Returns the reader status.
int nsfInitRun(NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfParseXMLTemplateR()";
    NSFCONTEXT *pContext = pRun->pContext;
    int32_t cLevels = pRun->pTemplate->cLevels;
    if (cLevels < 0 || cLevels > NSF_XML_MAX_LEVELS)
        cLevels = NSF_XML_MAX_LEVELS;
    pRun->rgItems = (NSFXMLITEM *)nsfAllocZero(pContext, (uint32_t)(cLevels + 2) * sizeof(NSFXMLITEM));
    if (pRun->rgItems == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error allocating item records");
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    for (int32_t i = 0; i < cLevels + 2; i++) {
        int nStatus = nsfAddBuffer(pContext, 0, &pRun->rgItems[i].pBuffer);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfAddBuffer() failed");
            return nStatus;
        }
        pRun->cItems = i + 1;
        nsfClearItem(&pRun->rgItems[i]);
    }
    int nStatus = nsfAddBuffer(pContext, 0, &pRun->BufferFOR);
    if (nStatus != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfAddBuffer() failed");
    return nStatus;
}

// Makes the level-1 record of a loop pass: the loop item with the current piece as its value.
int nsfInitLoopPass(NSFXMLRUN *pRun, const NSFXMLITEM *pForItem, int32_t nForIndex)
{
    static const char szFunc[] = "nsfParseXMLTemplateR()";
    NSFCONTEXT *pContext = pRun->pContext;
    NSFXMLITEM *pItem = nsfLevelItem(pRun, 1);
    if (pItem == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No item record for the loop");
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    pRun->nLevel = 1;
    pRun->rgnElements[1] = NSF_XML_FOR;
    pRun->rgbConditions[1] = true;
    memcpy(pItem->szName, pForItem->szName, sizeof(pItem->szName));
    pItem->fItemIsPresent = pForItem->fItemIsPresent;
    pItem->wDataType = NSF_ITEM_TYPE_TEXT;
    uint32_t cbValue = pForItem->pBuffer != NULL ? pForItem->pBuffer->ucbData : 0;
    pItem->pBuffer->ucbData = 0;
    int nStatus =
        nsfAppend(pContext, pItem->pBuffer, cbValue != 0 ? pForItem->pBuffer->rgbData : NULL, cbValue);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    pRun->nForIndex = nForIndex;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "nForIndex %d, pForItem...", nForIndex);
    nsfDumpItem(pContext, szFunc, pItem);
    return NSF_STATUS_OK;
}

} // namespace

NSFXMLITEM *nsfLevelItem(NSFXMLRUN *pRun, int32_t nLevel)
{
    if (nLevel < 1 || nLevel + 1 >= pRun->cItems)
        return NULL;
    return &pRun->rgItems[nLevel + 1];
}

void nsfClearItem(NSFXMLITEM *pItem)
{
    pItem->szName[0] = '\0';
    pItem->fItemIsPresent = 0;
    pItem->wDataType = NSF_ITEM_TYPE_UNREAD;
    if (pItem->pBuffer != NULL) {
        pItem->pBuffer->ucbData = 0;
        if (pItem->pBuffer->rgbData != NULL)
            pItem->pBuffer->rgbData[0] = 0;
    }
}

bool nsfItemHasValue(const NSFXMLITEM *pItem)
{
    return pItem->fItemIsPresent && pItem->pBuffer != NULL && pItem->pBuffer->ucbData > 0;
}

const char *nsfItemText(const NSFXMLITEM *pItem)
{
    if (pItem->pBuffer == NULL || pItem->pBuffer->rgbData == NULL || pItem->pBuffer->ucbData == 0)
        return "";
    return (const char *)pItem->pBuffer->rgbData;
}

int nsfWriteXML(NSFXMLRUN *pRun, const void *pData, uint32_t cbData)
{
    static const char szFunc[] = "nsfWriteXML()";
    QLIOobj *pIOobj = pRun->pIOobj;
    if (cbData == 0)
        return NSF_STATUS_OK;
    if (pIOobj == NULL || pIOobj->fpWrite == NULL || pIOobj->fpWrite(pIOobj, pData, cbData) == 0) {
        nsfLogf(pRun->pContext, NSF_LOG_ERROR, szFunc, "Error writing data to I/O object (size %u)", cbData);
        return NSF_STATUS_OUTPUT_FAILED;
    }
    return NSF_STATUS_OK;
}

int nsfSetFormat(NSFXMLRUN *pRun, const char *pszFormat, TFMT *pTimeFormat, int32_t *peDateTimeFmt)
{
    static const char szFunc[] = "nsfSetFormat()";
    NSFCONTEXT *pContext = pRun->pContext;
    if (pTimeFormat == NULL) {
        pTimeFormat = &pRun->TimeFormat;
        peDateTimeFmt = &pRun->eDateTimeFmt;
        pTimeFormat->Date = TDFMT_FULL;
        pTimeFormat->Time = TTFMT_FULL;
        pTimeFormat->Zone = TZFMT_NEVER;
        pTimeFormat->Structure = TSFMT_DATETIME;
        *peDateTimeFmt = 0;
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Initial TimeFormat.Date %d, Time %d, Zone %d, Structure %d",
            pTimeFormat->Date, pTimeFormat->Time, pTimeFormat->Zone, pTimeFormat->Structure);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Initial eDateTimeFmt %d", (int)*peDateTimeFmt);
    NSFFORMATPAIR pair;
    // Only values the format check accepts are applied, so that a pair out of range never makes a
    // format the time conversion refuses.
    for (const char *pszCursor = pszFormat; pszFormat != NULL && nsfNextFormatPair(&pszCursor, &pair);) {
        switch (pair.chKey) {
        case 'D':
            if (pair.nValue <= 6)
                pTimeFormat->Date = (BYTE)pair.nValue;
            break;
        case 'T':
            if (pair.nValue <= 2)
                pTimeFormat->Time = (BYTE)pair.nValue;
            break;
        case 'Z':
            if (pair.nValue <= 2)
                pTimeFormat->Zone = (BYTE)pair.nValue;
            break;
        case 'S':
            if (pair.nValue <= 3)
                pTimeFormat->Structure = (BYTE)pair.nValue;
            break;
        case 'Q':
            if (pair.nValue <= 138)
                *peDateTimeFmt = (int32_t)pair.nValue;
            break;
        default:
            break;
        }
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Final TimeFormat.Date %d, Time %d, Zone %d, Structure %d",
            pTimeFormat->Date, pTimeFormat->Time, pTimeFormat->Zone, pTimeFormat->Structure);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Final eDateTimeFmt %d", (int)*peDateTimeFmt);
    return NSF_STATUS_OK;
}

int nsfGetTime(NSFXMLRUN *pRun, const char *pszTime1, const char *pszTime2, int64_t *pdTime)
{
    static const char szFunc[] = "nsfGetTime()";
    NSFCONTEXT *pContext = pRun->pContext;
    struct tm tm1, tm2;
    int nStatus = nsfScanTime(pContext, pszTime1, &tm1);
    if (nStatus == NSF_STATUS_OK)
        nStatus = nsfScanTime(pContext, pszTime2, &tm2);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfScanTime() failed");
        return nStatus;
    }
    int64_t t1 = 0, t2 = 0;
    if (!nsfMakeLocalTime(&tm1, &t1) || !nsfMakeLocalTime(&tm2, &t2)) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "mktime() failed");
        return NSF_STATUS_INTERNAL;
    }
    *pdTime = t2 - t1;
    return NSF_STATUS_OK;
}

int nsfGetItemValue(const char *pszName, NSFXMLITEM *pItem, NSFXMLRUN *pRun)
{
    static const char szFunc[] = "nsfGetItemValue()";
    NSFCONTEXT *pContext = pRun->pContext;
    nsfClearItem(pItem);
    size_t cchName = strlen(pszName);
    if (cchName >= NSF_ITEM_MAX) {
        nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "wItemNameLen %d >= NSF_ITEM_MAX %d", (int)cchName,
                NSF_ITEM_MAX);
        cchName = NSF_ITEM_MAX - 1;
    }
    memcpy(pItem->szName, pszName, cchName);
    pItem->szName[cchName] = '\0';

    if (!nsfItemIsPresent(pContext, pRun->hNote, pItem->szName, szFunc)) {
        nsfDumpItem(pContext, szFunc, pItem);
        return NSF_STATUS_OK;
    }
    pItem->fItemIsPresent = 1;
    WORD wType = 0;
    nsfCallAPI(pContext, szFunc, "NSFItemInfo()");
    STATUS status = NSFItemInfo(pRun->hNote, pItem->szName, (WORD)cchName, NULL, &wType, NULL, NULL);
    int nStatus = nsfRetAPI(pContext, szFunc, status);
    if (status != NOERROR)
        return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
    pItem->wDataType = wType;

    TFMT tfmt;
    memset(&tfmt, 0, sizeof(tfmt));
    const TFMT *pTimeFormat = NULL;
    int nElement = pRun->nElement;
    switch (nElement) {
    case NSF_XML_RICH:
    case NSF_XML_BODY:
    case NSF_XML_FORM:
        nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Not getting item value as text (need CD records)");
        nsfDumpItem(pContext, szFunc, pItem);
        return NSF_STATUS_OK;
    case NSF_XML_IFTZEQ:
    case NSF_XML_IFTZNE:
    case NSF_XML_ZONE:
        if (wType == TYPE_TIME) {
            tfmt.Date = TDFMT_FULL;
            tfmt.Time = TTFMT_FULL;
            tfmt.Zone = TZFMT_ALWAYS;
            tfmt.Structure = TSFMT_DATETIME;
            pTimeFormat = &tfmt;
        } else {
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Item %s is not TYPE_TIME", pItem->szName);
        }
        break;
    case NSF_XML_DATE:
    case NSF_XML_DATE_QL:
        if (wType == TYPE_TIME) {
            int32_t eDateTimeFmt = pRun->eDateTimeFmt;
            tfmt = pRun->TimeFormat;
            if ((nStatus = nsfSetFormat(pRun, pRun->pszFormat, &tfmt, &eDateTimeFmt)) != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfSetFormat() failed");
                return nStatus;
            }
            pTimeFormat = &tfmt;
        }
        break;
    default:
        if (((nElement >= NSF_XML_IFDTEQ && nElement <= NSF_XML_IFDTGE) || nElement == NSF_XML_TIME ||
             nElement == NSF_XML_ZONE_UTC) &&
            wType != TYPE_TIME)
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Item %s is not TYPE_TIME", pItem->szName);
        break;
    }

    nStatus = nsfGetItemData(pContext, pRun->hNote, pItem->szName, NSF_DATA_TEXT, (void *)pTimeFormat);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfGetItemData() failed");
        return nStatus;
    }
    NSFBUFFER *pMain = pContext->BufferMain;
    nStatus = nsfAppend(pContext, pItem->pBuffer, pMain->rgbData, pMain->ucbData);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    nsfDumpItem(pContext, szFunc, pItem);
    return NSF_STATUS_OK;
}

int nsfParseXMLTemplateR(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj,
                         NSFTEMPLATE *pTemplate, NSFXMLITEM *pForItem, int32_t nForIndex)
{
    static const char szFunc[] = "nsfParseXMLTemplateR()";
    if (pTemplate == NULL || pTemplate->pBuffer == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No template");
        return NSF_STATUS_INTERNAL;
    }
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    if (pForItem != NULL)
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Parsing XML template %s (FOR index %d)", pTemplate->pszName,
                nForIndex);
    else
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Parsing XML template %s", pTemplate->pszName);

    if (pContext->nTemplateLevel + 1 > NSF_XML_MAX_LEVELS) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Template %s is nested more than %d levels",
                pTemplate->pszName, NSF_XML_MAX_LEVELS);
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    pContext->nTemplateLevel++;
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "nTemplateLevel %d", pContext->nTemplateLevel);

    NSFXMLRUN run;
    memset(&run, 0, sizeof(run));
    run.pContext = pContext;
    run.pSubFile = pSubFile;
    run.hNote = hNote;
    run.pIOobj = pIOobj;
    run.pTemplate = pTemplate;

    int nStatus = nsfInitRun(&run);
    if (nStatus == NSF_STATUS_OK && pForItem != NULL)
        nStatus = nsfInitLoopPass(&run, pForItem, nForIndex);
    if (nStatus == NSF_STATUS_OK && (nStatus = nsfSetFormat(&run, NULL, NULL, NULL)) != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfSetFormat() failed");

    if (nStatus == NSF_STATUS_OK) {
        run.parser = XML_ParserCreateNS(NULL, NSF_XML_NS_SEPARATOR);
        if (run.parser == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error creating XML Parser for XML template %s",
                    pTemplate->pszName);
            nStatus = NSF_STATUS_OUT_OF_MEMORY;
        }
    }
    if (nStatus == NSF_STATUS_OK) {
        XML_SetUserData(run.parser, &run);
        XML_SetElementHandler(run.parser, nsfStartElementXML, nsfEndElementXML);
        XML_SetCharacterDataHandler(run.parser, NULL);
        NSFBUFFER *pText = pTemplate->pBuffer;
        if (XML_Parse(run.parser, (const char *)pText->rgbData, (int)pText->ucbData, 1) == XML_STATUS_ERROR) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc,
                    "XML Parser failed on line %d of XML template %s, error...",
                    (int)XML_GetCurrentLineNumber(run.parser), pTemplate->pszName);
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, XML_ErrorString(XML_GetErrorCode(run.parser)));
            nStatus = NSF_STATUS_INVALID_TEMPLATE;
        } else if (run.nError != NSF_STATUS_OK) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc,
                    "XML Parser handler function failed with error %d on XML template %s", run.nError,
                    pTemplate->pszName);
            nStatus = run.nError;
        } else {
            nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Done parsing XML template %s", pTemplate->pszName);
            nsfLog(pContext, NSF_LOG_INFO, NULL, "");
        }
    }

    pContext->nTemplateLevel--;
    if (run.parser != NULL)
        XML_ParserFree(run.parser);
    nsfFreeRun(&run);
    return nStatus;
}

int nsfExtractMailFieldsXML(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj)
{
    static const char szFunc[] = "nsfExtractMailFieldsXML()";
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Extracting mail fields by XML template...");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "SubFile.szSubject %s",
            pSubFile != NULL ? pSubFile->szSubject : "");
    if (pContext->BufferXML != NULL)
        pContext->BufferXML->ucbData = 0;
    pContext->cImagesXML = 0;
    pContext->nTemplateLevel = 0;
    int nStatus = nsfParseXMLTemplateR(pContext, pSubFile, hNote, pIOobj,
                                       nsfGetTemplate(pContext, pContext->nMainTemplate), NULL, 0);
    if (nStatus != NSF_STATUS_OK)
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfParseXMLTemplateR() failed");
    return nStatus;
}
