#include "nsf/items/itemdata.h"

#include <string.h>

#include "nsf/catalogue/images.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"
#include <notes/notes.h>
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

namespace {

const char *nsfDataName(int32_t eData)
{
    switch (eData) {
    case NSF_DATA_TEXT:
        return "TEXT";
    case NSF_DATA_CDR:
        return "CDR";
    case NSF_DATA_IMAGE:
        return "IMAGE";
    case NSF_DATA_TIMEDATE:
        return "TIMEDATE";
    default:
        return "unknown";
    }
}

// The room a 16-bit length of the Notes API can offer in a buffer.
WORD nsfApiRoom(const NSFBUFFER *pBuffer)
{
    return pBuffer->ucbDataSize > 0xFFFF ? (WORD)0xFFFF : (WORD)pBuffer->ucbDataSize;
}

// Appends bytes to a buffer and keeps a NUL after them.
int nsfAppend(NSFCONTEXT *pContext, NSFBUFFER *pBuffer, const void *pv, uint32_t cb)
{
    int nStatus = nsfCheckBuffer(pContext, pBuffer, cb);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    memcpy(pBuffer->rgbData + pBuffer->ucbData, pv, cb);
    pBuffer->ucbData += cb;
    pBuffer->rgbData[pBuffer->ucbData] = 0;
    return NSF_STATUS_OK;
}

// Runs the text chain on whatever BufferCD and BufferLMBCS hold and appends the UTF-8 result to
// BufferMain.
int nsfAppendText(NSFCONTEXT *pContext, const char *pszFunc)
{
    int nStatus;
    if (pContext->BufferCD->ucbData != 0 && (nStatus = nsfConvertCDtoLMBCS(pContext)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfConvertCDtoLBMCS() failed");
        return nStatus;
    }
    if (pContext->BufferLMBCS->ucbData != 0 && (nStatus = nsfConvertLMBCStoUTF8(pContext)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfConvertLMBCStoUTF8() failed");
        return nStatus;
    }
    NSFBUFFER *pUTF8 = pContext->BufferUTF8;
    if (pUTF8->ucbData != 0) {
        nStatus = nsfAppend(pContext, pContext->BufferMain, pUTF8->rgbData, pUTF8->ucbData);
        pUTF8->ucbData = 0;
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
    }
    return NSF_STATUS_OK;
}

// Empties a buffer, making sure it has a block to hold a terminator.
int nsfEmpty(NSFCONTEXT *pContext, NSFBUFFER *pBuffer)
{
    pBuffer->ucbData = 0;
    if (pBuffer->rgbData == NULL) {
        int nStatus = nsfCheckBuffer(pContext, pBuffer, 0);
        if (nStatus != NSF_STATUS_OK)
            return nStatus;
    }
    pBuffer->rgbData[0] = 0;
    return NSF_STATUS_OK;
}

// Reads a TYPE_TIME or TYPE_OBJECT value from its locked block. pbValue points past the type word
// and cbValue counts what follows it.
int nsfConvertBlockValue(NSFCONTEXT *pContext, WORD wType, const uint8_t *pbValue, uint32_t cbValue,
                         int32_t eData, void *pvData, int32_t cItems, const char *pszFunc)
{
    if (wType == TYPE_TIME) {
        nsfLog(pContext, NSF_LOG_DEBUG, pszFunc, "Converting TIME data to TEXT...");
        if (cbValue < sizeof(TIMEDATE)) {
            nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Truncated TIME value (size %u)", cbValue);
            return NSF_STATUS_OK;
        }
        TIMEDATE td;
        memcpy(&td, pbValue, sizeof(td));
        if (eData == NSF_DATA_TIMEDATE) {
            if (pvData != NULL)
                memcpy(pvData, &td, sizeof(td));
            return NSF_STATUS_OK;
        }
        NSFBUFFER *pLMBCS = pContext->BufferLMBCS;
        pLMBCS->ucbData = 0;
        int nStatus = nsfCheckBuffer(pContext, pLMBCS, 128);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
        WORD wTextLen = 0;
        nsfCallAPI(pContext, pszFunc, "ConvertTIMEDATEToText()");
        STATUS status = ConvertTIMEDATEToText(NULL, (const TFMT *)pvData, &td, (char *)pLMBCS->rgbData,
                                              nsfApiRoom(pLMBCS), &wTextLen);
        nStatus = nsfRetAPI(pContext, pszFunc, status);
        if (status != NOERROR)
            return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
        pLMBCS->ucbData = wTextLen < pLMBCS->ucbDataSize ? wTextLen : pLMBCS->ucbDataSize;
        pLMBCS->rgbData[pLMBCS->ucbData] = 0;
        nsfLogf(pContext, NSF_LOG_DEBUG, pszFunc, "Text returned, wTextLen %u 0x%x", wTextLen, wTextLen);
        return NSF_STATUS_OK;
    }

    nsfLog(pContext, NSF_LOG_DEBUG, pszFunc, "Converting OBJECT data to TEXT...");
    FILEOBJECT fileObj;
    if (!nsfReadFileObject(pContext, pbValue, cbValue, NSF_LOG_DEBUG, NSF_LOG_DIAG, pszFunc, &fileObj))
        return NSF_STATUS_OK;
    WORD cbFileObject = ODSLength(_FILEOBJECT);
    WORD wHostType = fileObj.HostType & HOST_MASK;
    nsfLogf(pContext, NSF_LOG_DEBUG, pszFunc, "FileObj wHostType 0x%x (%s)", wHostType,
            nsfGetObjectHostName(wHostType));
    switch (wHostType) {
    case HOST_MSDOS:
    case HOST_MAC:
    case HOST_UNKNOWN:
    case HOST_HPFS:
    case HOST_BYTEARRAY_EXT: {
        uint32_t cbName = fileObj.FileNameLength;
        if (cbName > cbValue - cbFileObject) {
            nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "File name runs past the value (length %u, room %u)",
                    cbName, cbValue - cbFileObject);
            cbName = cbValue - cbFileObject;
        }
        NSFBUFFER *pLMBCS = pContext->BufferLMBCS;
        pLMBCS->ucbData = 0;
        int nStatus = nsfAppend(pContext, pLMBCS, pbValue + cbFileObject, cbName);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
        if (cItems > 0 && pContext->BufferMain->ucbData != 0) {
            nStatus = nsfAppend(pContext, pContext->BufferMain, ";", 1);
            if (nStatus != NSF_STATUS_OK)
                return nStatus;
        }
        break;
    }
    case HOST_OLE:
    case HOST_OLELIB:
    case HOST_BYTEARRAY_PAGE:
    case HOST_CDSTORAGE:
    case HOST_STREAM:
    case HOST_LINK:
        break;
    default:
        nsfLogf(pContext, NSF_LOG_DIAG, pszFunc, "Unknown wHostType 0x%x (%s)", wHostType,
                nsfGetObjectHostName(wHostType));
        break;
    }
    return NSF_STATUS_OK;
}

// One text piece of a composite record, run through the text chain into BufferMain.
void nsfAppendRecordText(NSFCONTEXT *pContext, const uint8_t *pbText, uint32_t cbText, const char *pszFunc)
{
    if (cbText == 0)
        return;
    nsfLogf(pContext, NSF_LOG_DUMP, pszFunc, "dwTextLength %ld 0x%lx, pbTextPtr...", (long)cbText,
            (unsigned long)cbText);
    nsfLogDump(pContext, NSF_LOG_DUMP, pbText, cbText);
    NSFBUFFER *pCD = pContext->BufferCD;
    pCD->ucbData = 0;
    if (nsfAppend(pContext, pCD, pbText, cbText) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
        return;
    }
    nsfAppendText(pContext, pszFunc);
}

WORD nsfReadWord(const uint8_t *pb)
{
    return (WORD)(pb[0] | (pb[1] << 8));
}

} // namespace

STATUS LNCALLBACK nsfEnumCompositeBufferCB(char *pRecord, WORD wRecordType, DWORD dwRecordLength,
                                           void *pvContext)
{
    static const char szFunc[] = "nsfEnumCompositeBufferCB()";
    NSFCONTEXT *pContext = (NSFCONTEXT *)pvContext;
    nsfRetAPI(pContext, szFunc, NOERROR);
    const uint8_t *pb = (const uint8_t *)pRecord;

    if (pContext->eEnumData == NSF_DATA_CDR) {
        NSFBUFFER *pCDR = pContext->BufferCDR;
        if (nsfCheckBuffer(pContext, pCDR, nsfSatAdd(dwRecordLength, 1)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed (CDR)");
        } else {
            memcpy(pCDR->rgbData + pCDR->ucbData, pb, dwRecordLength);
            pCDR->ucbData += dwRecordLength;
            if (pCDR->ucbData & 1)
                pCDR->rgbData[pCDR->ucbData++] = 0;
            pCDR->rgbData[pCDR->ucbData] = 0;
        }
    } else if (pContext->eEnumData == NSF_DATA_IMAGE) {
        NSFIMAGE *pImage = (NSFIMAGE *)pContext->pvEnumData;
        if (pImage != NULL && pImage->pBuffer != NULL) {
            if (wRecordType == SIG_CD_IMAGEHEADER && dwRecordLength >= 8) {
                pImage->wImageType = nsfReadWord(pb + 6);
            } else if (wRecordType == SIG_CD_IMAGESEGMENT && dwRecordLength >= 10) {
                uint32_t cbData = nsfReadWord(pb + 6);
                if (cbData > dwRecordLength - 10)
                    cbData = dwRecordLength - 10;
                NSFBUFFER *pBuffer = pImage->pBuffer;
                if (nsfCheckBuffer(pContext, pBuffer, cbData) != NSF_STATUS_OK) {
                    nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
                } else {
                    memcpy(pBuffer->rgbData + pBuffer->ucbData, pb + 10, cbData);
                    pBuffer->ucbData += cbData;
                    memset(pBuffer->rgbData + pBuffer->ucbData, 0, pBuffer->ucbDataSize - pBuffer->ucbData);
                }
            }
        }
    } else {
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "wRecordType %d 0x%x (%s)", wRecordType, wRecordType,
                nsfGetSigName(wRecordType));
        nsfLogf(pContext, NSF_LOG_ALL, szFunc, "dwRecordLength %ld 0x%lx, pbRecordPtr...",
                (long)dwRecordLength, (unsigned long)dwRecordLength);
        nsfLogDump(pContext, NSF_LOG_ALL, pb, dwRecordLength);
        switch (wRecordType) {
        case SIG_CD_TEXT:
        case SIG_CD_TEXTEFFECT:
            if (dwRecordLength > 8)
                nsfAppendRecordText(pContext, pb + 8, dwRecordLength - 8, szFunc);
            break;
        case SIG_CD_BAR:
            if (dwRecordLength > 12)
                nsfAppendRecordText(pContext, pb + 12, dwRecordLength - 12, szFunc);
            break;
        case SIG_CD_PARAGRAPH:
            nsfAppendRecordText(pContext, (const uint8_t *)"\r\n", 2, szFunc);
            break;
        case SIG_CD_HOTSPOTBEGIN:
            // Hidden text travels in a hotspot of type 22; it shows only when asked for.
            if ((pContext->dwFlags & CNVO_SHOWHIDDENTEXT) && dwRecordLength >= 12 &&
                nsfReadWord(pb + 4) == 22) {
                uint32_t cbText = nsfReadWord(pb + 10);
                if (cbText > dwRecordLength - 12)
                    cbText = dwRecordLength - 12;
                nsfAppendRecordText(pContext, pb + 12, cbText, szFunc);
            }
            break;
        default:
            break;
        }
    }

    nsfCallAPI(pContext, szFunc, "EnumCompositeBuffer()");
    return NOERROR;
}

static const char *nsfObjectTypeName(WORD wObjectType)
{
    switch (wObjectType) {
    case OBJECT_FILE:
        return "FILE";
    case OBJECT_FILTER_LEFTTODO:
        return "FILTER_LEFTTODO";
    case OBJECT_ASSIST_RUNDATA:
        return "ASSIST_RUNDATA";
    default:
        return "UNKNOWN";
    }
}

bool nsfReadFileObject(NSFCONTEXT *pContext, const uint8_t *pbValue, uint32_t cbValue, int nLevel,
                       int nUnknownLevel, const char *pszFunc, FILEOBJECT *pFileObj)
{
    WORD cbDescriptor = ODSLength(_OBJECT_DESCRIPTOR);
    if (cbValue < cbDescriptor) {
        nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Truncated object (size %u)", cbValue);
        return false;
    }
    OBJECT_DESCRIPTOR objDesc;
    const void *pSrc = pbValue;
    nsfCallAPI(pContext, pszFunc, "ODSReadMemory()");
    ODSReadMemory(&pSrc, _OBJECT_DESCRIPTOR, &objDesc, 1);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    nsfLogf(pContext, nLevel, pszFunc, "ObjDesc.ObjectType 0x%x (OBJECT_%s)", objDesc.ObjectType,
            nsfObjectTypeName(objDesc.ObjectType));
    if (objDesc.ObjectType == OBJECT_FILTER_LEFTTODO || objDesc.ObjectType == OBJECT_ASSIST_RUNDATA)
        return false;
    if (objDesc.ObjectType != OBJECT_FILE) {
        nsfLogf(pContext, nUnknownLevel, pszFunc, "Unknown ObjDesc.ObjectType 0x%x", objDesc.ObjectType);
        return false;
    }

    // The file object begins with the descriptor just read: read it from the start again.
    if (cbValue < ODSLength(_FILEOBJECT)) {
        nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Truncated object (size %u)", cbValue);
        return false;
    }
    pSrc = pbValue;
    nsfCallAPI(pContext, pszFunc, "ODSReadMemory()");
    ODSReadMemory(&pSrc, _FILEOBJECT, pFileObj, 1);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    return true;
}

bool nsfItemIsPresent(NSFCONTEXT *pContext, NOTEHANDLE hNote, const char *pszName, const char *pszCaller)
{
    nsfCallAPI(pContext, pszCaller, "NSFItemIsPresent()");
    bool bPresent = NSFItemIsPresent(hNote, pszName, (WORD)strnlen(pszName, 0xFFFF));
    nsfRetAPI(pContext, pszCaller, NOERROR);
    return bPresent;
}

int nsfGetItemData(NSFCONTEXT *pContext, NOTEHANDLE hNote, const char *pszItemName, int32_t eData,
                   void *pvData)
{
    static const char szFunc[] = "nsfGetItemData()";
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "Getting item data, pszItemName %s, eData NSF_DATA_%s",
            pszItemName, nsfDataName(eData));

    int nStatus;
    if ((nStatus = nsfEmpty(pContext, pContext->BufferUTF8)) != NSF_STATUS_OK ||
        (nStatus = nsfEmpty(pContext, pContext->BufferLMBCS)) != NSF_STATUS_OK ||
        (nStatus = nsfEmpty(pContext, pContext->BufferCD)) != NSF_STATUS_OK ||
        (nStatus = nsfEmpty(pContext, pContext->BufferMain)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    if (eData == NSF_DATA_CDR) {
        NSFBUFFER *pCDR = pContext->BufferCDR;
        pCDR->ucbData = 0;
        if ((nStatus = nsfCheckBuffer(pContext, pCDR, 2)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed (CDR)");
            return nStatus;
        }
        pCDR->rgbData[0] = (uint8_t)(TYPE_COMPOSITE & 0xFF);
        pCDR->rgbData[1] = (uint8_t)(TYPE_COMPOSITE >> 8);
        pCDR->ucbData = 2;
        pCDR->rgbData[2] = 0;
    }

    WORD cbName = (WORD)strnlen(pszItemName, 0xFFFF);
    bool bMIMEConverted = false;
    BLOCKID bhItem;
    memset(&bhItem, 0, sizeof(bhItem));
    for (int32_t cItems = 0; cItems < 0x7FFFFFFF; cItems++) {
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "pszItemName %s, cItems %d", pszItemName, cItems);
        WORD wType = 0;
        BLOCKID bhValue;
        DWORD dwValueLen = 0;
        STATUS status;
        if (cItems == 0) {
            nsfCallAPI(pContext, szFunc, "NSFItemInfo()");
            status = NSFItemInfo(hNote, pszItemName, cbName, &bhItem, &wType, &bhValue, &dwValueLen);
        } else {
            nsfCallAPI(pContext, szFunc, "NSFItemInfoNext()");
            status =
                NSFItemInfoNext(hNote, bhItem, pszItemName, cbName, &bhItem, &wType, &bhValue, &dwValueLen);
        }
        if (ERR(status) == ERR_ITEM_NOT_FOUND) {
            // The normal end of the walk, not a failure to report.
            nsfRetAPI(pContext, szFunc, NOERROR);
            nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "No more items");
            nStatus = NSF_STATUS_OK;
            break;
        }
        nStatus = nsfRetAPI(pContext, szFunc, status);
        if (status != NOERROR) {
            nStatus = nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
            break;
        }

        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "wValueDataType 0x%x (%s, %s)", wType,
                nsfGetValueClassName(wType), nsfGetItemTypeName(wType));
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "dwValueLen %lu 0x%lx", (unsigned long)dwValueLen,
                (unsigned long)dwValueLen);
        pContext->BufferUTF8->ucbData = 0;
        pContext->BufferLMBCS->ucbData = 0;

        bool bComposite = wType == TYPE_COMPOSITE || wType == TYPE_MIME_PART;
        if ((eData == NSF_DATA_CDR || eData == NSF_DATA_IMAGE) && !bComposite) {
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid wValueDataType %s for NSF_DATA_%s",
                    nsfGetItemTypeName(wType), nsfDataName(eData));
            return NSF_STATUS_INTERNAL;
        }
        if (eData == NSF_DATA_TIMEDATE && wType != TYPE_TIME) {
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid wValueDataType %s for NSF_DATA_TIMEDATE",
                    nsfGetItemTypeName(wType));
            return NSF_STATUS_INTERNAL;
        }

        if (wType == TYPE_MIME_PART && !bMIMEConverted) {
            // Notes converts MIME to composite data in the open note's memory; the walk then starts
            // again over the converted items.
            nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Converting MIME data to COMPOSITE data...");
            nsfCallAPI(pContext, szFunc, "MIMEConvertMIMEPartCC()");
            status = MIMEConvertMIMEPartCC(hNote, (char *)pszItemName, cbName, NULL);
            nStatus = nsfRetAPI(pContext, szFunc, status);
            if (status != NOERROR)
                return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
            bMIMEConverted = true;
            nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Re-starting item conversion");
            pContext->BufferMain->ucbData = 0;
            pContext->BufferMain->rgbData[0] = 0;
            if (eData == NSF_DATA_CDR)
                pContext->BufferCDR->ucbData = 2;
            cItems = -1;
            continue;
        }

        if (wType == TYPE_COMPOSITE) {
            nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Converting COMPOSITE data to TEXT...");
            if (eData == NSF_DATA_CDR &&
                (nStatus = nsfCheckBuffer(pContext, pContext->BufferCDR, dwValueLen)) != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed (CDR)");
                return nStatus;
            }
            pContext->eEnumData = eData;
            pContext->pvEnumData = pvData;
            pContext->hEnumNote = hNote;
            nsfCallAPI(pContext, szFunc, "EnumCompositeBuffer()");
            status = EnumCompositeBuffer(bhValue, dwValueLen, nsfEnumCompositeBufferCB, pContext);
            nStatus = nsfRetAPI(pContext, szFunc, status);
            if (status != NOERROR)
                return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
        } else if (wType == TYPE_TIME || wType == TYPE_OBJECT) {
            nsfCallAPI(pContext, szFunc, "OSLockBlock()");
            const uint8_t *pbBlock = OSLockBlock(uint8_t, bhValue);
            nsfRetAPI(pContext, szFunc, NOERROR);
            if (pbBlock == NULL) {
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error locking data block");
                return NSF_STATUS_INTERNAL;
            }
            if (dwValueLen >= 2) {
                WORD wHostType = nsfReadWord(pbBlock);
                nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "Block wHostType 0x%x (%s)", wHostType,
                        nsfGetItemTypeName(wHostType));
                nStatus = nsfConvertBlockValue(pContext, wType, pbBlock + 2, dwValueLen - 2, eData, pvData,
                                               cItems, szFunc);
            } else {
                nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Truncated value (size %lu)",
                        (unsigned long)dwValueLen);
                nStatus = NSF_STATUS_OK;
            }
            nsfCallAPI(pContext, szFunc, "OSUnlockBlock()");
            OSUnlockBlock(bhValue);
            nsfRetAPI(pContext, szFunc, NOERROR);
            if (nStatus != NSF_STATUS_OK)
                return nStatus;
            if (eData == NSF_DATA_TIMEDATE)
                continue;
        } else {
            if (wType == TYPE_MIME_PART)
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "MIME data was not converted to COMPOSITE data");
            nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Converting other data to TEXT...");
            NSFBUFFER *pCD = pContext->BufferCD;
            pCD->ucbData = 0;
            if ((nStatus = nsfCheckBuffer(pContext, pCD, dwValueLen)) != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
                return nStatus;
            }
            nsfCallAPI(pContext, szFunc, "NSFItemConvertValueToText()");
            WORD wTextLen = NSFItemConvertValueToText(wType, bhValue, dwValueLen, (char *)pCD->rgbData,
                                                      nsfApiRoom(pCD), '\0');
            nsfRetAPI(pContext, szFunc, NOERROR);
            pCD->ucbData = wTextLen < pCD->ucbDataSize ? wTextLen : pCD->ucbDataSize;
            pCD->rgbData[pCD->ucbData] = 0;
            nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "Text returned, wTextLen %u 0x%x", wTextLen, wTextLen);
        }

        if (eData != NSF_DATA_CDR && eData != NSF_DATA_IMAGE && eData != NSF_DATA_TIMEDATE &&
            (nStatus = nsfAppendText(pContext, szFunc)) != NSF_STATUS_OK)
            return nStatus;
    }

    NSFBUFFER *pMain = pContext->BufferMain;
    if (pMain->ucbData != 0) {
        nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferMain: ucbData %u 0x%x, rgbData...", pMain->ucbData,
                pMain->ucbData);
        nsfLogDump(pContext, NSF_LOG_DUMP, pMain->rgbData, pMain->ucbData);
    }
    return nStatus;
}
