// The converter front: from BufferCDR to the MHT text in BufferMHT, the preparation of composite
// data for the templates, the picture callback and the record dumps.
#include "nsf/richtext/richtext.h"

#include <new>
#include <stdio.h>
#include <string.h>

#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/catalogue/images.h"
#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include "nsf/items/convert.h"
#include "nsf/items/itemdata.h"
#include "nsf/richtext/cdrecord.h"
#include "nsf/richtext/converter.h"
#include <notes/notes.h>

namespace {

uint16_t nsfWordAt(const uint8_t *pb)
{
    return (uint16_t)(pb[0] | (pb[1] << 8));
}

// The picture callback handed to the converter: the shared picture's CDIMAGETYPE becomes the
// picture store's type. GIF, JPEG and BMP keep their codes; PNG (4) becomes the store's PNG so that
// its part says what it holds; anything else has no type.
int nsfConverterImageCB(NSFCONTEXT *pContext, const char *pszLinkName, uint8_t **ppData, int32_t *pnImageSize,
                        int32_t *pnPictureType)
{
    int32_t nStreamType = 0;
    int nStatus = nsfGetMHTImageCB(pContext, pszLinkName, ppData, pnImageSize, &nStreamType);
    if (nStreamType >= 1 && nStreamType <= 3)
        *pnPictureType = nStreamType;
    else if (nStreamType == 4)
        *pnPictureType = LOTUS_PICTURE_PNG;
    else
        *pnPictureType = LOTUS_PICTURE_NONE;
    return nStatus;
}

// Logs the type word of BufferCDR as the dumps do.
void nsfLogCDRType(NSFCONTEXT *pContext, int nLevel, const char *pszFunc, const char *pszFormat, WORD wType)
{
    nsfLogf(pContext, nLevel, pszFunc, pszFormat, wType, nsfGetValueClassName(wType), nsfGetItemTypeName(wType));
}

} // namespace

int LotusRTConvertToMHT(NSFCONTEXT *pContext, QLHAPI *pHAPI, const char *pszNoteID, uint32_t dwFlags,
                        const uint8_t *pbCD, uint32_t cbCD, char *pszOut, uint32_t cbOutCapacity, uint32_t *pcbOut)
{
    if (pHAPI == NULL || pszNoteID == NULL || pbCD == NULL || pszOut == NULL || pcbOut == NULL)
        return NSF_STATUS_BAD_ARGUMENT;
    *pcbOut = 0;
    if (cbCD < 2)
        cbCD = 2;
    int nStatus;
    std::string szOut;
    try {
        CLotusRTConverter converter(pHAPI, pszNoteID);
        converter.m_pContext = pContext;
        converter.m_pfnImageCB = pContext != NULL ? nsfConverterImageCB : NULL;
        converter.SetFlags(dwFlags);
        nStatus = converter.ConvertToMHT(pbCD + 2, cbCD - 2, szOut);
    } catch (const std::bad_alloc &) {
        if (pContext != NULL)
            nsfLog(pContext, NSF_LOG_ERROR, "LotusRTConvertToMHT()", "Out of memory converting the composite data");
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    if (nStatus != 0)
        return nStatus;
    // The output block needs room for the text and its terminator; when it has too little the
    // size still tells the caller how much the text needs.
    if (szOut.size() > 0x7FFFFFFEu) {
        *pcbOut = 0;
        return NSF_STATUS_INTERNAL;
    }
    *pcbOut = (uint32_t)szOut.size();
    if (szOut.empty() || szOut.size() >= cbOutCapacity)
        return NSF_STATUS_INTERNAL;
    memcpy(pszOut, szOut.data(), szOut.size());
    pszOut[szOut.size()] = 0;
    return NSF_STATUS_OK;
}

int nsfDumpBufferCDR(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfDumpBufferCDR()";
    if (pContext->logLevel < NSF_LOG_DEBUG)
        return NSF_STATUS_OK;
    NSFBUFFER *pCDR = pContext->BufferCDR;
    nsfLog(pContext, NSF_LOG_DEBUG, NULL, "");
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "BufferCDR.ucbData %u 0x%x", pCDR->ucbData, pCDR->ucbData);
    if (pCDR->ucbData < 2 || pCDR->rgbData == NULL)
        return NSF_STATUS_OK;
    nsfLogCDRType(pContext, NSF_LOG_DEBUG, szFunc, "CDR wDataType 0x%x (%s, %s)", nsfWordAt(pCDR->rgbData));
    const uint8_t *pbRecords = pCDR->rgbData + 2;
    uint32_t cbRecords = pCDR->ucbData - 2;
    NSFCDRECORD rec;
    for (uint32_t dwOffset = 0; dwOffset < cbRecords; dwOffset = rec.dwNext) {
        if (!nsfFrameCDRecord(pbRecords, cbRecords, dwOffset, &rec) || rec.cbRecord < 2) {
            uint32_t cbRecord = cbRecords - dwOffset >= 2 ? nsfWordAt(pbRecords + dwOffset) >> 8 : 0;
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid ucbRecord %u 0x%x", cbRecord, cbRecord);
            return NSF_STATUS_INTERNAL;
        }
        nsfDumpRecordCDR(pContext, dwOffset, rec.wSignature, pbRecords + dwOffset, rec.cbRecord);
    }
    return NSF_STATUS_OK;
}

void nsfDumpRecordCDR(NSFCONTEXT *pContext, uint32_t dwOffset, uint16_t wSignature, const uint8_t *pbRecord,
                      uint32_t cbRecord)
{
    static const char szFunc[] = "nsfDumpRecordCDR()";
    if (pContext->logLevel < NSF_LOG_DEBUG)
        return;
    nsfLog(pContext, NSF_LOG_DEBUG, NULL, "");
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "[%08x] wSignature %u 0x%x (%s)", dwOffset, wSignature, wSignature,
            nsfGetSigName(wSignature));
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "ucbRecord %u 0x%x, pbRecord...", cbRecord, cbRecord);
    nsfLogDump(pContext, NSF_LOG_DUMP, pbRecord, cbRecord);
}

int nsfConvertCDRtoMHT(NSFCONTEXT *pContext, NOTEHANDLE hNote)
{
    static const char szFunc[] = "nsfConvertCDRtoMHT()";
    NSFBUFFER *pCDR = pContext->BufferCDR;
    NSFBUFFER *pMHT = pContext->BufferMHT;
    NSFBUFFER *pLMBCS = pContext->BufferLMBCS;
    int nStatus;

    nsfLog(pContext, NSF_LOG_DEBUG, NULL, "");
    nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Initial CDR buffer...");
    nsfDumpBufferCDR(pContext);
    pMHT->ucbData = 0;

    WORD wType = pCDR->ucbData >= 2 && pCDR->rgbData != NULL ? nsfWordAt(pCDR->rgbData) : 256;
    pLMBCS->ucbData = 0;
    if (pCDR->ucbData >= 3 && wType != TYPE_COMPOSITE && wType != TYPE_TEXT) {
        nsfLogCDRType(pContext, NSF_LOG_ERROR, szFunc, "Invalid data type (0x%x %s, %s)", wType);
        return NSF_STATUS_INTERNAL;
    }

    if (wType == TYPE_TEXT) {
        // Text followed by composite records: the text runs up to the first paragraph definition.
        uint32_t dwStart = 2;
        while (dwStart + 1 < pCDR->ucbData && !(pCDR->rgbData[dwStart] == 0x82 && pCDR->rgbData[dwStart + 1] == 0xFF))
            dwStart++;
        if (dwStart + 1 >= pCDR->ucbData)
            dwStart = pCDR->ucbData;
        uint32_t cbText = dwStart - 2;
        if (cbText != 0) {
            if ((nStatus = nsfCheckBuffer(pContext, pLMBCS, cbText)) != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
                return nStatus;
            }
            memcpy(pLMBCS->rgbData, pCDR->rgbData + 2, cbText);
            pLMBCS->ucbData = cbText;
            pLMBCS->rgbData[cbText] = 0;
            nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferLMBCS.ucbData %u 0x%x, rgbData...", cbText, cbText);
            nsfLogDump(pContext, NSF_LOG_DUMP, pLMBCS->rgbData, cbText);
        }
        uint32_t cbRest = pCDR->ucbData - dwStart;
        pCDR->rgbData[0] = (uint8_t)(TYPE_COMPOSITE & 0xFF);
        pCDR->rgbData[1] = (uint8_t)(TYPE_COMPOSITE >> 8);
        memmove(pCDR->rgbData + 2, pCDR->rgbData + dwStart, cbRest);
        pCDR->ucbData = 2 + cbRest;
        pCDR->rgbData[pCDR->ucbData] = 0;
        nsfLog(pContext, NSF_LOG_DEBUG, NULL, "");
        nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Final CDR buffer...");
        nsfDumpBufferCDR(pContext);
    }

    NOTEID noteID = 0;
    nsfCallAPI(pContext, szFunc, "NSFNoteGetInfo()");
    NSFNoteGetInfo(hNote, _NOTE_ID, &noteID);
    nsfRetAPI(pContext, szFunc, NOERROR);
    char szNoteID[16];
    snprintf(szNoteID, sizeof(szNoteID), "%lX", (unsigned long)noteID);
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "szNoteID %s", szNoteID);

    if ((nStatus = nsfCheckBuffer(pContext, pMHT, nsfSatMul(pCDR->ucbData, 2))) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    // An empty BufferCDR converts as composite data without records.
    static const uint8_t rgbEmpty[2] = {(uint8_t)(TYPE_COMPOSITE & 0xFF), (uint8_t)(TYPE_COMPOSITE >> 8)};
    const uint8_t *pbCD = pCDR->ucbData >= 2 ? pCDR->rgbData : rgbEmpty;
    uint32_t cbCD = pCDR->ucbData >= 2 ? pCDR->ucbData : 2;
    uint32_t cbOut = 0;
    nStatus = LotusRTConvertToMHT(pContext, pContext->services, szNoteID, pContext->dwFlags, pbCD, cbCD,
                                  (char *)pMHT->rgbData, pMHT->ucbDataSize, &cbOut);
    if (nStatus != NSF_STATUS_OK && cbOut != 0) {
        // Too little room: grow to what the text needs, with its terminator, and convert again.
        int nGrow = nsfCheckBuffer(pContext, pMHT, nsfSatAdd(cbOut, 1));
        if (nGrow != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
            return nGrow;
        }
        nStatus = LotusRTConvertToMHT(pContext, pContext->services, szNoteID, pContext->dwFlags, pbCD, cbCD,
                                      (char *)pMHT->rgbData, pMHT->ucbDataSize, &cbOut);
    }
    if (nStatus != NSF_STATUS_OK) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error converting CD to MHT (error %d, size %u)", nStatus, cbOut);
        nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "Invalid BufferCDR.ucbData %u 0x%x, rgbData...", pCDR->ucbData,
                pCDR->ucbData);
        nsfLogDump(pContext, NSF_LOG_DUMP, pCDR->rgbData, pCDR->ucbData);
        return nStatus;
    }
    pMHT->ucbData = cbOut;
    pMHT->rgbData[cbOut] = 0;
    pCDR->ucbData = 0;

    if (pLMBCS->ucbData != 0) {
        if ((nStatus = nsfConvertLMBCStoUTF8(pContext)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertLMBCStoUTF8() failed");
            return nStatus;
        }
        if ((nStatus = nsfConvertUTF8toHTML(pContext)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertUTF8toHTML() failed");
            return nStatus;
        }
        NSFBUFFER *pHTML = pContext->BufferHTML;
        if ((nStatus = nsfCheckBuffer(pContext, pHTML, 2)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
        memcpy(pHTML->rgbData + pHTML->ucbData, "\r\n", 2);
        pHTML->ucbData += 2;
        if ((nStatus = nsfCheckBuffer(pContext, pMHT, pHTML->ucbData)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
            return nStatus;
        }
        uint8_t *pbEnd = NULL;
        for (uint8_t *pb = pMHT->rgbData; pb + 7 <= pMHT->rgbData + pMHT->ucbData; pb++) {
            pb = (uint8_t *)memchr(pb, '<', pMHT->rgbData + pMHT->ucbData - pb);
            if (pb == NULL)
                break;
            if (pb + 7 <= pMHT->rgbData + pMHT->ucbData && pb[1] == '/' && strncasecmp((char *)pb, "</BODY>", 7) == 0) {
                pbEnd = pb;
                break;
            }
        }
        if (pbEnd == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error finding end of MHT body");
            nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "Invalid BufferMHT.ucbData %u 0x%x, rgbData...", pMHT->ucbData,
                    pMHT->ucbData);
            nsfLogDump(pContext, NSF_LOG_DUMP, pMHT->rgbData, pMHT->ucbData);
            return NSF_STATUS_INTERNAL;
        }
        uint32_t dwAt = (uint32_t)(pbEnd - pMHT->rgbData);
        memmove(pMHT->rgbData + dwAt + pHTML->ucbData, pMHT->rgbData + dwAt, pMHT->ucbData - dwAt);
        memcpy(pMHT->rgbData + dwAt, pHTML->rgbData, pHTML->ucbData);
        pMHT->ucbData += pHTML->ucbData;
        pMHT->rgbData[pMHT->ucbData] = 0;
    }

    if (pContext->logLevel >= NSF_LOG_DUMP) {
        nsfLog(pContext, NSF_LOG_DUMP, NULL, "");
        nsfLog(pContext, NSF_LOG_DUMP, szFunc, "Final MHT buffer...");
        nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferMHT.ucbData %u 0x%x, (char *)rgbData...", pMHT->ucbData,
                pMHT->ucbData);
        nsfLog(pContext, NSF_LOG_DUMP, NULL, (const char *)pMHT->rgbData);
        nsfLog(pContext, NSF_LOG_DUMP, NULL, "");
    }
    return NSF_STATUS_OK;
}

int nsfConvertCDRforXML(NSFCONTEXT *pContext, NOTEHANDLE hNote)
{
    static const char szFunc[] = "nsfConvertCDRforXML()";
    NSFBUFFER *pCDR = pContext->BufferCDR;
    NSFBUFFER *pCDR2 = pContext->BufferCDR2;
    int nStatus;

    nsfLog(pContext, NSF_LOG_DEBUG, NULL, "");
    nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Initial CDR buffer...");
    nsfDumpBufferCDR(pContext);
    pCDR2->ucbData = 0;
    if ((nStatus = nsfCheckBuffer(pContext, pCDR2, pCDR->ucbData)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed (CDR2)");
        return nStatus;
    }
    if (pCDR->ucbData < 2 || pCDR->rgbData == NULL)
        return NSF_STATUS_OK;
    memcpy(pCDR2->rgbData, pCDR->rgbData, 2);
    pCDR2->ucbData = 2;
    pCDR2->rgbData[2] = 0;

    const uint8_t *pbRecords = pCDR->rgbData + 2;
    uint32_t cbRecords = pCDR->ucbData - 2;
    const uint8_t *pbText = NULL;
    NSFCDRECORD rec;
    for (uint32_t dwOffset = 0; dwOffset < cbRecords; dwOffset = rec.dwNext) {
        uint16_t wSignature = cbRecords - dwOffset >= 2 ? nsfWordAt(pbRecords + dwOffset) : 0;
        nsfLog(pContext, NSF_LOG_DEBUG, NULL, "");
        nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "[%08x] wSignature %u 0x%x (%s)", dwOffset, wSignature, wSignature,
                nsfGetSigName(wSignature));
        if (!nsfFrameCDRecord(pbRecords, cbRecords, dwOffset, &rec) || rec.cbRecord < 2) {
            uint32_t cbRecord = cbRecords - dwOffset;
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid ucbRecord %u 0x%x, pbRecord...", cbRecord, cbRecord);
            nsfLogDump(pContext, NSF_LOG_WARNING, pbRecords + dwOffset, cbRecord);
            return NSF_STATUS_INTERNAL;
        }
        const uint8_t *pbRecord = pbRecords + dwOffset;
        nsfDumpRecordCDR(pContext, dwOffset, rec.wSignature, pbRecord, rec.cbRecord);

        char *pszField = NULL;
        uint32_t cbField = 0;
        uint8_t rgbTimeFormat[4] = {0, 0, 0, 0};
        CLotusRecordCursor record(pbRecord, rec.cbRecord);
        if (rec.wSignature == SIG_CD_TEXT) {
            pbText = pbRecord + 8;
            nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "ucbText %u 0x%x, pbText...",
                    rec.cbRecord > 8 ? rec.cbRecord - 8 : 0, rec.cbRecord > 8 ? rec.cbRecord - 8 : 0);
            if (rec.cbRecord > 8)
                nsfLogDump(pContext, NSF_LOG_DEBUG, pbRecord + 8, rec.cbRecord - 8);
        } else if (rec.wSignature == SIG_CD_FIELD) {
            // The name follows the fixed part and the three formulas; it must lie inside the record.
            uint16_t wDV = 0, wIT = 0, wIV = 0, wName = 0;
            const uint8_t *pbTime = NULL;
            uint64_t ullName = 0;
            bool bValid = record.WordAt(22, &wDV) && record.WordAt(24, &wIT) && record.WordAt(28, &wIV) &&
                          record.WordAt(30, &wName) && record.Seek(14) && record.ReadBytes(4, &pbTime);
            if (bValid) {
                ullName = 36ull + wDV + wIT + wIV;
                bValid = wName != 0 && record.Has((uint32_t)ullName, wName);
            }
            if (!bValid) {
                nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid ucbField %u 0x%x", wName, wName);
                pCDR2->ucbData = 0;
                return NSF_STATUS_OK;
            }
            memcpy(rgbTimeFormat, pbTime, 4);
            pszField = (char *)pbRecord + ullName;
            cbField = wName;
            nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "ucbField %u 0x%x, pbField...", cbField, cbField);
            nsfLogDump(pContext, NSF_LOG_DEBUG, pszField, cbField);
        }

        uint32_t dwCopyAt = pCDR2->ucbData;
        if ((nStatus = nsfCheckBuffer(pContext, pCDR2, nsfSatAdd(rec.cbRecord, 1))) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed (CDR2");
            return nStatus;
        }
        memcpy(pCDR2->rgbData + pCDR2->ucbData, pbRecord, rec.cbRecord);
        pCDR2->ucbData += rec.cbRecord;
        if (rec.cbRecord & 1)
            pCDR2->rgbData[pCDR2->ucbData++] = 0;
        pCDR2->rgbData[pCDR2->ucbData] = 0;

        if (pszField != NULL && pbText != NULL) {
            // The name is terminated in the copy, so BufferCDR stays as it was read.
            char szField[256];
            uint32_t cbCopy = cbField < sizeof(szField) - 1 ? cbField : (uint32_t)sizeof(szField) - 1;
            memcpy(szField, pCDR2->rgbData + dwCopyAt + (pszField - (const char *)pbRecord), cbCopy);
            szField[cbCopy] = 0;
            if ((nStatus = nsfConvertFieldCDRforXML(pContext, hNote, szField, rgbTimeFormat)) != NSF_STATUS_OK) {
                nsfLog(pContext, NSF_LOG_DIAG, szFunc, "nsfConvertFieldCDRforXML() failed");
                return nStatus;
            }
            pbText = NULL;
        }
    }

    pCDR->ucbData = 0;
    if ((nStatus = nsfCheckBuffer(pContext, pCDR, pCDR2->ucbData)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed (CDR)");
        return nStatus;
    }
    memcpy(pCDR->rgbData, pCDR2->rgbData, pCDR2->ucbData);
    pCDR->ucbData = pCDR2->ucbData;
    pCDR->rgbData[pCDR->ucbData] = 0;
    nsfLog(pContext, NSF_LOG_DEBUG, NULL, "");
    nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Final CDR buffer...");
    nsfDumpBufferCDR(pContext);
    return NSF_STATUS_OK;
}

int nsfConvertFieldCDRforXML(NSFCONTEXT *pContext, NOTEHANDLE hNote, const char *pszField, void *pvTimeFormat)
{
    static const char szFunc[] = "nsfConvertFieldCDRforXML()";
    int nStatus;
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "pszField %s", pszField);
    if ((nStatus = nsfGetItemData(pContext, hNote, pszField, NSF_DATA_TEXT, pvTimeFormat)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "nsfGetItemData() failed");
        return nStatus;
    }
    NSFBUFFER *pMain = pContext->BufferMain;
    if (pMain->ucbData == 0)
        return NSF_STATUS_OK;
    NSFBUFFER *pUTF8 = pContext->BufferUTF8;
    pUTF8->ucbData = 0;
    if ((nStatus = nsfCheckBuffer(pContext, pUTF8, pMain->ucbData)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed (UTF8)");
        return nStatus;
    }
    memcpy(pUTF8->rgbData, pMain->rgbData, pMain->ucbData);
    pUTF8->ucbData = pMain->ucbData;
    pUTF8->rgbData[pUTF8->ucbData] = 0;
    if ((nStatus = nsfConvertUTF8toHTML(pContext)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfConvertUTF8toHTML() failed");
        return nStatus;
    }
    NSFBUFFER *pHTML = pContext->BufferHTML;
    if (pHTML->ucbData == 0)
        return NSF_STATUS_OK;
    // A text record's length is a word: a longer value is cut at a character boundary below it.
    uint32_t cbHTML = pHTML->ucbData;
    if (cbHTML > 0xFFFF - 8) {
        cbHTML = 0xFFFF - 8;
        while (cbHTML > 0 && (pHTML->rgbData[cbHTML] & 0xC0) == 0x80)
            cbHTML--;
        nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Field value of %u bytes cut to %u", pHTML->ucbData, cbHTML);
    }
    NSFBUFFER *pCDR2 = pContext->BufferCDR2;
    uint32_t cbRecord = 8 + cbHTML;
    if ((nStatus = nsfCheckBuffer(pContext, pCDR2, cbRecord + 1)) != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed (CDR2)");
        return nStatus;
    }
    uint8_t *pb = pCDR2->rgbData + pCDR2->ucbData;
    pb[0] = (uint8_t)(SIG_CD_TEXT & 0xFF);
    pb[1] = (uint8_t)(SIG_CD_TEXT >> 8);
    pb[2] = (uint8_t)(cbRecord & 0xFF);
    pb[3] = (uint8_t)(cbRecord >> 8);
    memset(pb + 4, 0, 4);
    memcpy(pb + 8, pHTML->rgbData, cbHTML);
    nsfLog(pContext, NSF_LOG_DEBUG, szFunc, "Inserting fake SIG_CD_TEXT record for field data...");
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "ucbCDText %u 0x%x, pbCDText...", cbRecord, cbRecord);
    nsfLogDump(pContext, NSF_LOG_DEBUG, pb, cbRecord);
    pCDR2->ucbData += cbRecord;
    if (cbRecord & 1)
        pCDR2->rgbData[pCDR2->ucbData++] = 0;
    pCDR2->rgbData[pCDR2->ucbData] = 0;
    return NSF_STATUS_OK;
}

int nsfGetMHTImageCB(NSFCONTEXT *pContext, const char *pszLinkName, uint8_t **ppData, int32_t *pnImageSize,
                     int32_t *pnStreamType)
{
    static const char szFunc[] = "nsfGetMHTImageCB()";
    if (pContext == NULL || pszLinkName == NULL || ppData == NULL || pnImageSize == NULL || pnStreamType == NULL)
        return NSF_STATUS_BAD_ARGUMENT;
    *ppData = NULL;
    *pnImageSize = 0;
    *pnStreamType = 0;
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "pszLinkName %s", pszLinkName);
    NSFIMAGE *pImage = nsfFindImage(pContext, pszLinkName, NULL);
    if (pImage == NULL) {
        nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "nsfFindImage() failed, pszLinkName %s", pszLinkName);
        return NSF_STATUS_INTERNAL;
    }
    if (pImage->pBuffer == NULL) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "No image data");
        return NSF_STATUS_INTERNAL;
    }
    if (pImage->pBuffer->rgbData == NULL) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "Empty image data");
        return NSF_STATUS_INTERNAL;
    }
    uint32_t cbBlock = pImage->pBuffer->ucbDataSize;
    uint8_t *pb = (uint8_t *)nsfAlloc(pContext, cbBlock != 0 ? cbBlock : 1);
    if (pb == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating image buffer (size %u)", cbBlock);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    memcpy(pb, pImage->pBuffer->rgbData, cbBlock);
    *ppData = pb;
    *pnImageSize = (int32_t)pImage->pBuffer->ucbData;
    *pnStreamType = pImage->wImageType;
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "*pnImageSize %d, *pnStreamType %d", *pnImageSize, *pnStreamType);
    return NSF_STATUS_OK;
}
