// Credentials: the caller's user ID files and passwords, scored against the database.
#pragma once

#include <stdint.h>

// One credential. Both strings are owned copies made with the host's duplicate-string service.
struct NSFCRED {
    char *pszUserIdFile;
    char *pszPassword; // may be null
    int32_t cNotes;    // notes opened while testing the credential
    int32_t cBody;     // notes found to have a "Body" item: the score
};
