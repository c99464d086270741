// The composite-data converter: turns a stream of CD records into the HTML body and the picture
// parts of an MHT message. Used by the converter front (richtext.cpp); tests drive it directly.
#pragma once

#include <stdint.h>

#include <string>
#include <unordered_map>
#include <vector>

#include <quillon/quillon.h>

#include "nsf/richtext/cdrecord.h"

struct NSFCONTEXT;

// Picture types of the picture store; the code decides a picture's extension and MIME type.
enum {
    LOTUS_PICTURE_NONE = 0,
    LOTUS_PICTURE_GIF = 1,
    LOTUS_PICTURE_JPEG = 2,
    LOTUS_PICTURE_BMP = 3,
    LOTUS_PICTURE_JFIF = 4,
    LOTUS_PICTURE_PNG = 5,
    LOTUS_PICTURE_OTHER_BMP = 6,
    LOTUS_PICTURE_NOTES_BITMAP = 7
};

// The delimiter line of every MHT message the reader writes.
#define LOTUS_MHT_DELIMITER "------=_NextPart_000_0004_01CB58DD.164505B0"

// Open tables deeper than this are not made: their records give no table markup, their text is
// still written. Keeps hostile nesting from costing memory and time without bound.
#define LOTUS_MAX_TABLE_DEPTH 32

// Fetches a shared picture by its link name: a copy of its bytes from the host allocator (the
// converter frees it), its size and its picture type. Returns a reader status.
typedef int (*LOTUSIMAGECB)(NSFCONTEXT *pContext, const char *pszLinkName, uint8_t **ppData, int32_t *pnImageSize,
                            int32_t *pnPictureType);

// The 240 colours that a colour index of a font ID or a table cell names, as "#RRGGBB".
extern const char *const rgszLotusColors[240];

// The base of the converter and its tag classes: the escape pair written after every "=" of an
// attribute and at the end of a line.
class CLotusHTMLTag {
public:
    explicit CLotusHTMLTag(int32_t bMHT) { SetMode(bMHT); }
    virtual ~CLotusHTMLTag() {}
    void SetMode(int32_t bMHT)
    {
        m_pszEq = bMHT ? "3D" : "";
        m_pszNL = bMHT ? "\r\n" : "\n";
    }

    const char *m_pszEq;
    const char *m_pszNL;
};

// One face of the font table.
class CLotusRTFont : public CLotusHTMLTag {
public:
    CLotusRTFont(int32_t bMHT, uint8_t bFaceID, uint8_t bFamily, const uint8_t *pbName);

    uint8_t m_bFaceID;
    uint8_t m_bFamily;
    char m_szName[33]; // exactly 32 characters, NULs made spaces
};

// One paragraph definition.
class CLotusRTPar : public CLotusHTMLTag {
public:
    explicit CLotusRTPar(int32_t bMHT);
    // Fills the definition from a SIG_CD_PABDEFINITION record; false when the record is too short
    // for the fields the conversion uses (up to the second flags at offset 68).
    bool Read(CLotusRecordCursor &record);

    uint8_t m_bLengthClass;
    uint16_t m_wLength, m_wPABID, m_wJustifyMode, m_wLineSpacing, m_wSpacingBefore, m_wSpacingAfter;
    uint16_t m_wLeftMargin, m_wRightMargin, m_wFirstLineLeftMargin, m_wTabs;
    int16_t m_rgTabs[20];
    uint16_t m_wFlags;
    uint32_t m_dwTabTypes;
    uint16_t m_wFlags2;
    uint32_t m_dwMoreFlags;
};

// One open table, from its pre-table record to its end record.
class CLotusRTTable : public CLotusHTMLTag {
public:
    explicit CLotusRTTable(int32_t bMHT);

    // Fills the kept values from a SIG_CD_PRETABLEBEGIN record; false when the record is too
    // short for them (they end at offset 36).
    bool ReadPreTable(CLotusRecordCursor &record);
    // Records the cells of this table (depth 1 from the begin record at dwBegin) and the cells
    // that spanning cells cover.
    void SpanLookAhead(const uint8_t *pbStream, uint32_t cbStream, uint32_t dwBegin);
    // The markup of one table record, appended to out.
    void HandleRecord(uint8_t bKind, CLotusRecordCursor &record, std::string &out);
    bool IsCovered(uint8_t bRow, uint8_t bColumn) const;

    uint32_t m_dwPreFlags;
    uint8_t m_bPreRows, m_bPreColumns;
    int32_t m_nRow, m_nColumn;
    uint32_t m_dwPreValue32;
    uint32_t m_dwStyleColor1, m_dwStyleColor2;
    uint32_t m_dwBorderColor;
    uint32_t m_dwBorderStyle;
    uint16_t m_wBorderTop, m_wBorderLeft, m_wBorderBottom, m_wBorderRight;
    uint32_t m_dwCellColor, m_dwCellGradient;
    int32_t m_nWidth;
    int32_t m_bSuppressText;
    bool m_bSpansRead; // the look-ahead ran (it runs once per table)

private:
    void HandleCell(CLotusRecordCursor &record, std::string &out);
    // The span list: one bit per (row, column) that has an entry, and one per entry marked covered.
    // Row and column are bytes, so the list has at most 65536 distinct cells.
    std::vector<uint8_t> m_rgbHasEntry, m_rgbCovered;
};

// One picture of the output.
class CLotusBinaryStream {
public:
    CLotusBinaryStream(QLHAPI *pHAPI, int32_t nType, const std::string &szName);
    virtual ~CLotusBinaryStream();
    // Appends n bytes; a failed allocation frees the data and leaves it null.
    void Append(const uint8_t *pb, uint32_t n);

    QLHAPI *services;
    int32_t m_nType;
    uint8_t *m_pbData;
    int32_t m_nSize;
    std::string m_szName;
    std::string m_szSource; // the shared picture's link name, or "" for inline pictures

private:
    uint32_t m_cbCapacity;
    bool m_bFailed; // an allocation failed: the picture stays without data
};

class CLotusRTConverter : public CLotusHTMLTag {
public:
    CLotusRTConverter(QLHAPI *pHAPI, const char *pszNoteID);
    ~CLotusRTConverter() override;
    void SetFlags(uint32_t dwFlags) { m_dwFlags = dwFlags; }
    // Converts the records (no type word) into out: the HTML body, "</BODY></HTML>", the picture
    // parts and the closing delimiter. Always 0.
    int ConvertToMHT(const uint8_t *pbRecords, uint32_t cbRecords, std::string &out);

    QLHAPI *services;
    uint32_t m_dwFlags;
    int32_t m_bMHT;
    int32_t m_bLinkOpen;
    std::string m_szNoteID;
    std::string m_szOutput;
    std::vector<CLotusRTPar *> m_rgPars;
    std::vector<CLotusRTFont *> m_rgFonts;
    std::vector<CLotusRTTable *> m_rgTables;
    int32_t m_nTables;
    CLotusHTMLTag m_parState;
    int32_t m_nListState;
    std::vector<CLotusBinaryStream *> m_rgPictures;
    uint32_t m_dwHighlight;
    int32_t ShowAttachmentName;
    NSFCONTEXT *m_pContext;
    LOTUSIMAGECB m_pfnImageCB;

    // Counters for the log: records a handler found too short, tables past the depth limit.
    uint32_t m_cShortRecords;
    uint32_t m_cDeepTables;
    int32_t m_nSkippedTables; // open tables past the depth limit, which were not made

private:
    void FirstPass(const uint8_t *pbRecords, uint32_t cbRecords);
    void SecondPass(const uint8_t *pbRecords, uint32_t cbRecords);
    void DispatchRecord(const uint8_t *pbRecords, uint32_t cbRecords, const NSFCDRECORD &rec);
    void HandleTableRecord(const uint8_t *pbRecords, uint32_t cbRecords, const NSFCDRECORD &rec);
    void ShortRecord(const NSFCDRECORD &rec);

    // Handlers (richtext handlers file).
    void ReadFontTable(CLotusRecordCursor &record);
    bool Text(CLotusRecordCursor &record, std::string &out);
    void OpenParagraph(const CLotusRTPar *pPar, std::string &out);
    void CloseParagraph(std::string &out);
    bool Hotspot(uint8_t bKind, CLotusRecordCursor &record, std::string &out);
    bool Button(CLotusRecordCursor &record, std::string &out);
    bool Caption(CLotusRecordCursor &record, std::string &out);
    bool Bar(CLotusRecordCursor &record, std::string &out);
    bool Highlight(CLotusRecordCursor &record);
    void FontFace(uint8_t bFace, std::string &out);
    void AppendConverted(const uint8_t *pb, uint32_t cb, bool bTextRun, std::string &out);

    // Pictures (richtext pictures file).
    CLotusBinaryStream *NewPicture(int32_t nType);
    void ImageTag(const CLotusBinaryStream *pPicture, uint32_t dwWidth, uint32_t dwHeight, std::string &out);
    bool ImageHeader(CLotusRecordCursor &record, std::string &out);
    bool ImageSegment(CLotusRecordCursor &record);
    bool BitmapHeader(CLotusRecordCursor &record, std::string &out);
    bool Resource(CLotusRecordCursor &record, std::string &out);
    void DocLink(std::string &out);
    void ConvertBitmaps();
    void AppendPictureParts(std::string &out);

    const CLotusRTFont *m_rgpFontByFace[256]; // first font of each face ID
    std::unordered_map<uint16_t, const CLotusRTPar *> m_mapPars; // first definition of each ID
    CLotusBinaryStream *m_pDocLink; // the document-link picture, read once per conversion
    bool m_bDocLinkTried;
};

// The plain entry into the converter. pbCD and cbCD hold the whole composite value, type word
// included. The text goes to pszOut with a terminator, which needs cbOutCapacity > the text's
// length; *pcbOut is the text's length, also when the block was too small (status 6), so that the
// caller can grow its block and call again. pContext may be null (no log, no shared pictures).
int LotusRTConvertToMHT(NSFCONTEXT *pContext, QLHAPI *pHAPI, const char *pszNoteID, uint32_t dwFlags,
                        const uint8_t *pbCD, uint32_t cbCD, char *pszOut, uint32_t cbOutCapacity, uint32_t *pcbOut);
