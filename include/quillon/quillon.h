/*
 * The interface between a Quillon filtering host and a container reader plug-in.
 *
 * Everything here is plain C so that a host and a reader built by different compilers can meet.
 * Field orders are part of the contract: do not reorder. Every function pointer uses QLAPI, the
 * host interface's calling convention (callee-cleans stdcall on 32-bit Windows, the platform
 * default elsewhere). Every entry takes its own object first.
 *
 * Results: entries that report success return nonzero on success and 0 on failure, unless noted.
 */
#ifndef QUILLON_QUILLON_H
#define QUILLON_QUILLON_H

#include <stddef.h>
#include <stdint.h>
#include <time.h>

#if defined(_WIN32) && !defined(_WIN64)
#define QLAPI __stdcall
#else
#define QLAPI
#endif

#if defined(_WIN32)
#define QLEXPORT __declspec(dllexport)
#else
#define QLEXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------------------------------
 * Reader statuses: what every operation of the operation table reports.
 */
enum {
    QLSTATUS_OK = 0,
    QLSTATUS_OUT_OF_MEMORY = 2,
    QLSTATUS_ACCESS_FAILED = 4,     /* open, search, directory or file access failure */
    QLSTATUS_INTERNAL = 6,          /* internal failure, unlisted Notes status */
    QLSTATUS_INIT_FAILED = 12,      /* runtime or input path failure at open */
    QLSTATUS_OUTPUT_FAILED = 16,    /* output stream or temporary file failure */
    QLSTATUS_ACCESS_REFUSED = 33,   /* the Notes API refused access */
    QLSTATUS_BAD_ARGUMENT = 34,     /* bad argument or subfile index */
    QLSTATUS_NO_TEMPLATES = 44,
    QLSTATUS_NO_MAIN_TEMPLATE = 45,
    QLSTATUS_INVALID_TEMPLATE = 46,
    QLSTATUS_TEMPLATE_STOPPED = 47
};

/* Open flags given to the reader's open operation. */
#define CNVO_CREATEROOTDIR 0x00040000u  /* the catalogue starts with a root folder entry */
#define CNVO_SHOWHIDDENTEXT 0x01000000u /* hidden rich text is made visible */

/* Extraction flags (nFlag of slots 5 and 7). */
#define QLExtractFlag_ExcludeMailHeader 0x2u
#define QLExtractFlag_GetFormattedBody 0x4u

/* Character sets in the host's numbering. */
enum {
    QLCharset_Unknown = 0,
    QLCharset_Windows1252 = 1,
    QLCharset_ISO8859_1 = 2,
    QLCharset_UTF16LE = 3,
    QLCharset_UTF8 = 53,
    QLCharset_LMBCS = 54
};

/* A Windows FILETIME: 100-nanosecond intervals since 1601-01-01 UTC, low word first. */
typedef struct QL_FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} QL_FILETIME;

/* ---------------------------------------------------------------------------------------------
 * Allocator. Sizes are 32-bit; any size above 0x7FFFFFFF is refused (null result).
 */
typedef struct QLAllocator QLAllocator;
struct QLAllocator {
    void *(QLAPI *fpAlloc)(QLAllocator *pAllocator, uint32_t cb);
    void(QLAPI *fpFree)(QLAllocator *pAllocator, void *pBlock);
    /* Moves the block to cb bytes keeping its contents; null on failure (the block is untouched). */
    void *(QLAPI *fpRealloc)(QLAllocator *pAllocator, void *pBlock, uint32_t cb);
    /* As fpRealloc, and the bytes added beyond the old size are zero-filled. */
    void *(QLAPI *fpReallocZero)(QLAllocator *pAllocator, void *pBlock, uint32_t cb);
};

/* A request object of the info and metadata operations: memory handed back to the host comes
 * from the allocator in its second pointer-sized field, and the host frees it. */
typedef struct QLRequest {
    void *pHostData;
    QLAllocator *pAllocator;
} QLRequest;

/* ---------------------------------------------------------------------------------------------
 * Stream, made by the services table's open-stream entry. Close closes and frees the object.
 */
typedef struct QLStream QLStream;
struct QLStream {
    int(QLAPI *fpOpen)(QLStream *pStream);
    uint32_t(QLAPI *fpRead)(QLStream *pStream, void *pBuffer, uint32_t cb); /* bytes read */
    uint32_t(QLAPI *fpWrite)(QLStream *pStream, const void *pData, uint32_t cb); /* bytes written */
    int(QLAPI *fpSeek)(QLStream *pStream, int64_t offset, int origin); /* origin 0 start, 1 current, 2 end */
    int64_t(QLAPI *fpTell)(QLStream *pStream); /* -1 on failure */
    void(QLAPI *fpClose)(QLStream *pStream);
};

/* ---------------------------------------------------------------------------------------------
 * I/O object: the input file and each extraction's output. fpClose is null while the object is
 * not open: a host sets it when the object opens and clears it when the object closes.
 */
typedef struct QLIOobj QLIOobj;
struct QLIOobj {
    char *pFileName;
    int(QLAPI *fpOpen)(QLIOobj *pIOobj);
    int(QLAPI *fpWrite)(QLIOobj *pIOobj, const void *pData, uint32_t cb);
    int(QLAPI *fpClose)(QLIOobj *pIOobj);
};

/* ---------------------------------------------------------------------------------------------
 * Services table (HAPI), entries in their contractual order.
 */
typedef struct QLHAPI QLHAPI;
struct QLHAPI {
    /* Loads a library of the host's library directory; "bmpcv.dll" names the image converter. */
    int(QLAPI *fpLoadLibrary)(QLHAPI *pHAPI, const char *pszFileName, void **phLibrary);
    void *(QLAPI *fpGetProcAddress)(QLHAPI *pHAPI, void *hLibrary, const char *pszName);
    void(QLAPI *fpFreeLibrary)(QLHAPI *pHAPI, void *hLibrary);
    /* Nonzero when the key has a value, which is then in the buffer (cut to cbBuffer - 1). */
    int(QLAPI *fpGetProfileString)(QLHAPI *pHAPI, const char *pszSection, const char *pszKey,
                                   const char *pszDefault, char *pszBuffer, uint32_t cbBuffer,
                                   uint32_t dwReserved);
    /* Null path with mode "a+b": a memory stream; a path with mode "rb": a file to read. */
    QLStream *(QLAPI *fpOpenStream)(QLHAPI *pHAPI, const char *pszPath, const char *pszMode);
    QLAllocator allocator;
    char *(QLAPI *fpDupString)(QLHAPI *pHAPI, const char *psz);
    /* Converts cbIn bytes from one host character set to another into pOut (room cbOut) and
     * terminates it when there is room. Returns the bytes written (0 for empty input), or -1. */
    int32_t(QLAPI *fpConvertCharset)(QLHAPI *pHAPI, int nFromCharset, int nToCharset, const char *pIn,
                                     uint32_t cbIn, char *pOut, uint32_t cbOut);
    /* Nonzero when the byte starts a multi-byte character of the character set. */
    int(QLAPI *fpIsLeadByte)(QLHAPI *pHAPI, unsigned char b, int nCharset);
    /* Date settings handed to fpFormatDateTime: the order of day, month and year in numeric dates
     * (0 month-day-year, 1 day-month-year, 2 year-month-day) and 24-hour clock (1) or AM/PM (0). */
    int32_t nDateOrder;
    int32_t b24Hour;
    /* Formats a broken-down time with a numbered format (unknown codes fall back to 0) into the
     * buffer; returns the length written, 0 on failure. */
    int(QLAPI *fpFormatDateTime)(QLHAPI *pHAPI, const struct tm *pTime, int nFormat, int32_t nDateOrder,
                                 int32_t b24Hour, char *pszBuffer, uint32_t cbBuffer);
    void(QLAPI *fpTimeToFILETIME)(QLHAPI *pHAPI, int64_t tSeconds, QL_FILETIME *pFileTime);
    /* Base of the reader's temporary directory; empty for the system's. Never null. */
    const char *pszTempDir;
    /* The host's directory, ending in a separator; "NSFtemplates" lies below it. Never null. */
    const char *pszHostDir;
};

/* ---------------------------------------------------------------------------------------------
 * Credential list given to open.
 */
enum { QLCredentialType_UserIdFile = 1, QLCredentialType_Password = 2 };

typedef struct QLCredentialItem {
    int32_t type;
    const char *value;
} QLCredentialItem;

typedef struct QLCredentialList {
    int32_t count;
    QLCredentialItem **items;
} QLCredentialList;

/* ---------------------------------------------------------------------------------------------
 * Container and subfile info.
 */
enum {
    QLSubFileType_Main = 0,
    QLSubFileType_Attachment = 1,
    QLSubFileType_OLE = 2,
    QLSubFileType_Folder = 3,
    QLSubFileType_Picture = 4
};

#define QLSubFileInfoFlag_NeedsExtraction 0x1u

typedef struct QLDocInfo {
    int32_t eClass;
    int32_t eFormat;
} QLDocInfo;

typedef struct QLMainFileInfo {
    uint32_t cbStruct; /* the host's; the reader never touches it */
    int32_t numSubFiles;
    QLDocInfo docInfo;
    int32_t charset;
    int32_t isMSBLSB;
    uint32_t infoFlag;
} QLMainFileInfo;

typedef struct QLSubFileInfo {
    uint32_t cbStruct; /* the host's; the reader never touches it */
    char *subFileName; /* from the request's allocator */
    int32_t subFileType;
    int32_t subFileSize;
    uint32_t infoFlag;
    int32_t charset;
    int32_t isMSBLSB;
    QL_FILETIME fileTime;
    int32_t parentIndex;
    int32_t childCount; /* must arrive as 0: children are counted onto it */
    int32_t *childArray; /* from the request's allocator */
} QLSubFileInfo;

/* ---------------------------------------------------------------------------------------------
 * Metadata.
 */
enum { QLMetaNameType_Integer = 0, QLMetaNameType_String = 1 };

typedef struct QLMetaName {
    int32_t type;
    const char *name;
} QLMetaName;

#define QLMetaDataType_UTF8String 7

typedef struct QLSubFileMetaDataElem {
    int32_t isDataValid;
    int32_t reserved;
    int32_t type;
    char *strType; /* the element's name */
    char *data;    /* the value's text and its terminator */
    int32_t dataSize;
} QLSubFileMetaDataElem;

typedef struct QLSubFileMetaData {
    uint32_t cbStruct; /* these three are the host's; the reader never touches them */
    uint32_t dwHostFlags;
    void *pHostData;
    int32_t nElem;
    QLSubFileMetaDataElem **ppElem;
    uint32_t infoFlag;
} QLSubFileMetaData;

/* ---------------------------------------------------------------------------------------------
 * Extraction.
 */
#define QLSubFileExtractInfoFlag_NeedsExtraction 0x1u
#define QLSubFileExtractInfoFlag_FileCreated 0x2u
#define QLSubFileExtractInfoFlag_CharsetConverted 0x4u
#define QLSubFileExtractInfoFlag_External 0x8u
#define QLSubFileExtractInfoFlag_FolderCreated 0x10u
#define QLSubFileExtractInfoFlag_NonFormattedBodyExtracted 0x20u

typedef struct QLSubFileExtractInfo {
    uint32_t cbStruct; /* the host's; the reader never touches it */
    char *filePath;
    char *fileName;
    uint32_t infoFlag;
} QLSubFileExtractInfo;

/* The extra subfile info of slot 7: a note named by its ID rather than by catalogue index. */
#define QLExtraSubFileKind_Note 4

typedef struct QLExtraSubFileInfo {
    uint32_t cbStruct; /* the host's; the reader never touches it */
    uint32_t dwNoteID;
    int32_t eKind; /* must be QLExtraSubFileKind_Note */
} QLExtraSubFileInfo;

typedef struct QLExtractArgsEx {
    uint32_t nFlag;
    QLExtraSubFileInfo *pExtraSubFileInfo; /* or null */
} QLExtractArgsEx;

/* ---------------------------------------------------------------------------------------------
 * Operation table. The reader fills slots 0 to 5 and 7 and leaves slot 6 as the host set it.
 */
typedef void *(QLAPI *QLReaderInitFn)(QLIOobj *pIOobj, QLHAPI *pHAPI, uint32_t dwFlags, void *pReserved,
                                      QLCredentialList *pCredentials, int *pStatus);
typedef void(QLAPI *QLReaderShutdownFn)(void *pContext);
typedef int(QLAPI *QLGetContainerInfoFn)(void *pContext, QLMainFileInfo *pInfo, QLRequest *pRequest);
typedef int(QLAPI *QLGetSubFileInfoFn)(void *pContext, int32_t nIndex, QLSubFileInfo *pInfo,
                                       QLRequest *pRequest);
typedef int(QLAPI *QLGetSubFileMetadataFn)(void *pContext, int32_t nIndex, int32_t cMetaNames,
                                           QLMetaName *rgMetaNames, QLSubFileMetaData *pResult,
                                           QLRequest *pResultMemory);
typedef int(QLAPI *QLExtractSubFileFn)(void *pContext, int32_t nIndex, QLIOobj *pIOobj,
                                       QLSubFileExtractInfo *pExtractInfo, void *pFifth, uint32_t nFlag);
typedef int(QLAPI *QLExtractSubFileExFn)(void *pContext, int32_t nIndex, QLIOobj *pIOobj,
                                         QLSubFileExtractInfo *pExtractInfo, void *pFifth,
                                         QLExtractArgsEx *pArgs);

typedef struct QLReaderInterface {
    QLReaderInitFn fpInit;                         /* slot 0 */
    QLReaderShutdownFn fpShutdown;                 /* slot 1 */
    QLGetContainerInfoFn fpGetContainerInfo;       /* slot 2 */
    QLGetSubFileInfoFn fpGetSubFileInfo;           /* slot 3 */
    QLGetSubFileMetadataFn fpGetSubFileMetadata;   /* slot 4 */
    QLExtractSubFileFn fpExtractSubFileToIOobj;     /* slot 5 */
    void *pSlot6;                                  /* the host's own; never set by the reader */
    QLExtractSubFileExFn fpExtractSubFileToIOobjEx; /* slot 7 */
} QLReaderInterface;

/* The reader's only export. */
typedef QLReaderInterface *(QLAPI *QLGetReaderInterfaceFn)(QLReaderInterface *pTable);
#define QL_READER_ENTRY_NAME "nsfGetContainerReaderInterfaceEx"

/* ---------------------------------------------------------------------------------------------
 * Image converter: the library the host loads as "bmpcv.dll" and its export "IMGXconvert". It
 * reads a picture of one format from the input stream (from its start) and, on success, starts the
 * output stream over and writes the picture in the other format into it; the two may be one stream.
 * Formats: "NBMP" (a Notes bitmap as the rich-text converter stores it) to "BMP". The flags and the
 * reserved value are 0. Returns 0 on success; nonzero when it cannot convert, and then it has not
 * written to the output.
 */
typedef int(QLAPI *QLImageConvertFn)(QLHAPI *pHAPI, const char *pszFromFormat, const char *pszToFormat,
                                     QLStream *pInput, QLStream *pOutput, uint32_t dwFlags,
                                     uint32_t dwReserved);
#define QL_IMAGE_CONVERTER_LIBRARY "bmpcv.dll"
#define QL_IMAGE_CONVERT_ENTRY_NAME "IMGXconvert"

#ifdef __cplusplus
}
#endif

#endif /* QUILLON_QUILLON_H */
