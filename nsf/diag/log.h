// Diagnostic log: one plain-text file per process and thread, configured from the environment.
#pragma once

#include <stdint.h>

#include "nsf/base/context.h"

// Log levels, in increasing verbosity. A line of level L is written when 2 <= L <= logLevel.
enum {
    NSF_LOG_NONE = 1,
    NSF_LOG_NOTES_API = 2,
    NSF_LOG_ERROR = 3,
    NSF_LOG_WARNING = 4,
    NSF_LOG_INFO = 5,
    NSF_LOG_DIAG = 6,
    NSF_LOG_DEBUG = 7,
    NSF_LOG_DUMP = 8,
    NSF_LOG_ALL = 9
};

// The level named by a QUILLON_TESSEL_LOG_LEVEL value, or 0 for anything else.
int nsfParseLogLevel(const char *pszLevel);
void nsfLogOpen(NSFCONTEXT *pContext);
// True when a line of this level would be written. Code that builds a message by hand tests this
// first, so that a log that is off costs one comparison.
inline bool nsfLogOn(const NSFCONTEXT *pContext, int nLevel)
{
    return nLevel >= NSF_LOG_NOTES_API && nLevel <= pContext->logLevel && pContext->logFile != NULL;
}

// Writes one line; without a function name the message is written bare. A null message writes nothing.
void nsfLog(NSFCONTEXT *pContext, int nLevel, const char *pszFunc, const char *pszMessage);
// Formats into the context's szMsg and writes it as nsfLog does. Called through nsfLogf.
void nsfLogFormat(NSFCONTEXT *pContext, int nLevel, const char *pszFunc, const char *pszFormat, ...)
    __attribute__((format(printf, 4, 5)));
// Formats and writes a line when its level is on. The level is tested before the arguments are
// evaluated, so the name lookups and conversions written as arguments cost nothing with the log
// off; arguments must therefore have no side effects.
#define nsfLogf(pContext, nLevel, pszFunc, ...)                                                              \
    (nsfLogOn((pContext), (nLevel)) ? nsfLogFormat((pContext), (nLevel), (pszFunc), __VA_ARGS__) : (void)0)
// Writes a hex dump, 16 bytes a line.
void nsfLogDump(NSFCONTEXT *pContext, int nLevel, const void *pData, uint32_t cbData);
void nsfLogClose(NSFCONTEXT *pContext);
