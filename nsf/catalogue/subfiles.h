// Subfile catalogue: the flat, indexed list of notes and attachments the host sees.
#pragma once

#include <stdint.h>

#include "quillon/quillon.h"

// One subfile, zero-filled at creation.
struct NSFSUBFILE {
    int32_t nSubFile;    // own index in the catalogue
    int32_t subFileType; // QLSubFileType_*
    uint32_t dwNoteID;   // the note, or the note of an attachment; 0 for the root
    uint8_t bNoteIsDocument;
    uint8_t bNoteHasMIME;
    uint8_t bNoteHasMIMEPart;
    char szSubject[64]; // file-name-safe Subject
    char szForm[64];
    uint8_t bNoteIsMail;
    int32_t nMailLogoImage; // picture number of the mail logo, 0 when none
    int32_t nFileItem;      // attachments: 1-based position among the note's $FILE items
    uint32_t cbOrigFileName;
    uint8_t *rgbOrigFileName; // owned: the file name as stored (LMBCS), terminated
    uint32_t cbFileName;
    uint8_t *pbFileName; // owned: the file name in UTF-8, terminated
    QL_FILETIME fileTime;
};
