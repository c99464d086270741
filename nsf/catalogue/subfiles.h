// Subfile catalogue: the flat, indexed list of notes and attachments the host sees.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <notes/pool.h>
#include <quillon/quillon.h>

struct NSFCONTEXT;

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

// Builds the catalogue once the database is open: the pictures, then for every note found the
// note's record followed by its attachments, after a root record when CNVO_CREATEROOTDIR is set.
// A note that cannot be read costs only its own records.
int nsfInitSubfiles(NSFCONTEXT *pContext);
// Adds the note's record, when the note is a subfile, and its attachments.
int nsfGetNoteSubfiles(NSFCONTEXT *pContext, DWORD dwNoteID);
// Classifies an open note and adds its record when it is a subfile; *pbIsSubfile tells which.
int nsfGetNoteSubfile(NSFCONTEXT *pContext, NOTEHANDLE hNote, DWORD dwNoteID, bool *pbIsSubfile);
// Adds one attachment from a $FILE item whose value block (type word included, dwValueLen bytes)
// holds the object's descriptor; objects that are no file attachment are skipped with status 0.
int nsfGetAttachSubfile(NSFCONTEXT *pContext, DWORD dwNoteID, int32_t nFileItem, BLOCKID bhItem,
                        BLOCKID bhValue, DWORD dwValueLen);
// The note's sent time: PostedDate, else ComposedDate; left as it is when it has neither.
int nsfGetNoteFILETIME(NSFCONTEXT *pContext, NOTEHANDLE hNote, QL_FILETIME *pFileTime);
// Appends a zeroed record; the caller takes it as subFiles[numSubFiles - 1]. Returns 0 or
// NSF_STATUS_OUT_OF_MEMORY.
int nsfNewSubFile(NSFCONTEXT *pContext);
