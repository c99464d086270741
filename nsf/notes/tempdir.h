// Temporary workspace: the per-process directory into which the Notes API writes attachments and
// composite data, and the unique files made in it.
#pragma once

#include <stddef.h>

struct NSFCONTEXT;

// Makes (or reuses) the reader's own directory "tessel_<pid>" below the host's or the system's
// temporary directory. 0, or NSF_STATUS_INTERNAL with szTempDir emptied.
int nsfCreateTempDir(NSFCONTEXT *pContext);
// Removes, below pszBase (ending in a separator), the "tessel_<pid>" directories left by readers
// that were killed: only those whose process no longer runs and that the current user owns. Each
// removal and each failure is logged; returns the number removed.
int nsfRemoveStaleTempDirs(NSFCONTEXT *pContext, const char *pszBase);
// Makes a new empty file in the temporary directory, re-creating the directory when it has gone,
// and writes its path to pszBuffer. 0, or a failure status.
int nsfGetTempFilePath(NSFCONTEXT *pContext, const char *pszPrefix, char *pszBuffer, size_t cbBuffer);
// Removes the directory the reader made; a directory named by the TempDir option is left alone.
int nsfDeleteTempDir(NSFCONTEXT *pContext);
