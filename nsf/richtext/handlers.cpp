// Record handlers of the converter: text runs and fonts, paragraphs and lists, hotspots, buttons,
// captions, section bars and the highlight colour.
#include <stdio.h>
#include <string.h>

#include "nsf/richtext/converter.h"

namespace {

// Attribute bits of a font ID in the order their tags open; they close in the reverse order.
struct LOTUSATTRIB {
    uint8_t bBit;
    const char *pszOpen;
    const char *pszClose;
};
const LOTUSATTRIB rgAttribs[] = {{0x01, "<B> ", "</B> "},     {0x02, "<I> ", "</I> "},
                                 {0x04, "<U> ", "</U> "},     {0x10, "<SUP> ", "</SUP> "},
                                 {0x20, "<SUB> ", "</SUB> "}, {0x08, "<S> ", "</S> "}};

void nsfAppendOpeners(uint8_t bAttrib, std::string &out)
{
    for (const LOTUSATTRIB &attrib : rgAttribs)
        if (bAttrib & attrib.bBit)
            out += attrib.pszOpen;
}

void nsfAppendClosers(uint8_t bAttrib, std::string &out)
{
    for (int i = (int)(sizeof(rgAttribs) / sizeof(rgAttribs[0])) - 1; i >= 0; i--)
        if (bAttrib & rgAttribs[i].bBit)
            out += rgAttribs[i].pszClose;
}

// The HTML size of a point size: above 36 only the low four bits count; then divided by 5.
int nsfFontSize(uint8_t bPointSize)
{
    int n = bPointSize > 36 ? (bPointSize & 0x0F) : bPointSize;
    return n / 5;
}

void nsfAppendInt(std::string &out, long n)
{
    char sz[24];
    snprintf(sz, sizeof(sz), "%ld", n);
    out += sz;
}

// True when LMBCS bytes read the same as UTF-8: ASCII and the fixed single-byte controls (NUL,
// tab, line feed, carriage return). Group prefixes and bytes of the optimisation group need the
// character conversion.
bool nsfIsPlainLMBCS(const uint8_t *pb, uint32_t cb)
{
    for (uint32_t i = 0; i < cb; i++) {
        uint8_t b = pb[i];
        if (b >= 0x80 || (b < 0x20 && b != 0x00 && b != 0x09 && b != 0x0A && b != 0x0D))
            return false;
    }
    return true;
}

} // namespace

void CLotusRTConverter::ReadFontTable(CLotusRecordCursor &record)
{
    uint16_t wCount;
    if (!record.WordAt(4, &wCount))
        return;
    // Only the faces the record really holds are read, whatever the count says.
    for (uint16_t i = 0; i < wCount; i++) {
        const uint8_t *pbFace;
        if (!record.ReadBytes(34, &pbFace))
            break;
        CLotusRTFont *pFont = new CLotusRTFont(m_bMHT, pbFace[0], pbFace[1], pbFace + 2);
        m_rgFonts.push_back(pFont);
        if (m_rgpFontByFace[pFont->m_bFaceID] == NULL)
            m_rgpFontByFace[pFont->m_bFaceID] = pFont;
    }
}

void CLotusRTConverter::FontFace(uint8_t bFace, std::string &out)
{
    switch (bFace) {
    case 0:
        out += "\"SERIF\" ";
        return;
    case 1:
    case 3:
        out += "\"SANS-SERIF\" ";
        return;
    case 4:
        out += "\"MONOSPACE\" ";
        return;
    default:
        break;
    }
    const CLotusRTFont *pFont = m_rgpFontByFace[bFace];
    if (pFont == NULL) {
        out += "\"SANS-SERIF\" ";
        return;
    }
    out += '"';
    out += pFont->m_szName;
    out += "\" ";
}

// Appends text taken from a record. A text run (bTextRun) is escaped for the body: "<" as "&lt;",
// a NUL or line feed as "<BR>", a tab as four "&nbsp;", each space of a leading run as "&nbsp;".
// Other texts (button labels, captions, titles, names) get only "<" escaped. In both, the LMBCS
// bytes are converted to UTF-8, and an "=" is written with the equals escape: the body is
// quoted-printable, where a bare "=" would start an escape and corrupt the text that follows.
void CLotusRTConverter::AppendConverted(const uint8_t *pb, uint32_t cb, bool bTextRun, std::string &out)
{
    const uint8_t *pbText = pb;
    uint32_t cbText = cb;
    std::string szConverted;
    if (cb != 0 && !nsfIsPlainLMBCS(pb, cb)) {
        // One LMBCS byte never gives more than six bytes of UTF-8; an input too large for that
        // room gives empty text, as a failed allocation does.
        cbText = 0;
        uint64_t ullRoom = (uint64_t)cb * 6 + 1;
        if (ullRoom <= 0x7FFFFFFFu && services != NULL && services->fpConvertCharset != NULL) {
            QLAllocator *pAllocator = &services->allocator;
            char *pszOut = (char *)pAllocator->fpAlloc(pAllocator, (uint32_t)ullRoom);
            if (pszOut != NULL) {
                int32_t n = services->fpConvertCharset(services, QLCharset_LMBCS, QLCharset_UTF8, (const char *)pb,
                                                       cb, pszOut, (uint32_t)ullRoom);
                if (n > 0) {
                    szConverted.assign(pszOut, (size_t)n);
                    pbText = (const uint8_t *)szConverted.data();
                    cbText = (uint32_t)n;
                }
                pAllocator->fpFree(pAllocator, pszOut);
            }
        }
    }

    if (bTextRun && m_nTables > 0 && (cbText == 0 || (cbText == 1 && pbText[0] == ' '))) {
        out += "&nbsp;";
        return;
    }
    bool bLeading = bTextRun;
    uint32_t iPlain = 0; // start of the bytes not yet appended
    for (uint32_t i = 0; i < cbText; i++) {
        uint8_t b = pbText[i];
        const char *pszEscape;
        if (b == '<')
            pszEscape = "&lt;";
        else if (b == '=')
            pszEscape = m_bMHT ? "=3D" : "=";
        else if (bTextRun && (b == 0 || b == '\n'))
            pszEscape = "<BR>";
        else if (bTextRun && b == '\t')
            pszEscape = "&nbsp;&nbsp;&nbsp;&nbsp;";
        else if (bLeading && b == ' ')
            pszEscape = "&nbsp;";
        else if (!bTextRun && b == 0)
            pszEscape = ""; // a NUL never goes into the HTML
        else {
            bLeading = false;
            continue;
        }
        if (b != ' ')
            bLeading = false;
        out.append((const char *)pbText + iPlain, i - iPlain);
        out += pszEscape;
        iPlain = i + 1;
    }
    out.append((const char *)pbText + iPlain, cbText - iPlain);
}

bool CLotusRTConverter::Text(CLotusRecordCursor &record, std::string &out)
{
    uint8_t rgbFont[4];
    const uint8_t *pbFont;
    if (!record.Seek(4) || !record.ReadBytes(4, &pbFont))
        return false;
    memcpy(rgbFont, pbFont, 4);
    const uint8_t *pbText;
    uint32_t cbText = record.Remaining();
    record.ReadBytes(cbText, &pbText);

    out += "<FONT FACE=";
    out += m_pszEq;
    FontFace(rgbFont[0], out);
    out += "SIZE=";
    out += m_pszEq;
    nsfAppendInt(out, nsfFontSize(rgbFont[3]));
    if (rgbFont[2] < 240) {
        out += " COLOR=";
        out += m_pszEq;
        out += rgszLotusColors[rgbFont[2]];
    }
    if (m_dwHighlight != 0) {
        char sz[16];
        snprintf(sz, sizeof(sz), "#%06X", (unsigned)m_dwHighlight);
        out += " STYLE=";
        out += m_pszEq;
        out += "\"BACKGROUND-COLOR:";
        out += sz;
        out += '"';
        m_dwHighlight = 0;
    }
    out += '>';
    nsfAppendOpeners(rgbFont[1], out);
    AppendConverted(pbText, cbText, true, out);
    nsfAppendClosers(rgbFont[1], out);
    out += "</FONT>";
    out += m_pszNL;
    return true;
}

void CLotusRTConverter::CloseParagraph(std::string &out)
{
    if (m_nListState == 1) {
        out += "</P>";
        out += m_parState.m_pszNL;
    } else if (m_nListState >= 2 && m_nListState <= 5) {
        out += "</LI></UL>";
        out += m_parState.m_pszNL;
    } else if (m_nListState >= 6 && m_nListState <= 10) {
        out += "</LI></OL>";
        out += m_parState.m_pszNL;
    }
    m_nListState = 0;
}

void CLotusRTConverter::OpenParagraph(const CLotusRTPar *pPar, std::string &out)
{
    if (pPar == NULL) {
        CloseParagraph(out);
        out += "<P>";
        m_nListState = 1;
        return;
    }
    int nState = 1;
    uint16_t wFlags2 = pPar->m_wFlags2;
    if (pPar->m_wFlags & 0x0400) {
        if (wFlags2 & 0x0800)
            nState = 3;
        else if (wFlags2 & 0x1000)
            nState = 4;
        else if (wFlags2 & 0x2000)
            nState = 5;
        else
            nState = 2;
    } else if (pPar->m_wFlags & 0x1000) {
        if ((wFlags2 & 0x1802) == 0x1802)
            nState = 10;
        else if ((wFlags2 & 0x1800) == 0x1800)
            nState = 9;
        else if ((wFlags2 & 0x0802) == 0x0802)
            nState = 7;
        else if ((wFlags2 & 0x1002) == 0x1002)
            nState = 8;
        else
            nState = 6;
    }

    const char *pszEq = m_parState.m_pszEq;
    if (m_nListState == 1) {
        out += "</P>";
        out += m_parState.m_pszNL;
        m_nListState = 0;
    }
    if (nState != 1 && nState == m_nListState) {
        out += "</LI><LI";
    } else {
        CloseParagraph(out);
        static const char *const rgszListStyles[] = {"decimal", "upper-roman", "lower-roman", "upper-alpha",
                                                     "lower-alpha"};
        switch (nState) {
        case 1:
            out += "<P";
            break;
        case 2:
            out += "<UL><LI";
            break;
        case 3:
            out += "<UL STYLE=";
            out += pszEq;
            out += "\"list-style-type: circle;\"><LI";
            break;
        case 4:
        case 5:
            out += "<UL STYLE=";
            out += pszEq;
            out += "\"list-style-type: square;\"><LI";
            break;
        default:
            out += "<OL STYLE=";
            out += pszEq;
            out += "\"list-style-type: ";
            out += rgszListStyles[nState - 6];
            out += ";\"><LI";
            break;
        }
    }
    m_nListState = nState;
    out += " ALIGN=";
    out += pszEq;
    switch (pPar->m_wJustifyMode) {
    case 1:
        out += "RIGHT ";
        break;
    case 2:
        out += "JUSTIFY ";
        break;
    case 3:
        out += "CENTER ";
        break;
    default:
        out += "LEFT ";
        break;
    }
    out += '>';
    out += m_parState.m_pszNL;
}

bool CLotusRTConverter::Hotspot(uint8_t bKind, CLotusRecordCursor &record, std::string &out)
{
    if (bKind == 0xAE) {
        if (m_bLinkOpen) {
            m_bLinkOpen = 0;
            out += "</A>";
            out += m_pszNL;
        }
        return true;
    }
    // The data must lie inside the record: its length is taken from the record and checked.
    uint16_t wType, cbData;
    const uint8_t *pbData;
    if (!record.WordAt(4, &wType) || !record.WordAt(10, &cbData) || !record.ReadBytes(cbData, &pbData))
        return false;
    if (bKind == 0xAD) {
        if (wType != 11 || cbData == 0)
            return true;
        m_bLinkOpen = 1;
        out += "<A href=";
        out += m_pszEq;
        out += '"';
        // The URL is written as it is, except that an "=" gets the equals escape (the body is
        // quoted-printable) and a double quote mark, which would end the attribute, is
        // percent-encoded.
        uint32_t cbURL = (uint32_t)cbData - 1;
        for (uint32_t i = 0; i < cbURL; i++) {
            char c = (char)pbData[i];
            if (c == '=')
                out += m_bMHT ? "=3D" : "=";
            else if (c == '"')
                out += "%22";
            else if (c != 0)
                out += c;
        }
        out += "\">";
        out += m_pszNL;
        return true;
    }
    CLotusRecordCursor data(pbData, cbData);
    const uint8_t *pbName;
    uint32_t cbName;
    if (wType == 4 && ShowAttachmentName == 1 && cbData >= 1) {
        // The data holds the attachment's internal name and then its original file name; the
        // file name is what a reader knows the attachment by. Data with one name shows that one.
        data.ReadToNul(&pbName, &cbName);
        const uint8_t *pbFileName;
        uint32_t cbFileName;
        data.ReadToNul(&pbFileName, &cbFileName);
        if (cbFileName != 0) {
            pbName = pbFileName;
            cbName = cbFileName;
        }
        AppendConverted(pbName, cbName, false, out);
    } else if (wType == 22 && (m_dwFlags & CNVO_SHOWHIDDENTEXT) && cbData >= 1) {
        data.ReadToNul(&pbName, &cbName);
        out += "<FONT FACE=";
        out += m_pszEq;
        out += "\"MONOSPACE\"  SIZE=";
        out += m_pszEq;
        out += "3  COLOR=";
        out += m_pszEq;
        out += "#202020>";
        AppendConverted(pbName, cbName, false, out);
        out += "</FONT>";
        out += m_pszNL;
    }
    return true;
}

bool CLotusRTConverter::Button(CLotusRecordCursor &record, std::string &out)
{
    const uint8_t *pbFont;
    if (!record.Seek(12) || !record.ReadBytes(4, &pbFont))
        return false;
    const uint8_t *pbText;
    uint32_t cbText = record.Remaining();
    record.ReadBytes(cbText, &pbText);
    out += "<BUTTON><FONT FACE=";
    out += m_pszEq;
    FontFace(pbFont[0], out);
    out += "SIZE=";
    out += m_pszEq;
    nsfAppendInt(out, nsfFontSize(pbFont[3]));
    out += " COLOR=";
    out += m_pszEq;
    out += pbFont[2] < 240 ? rgszLotusColors[pbFont[2]] : "0";
    out += '>';
    nsfAppendOpeners(pbFont[1], out);
    AppendConverted(pbText, cbText, false, out);
    nsfAppendClosers(pbFont[1], out);
    out += "</FONT></BUTTON>";
    out += m_pszNL;
    return true;
}

bool CLotusRTConverter::Caption(CLotusRecordCursor &record, std::string &out)
{
    // The text length comes from the record and must stay inside it.
    uint16_t cbText;
    const uint8_t *pbFont, *pbText;
    if (!record.WordAt(4, &cbText) || !record.Seek(7) || !record.ReadBytes(4, &pbFont) || !record.Seek(28) ||
        !record.ReadBytes(cbText, &pbText))
        return false;
    out += "<BR><FONT FACE=";
    out += m_pszEq;
    FontFace(pbFont[0], out);
    out += " SIZE=";
    out += m_pszEq;
    out += "1 COLOR=";
    out += m_pszEq;
    out += pbFont[2] < 240 ? rgszLotusColors[pbFont[2]] : "0";
    out += '>';
    AppendConverted(pbText, cbText, false, out);
    out += "</FONT><BR>";
    out += m_pszNL;
    return true;
}

bool CLotusRTConverter::Bar(CLotusRecordCursor &record, std::string &out)
{
    uint32_t dwFlags;
    if (!record.DWordAt(4, &dwFlags) || !record.Seek(14))
        return false;
    if (dwFlags & 0x2000)
        return true;
    const uint8_t *pbTitle;
    uint32_t cbTitle;
    record.ReadToNul(&pbTitle, &cbTitle);
    out += "<P>";
    out += m_pszNL;
    AppendConverted(pbTitle, cbTitle, false, out);
    out += m_pszNL;
    out += "</P>";
    out += m_pszNL;
    return true;
}

bool CLotusRTConverter::Highlight(CLotusRecordCursor &record)
{
    uint8_t bFlags;
    if (!record.ByteAt(3, &bFlags))
        return false;
    m_dwHighlight = 0;
    if (bFlags == 0x80)
        m_dwHighlight = 0xFFFF80;
    else if (bFlags == 0x40)
        m_dwHighlight = 0xFF80FF;
    else if (bFlags == 0x20)
        m_dwHighlight = 0x80FFFF;
    return true;
}
