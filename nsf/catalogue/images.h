// Picture catalogue: the database's shared pictures, loaded once at open.
#pragma once

#include <stdint.h>

#include <notes/global.h>

struct NSFBUFFER;
struct NSFCONTEXT;

// One picture, zero-filled at creation. Its bytes live in a work buffer of its own.
struct NSFIMAGE {
    int32_t nImage;      // 1-based number: index in the catalogue + 1
    uint32_t dwNoteID;   // the image resource note, 0 for pictures added by extraction or templates
    char szTitle[128];   // $TITLE before the first ';'
    char szLinkName[32]; // $TITLE after the first ';'
    uint16_t wImageType; // CDIMAGETYPE_*
    NSFBUFFER *pBuffer;
};

// Loads every image resource of the database into the picture catalogue. Borrows the context's
// ID table, which it leaves empty. A failed search leaves the catalogue empty and is not reported.
int nsfInitImages(NSFCONTEXT *pContext);
// Adds the note as a picture when it has "$ImageData" and a title; 0 also when it is no picture.
int nsfGetNoteImage(NSFCONTEXT *pContext, DWORD dwNoteID);
// Appends a zeroed picture record with a work buffer of its own (no block yet); the caller takes
// it as the last element of images. Returns 0 or NSF_STATUS_OUT_OF_MEMORY.
int nsfNewImage(NSFCONTEXT *pContext);
// The first picture whose link name, else whose title, equals the name given (ASCII case
// ignored); either name may be null. Null when none matches.
NSFIMAGE *nsfFindImage(NSFCONTEXT *pContext, const char *pszLinkName, const char *pszTitle);
