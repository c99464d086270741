/* MIME storage: TYPE_MIME_PART and TYPE_RFC822_TEXT item values. */
#ifndef NOTES_MIMEODS_H
#define NOTES_MIMEODS_H

#include "global.h"

#define MIME_PART_VERSION 2

#define MIME_PART_HAS_BOUNDARY 0x00000001
#define MIME_PART_HAS_HEADERS 0x00000002
#define MIME_PART_BODY_IN_DBOBJECT 0x00000004
#define MIME_PART_SHARED_DBOBJECT 0x00000008
#define MIME_PART_SKIP_FOR_CONVERSION 0x00000010

typedef BYTE MIMEPARTTYPE;
#define MIME_PART_PROLOG 1
#define MIME_PART_BODY 2
#define MIME_PART_EPILOG 3
#define MIME_PART_RETRIEVE_INFO 4
#define MIME_PART_MESSAGE 5

#define RFC822_ITEM_FORMAT_MASK 0x00000007
#define RFC822_ITEM_FORMAT_ADDR 0x00000000
#define RFC822_ITEM_FORMAT_DATE 0x00000001
#define RFC822_ITEM_FORMAT_TEXT 0x00000002
#define RFC822_ITEM_STORAGE_STRICT 0x00000008
#define RFC822_ITEM_TEXT_LIST 0x00000010
#define RFC822_TEXT_UNUSED 0x00000020

NOTESAPI_CANONICAL_BEGIN

/* Start of a TYPE_MIME_PART value; boundary, headers and body follow. */
typedef struct {
    WORD wVersion;
    DWORD dwFlags;
    BYTE cPartType;
    BYTE cSpare;
    WORD wByteCount;
    WORD wBoundaryLen;
    WORD wHeadersLen;
    WORD wSpare;
    DWORD dwSpare;
} MIME_PART;

/* Start of a TYPE_RFC822_TEXT value; native value, header name, delimiter and raw body follow. */
typedef struct {
    WORD wVersion;
    DWORD dwFlags;
    WORD wNotesNativeLen;
    WORD w822NameLen;
    WORD w822DelimLen;
    WORD w822BodyLen;
} RFC822ITEMDESC;

NOTESAPI_CANONICAL_END

NOTESAPI_ASSERT_HOST_SIZE(MIME_PART, 20, 24);
NOTESAPI_ASSERT_HOST_SIZE(RFC822ITEMDESC, 14, 16);

#endif
