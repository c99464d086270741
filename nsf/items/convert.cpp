#include "nsf/items/convert.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include <notes/notes.h>
#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"

namespace {

// The most input handed to one OSTranslate call. One LMBCS byte becomes at most three UTF-8 bytes,
// so the output of a piece always fits the API's 16-bit output length.
const uint32_t ucbMaxLMBCSPiece = 0xFFFF / 3;

// The length of the LMBCS character that starts at pb[0], never more than cbLeft.
uint32_t nsfLMBCSCharLength(const uint8_t *pb, uint32_t cbLeft)
{
    uint32_t cb = 1;
    uint8_t b = pb[0];
    if (b >= 0x01 && b <= 0x0F && b != 0x07 && b != 0x09 && b != 0x0A && b != 0x0C && b != 0x0D && b != 0x0E)
        cb = 2; // a single-byte group prefix and its byte
    else if (b >= 0x10 && b <= 0x14)
        cb = 3; // a double-byte group or the Unicode group: prefix and two bytes
    return cb < cbLeft ? cb : cbLeft;
}

// True when the character at pb is a Unicode-group high surrogate, which must not be cut from the
// low surrogate that follows it.
bool nsfIsLMBCSHighSurrogate(const uint8_t *pb, uint32_t cbLeft)
{
    return cbLeft >= 3 && pb[0] == 0x14 && pb[1] >= 0xD8 && pb[1] <= 0xDB;
}

// Days in a month of the reader's date arithmetic.
int nsfDaysInMonth(int nMonth, int nYear)
{
    switch (nMonth) {
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    case 2:
        // Gregorian: every fourth year, except centuries not divisible by 400.
        return (nYear % 4 == 0 && (nYear % 100 != 0 || nYear % 400 == 0)) ? 29 : 28;
    default:
        return 31;
    }
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar; any month number is carried
// into the year, as timegm does (month 13 of 1999 is January 2000, month 0 is December before).
int64_t nsfDaysFromCivil(int64_t llYear, int64_t llMonth, int64_t llDay)
{
    int64_t llMonth0 = llMonth - 1;
    int64_t llCarry = (llMonth0 >= 0 ? llMonth0 : llMonth0 - 11) / 12; // rounded down
    llYear += llCarry;
    llMonth0 -= 12 * llCarry;
    // Years are counted from March, so that the leap day ends a year.
    int64_t llMarchMonth = llMonth0 >= 2 ? llMonth0 - 2 : llMonth0 + 10;
    if (llMonth0 < 2)
        llYear--;
    int64_t llEra = (llYear >= 0 ? llYear : llYear - 399) / 400;
    int64_t llYearOfEra = llYear - llEra * 400;
    int64_t llDayOfYear = (153 * llMarchMonth + 2) / 5 + llDay - 1;
    int64_t llDayOfEra = llYearOfEra * 365 + llYearOfEra / 4 - llYearOfEra / 100 + llDayOfYear;
    return llEra * 146097 + llDayOfEra - 719468;
}

// The seconds from 1970-01-01 00:00 UTC of a broken-down time read as UTC, its fields carried as
// timegm carries them. Unlike the C runtimes' timegm and _mkgmtime64, it reaches times before 1970.
int64_t nsfSecondsFromTM(const struct tm *pTm)
{
    int64_t llDays = nsfDaysFromCivil((int64_t)pTm->tm_year + 1900, (int64_t)pTm->tm_mon + 1, 1) +
                     (int64_t)pTm->tm_mday - 1;
    return llDays * 86400 + (int64_t)pTm->tm_hour * 3600 + (int64_t)pTm->tm_min * 60 + pTm->tm_sec;
}

#ifdef _WIN32
// The broken-down UTC time of seconds from 1970, day of week and of year included; false outside
// the years the Julian-day conversion takes.
bool nsfTMFromSeconds(int64_t llSeconds, struct tm *pTm)
{
    int64_t llDays = (llSeconds >= 0 ? llSeconds : llSeconds - 86399) / 86400; // rounded down
    int64_t llSecondOfDay = llSeconds - llDays * 86400;
    int32_t nYear, nMonth, nDay;
    if (llDays < -3000000 || llDays > 3000000 ||
        !nsfJulianDayToDate((int32_t)(llDays + 2440588), &nYear, &nMonth, &nDay))
        return false;
    memset(pTm, 0, sizeof(*pTm));
    pTm->tm_year = nYear - 1900;
    pTm->tm_mon = nMonth - 1;
    pTm->tm_mday = nDay;
    pTm->tm_hour = (int)(llSecondOfDay / 3600);
    pTm->tm_min = (int)(llSecondOfDay % 3600 / 60);
    pTm->tm_sec = (int)(llSecondOfDay % 60);
    pTm->tm_wday = (int)(((llDays % 7) + 11) % 7); // 1970-01-01 was a Thursday
    pTm->tm_yday = (int)(llDays - nsfDaysFromCivil(nYear, 1, 1));
    return true;
}
#endif

} // namespace

// Normalises a broken-down local time as mktime does and gives its seconds from 1970 UTC. The
// Windows C runtime refuses times before 1970 UTC: those are normalised by the calendar and
// shifted by the zone's standard offset (Windows knows no daylight-saving rules that far back).
bool nsfMakeLocalTime(struct tm *pTm, int64_t *pllTime)
{
    // mktime's -1 is also the valid time one second before 1970 UTC: a day of week it filled in
    // tells the two apart.
    struct tm tmLocal = *pTm;
    tmLocal.tm_wday = -1;
#ifdef _WIN32
    // 32-bit Windows' time_t ends in 2038: its 64-bit mktime reaches the supported 2099.
    int64_t llTime = _mktime64(&tmLocal);
    if (llTime == -1 && tmLocal.tm_wday == -1) {
        int64_t llFields = nsfSecondsFromTM(pTm);
        if (llFields < 2 * 86400 && nsfTMFromSeconds(llFields, &tmLocal)) {
            _tzset();
            llTime = llFields + _timezone; // seconds west of UTC, standard time
        }
    }
#else
    int64_t llTime = mktime(&tmLocal);
#endif
    if (llTime == -1 && tmLocal.tm_wday == -1)
        return false;
    *pTm = tmLocal;
    *pllTime = llTime;
    return true;
}

bool nsfJulianDayToDate(int32_t lJulianDay, int32_t *pnYear, int32_t *pnMonth, int32_t *pnDay)
{
    // Fliegel and Van Flandern, in 32-bit arithmetic with truncating division.
    int32_t l = lJulianDay + 68569;
    int32_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    int32_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    int32_t j = 80 * l / 2447;
    int32_t nDay = l - 2447 * j / 80;
    l = j / 11;
    int32_t nMonth = j + 2 - 12 * l;
    int32_t nYear = 100 * (n - 49) + i + l;
    if (nYear < 1801 || nYear > 2099)
        return false;
    *pnYear = nYear;
    *pnMonth = nMonth;
    *pnDay = nDay;
    return true;
}

int nsfConvertTIMEDATEtoTM(NSFCONTEXT *pContext, const TIMEDATE *pTimeDate, struct tm *pTm, struct tm *pZone)
{
    static const char szFunc[] = "nsfConvertTIMEDATEtoTM()";
    DWORD dwTime = pTimeDate->Innards[0];
    DWORD dwDate = pTimeDate->Innards[1];
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "TimeDate.Innards[0] 0x%lx, Innards[1] 0x%lx", (unsigned long)dwTime,
            (unsigned long)dwDate);
    int32_t lJulianDay = (int32_t)(dwDate & 0x00FFFFFF);
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "lJulianDay 0x%lx %ld, lSeconds 0x%lx %ld", (unsigned long)lJulianDay,
            (long)lJulianDay, (unsigned long)dwTime, (long)dwTime);

    int32_t nYear, nMonth, nDay;
    if (!nsfJulianDayToDate(lJulianDay, &nYear, &nMonth, &nDay)) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error converting Julian day to date");
        return NSF_STATUS_INTERNAL;
    }
    uint32_t ulSeconds = dwTime / 100;
    int32_t nHour = (int32_t)(ulSeconds / 3600);
    int32_t nMin = (int32_t)(ulSeconds % 3600 / 60);
    int32_t nSec = (int32_t)(ulSeconds % 60);
    int bDST = (dwDate >> 31) & 1;
    int bEastGMT = (dwDate >> 30) & 1;
    int nZoneHours = (dwDate >> 24) & 0x0F;
    int nZone15min = (dwDate >> 28) & 0x03;
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "nYear %d, nMonth %d, nDay %d, nHour %d, nMin %d, nSec %d", nYear,
            nMonth, nDay, nHour, nMin, nSec);
    nsfLogf(pContext, NSF_LOG_DEBUG, szFunc, "bDST %d, bEastGMT %d, nZoneHours %d, nZone15min %d", bDST, bEastGMT,
            nZoneHours, nZone15min);

    if (nSec > 59 || nMin > 59 || nHour > 23 || nDay < 1 || nDay > 31 || nMonth < 1 || nMonth > 12 || nYear < 1900) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid date/time: %.2d/%.2d/%.4d %.2d:%.2d:%.2d", nMonth,
                nDay, nYear, nHour, nMin, nSec);
        return NSF_STATUS_INTERNAL;
    }

    memset(pTm, 0, sizeof(*pTm));
    pTm->tm_sec = nSec;
    pTm->tm_min = nMin;
    pTm->tm_hour = nHour;
    pTm->tm_mday = nDay;
    pTm->tm_mon = nMonth - 1;
    pTm->tm_year = nYear - 1900;
    if (pZone != NULL) {
        memset(pZone, 0, sizeof(*pZone));
        pZone->tm_hour = bEastGMT ? -nZoneHours : nZoneHours;
        pZone->tm_min = nZone15min * 15;
        pZone->tm_isdst = bDST;
    }
    return NSF_STATUS_OK;
}

// The tm's fields are taken as GMT, whatever its daylight-saving flag says. The calendar is
// computed here rather than by mktime under "TZ=GMT0", which would change the time zone of every
// other thread as well, or by timegm and _mkgmtime64, which stop at 1970 on Windows.
int nsfConvertTMtoFILETIME(NSFCONTEXT *pContext, const struct tm *pTm, QL_FILETIME *pFileTime)
{
    int64_t llTime = nsfSecondsFromTM(pTm);
    QLHAPI *pHAPI = pContext->services;
    pHAPI->fpTimeToFILETIME(pHAPI, llTime, pFileTime);
    return NSF_STATUS_OK;
}

int nsfScanTime(NSFCONTEXT *pContext, const char *pszTime, struct tm *pTm)
{
    static const char szFunc[] = "nsfScanTime()";
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "pszTime...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, pszTime);
    memset(pTm, 0, sizeof(*pTm));

    int nMonth, nDay, nYear, nHour, nMin, nSec;
    if (sscanf(pszTime, "%d/%d/%d %d:%d:%d", &nMonth, &nDay, &nYear, &nHour, &nMin, &nSec) != 6) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error parsing \"M/D/Y H:M:S\" from date...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, pszTime);
        return NSF_STATUS_INTERNAL;
    }

    bool bChanged = false;
    if (strstr(pszTime, " AM") != NULL && nHour == 12) {
        nHour -= 12;
        bChanged = true;
    } else if (strstr(pszTime, " PM") != NULL && nHour != 12) {
        nHour += 12;
        bChanged = true;
    }
    if (bChanged) {
        if (nHour >= 24) {
            nHour -= 24;
            nDay++;
        }
        int nDays = nsfDaysInMonth(nMonth, nYear);
        if (nDay > nDays) {
            nDay -= nDays;
            nMonth++;
        }
        if (nMonth > 12) {
            nMonth -= 12;
            nYear++;
        }
    }

    if (nSec < 0 || nSec > 59 || nMin < 0 || nMin > 59 || nHour < 0 || nHour > 23 || nDay < 1 || nDay > 31 ||
        nMonth < 1 || nMonth > 12 || nYear < 1900) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid date/time: %.2d/%.2d/%.4d %.2d:%.2d:%.2d", nMonth,
                nDay, nYear, nHour, nMin, nSec);
        return NSF_STATUS_INTERNAL;
    }

    pTm->tm_sec = nSec;
    pTm->tm_min = nMin;
    pTm->tm_hour = nHour;
    pTm->tm_mday = nDay;
    pTm->tm_mon = nMonth - 1;
    pTm->tm_year = nYear - 1900;
    // The time is read as the wall-clock time it names, in or out of daylight saving: mktime is
    // left to decide the flag. Telling it the flag is set would move the time by an hour whenever
    // daylight saving is not in effect at that date (always, in a zone without it).
    pTm->tm_isdst = -1;
    int64_t llTime;
    if (!nsfMakeLocalTime(pTm, &llTime)) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "mktime() failed");
        return NSF_STATUS_INTERNAL;
    }
    return NSF_STATUS_OK;
}

int nsfConvertCDtoLMBCS(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfConvertCDtoLMBCS()";
    NSFBUFFER *pIn = pContext->BufferCD;
    NSFBUFFER *pOut = pContext->BufferLMBCS;
    nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferCD.ucbData %u 0x%x, rgbData...", pIn->ucbData, pIn->ucbData);
    nsfLogDump(pContext, NSF_LOG_DUMP, pIn->rgbData, pIn->ucbData);
    pOut->ucbData = 0;
    if (pIn->ucbData == 0)
        return NSF_STATUS_OK;

    int nStatus = nsfCheckBuffer(pContext, pOut, nsfSatMul(pIn->ucbData, 2));
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }
    for (uint32_t i = 0; i < pIn->ucbData; i++) {
        uint8_t b = pIn->rgbData[i];
        if (b == 0 || b == '\n') {
            pOut->rgbData[pOut->ucbData++] = '\r';
            pOut->rgbData[pOut->ucbData++] = '\n';
        } else if (b != '\r') {
            pOut->rgbData[pOut->ucbData++] = b;
        }
        if (pOut->ucbData >= pOut->ucbDataSize) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "LMBCS buffer overflow (size %u)", pOut->ucbDataSize);
            return NSF_STATUS_INTERNAL;
        }
    }
    pOut->rgbData[pOut->ucbData] = 0;
    pIn->ucbData = 0;
    nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferLMBCS: ucbData %u 0x%x, rgbData...", pOut->ucbData, pOut->ucbData);
    nsfLogDump(pContext, NSF_LOG_DUMP, pOut->rgbData, pOut->ucbData);
    return NSF_STATUS_OK;
}

// The API converts at most 65535 bytes per call in either direction, so the text is converted in
// pieces cut at character boundaries; text of any length comes through whole.
int nsfConvertLMBCStoUTF8(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfConvertLMBCStoUTF8()";
    NSFBUFFER *pIn = pContext->BufferLMBCS;
    NSFBUFFER *pOut = pContext->BufferUTF8;
    nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferLMBCS.ucbData %u 0x%x, rgbData...", pIn->ucbData, pIn->ucbData);
    nsfLogDump(pContext, NSF_LOG_DUMP, pIn->rgbData, pIn->ucbData);
    pOut->ucbData = 0;
    if (pIn->ucbData == 0)
        return NSF_STATUS_OK;

    int nStatus = nsfCheckBuffer(pContext, pOut, nsfSatMul(pIn->ucbData, 3));
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }

    uint32_t ulIn = 0;
    while (ulIn < pIn->ucbData) {
        // Extend the piece character by character, keeping surrogate pairs together.
        uint32_t cbPiece = 0;
        const uint8_t *pbPiece = pIn->rgbData + ulIn;
        uint32_t cbLeft = pIn->ucbData - ulIn;
        while (cbPiece < cbLeft) {
            uint32_t cbChar = nsfLMBCSCharLength(pbPiece + cbPiece, cbLeft - cbPiece);
            if (nsfIsLMBCSHighSurrogate(pbPiece + cbPiece, cbLeft - cbPiece) && cbPiece + cbChar < cbLeft)
                cbChar += nsfLMBCSCharLength(pbPiece + cbPiece + cbChar, cbLeft - cbPiece - cbChar);
            if (cbPiece + cbChar > ucbMaxLMBCSPiece && cbPiece > 0)
                break;
            cbPiece += cbChar;
        }

        uint32_t ucbRoom = pOut->ucbDataSize - pOut->ucbData;
        if (ucbRoom > 0xFFFF) {
            nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Invalid ucbUTF8DataSize %u, reset to MAXWORD %u", ucbRoom,
                    0xFFFFu);
            ucbRoom = 0xFFFF;
        }
        nsfCallAPI(pContext, szFunc, "OSTranslate()");
        WORD cbWritten = OSTranslate(OS_TRANSLATE_LMBCS_TO_UTF8, (const char *)pbPiece, (WORD)cbPiece,
                                     (char *)pOut->rgbData + pOut->ucbData, (WORD)ucbRoom);
        nsfRetAPI(pContext, szFunc, NOERROR);
        pOut->ucbData += cbWritten < ucbRoom ? cbWritten : ucbRoom;
        ulIn += cbPiece;
    }
    pOut->rgbData[pOut->ucbData] = 0;
    pIn->ucbData = 0;
    nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferUTF8.ucbData %u 0x%x, rgbData...", pOut->ucbData, pOut->ucbData);
    nsfLogDump(pContext, NSF_LOG_DUMP, pOut->rgbData, pOut->ucbData);
    return NSF_STATUS_OK;
}

int nsfConvertUTF8toHTML(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfConvertUTF8toHTML()";
    NSFBUFFER *pIn = pContext->BufferUTF8;
    NSFBUFFER *pOut = pContext->BufferHTML;
    QLHAPI *pHAPI = pContext->services;
    nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferUTF8.ucbData %u 0x%x, rgbData...", pIn->ucbData, pIn->ucbData);
    nsfLogDump(pContext, NSF_LOG_DUMP, pIn->rgbData, pIn->ucbData);
    pOut->ucbData = 0;
    if (pIn->ucbData == 0)
        return NSF_STATUS_OK;

    // Room for what the walk below really writes: a text full of "<" grows fourfold, a line break
    // becomes "<BR>" and CR LF, and a lead byte takes the byte after it along whatever that is.
    uint32_t ucbNeeded = 0;
    for (uint32_t i = 0; i < pIn->ucbData; i++) {
        uint8_t b = pIn->rgbData[i];
        if (pHAPI->fpIsLeadByte(pHAPI, b, QLCharset_UTF8)) {
            ucbNeeded = nsfSatAdd(ucbNeeded, i + 1 < pIn->ucbData ? 2 : 1);
            i++;
            continue;
        }
        switch (b) {
        case '\n':
            ucbNeeded = nsfSatAdd(ucbNeeded, 6);
            break;
        case '\r':
            break;
        case '<':
        case '>':
            ucbNeeded = nsfSatAdd(ucbNeeded, 4);
            break;
        case '=':
            ucbNeeded = nsfSatAdd(ucbNeeded, 3);
            break;
        default:
            ucbNeeded = nsfSatAdd(ucbNeeded, 1);
            break;
        }
    }
    int nStatus = nsfCheckBuffer(pContext, pOut, ucbNeeded);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
        return nStatus;
    }

    for (uint32_t i = 0; i < pIn->ucbData; i++) {
        uint8_t b = pIn->rgbData[i];
        if (pHAPI->fpIsLeadByte(pHAPI, b, QLCharset_UTF8)) {
            pOut->rgbData[pOut->ucbData++] = b;
            if (i + 1 < pIn->ucbData)
                pOut->rgbData[pOut->ucbData++] = pIn->rgbData[++i];
        } else {
            const char *pszOut = NULL;
            switch (b) {
            case '\n':
                pszOut = "<BR>\r\n";
                break;
            case '\r':
                pszOut = "";
                break;
            case '<':
                pszOut = "&lt;";
                break;
            case '>':
                pszOut = "&gt;";
                break;
            case '=':
                pszOut = "=3D";
                break;
            default:
                pOut->rgbData[pOut->ucbData++] = b;
                break;
            }
            if (pszOut != NULL) {
                size_t cch = strlen(pszOut);
                memcpy(pOut->rgbData + pOut->ucbData, pszOut, cch);
                pOut->ucbData += (uint32_t)cch;
            }
        }
        if (pOut->ucbData > pOut->ucbDataSize) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "HTML Buffer overflow (size %u)", pOut->ucbDataSize);
            return NSF_STATUS_INTERNAL;
        }
    }
    pOut->rgbData[pOut->ucbData] = 0;
    pIn->ucbData = 0;
    nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "BufferHTML.ucbData %u 0x%x, (char *)rgbData...", pOut->ucbData,
            pOut->ucbData);
    nsfLog(pContext, NSF_LOG_DUMP, szFunc, (const char *)pOut->rgbData);
    return NSF_STATUS_OK;
}
