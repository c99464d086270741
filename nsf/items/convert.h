// Text and time conversion shared by the item reader, the catalogue, the converter and the
// templates: Notes times to broken-down times and FILETIMEs, date texts back to broken-down
// times, and the text chain BufferCD -> BufferLMBCS -> BufferUTF8 -> BufferHTML.
#pragma once

#include <stdint.h>
#include <time.h>

#include <notes/global.h>
#include <quillon/quillon.h>

struct NSFCONTEXT;

// Splits a TIMEDATE into its GMT broken-down time and, when pZone is given, a zone holder:
// tm_hour the zone's hours (negative east of GMT), tm_min its extra minutes, tm_isdst its DST flag.
int nsfConvertTIMEDATEtoTM(NSFCONTEXT *pContext, const TIMEDATE *pTimeDate, struct tm *pTm, struct tm *pZone);
// The calendar date of a Julian day number; false outside the years 1801 to 2099.
bool nsfJulianDayToDate(int32_t lJulianDay, int32_t *pnYear, int32_t *pnMonth, int32_t *pnDay);
// The FILETIME of a broken-down time taken as GMT.
int nsfConvertTMtoFILETIME(NSFCONTEXT *pContext, const struct tm *pTm, QL_FILETIME *pFileTime);
// Normalises a broken-down local time as mktime does (tm_isdst -1 lets the zone decide) and gives
// its seconds from 1970 UTC; false when the time cannot be represented. Reaches times before 1970
// on every system.
bool nsfMakeLocalTime(struct tm *pTm, int64_t *pllTime);
// Parses "M/D/Y H:M:S" with an optional " AM" or " PM" into a normalised local broken-down time.
int nsfScanTime(NSFCONTEXT *pContext, const char *pszTime, struct tm *pTm);

// BufferCD (raw text, NUL-separated) to BufferLMBCS (CR LF line ends); empties BufferCD.
int nsfConvertCDtoLMBCS(NSFCONTEXT *pContext);
// BufferLMBCS to BufferUTF8 through the Notes API; empties BufferLMBCS.
int nsfConvertLMBCStoUTF8(NSFCONTEXT *pContext);
// BufferUTF8 to BufferHTML, escaped for an HTML body carried quoted-printable; empties BufferUTF8.
int nsfConvertUTF8toHTML(NSFCONTEXT *pContext);
