// Subfile metadata: a note's fields, reserved values and folders handed to the host.
#pragma once

#include <stdint.h>

// One folder of the database with the note IDs it holds; allocated with room for its IDs.
struct NSFFOLDER {
    uint32_t dwNoteID; // the folder's view note
    char szName[128];  // its $TITLE
    int32_t dwIDEntries;
    uint32_t rgdwNoteIDs[1]; // dwIDEntries note IDs follow
};
