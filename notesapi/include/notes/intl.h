/* International settings passed to the conversion functions (NULL means the current ones). */
#ifndef NOTES_INTL_H
#define NOTES_INTL_H

#include "global.h"

#define ISTRMAX 5
#define YTSTRMAX 32

#define CURRENCY_SUFFIX 0x0001
#define CURRENCY_SPACE 0x0002
#define NUMBER_LEADING_ZERO 0x0004
#define CLOCK_24_HOUR 0x0008
#define DAYLIGHT_SAVINGS 0x0010
#define DATE_MDY 0x0020
#define DATE_DMY 0x0040
#define DATE_YMD 0x0080
#define DATE_4DIGIT_YEAR 0x0100
#define TIME_AMPM_PREFIX 0x0400
#define DATE_ABBREV 0x0800

NOTESAPI_HOST_PACK_BEGIN

typedef struct {
    WORD Flags;
    BYTE CurrencyDigits;
    BYTE Length; /* the size of this structure */
    int TimeZone;
    char AMString[ISTRMAX];
    char PMString[ISTRMAX];
    char CurrencyString[ISTRMAX];
    char ThousandString[ISTRMAX];
    char DecimalString[ISTRMAX];
    char DateString[ISTRMAX];
    char TimeString[ISTRMAX];
    char YesterdayString[YTSTRMAX];
    char TodayString[YTSTRMAX];
    char TomorrowString[YTSTRMAX];
} INTLFORMAT;

NOTESAPI_HOST_PACK_END

#endif
