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

struct NSFCONTEXT;
struct QLCredentialList;

// Turns the caller's list of ID files and passwords into credential records.
int nsfInitCreds(NSFCONTEXT *pContext, const QLCredentialList *pList);
// Appends one record with copies of the ID file path and the password (which may be null).
int nsfNewCred(NSFCONTEXT *pContext, const char *pszIdFile, const char *pszPassword);
// Scores a record: opens the database under it and counts the documents it can read with a Body.
int nsfTestCreds(NSFCONTEXT *pContext, const char *pszPath, NSFCRED *pCred);
// Chooses the record to open the database with: the only one untested, else the first of the
// best-scoring ones after testing each. Null when there is none.
NSFCRED *nsfChooseCred(NSFCONTEXT *pContext);
