// The Notes runtime and the database session: runtime start under the machine-wide mutex, the
// client's own ID file, the identity switch and the database open and close.
#pragma once

struct NSFCONTEXT;

// The name of the mutex that serialises the start of the Notes runtime across processes.
#define NSF_MUTEX_NAME "QuillonNSFReaderMutex"

int nsfInitNotes(NSFCONTEXT *pContext);
int nsfSaveUserIdFile(NSFCONTEXT *pContext);
int nsfOpenDatabase(NSFCONTEXT *pContext, const char *pszIdFile, const char *pszPath, const char *pszPassword);
int nsfCloseDatabase(NSFCONTEXT *pContext);
