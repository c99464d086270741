#include "nsf/items/itemdata.h"

#include <string.h>

#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"
#include "nsf/items/note.h"
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

// The action routine of EnumCompositeBuffer; always lets the enumeration go on.
static STATUS LNCALLBACK nsfEnumCompositeBufferCB(char *pRecord, WORD wRecordType, DWORD dwRecordLength,
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
        NSFIMAGEDATA *pImage = (NSFIMAGEDATA *)pContext->pvEnumData;
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
    // A zero-length name would make the API report any item as present.
    if (pszName[0] == '\0')
        return false;
    nsfCallAPI(pContext, pszCaller, "NSFItemIsPresent()");
    bool bPresent = NSFItemIsPresent(hNote, pszName, (WORD)strnlen(pszName, 0xFFFF));
    nsfRetAPI(pContext, pszCaller, NOERROR);
    return bPresent;
}

namespace {

// The most text one NSFItemConvertValueToText call can return: its buffer length is 16 bits.
const uint32_t ucbMaxValueText = 0xFFFF;

// Empties the buffers of a read and, for NSF_DATA_CDR, puts the type word into BufferCDR.
int nsfStartItemRead(NSFCONTEXT *pContext, int32_t eData, const char *pszFunc)
{
    int nStatus;
    if ((nStatus = nsfEmpty(pContext, pContext->BufferUTF8)) != NSF_STATUS_OK ||
        (nStatus = nsfEmpty(pContext, pContext->BufferLMBCS)) != NSF_STATUS_OK ||
        (nStatus = nsfEmpty(pContext, pContext->BufferCD)) != NSF_STATUS_OK ||
        (nStatus = nsfEmpty(pContext, pContext->BufferMain)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    if (eData == NSF_DATA_CDR) {
        NSFBUFFER *pCDR = pContext->BufferCDR;
        pCDR->ucbData = 0;
        if ((nStatus = nsfCheckBuffer(pContext, pCDR, 2)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed (CDR)");
            return nStatus;
        }
        pCDR->rgbData[0] = (uint8_t)(TYPE_COMPOSITE & 0xFF);
        pCDR->rgbData[1] = (uint8_t)(TYPE_COMPOSITE >> 8);
        pCDR->ucbData = 2;
        pCDR->rgbData[2] = 0;
    }
    return NSF_STATUS_OK;
}

// Whether an item of the type can give the kind of data asked for; logs the refusal.
bool nsfItemTypeFits(NSFCONTEXT *pContext, WORD wType, int32_t eData, const char *pszFunc)
{
    bool bComposite = wType == TYPE_COMPOSITE || wType == TYPE_MIME_PART;
    if ((eData == NSF_DATA_CDR || eData == NSF_DATA_IMAGE) && !bComposite) {
        nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Invalid wValueDataType %s for NSF_DATA_%s",
                nsfGetItemTypeName(wType), nsfDataName(eData));
        return false;
    }
    if (eData == NSF_DATA_TIMEDATE && wType != TYPE_TIME && wType != TYPE_RFC822_TEXT) {
        nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Invalid wValueDataType %s for NSF_DATA_TIMEDATE",
                nsfGetItemTypeName(wType));
        return false;
    }
    return true;
}

// Has Notes rewrite the note's MIME items of the walk's name as composite items in memory.
int nsfConvertMIMEItems(NSFCONTEXT *pContext, const NSFITEMWALK *pWalk, const char *pszFunc)
{
    nsfLog(pContext, NSF_LOG_DEBUG, pszFunc, "Converting MIME data to COMPOSITE data...");
    nsfCallAPI(pContext, pszFunc, "MIMEConvertMIMEPartCC()");
    STATUS status = MIMEConvertMIMEPartCC(pWalk->hNote, (char *)pWalk->pszName, pWalk->cbName, NULL);
    int nStatus = nsfRetAPI(pContext, pszFunc, status);
    if (status != NOERROR)
        return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
    return NSF_STATUS_OK;
}

// A composite item: its records go through nsfEnumCompositeBufferCB into the buffer of the kind.
int nsfReadCompositeItem(NSFCONTEXT *pContext, const NSFITEMWALK *pWalk, int32_t eData, void *pvData,
                         const char *pszFunc)
{
    nsfLog(pContext, NSF_LOG_DEBUG, pszFunc, "Converting COMPOSITE data to TEXT...");
    int nStatus;
    if (eData == NSF_DATA_CDR &&
        (nStatus = nsfCheckBuffer(pContext, pContext->BufferCDR, pWalk->dwValueLen)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed (CDR)");
        return nStatus;
    }
    pContext->eEnumData = eData;
    pContext->pvEnumData = pvData;
    pContext->hEnumNote = pWalk->hNote;
    nsfCallAPI(pContext, pszFunc, "EnumCompositeBuffer()");
    STATUS status = EnumCompositeBuffer(pWalk->bhValue, pWalk->dwValueLen, nsfEnumCompositeBufferCB, pContext);
    nStatus = nsfRetAPI(pContext, pszFunc, status);
    if (status != NOERROR)
        return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
    return NSF_STATUS_OK;
}

// A TYPE_TIME or TYPE_OBJECT item, read from its locked value block.
int nsfReadBlockItem(NSFCONTEXT *pContext, const NSFITEMWALK *pWalk, int32_t eData, void *pvData,
                     const char *pszFunc)
{
    nsfCallAPI(pContext, pszFunc, "OSLockBlock()");
    const uint8_t *pbBlock = OSLockBlock(uint8_t, pWalk->bhValue);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    if (pbBlock == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, pszFunc, "Error locking data block");
        return NSF_STATUS_INTERNAL;
    }
    int nStatus = NSF_STATUS_OK;
    if (pWalk->dwValueLen >= 2) {
        WORD wHostType = nsfReadWord(pbBlock);
        nsfLogf(pContext, NSF_LOG_DEBUG, pszFunc, "Block wHostType 0x%x (%s)", wHostType,
                nsfGetItemTypeName(wHostType));
        nStatus = nsfConvertBlockValue(pContext, pWalk->wType, pbBlock + 2, pWalk->dwValueLen - 2, eData, pvData,
                                       pWalk->cItems - 1, pszFunc);
    } else {
        nsfLogf(pContext, NSF_LOG_WARNING, pszFunc, "Truncated value (size %lu)", (unsigned long)pWalk->dwValueLen);
    }
    nsfCallAPI(pContext, pszFunc, "OSUnlockBlock()");
    OSUnlockBlock(pWalk->bhValue);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    return nStatus;
}

// The native TIMEDATE of a TYPE_RFC822_TEXT date header (PostedDate, DeliveredDate of a message
// the SMTP server itemized), copied to *pTD. The value is the type word, the 14-byte descriptor
// (format in the low bits of the flags DWORD at offset 2, native length WORD at offset 6), then
// the native part. False for other headers and for a descriptor the value cannot hold.
bool nsfReadRFC822Date(NSFCONTEXT *pContext, const NSFITEMWALK *pWalk, TIMEDATE *pTD, const char *pszFunc)
{
    const uint32_t cbDesc = 14;
    if (pWalk->dwValueLen < 2 + cbDesc + sizeof(TIMEDATE))
        return false;
    nsfCallAPI(pContext, pszFunc, "OSLockBlock()");
    const uint8_t *pbBlock = OSLockBlock(uint8_t, pWalk->bhValue);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    if (pbBlock == NULL)
        return false;
    const uint8_t *pbDesc = pbBlock + 2;
    DWORD dwFlags = (DWORD)nsfReadWord(pbDesc + 2) | ((DWORD)nsfReadWord(pbDesc + 4) << 16);
    WORD wNativeLen = nsfReadWord(pbDesc + 6);
    bool bDate = (dwFlags & RFC822_ITEM_FORMAT_MASK) == RFC822_ITEM_FORMAT_DATE && wNativeLen == sizeof(TIMEDATE);
    if (bDate)
        memcpy(pTD, pbDesc + cbDesc, sizeof(TIMEDATE));
    nsfCallAPI(pContext, pszFunc, "OSUnlockBlock()");
    OSUnlockBlock(pWalk->bhValue);
    nsfRetAPI(pContext, pszFunc, NOERROR);
    return bDate;
}

// Any other item (text, lists, numbers, ranges, names): converted to text by the Notes API into
// BufferCD, list entries separated by NUL bytes. The text can be much longer than the value (a
// date list triples), so a text that fills the room offered is converted again with all the room
// the API can use; the result never depends on how large an earlier read left the buffer. A text
// that fills even that has lost its end, which is logged.
int nsfReadOtherItem(NSFCONTEXT *pContext, const NSFITEMWALK *pWalk, const char *pszFunc)
{
    if (pWalk->wType == TYPE_MIME_PART)
        nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "MIME data was not converted to COMPOSITE data");
    nsfLog(pContext, NSF_LOG_DEBUG, pszFunc, "Converting other data to TEXT...");
    NSFBUFFER *pCD = pContext->BufferCD;
    uint32_t ucbNeeded = pWalk->dwValueLen;
    for (;;) {
        pCD->ucbData = 0;
        int nStatus = nsfCheckBuffer(pContext, pCD, ucbNeeded);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, pszFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
        WORD wRoom = nsfApiRoom(pCD);
        nsfCallAPI(pContext, pszFunc, "NSFItemConvertValueToText()");
        WORD wTextLen = NSFItemConvertValueToText(pWalk->wType, pWalk->bhValue, pWalk->dwValueLen,
                                                  (char *)pCD->rgbData, wRoom, '\0');
        nsfRetAPI(pContext, pszFunc, NOERROR);
        pCD->ucbData = wTextLen < pCD->ucbDataSize ? wTextLen : pCD->ucbDataSize;
        pCD->rgbData[pCD->ucbData] = 0;
        nsfLogf(pContext, NSF_LOG_DEBUG, pszFunc, "Text returned, wTextLen %u 0x%x", wTextLen, wTextLen);
        // The API keeps a byte for its terminator and stops before a character it cannot finish.
        if ((uint32_t)wTextLen + 4 < wRoom)
            return NSF_STATUS_OK;
        if (wRoom >= ucbMaxValueText) {
            nsfLogf(pContext, NSF_LOG_WARNING, pszFunc,
                    "Value text of %s fills the largest conversion buffer (size %u): its end is cut",
                    pWalk->pszName, (unsigned)wRoom);
            return NSF_STATUS_OK;
        }
        ucbNeeded = ucbMaxValueText;
    }
}

} // namespace

int nsfGetItemData(NSFCONTEXT *pContext, NOTEHANDLE hNote, const char *pszItemName, int32_t eData,
                   void *pvData)
{
    static const char szFunc[] = "nsfGetItemData()";
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "Getting item data, pszItemName %s, eData NSF_DATA_%s",
            pszItemName, nsfDataName(eData));
    int nStatus = nsfStartItemRead(pContext, eData, szFunc);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;

    bool bText = eData != NSF_DATA_CDR && eData != NSF_DATA_IMAGE && eData != NSF_DATA_TIMEDATE;
    bool bMIMEConverted = false;
    NSFITEMWALK walk;
    nsfBeginItemWalk(&walk, hNote, pszItemName);
    for (;;) {
        bool bFound = false;
        nStatus = nsfNextItem(pContext, szFunc, &walk, &bFound);
        if (nStatus != NSF_STATUS_OK)
            break;
        if (!bFound) {
            nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "No more items");
            break;
        }
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "pszItemName %s, cItems %d", pszItemName, walk.cItems - 1);
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "wValueDataType 0x%x (%s, %s)", walk.wType,
                nsfGetValueClassName(walk.wType), nsfGetItemTypeName(walk.wType));
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "dwValueLen %lu 0x%lx", (unsigned long)walk.dwValueLen,
                (unsigned long)walk.dwValueLen);
        pContext->BufferUTF8->ucbData = 0;
        pContext->BufferLMBCS->ucbData = 0;
        if (!nsfItemTypeFits(pContext, walk.wType, eData, szFunc))
            return NSF_STATUS_INTERNAL;

        if (walk.wType == TYPE_MIME_PART && !bMIMEConverted) {
            // The converted items replace the MIME ones: the walk starts again from the first.
            if ((nStatus = nsfConvertMIMEItems(pContext, &walk, szFunc)) != NSF_STATUS_OK)
                return nStatus;
            bMIMEConverted = true;
            nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Re-starting item conversion");
            pContext->BufferMain->ucbData = 0;
            pContext->BufferMain->rgbData[0] = 0;
            if (eData == NSF_DATA_CDR)
                pContext->BufferCDR->ucbData = 2;
            nsfBeginItemWalk(&walk, hNote, pszItemName);
            continue;
        }

        TIMEDATE tdRFC822;
        if (walk.wType == TYPE_COMPOSITE) {
            nStatus = nsfReadCompositeItem(pContext, &walk, eData, pvData, szFunc);
        } else if (walk.wType == TYPE_TIME || walk.wType == TYPE_OBJECT) {
            nStatus = nsfReadBlockItem(pContext, &walk, eData, pvData, szFunc);
        } else if (walk.wType == TYPE_RFC822_TEXT && nsfReadRFC822Date(pContext, &walk, &tdRFC822, szFunc)) {
            // A date header of an SMTP message reads as the time it holds, like a Notes memo's.
            nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "RFC822 date header: reading its TIMEDATE");
            nStatus = nsfConvertBlockValue(pContext, TYPE_TIME, (const uint8_t *)&tdRFC822, sizeof(tdRFC822),
                                           eData, pvData, walk.cItems - 1, szFunc);
        } else if (eData == NSF_DATA_TIMEDATE) {
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid wValueDataType %s for NSF_DATA_TIMEDATE",
                    nsfGetItemTypeName(walk.wType));
            return NSF_STATUS_INTERNAL;
        } else {
            nStatus = nsfReadOtherItem(pContext, &walk, szFunc);
        }
        if (nStatus != NSF_STATUS_OK)
            return nStatus;
        if (bText && (nStatus = nsfAppendText(pContext, szFunc)) != NSF_STATUS_OK)
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
