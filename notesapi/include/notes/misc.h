/* Time and number formats and the conversion of a TIMEDATE to text. */
#ifndef NOTES_MISC_H
#define NOTES_MISC_H

#include "global.h"

#define MAXALPHATIMEDATE 80
#define MAXALPHANUMBER 40

#define TDFMT_FULL 0
#define TDFMT_CPARTIAL 1
#define TDFMT_PARTIAL 2
#define TDFMT_DPARTIAL 3
#define TDFMT_FULL4 4
#define TDFMT_CPARTIAL4 5
#define TDFMT_DPARTIAL4 6

#define TTFMT_FULL 0
#define TTFMT_PARTIAL 1
#define TTFMT_HOUR 2

#define TZFMT_NEVER 0
#define TZFMT_SOMETIMES 1
#define TZFMT_ALWAYS 2

#define TSFMT_DATE 0
#define TSFMT_TIME 1
#define TSFMT_DATETIME 2
#define TSFMT_CDATETIME 3

#define NFMT_GENERAL 0
#define NFMT_FIXED 1
#define NFMT_SCIENTIFIC 2
#define NFMT_CURRENCY 3
#define NFMT_BYTES 4

#define NATTR_PUNCTUATED 0x01
#define NATTR_PARENS 0x02
#define NATTR_PERCENT 0x04
#define NATTR_VARYING 0x08
#define NATTR_BYTES 0x10

#define TIMEDATE_MINIMUM 0
#define TIMEDATE_MAXIMUM 1
#define TIMEDATE_WILDCARD 2

NOTESAPI_CANONICAL_BEGIN

typedef struct {
    BYTE Date;
    BYTE Time;
    BYTE Zone;
    BYTE Structure;
} TFMT;

typedef struct {
    BYTE Digits;
    BYTE Format;
    BYTE Attributes;
    BYTE Unused;
} NFMT;

NOTESAPI_CANONICAL_END

NOTESAPI_ASSERT_SIZE(TFMT, 4);
NOTESAPI_ASSERT_SIZE(NFMT, 4);

/* Broken-down time; zone is positive west of GMT. */
typedef struct {
    int year;
    int month;
    int day;
    int weekday;
    int hour;
    int minute;
    int second;
    int hundredth;
    int dst;
    int zone;
    TIMEDATE GM;
} TIME;

NOTESAPI_BEGIN_DECLS

/* IntlFormat and TextFormat may be NULL (current settings; date and time, no zone). The text
   is not NUL-terminated; its length goes to *retTextLength. */
NOTESAPI STATUS LNPUBLIC ConvertTIMEDATEToText(const void *IntlFormat, const TFMT *TextFormat,
                                               const TIMEDATE *InputTime, char *retTextBuffer,
                                               WORD TextBufferLength, WORD *retTextLength);

NOTESAPI_END_DECLS

#endif
