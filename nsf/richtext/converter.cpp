// The converter object: construction, the two walks over the records, the BEGIN/END blocks and
// the document frame.
#include "nsf/richtext/converter.h"

#include <string.h>

#include "nsf/base/context.h"
#include "nsf/diag/log.h"
#include "nsf/richtext/base64.h"

CLotusRTFont::CLotusRTFont(int32_t bMHT, uint8_t bFaceID, uint8_t bFamily, const uint8_t *pbName)
    : CLotusHTMLTag(bMHT), m_bFaceID(bFaceID), m_bFamily(bFamily)
{
    for (int i = 0; i < 32; i++)
        m_szName[i] = pbName[i] != 0 ? (char)pbName[i] : ' ';
    m_szName[32] = 0;
}

CLotusRTPar::CLotusRTPar(int32_t bMHT)
    : CLotusHTMLTag(bMHT), m_bLengthClass(0), m_wLength(0), m_wPABID(0), m_wJustifyMode(0), m_wLineSpacing(0),
      m_wSpacingBefore(0), m_wSpacingAfter(0), m_wLeftMargin(0), m_wRightMargin(0), m_wFirstLineLeftMargin(0),
      m_wTabs(0), m_wFlags(0), m_dwTabTypes(0), m_wFlags2(0), m_dwMoreFlags(0)
{
    memset(m_rgTabs, 0, sizeof(m_rgTabs));
}

bool CLotusRTPar::Read(CLotusRecordCursor &record)
{
    // Everything up to the second flags (offset 68) must be inside the record; the further flags
    // doubleword is read only when the record holds it.
    if (!record.Has(0, 70))
        return false;
    record.ByteAt(1, &m_bLengthClass);
    uint16_t *rgpw[] = {&m_wLength,     &m_wPABID,      &m_wJustifyMode,          &m_wLineSpacing, &m_wSpacingBefore,
                        &m_wSpacingAfter, &m_wLeftMargin, &m_wRightMargin, &m_wFirstLineLeftMargin, &m_wTabs};
    record.Seek(2);
    for (uint16_t *pw : rgpw)
        record.ReadWord(pw);
    for (int16_t &nTab : m_rgTabs) {
        uint16_t w = 0;
        record.ReadWord(&w);
        nTab = (int16_t)w;
    }
    record.ReadWord(&m_wFlags);
    record.ReadDWord(&m_dwTabTypes);
    record.ReadWord(&m_wFlags2);
    if ((m_wFlags2 & 0x8000) != 0)
        record.ReadDWord(&m_dwMoreFlags);
    return true;
}

CLotusBinaryStream::CLotusBinaryStream(QLHAPI *pHAPI, int32_t nType, const std::string &szName)
    : services(pHAPI), m_nType(nType), m_pbData(NULL), m_nSize(0), m_szName(szName), m_cbCapacity(0), m_bFailed(false)
{
}

CLotusBinaryStream::~CLotusBinaryStream()
{
    if (m_pbData != NULL)
        services->allocator.fpFree(&services->allocator, m_pbData);
}

void CLotusBinaryStream::Append(const uint8_t *pb, uint32_t n)
{
    // The block always keeps a spare byte after the data. It grows by at least half its size so
    // that a picture of many segments is not copied once per segment; the sizes saturate, and an
    // overflow asks for 0x80000000 bytes, which the allocator refuses.
    QLAllocator *pAllocator = &services->allocator;
    uint64_t ullNeeded = (uint64_t)(uint32_t)m_nSize + n + 1;
    if (m_bFailed)
        return;
    if (ullNeeded > m_cbCapacity) {
        uint64_t ullGrow = (uint64_t)m_cbCapacity + m_cbCapacity / 2;
        uint64_t ullSize = ullNeeded > ullGrow ? ullNeeded : ullGrow;
        if (ullSize > 0x7FFFFFFFu)
            ullSize = ullNeeded > 0x7FFFFFFFu ? 0x80000000u : 0x7FFFFFFFu;
        uint8_t *pbNew = (uint8_t *)pAllocator->fpRealloc(pAllocator, m_pbData, (uint32_t)ullSize);
        if (pbNew == NULL) {
            if (m_pbData != NULL)
                pAllocator->fpFree(pAllocator, m_pbData);
            m_pbData = NULL;
            m_cbCapacity = 0;
            m_bFailed = true;
            return;
        }
        m_pbData = pbNew;
        m_cbCapacity = (uint32_t)ullSize;
    }
    if (n != 0)
        memcpy(m_pbData + m_nSize, pb, n);
    m_nSize += (int32_t)n;
    m_pbData[m_nSize] = 0;
}

CLotusRTConverter::CLotusRTConverter(QLHAPI *pHAPI, const char *pszNoteID)
    : CLotusHTMLTag(0), services(pHAPI), m_dwFlags(0), m_bMHT(0), m_bLinkOpen(0),
      m_szNoteID(pszNoteID != NULL ? pszNoteID : ""), m_nTables(0), m_parState(0), m_nListState(0),
      m_dwHighlight(0), ShowAttachmentName(0), m_pContext(NULL), m_pfnImageCB(NULL), m_cShortRecords(0),
      m_cDeepTables(0), m_nSkippedTables(0), m_pDocLink(NULL), m_bDocLinkTried(false)
{
    memset(m_rgpFontByFace, 0, sizeof(m_rgpFontByFace));
    char szValue[9] = "";
    if (services != NULL && services->fpGetProfileString != NULL &&
        services->fpGetProfileString(services, "sorrel", "ShowAttachmentName", "", szValue, sizeof(szValue), 0) &&
        strcmp(szValue, "1") == 0)
        ShowAttachmentName = 1;
}

CLotusRTConverter::~CLotusRTConverter()
{
    for (CLotusRTPar *pPar : m_rgPars)
        delete pPar;
    for (CLotusRTFont *pFont : m_rgFonts)
        delete pFont;
    for (CLotusRTTable *pTable : m_rgTables)
        delete pTable;
    for (CLotusBinaryStream *pPicture : m_rgPictures)
        delete pPicture;
}

void CLotusRTConverter::ShortRecord(const NSFCDRECORD &rec)
{
    m_cShortRecords++;
    if (m_pContext != NULL && m_pContext->logLevel >= NSF_LOG_DEBUG)
        nsfLogf(m_pContext, NSF_LOG_DEBUG, "CLotusRTConverter::ConvertToMHT()",
                "[%08x] record 0x%x too short for its kind (length %u), skipped", rec.dwOffset, rec.wSignature,
                rec.cbRecord);
}

int CLotusRTConverter::ConvertToMHT(const uint8_t *pbRecords, uint32_t cbRecords, std::string &out)
{
    static const char szFunc[] = "CLotusRTConverter::ConvertToMHT()";
    m_bMHT = 1;
    SetMode(1);
    m_parState.SetMode(1);
    m_szOutput.clear();
    // The HTML is about as long as the records, a little longer for tags.
    m_szOutput.reserve(cbRecords + cbRecords / 4 + 256);

    FirstPass(pbRecords, cbRecords);
    SecondPass(pbRecords, cbRecords);
    ConvertBitmaps();

    CloseParagraph(m_szOutput);
    m_szOutput += "</BODY></HTML>\r\n";
    AppendPictureParts(m_szOutput);
    m_szOutput += LOTUS_MHT_DELIMITER "--";

    if (m_pContext != NULL && m_cShortRecords != 0)
        nsfLogf(m_pContext, NSF_LOG_WARNING, szFunc, "%u records too short for their kind gave no output",
                m_cShortRecords);
    if (m_pContext != NULL && m_cDeepTables != 0)
        nsfLogf(m_pContext, NSF_LOG_WARNING, szFunc, "%u tables nested deeper than %d written without table markup",
                m_cDeepTables, LOTUS_MAX_TABLE_DEPTH);
    out.swap(m_szOutput);
    m_szOutput.clear();
    return 0;
}

void CLotusRTConverter::FirstPass(const uint8_t *pbRecords, uint32_t cbRecords)
{
    NSFCDRECORD rec;
    for (uint32_t dwOffset = 0; nsfFrameCDRecord(pbRecords, cbRecords, dwOffset, &rec); dwOffset = rec.dwNext) {
        CLotusRecordCursor record = nsfRecordCursor(pbRecords, rec);
        if (rec.bKind == 0x8B) {
            ReadFontTable(record);
        } else if (rec.bKind == 0x82) {
            CLotusRTPar *pPar = new CLotusRTPar(m_bMHT);
            if (!pPar->Read(record)) {
                delete pPar;
                ShortRecord(rec);
                continue;
            }
            m_rgPars.push_back(pPar);
            m_mapPars.emplace(pPar->m_wPABID, pPar); // the first definition of an ID wins
        }
    }
}

void CLotusRTConverter::SecondPass(const uint8_t *pbRecords, uint32_t cbRecords)
{
    static const char szFunc[] = "CLotusRTConverter::ConvertToMHT()";
    // Block state: 0 outside a block; 1 the look-ahead walk from a BEGIN to its END; 2 walking the
    // block again from its BEGIN; 3 inside the block on the second walk.
    int nBlock = 0;
    uint32_t dwBlockStart = 0;
    bool bTextSeen = false, bBreakPending = false;
    NSFCDRECORD rec;
    uint32_t dwOffset = 0;
    for (;;) {
        if (!nsfFrameCDRecord(pbRecords, cbRecords, dwOffset, &rec)) {
            if (dwOffset < cbRecords && cbRecords - dwOffset >= 2 && m_pContext != NULL)
                nsfLogf(m_pContext, NSF_LOG_WARNING, szFunc,
                        "Invalid record at offset %u (of %u): conversion ends there", dwOffset, cbRecords);
            // A BEGIN without its END: the look-ahead walk ran to the end. Rather than drop the
            // rest of the document, walk it again as a block that ends with the stream.
            if (nBlock == 1) {
                nBlock = 2;
                dwOffset = dwBlockStart;
                continue;
            }
            break;
        }
        uint8_t bKind = rec.bKind;
        CLotusRecordCursor record = nsfRecordCursor(pbRecords, rec);
        if (bKind == 0xDD) {
            if (nBlock == 0) {
                nBlock = 1;
                dwBlockStart = rec.dwOffset;
            } else if (nBlock == 2) {
                nBlock = 3;
            }
        } else if (bKind == 0xDE) {
            if (nBlock == 1) {
                nBlock = 2;
                dwOffset = dwBlockStart;
                continue;
            }
            if (nBlock == 3)
                nBlock = 0;
        } else if (bKind == 0xD2 && nBlock != 3) {
            if (!Highlight(record))
                ShortRecord(rec);
        } else if (bKind == 0x78 || bKind == 0xF6) {
            if (!Resource(record, m_szOutput))
                ShortRecord(rec);
        }
        if (nBlock != 1) {
            if (bKind == 0x85) {
                bTextSeen = true;
                if (bBreakPending) {
                    m_szOutput += "<BR>";
                    bBreakPending = false;
                }
                if (m_nTables == 0 || !m_rgTables.back()->m_bSuppressText) {
                    if (!Text(record, m_szOutput))
                        ShortRecord(rec);
                }
            } else if (bKind == 0x83) {
                bTextSeen = false;
                bBreakPending = false;
                uint16_t wID;
                if (!record.WordAt(2, &wID)) {
                    ShortRecord(rec);
                } else if (m_nTables == 0 || !m_rgTables.back()->m_bSuppressText) {
                    auto it = m_mapPars.find(wID);
                    OpenParagraph(it != m_mapPars.end() ? it->second : NULL, m_szOutput);
                }
            } else if (bKind == 0x81) {
                if (bTextSeen)
                    bBreakPending = true;
            } else {
                DispatchRecord(pbRecords, cbRecords, rec);
            }
        }
        dwOffset = rec.dwNext;
    }
}

void CLotusRTConverter::DispatchRecord(const uint8_t *pbRecords, uint32_t cbRecords, const NSFCDRECORD &rec)
{
    CLotusRecordCursor record = nsfRecordCursor(pbRecords, rec);
    bool bDone = true;
    switch (rec.bKind) {
    case 0xC9:
        m_szOutput += "<HR>";
        break;
    case 0xAD:
    case 0xAE:
    case 0xA9:
        bDone = Hotspot(rec.bKind, record, m_szOutput);
        break;
    case 0x7D:
        bDone = ImageHeader(record, m_szOutput);
        break;
    case 0x7C:
        bDone = ImageSegment(record);
        break;
    case 0x95:
        bDone = BitmapHeader(record, m_szOutput);
        break;
    case 0x96:
    case 0x97:
    case 0x98:
        if (!m_rgPictures.empty())
            m_rgPictures.back()->Append(record.Data(), record.Size());
        break;
    case 0xFB:
    case 0xA3:
    case 0xA4:
    case 0xA5:
    case 0xD3:
    case 0xFC:
    case 0xCF:
    case 0xD0:
    case 0xD1:
        HandleTableRecord(pbRecords, cbRecords, rec);
        break;
    case 0xAC:
        bDone = Bar(record, m_szOutput);
        break;
    case 0x76:
        bDone = Caption(record, m_szOutput);
        break;
    case 0x91:
    case 0x92:
        DocLink(m_szOutput);
        break;
    case 0xAB:
        bDone = Button(record, m_szOutput);
        break;
    default:
        break;
    }
    if (!bDone)
        ShortRecord(rec);
}

void CLotusRTConverter::HandleTableRecord(const uint8_t *pbRecords, uint32_t cbRecords, const NSFCDRECORD &rec)
{
    uint8_t bKind = rec.bKind;
    CLotusRecordCursor record = nsfRecordCursor(pbRecords, rec);
    if (bKind == 0xFB) {
        // Past the depth limit no table is made; its end record then closes nothing.
        if (m_nTables >= LOTUS_MAX_TABLE_DEPTH || m_nSkippedTables > 0) {
            m_cDeepTables++;
            m_nSkippedTables++;
            return;
        }
        CLotusRTTable *pTable = new CLotusRTTable(m_bMHT);
        if (!pTable->ReadPreTable(record)) {
            delete pTable;
            ShortRecord(rec);
            return;
        }
        m_rgTables.push_back(pTable);
        m_nTables++;
        return;
    }
    if (m_nSkippedTables > 0) {
        // A record of a table that was not made gives nothing; its end record closes nothing.
        if (bKind == 0xA5 || bKind == 0xD1)
            m_nSkippedTables--;
        return;
    }
    CLotusRTTable *pTable = m_nTables > 0 ? m_rgTables.back() : NULL;
    if ((bKind == 0xA3 || bKind == 0xCF) && pTable != NULL && !pTable->m_bSpansRead) {
        // The look-ahead runs once per table, at its first begin record: a further begin record
        // without a pre-table of its own would otherwise walk the rest of the stream again each
        // time and make a hostile stream cost quadratic time.
        pTable->m_bSpansRead = true;
        pTable->SpanLookAhead(pbRecords, cbRecords, rec.dwOffset);
    }
    if (bKind == 0xA4 && pTable != NULL) {
        // The cell colour look-ahead: the cell's colour record, if any, comes before the next
        // cell or the table's end.
        NSFCDRECORD next;
        for (uint32_t dwOffset = rec.dwNext; nsfFrameCDRecord(pbRecords, cbRecords, dwOffset, &next);
             dwOffset = next.dwNext) {
            if (next.bKind == 0xA4 || next.bKind == 0xA5)
                break;
            if (next.bKind == 0xD3) {
                CLotusRecordCursor colour = nsfRecordCursor(pbRecords, next);
                std::string szIgnored;
                pTable->HandleRecord(0xD3, colour, szIgnored);
                break;
            }
        }
    }
    CloseParagraph(m_szOutput);
    if (pTable != NULL)
        pTable->HandleRecord(bKind, record, m_szOutput);
    if ((bKind == 0xA5 || bKind == 0xD1) && pTable != NULL) {
        delete pTable;
        m_rgTables.pop_back();
        m_nTables--;
    }
}
