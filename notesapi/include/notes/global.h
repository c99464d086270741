/* Basic types, calling conventions and runtime start-up of the Notes C API. */
#ifndef NOTES_GLOBAL_H
#define NOTES_GLOBAL_H

#include <stddef.h>

/* Calling conventions: stdcall on 32-bit Windows, the platform default elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define LNPUBLIC __stdcall
#define LNCALLBACK __stdcall
#else
#define LNPUBLIC
#define LNCALLBACK
#endif
#define LNVARARGS
#define LNCALLBACKPTR(rtype, name) rtype(LNCALLBACK *name)

/* Marks the API functions a runtime library exports. The emulated runtime builds with
   NOTESAPI_BUILDING_RUNTIME defined; everybody else sees plain declarations. */
#if defined(NOTESAPI_BUILDING_RUNTIME)
#if defined(_WIN32)
#define NOTESAPI __declspec(dllexport)
#else
#define NOTESAPI __attribute__((visibility("default")))
#endif
#else
#define NOTESAPI
#endif

#ifdef __cplusplus
#define NOTESAPI_BEGIN_DECLS extern "C" {
#define NOTESAPI_END_DECLS }
#else
#define NOTESAPI_BEGIN_DECLS
#define NOTESAPI_END_DECLS
#endif

/* Compile-time size checks of the canonical (on-disk) structures. */
#ifdef __cplusplus
#define NOTESAPI_ASSERT_SIZE(type, size) static_assert(sizeof(type) == (size), #type " size")
#else
#define NOTESAPI_ASSERT_SIZE(type, size) _Static_assert(sizeof(type) == (size), #type " size")
#endif

/* Every structure here is a host structure, declared as the published toolkit declares it:
   packed on 32-bit Windows, naturally aligned elsewhere (BLOCKID is 6 bytes there and 8 here,
   FILEOBJECT 36 there and 40 here). The canonical (on-disk) form of the ODS structures is
   packed and little-endian everywhere; ODSLength gives its size, and ODSReadMemory /
   ODSWriteMemory convert between it and these structures. Never overlay one of these on
   canonical bytes. */
#if defined(_WIN32) && !defined(_WIN64)
#define NOTESAPI_CANONICAL_BEGIN _Pragma("pack(push, 1)")
#define NOTESAPI_CANONICAL_END _Pragma("pack(pop)")
#define NOTESAPI_ASSERT_HOST_SIZE(type, packed, natural) NOTESAPI_ASSERT_SIZE(type, packed)
#else
#define NOTESAPI_CANONICAL_BEGIN
#define NOTESAPI_CANONICAL_END
#define NOTESAPI_ASSERT_HOST_SIZE(type, packed, natural) NOTESAPI_ASSERT_SIZE(type, natural)
#endif
#if defined(_WIN32) && !defined(_WIN64)
#define NOTESAPI_HOST_PACK_BEGIN _Pragma("pack(push, 1)")
#define NOTESAPI_HOST_PACK_END _Pragma("pack(pop)")
#else
#define NOTESAPI_HOST_PACK_BEGIN
#define NOTESAPI_HOST_PACK_END
#endif

/* Scalar types. */
typedef unsigned char BYTE;
typedef unsigned char BOOLBYTE;
typedef unsigned short WORD;
typedef short SWORD;
typedef unsigned short USHORT;
typedef unsigned int DWORD; /* 32 bits on every supported data model */
typedef int LONG;
typedef unsigned int ULONG;
typedef int BOOL;
typedef double NUMBER;
typedef WORD STATUS;
typedef char *STR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Handles are 32 bits on every platform here (HANDLE_IS_32BITS in the toolkit's terms). */
typedef DWORD DHANDLE;
typedef DHANDLE HANDLE_NOTES;
typedef DHANDLE DBHANDLE;
typedef DHANDLE NOTEHANDLE;
typedef DHANDLE FORMULAHANDLE;
typedef DHANDLE WHANDLE;
typedef DWORD MEMHANDLE;
typedef DWORD NOTEID;
typedef DWORD FONTID;

#if defined(_WIN32)
struct HINSTANCE__;
typedef struct HINSTANCE__ *HMODULE;
#else
typedef WHANDLE HMODULE;
#endif

#define NULLHANDLE ((DHANDLE)0)
#define NULLMEMHANDLE ((MEMHANDLE)0)
#define NOERROR 0

#define MAXWORD 0xFFFF
#define MAXDWORD 0xFFFFFFFFU
#define MAXPATH 256
#define MAXUSERNAME 256
#define MAXSPRINTF 256

/* TIMEDATE: Innards[0] = hundredths of a second since midnight GMT, Innards[1] = Julian day
   in the low 24 bits plus the zone and daylight-saving bits. */
typedef struct {
    DWORD Innards[2];
} TIMEDATE;

typedef struct {
    TIMEDATE Lower;
    TIMEDATE Upper;
} TIMEDATE_PAIR;

typedef TIMEDATE DBID;

#define ALLDAY 0xFFFFFFFFU /* Innards[0] of a date without time */
#define ANYDAY 0xFFFFFFFFU /* Innards[1] of a time without date */

#define TICKS_IN_DAY 8640000L
#define TICKS_IN_HOUR 360000L
#define TICKS_IN_MINUTE 6000L
#define TICKS_IN_SECOND 100L
#define SECS_IN_DAY 86400L
#define SECS_IN_WEEK 604800L
#define SECS_IN_MONTH 2592000L

/* Picture sizes and crop edges of the graphic records. */
typedef struct {
    WORD width;
    WORD height;
} RECTSIZE;

typedef struct {
    WORD left;
    WORD top;
    WORD right;
    WORD bottom;
} CROPRECT;

NOTESAPI_ASSERT_SIZE(TIMEDATE, 8);
NOTESAPI_ASSERT_SIZE(TIMEDATE_PAIR, 16);
NOTESAPI_ASSERT_SIZE(RECTSIZE, 4);
NOTESAPI_ASSERT_SIZE(CROPRECT, 8);

#include "globerr.h"

NOTESAPI_BEGIN_DECLS

/* Starts the runtime for this process. An argv entry "=path" (not argv[0]) names the ini file.
   Calls are counted; each successful call needs one NotesTerm. */
NOTESAPI STATUS LNPUBLIC NotesInitExtended(int argc, char **argv);
NOTESAPI void LNPUBLIC NotesTerm(void);

NOTESAPI_END_DECLS

#endif
