// Tables: one CLotusRTTable per open table, its span look-ahead and the markup of its records.
#include <stdio.h>

#include "nsf/richtext/converter.h"

namespace {

const char *const rgszBorderStyles[11] = {"solid",  "solid",  "double", "inset", "outset", "ridge",
                                          "groove", "dotted", "dashed", "solid", "solid"};

void nsfAppendf(std::string &out, const char *pszFormat, unsigned n)
{
    char sz[32];
    snprintf(sz, sizeof(sz), pszFormat, n);
    out += sz;
}

} // namespace

CLotusRTTable::CLotusRTTable(int32_t bMHT)
    : CLotusHTMLTag(bMHT), m_dwPreFlags(0), m_bPreRows(0), m_bPreColumns(0), m_nRow(-1), m_nColumn(-1),
      m_dwPreValue32(0), m_dwStyleColor1(0), m_dwStyleColor2(0), m_dwBorderColor(0), m_dwBorderStyle(0),
      m_wBorderTop(0), m_wBorderLeft(0), m_wBorderBottom(0), m_wBorderRight(0), m_dwCellColor(0xFFFFFF),
      m_dwCellGradient(0xFFFFFF), m_nWidth(0), m_bSuppressText(0), m_bSpansRead(false)
{
}

bool CLotusRTTable::ReadPreTable(CLotusRecordCursor &record)
{
    if (!record.Has(0, 36))
        return false;
    record.DWordAt(4, &m_dwPreFlags);
    record.ByteAt(8, &m_bPreRows);
    record.ByteAt(9, &m_bPreColumns);
    record.DWordAt(24, &m_dwStyleColor1);
    record.DWordAt(28, &m_dwStyleColor2);
    record.DWordAt(32, &m_dwPreValue32);
    return true;
}

bool CLotusRTTable::IsCovered(uint8_t bRow, uint8_t bColumn) const
{
    if (bRow >= m_rgRows.size())
        return false;
    return (m_rgRows[bRow].rgCovered[bColumn >> 6] >> (bColumn & 63)) & 1;
}

void CLotusRTTable::SpanLookAhead(const uint8_t *pbStream, uint32_t cbStream, uint32_t dwBegin)
{
    int nDepth = 0;
    NSFCDRECORD rec;
    for (uint32_t dwOffset = dwBegin; nsfFrameCDRecord(pbStream, cbStream, dwOffset, &rec);
         dwOffset = rec.dwNext) {
        uint8_t bKind = rec.bKind;
        if (bKind == 0xA3 || bKind == 0xCF) {
            nDepth++;
        } else if (bKind == 0xA5 || bKind == 0xD1) {
            if (--nDepth == 0)
                break;
        } else if ((bKind == 0xA4 || bKind == 0xD0) && nDepth == 1) {
            // A cell record too short for its row and column adds no entry; one without the
            // column span byte spans nothing.
            CLotusRecordCursor record = nsfRecordCursor(pbStream, rec);
            uint8_t bRow, bColumn, bSpan = 1;
            if (!record.ByteAt(2, &bRow) || !record.ByteAt(3, &bColumn))
                continue;
            record.ByteAt(15, &bSpan);
            if (bRow >= m_rgRows.size())
                m_rgRows.resize((size_t)bRow + 1, LOTUSROWBITS{{0, 0, 0, 0}, {0, 0, 0, 0}});
            LOTUSROWBITS &row = m_rgRows[bRow];
            row.rgHasEntry[bColumn >> 6] |= (uint64_t)1 << (bColumn & 63);
            // Mark the cells before the spanning cell in its row that already have entries.
            if (bSpan >= 2) {
                int nFirst = (int)bColumn - (int)bSpan + 1;
                for (int c = nFirst < 0 ? 0 : nFirst; c < (int)bColumn; c++)
                    row.rgCovered[c >> 6] |= row.rgHasEntry[c >> 6] & ((uint64_t)1 << (c & 63));
            }
        }
    }
}

void CLotusRTTable::HandleRecord(uint8_t bKind, CLotusRecordCursor &record, std::string &out)
{
    switch (bKind) {
    case 0xA3:
    case 0xCF: {
        out += "<TABLE STYLE=";
        out += m_pszEq;
        out += "\" ";
        if (m_dwStyleColor1 != 0)
            nsfAppendf(out, "BACKGROUND-COLOR: #%06X;", m_dwStyleColor1);
        const char *pszStyle = rgszBorderStyles[m_dwBorderStyle < 11 ? m_dwBorderStyle : 0];
        struct {
            const char *pszSide;
            uint16_t wWidth;
        } rgSides[] = {{" BORDER-LEFT:", m_wBorderLeft},
                       {" BORDER-TOP:", m_wBorderTop},
                       {" BORDER-BOTTOM:", m_wBorderBottom},
                       {" BORDER-RIGHT:", m_wBorderRight}};
        for (const auto &side : rgSides) {
            if (side.wWidth == 0)
                continue;
            out += side.pszSide;
            nsfAppendf(out, "%dpx ", side.wWidth);
            out += pszStyle;
            nsfAppendf(out, " #%06X ", m_dwBorderColor);
            out += ';';
        }
        out += "\">";
        out += m_pszNL;
        out += "<TBODY>";
        out += m_pszNL;
        break;
    }
    case 0xFC: {
        // The border record is read only when it holds every field used: the style word after
        // the flags doubleword, the four widths after it and the colour bytes at 44 to 46.
        uint8_t bRed, bGreen, bBlue;
        uint16_t wStyle;
        if (!record.ByteAt(44, &bRed) || !record.ByteAt(45, &bGreen) || !record.ByteAt(46, &bBlue))
            break;
        record.WordAt(8, &wStyle);
        m_dwBorderStyle = wStyle;
        record.WordAt(10, &m_wBorderTop);
        record.WordAt(12, &m_wBorderLeft);
        record.WordAt(14, &m_wBorderBottom);
        record.WordAt(16, &m_wBorderRight);
        m_dwBorderColor = ((uint32_t)bRed << 16) | ((uint32_t)bGreen << 8) | bBlue;
        break;
    }
    case 0xD3: {
        uint32_t dwColor, dwGradient;
        if (!record.DWordAt(4, &dwColor))
            break;
        m_dwCellColor = dwColor;
        // A colour record without a gradient part keeps the gradient colour it had.
        if (record.DWordAt(10, &dwGradient))
            m_dwCellGradient = dwGradient;
        break;
    }
    case 0xA4:
    case 0xD0:
        HandleCell(record, out);
        break;
    case 0xA5:
    case 0xD1:
        out += "</TD>";
        out += m_pszNL;
        out += "</TR>";
        out += m_pszNL;
        out += "</TBODY>";
        out += m_pszNL;
        out += "</TABLE>";
        out += m_pszNL;
        break;
    default:
        break;
    }
}

void CLotusRTTable::HandleCell(CLotusRecordCursor &record, std::string &out)
{
    // A cell record is used only when it holds every field read (up to the background colour
    // word at 16); a shorter one gives no markup and leaves the table's state as it was.
    uint8_t bRow, bColumn, bBorder, bFlags, bSpan;
    uint16_t wLeft, wRight, wBackground;
    if (!record.ByteAt(2, &bRow) || !record.ByteAt(3, &bColumn) || !record.WordAt(4, &wLeft) ||
        !record.WordAt(6, &wRight) || !record.ByteAt(10, &bBorder) || !record.ByteAt(11, &bFlags) ||
        !record.ByteAt(15, &bSpan) || !record.WordAt(16, &wBackground))
        return;

    if (m_nColumn == -1) {
        if (m_nRow == -1) {
            out += "<TR>";
            out += m_pszNL;
        }
    } else if (!IsCovered((uint8_t)m_nRow, (uint8_t)m_nColumn)) {
        out += "</TD>";
        out += m_pszNL;
    }
    m_nRow = bRow;
    m_nColumn = bColumn;
    if (bColumn == 0 && bRow != 0) {
        out += "</TR>";
        out += m_pszNL;
        out += "<TR>";
        out += m_pszNL;
        m_nWidth = 0;
    }
    m_nWidth += ((int32_t)wRight - (int32_t)wLeft) / 20;
    m_bSuppressText = IsCovered(bRow, bColumn) ? 1 : 0;
    if (m_bSuppressText)
        return;

    out += "<TD ";
    if (bSpan > 1) {
        out += "COLSPAN=";
        out += m_pszEq;
        nsfAppendf(out, "%u ", bSpan);
    }
    out += "STYLE=";
    out += m_pszEq;
    out += "\" ";
    if (wRight > 0) {
        char sz[32];
        snprintf(sz, sizeof(sz), " WIDTH:%dpt;", (int)m_nWidth);
        out += sz;
        m_nWidth = 0;
    }
    if (bBorder & 0x03)
        out += " BORDER-LEFT: 1px solid black;";
    if (bBorder & 0x0C)
        out += " BORDER-RIGHT: 1px solid black;";
    if (bBorder & 0x30)
        out += " BORDER-TOP: 1px solid black;";
    if (bBorder & 0xC0)
        out += " BORDER-BOTTOM: 1px solid black;";
    if (bFlags & 0x01) {
        out += "BACKGROUND-COLOR:";
        if (bFlags & 0x10) {
            char sz[16];
            unsigned nRed = ((m_dwCellColor & 0xFF) + (m_dwCellGradient & 0xFF)) / 2;
            unsigned nGreen = (((m_dwCellColor >> 8) & 0xFF) + ((m_dwCellGradient >> 8) & 0xFF)) / 2;
            unsigned nBlue = (((m_dwCellColor >> 16) & 0xFF) + ((m_dwCellGradient >> 16) & 0xFF)) / 2;
            snprintf(sz, sizeof(sz), "#%02X%02X%02X", nRed, nGreen, nBlue);
            out += sz;
        } else {
            out += rgszLotusColors[wBackground < 240 ? wBackground : 0];
        }
        out += ';';
    }
    if (bFlags & 0x20)
        out += "VERTICAL-ALIGN:middle;";
    else if (bFlags & 0x80)
        out += "VERTICAL-ALIGN:bottom;";
    else
        out += "VERTICAL-ALIGN:top;";
    out += "\">";
}
