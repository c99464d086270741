// The reader context: the record of one open container, received by every operation.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <notes/global.h>
#include <quillon/quillon.h>

struct NSFBUFFER;
struct NSFCRED;
struct NSFSUBFILE;
struct NSFIMAGE;
struct NSFFOLDER;
struct NSFTEMPLATE;

#define NSF_MSG_SIZE 1024
#define NSF_PATH_SIZE 260

// Allocated zero-filled by nsfInit through the host allocator and released by nsfShutdown, which
// handles any partial state. The field order follows the reader's published record layout; fields
// added for our own needs come last.
struct NSFCONTEXT {
    QLHAPI *services;
    int32_t logLevel;
    FILE *logFile;
    char szMsg[NSF_MSG_SIZE]; // every log message is formatted here first
    uint8_t bLogTimestamp;
    uint8_t bLogAPI;
    const char *pszFuncAPI; // the Notes API call in progress, or null

    NSFBUFFER **buffers;
    int32_t numBuffers;
    int32_t numStandingBuffers;
    NSFBUFFER *BufferMain;
    NSFBUFFER *BufferTemp;
    NSFBUFFER *BufferLMBCS;
    NSFBUFFER *BufferUTF8;
    NSFBUFFER *BufferCD;
    NSFBUFFER *BufferCDR;
    NSFBUFFER *BufferCDR2;
    NSFBUFFER *BufferHTML;
    NSFBUFFER *BufferMHT;
    NSFBUFFER *BufferXML;

    uint8_t bNotesInitialised; // this context started the Notes runtime and must end it
    char szFileName8[9];       // base name of the input file, at most 8 characters
    QLIOobj *pIOobj;
    char szUserIdFile[8192]; // the Notes client's own ID file, to switch back to
    char szPassword[150];
    DBHANDLE hDB;
    uint32_t dwFlags;
    NSFCRED *rgCreds;
    int32_t cCreds;

    uint8_t bExportDXL;
    uint8_t bExportDXL_PureXML;
    uint8_t bExtractAllNotes;
    uint8_t bExtractAllFields;
    char szTempDir[NSF_PATH_SIZE];
    char szMailLogoFieldName[32];
    char szMailLogoFieldDefaultValue[64];
    char szAltSentField[32];

    DHANDLE hIDTable;
    uint32_t dwIDEntries;
    NSFSUBFILE **subFiles;
    int32_t numSubFiles;
    int32_t maxSubFiles;
    int32_t curSubFile; // 1-based number of the subfile being worked on, 0 before any
    NSFIMAGE **images;
    int32_t numImages;
    int32_t maxImages;

    uint8_t bExcludeMailHeader;
    uint8_t bGetFormattedBody;
    int32_t eEnumData;
    void *pvEnumData;
    NOTEHANDLE hEnumNote;

    char **rgpszItemNames;
    int32_t cItemNames;
    int32_t cItemNamesMax;
    NSFFOLDER **rgpFolders;
    int32_t cFolders;
    int32_t cFoldersMax;

    uint8_t bExtractByTemplate;
    char szTemplateDir[NSF_PATH_SIZE];
    NSFTEMPLATE **rgpTemplates;
    int32_t cTemplates;
    int32_t nMainTemplate;
    int32_t nTemplateLevel;
    int32_t *rgnImagesXML;
    int32_t cImagesXML;
    int32_t cImagesXMLMax;

    // Set when szTempDir is the directory this reader created, the only one close may remove. A
    // directory named by the TempDir option belongs to the user and is never removed.
    uint8_t bTempDirCreated;

    // Set by the item scan when a name could not be kept, so that the list is not taken for whole.
    uint8_t bItemNamesIncomplete;
};
