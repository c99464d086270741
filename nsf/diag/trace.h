// Tracing of Notes API calls: every call is bracketed by nsfCallAPI and nsfRetAPI, which log it,
// check the bracketing and turn the Notes STATUS into a reader status.
#pragma once

#include <notes/global.h>

struct NSFCONTEXT;

// Marks the start of a Notes API call named pszAPI ("NSFDbOpen()") made by pszCaller. Returns 0.
int nsfCallAPI(NSFCONTEXT *pContext, const char *pszCaller, const char *pszAPI);
// Marks the end of the call in progress and maps its STATUS to a reader status; logs a failure
// with the API's own message text.
int nsfRetAPI(NSFCONTEXT *pContext, const char *pszCaller, STATUS status);

// Names of Notes constants for log lines.
const char *nsfGetSigName(WORD wSignature);
const char *nsfGetNoteClassName(WORD wClass);
const char *nsfGetObjectHostName(WORD wHost);
const char *nsfGetValueClassName(WORD wClass);
const char *nsfGetItemTypeName(WORD wType);
