// Subfile metadata: a note's fields, reserved values and folders handed to the host.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <quillon/quillon.h>

struct NSFCONTEXT;

// One folder of the database with the note IDs it holds; allocated with room for its IDs.
struct NSFFOLDER {
    uint32_t dwNoteID; // the folder's view note
    char szName[128];  // its $TITLE
    int32_t dwIDEntries;
    uint32_t rgdwNoteIDs[1]; // dwIDEntries note IDs follow
};

// Slot 4: the metadata of a note subfile, appended to the host's result in memory of the result's
// own allocator. rgMetaNames names the fields; without names, a negative cMetaNames asks for every
// item of the note and any other the mail fields.
int QLAPI nsfGetSubFileMetadata(void *pvContext, int32_t nIndex, int32_t cMetaNames, QLMetaName *rgMetaNames,
                                QLSubFileMetaData *pResult, QLRequest *pResultMemory);
// Chooses the names for an open note and appends one element for each. With every item asked
// for, a name that several items share gets its joined value once, on its first element.
int nsfGetNoteMetadata(NSFCONTEXT *pContext, DWORD dwNoteID, NOTEHANDLE hNote, int32_t cMetaNames,
                       const QLMetaName *rgMetaNames, QLSubFileMetaData *pResult, QLAllocator *pResultMemory);
// The value of a reserved "$$$QL_" name as text in BufferMain (empty for a name it does not know).
int nsfGetQLMetadata(NSFCONTEXT *pContext, NOTEHANDLE hNote, DWORD dwNoteID, const char *pszName);

// Lists the names of every item of the note, in order and duplicates included, in rgpszItemNames.
int nsfGetNoteItemNames(NSFCONTEXT *pContext, NOTEHANDLE hNote);
// Readies the next item name slot, growing the array when it is full.
int nsfNewItemName(NSFCONTEXT *pContext);

// The names of the folders holding the note, joined by ", " in BufferMain. The folders are found
// once per context.
int nsfGetNoteFolders(NSFCONTEXT *pContext, DWORD dwNoteID);
