// Diagnostic log: one plain-text file per process and thread, configured from the environment.
#pragma once

#include <stdint.h>

struct NSFCONTEXT;

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
// Writes one line; without a function name the message is written bare. A null message writes nothing.
void nsfLog(NSFCONTEXT *pContext, int nLevel, const char *pszFunc, const char *pszMessage);
// Formats into the context's szMsg and writes it as nsfLog does.
void nsfLogf(NSFCONTEXT *pContext, int nLevel, const char *pszFunc, const char *pszFormat, ...)
    __attribute__((format(printf, 4, 5)));
// Writes a hex dump, 16 bytes a line.
void nsfLogDump(NSFCONTEXT *pContext, int nLevel, const void *pData, uint32_t cbData);
void nsfLogClose(NSFCONTEXT *pContext);
