// Picture catalogue: the database's shared pictures, loaded once at open.
#pragma once

#include <stdint.h>

struct NSFBUFFER;

// One picture, zero-filled at creation. Its bytes live in a work buffer of its own.
struct NSFIMAGE {
    int32_t nImage;      // 1-based number: index in the catalogue + 1
    uint32_t dwNoteID;   // the image resource note, 0 for pictures added by extraction or templates
    char szTitle[128];   // $TITLE before the first ';'
    char szLinkName[32]; // $TITLE after the first ';'
    uint16_t wImageType; // CDIMAGETYPE_*
    NSFBUFFER *pBuffer;
};
