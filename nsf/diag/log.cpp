#include "nsf/diag/log.h"

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "nsf/os/qlsys.h"
#include "nsf/base/context.h"

namespace {

const char *const rgszLevelLabels[] = {"NONE", "NONE", "NOTES_API", "ERROR", "WARNING",
                                       "INFO", "DIAG", "DEBUG",     "DUMP",  "ALL"};

// Writes a text with its control characters escaped as \xNN, so that a value from the database
// (a name with a line feed in it) cannot start a line of its own.
void nsfLogText(FILE *pFile, const char *pszText)
{
    for (const unsigned char *pch = (const unsigned char *)pszText; *pch != '\0'; pch++) {
        if (*pch < 0x20 || *pch == 0x7F)
            fprintf(pFile, "\\x%02x", *pch);
        else
            fputc(*pch, pFile);
    }
}

// The value of an environment variable, or null when it is unset.
const char *nsfGetEnv(const char *pszName)
{
    return getenv(pszName);
}

} // namespace

int nsfParseLogLevel(const char *pszLevel)
{
    static const struct {
        const char *pszName;
        int nLevel;
    } rgLevels[] = {{"NONE", NSF_LOG_NONE}, {"ERROR", NSF_LOG_ERROR}, {"WARN", NSF_LOG_WARNING},
                    {"INFO", NSF_LOG_INFO}, {"DIAG", NSF_LOG_DIAG},   {"DEBUG", NSF_LOG_DEBUG},
                    {"DUMP", NSF_LOG_DUMP}, {"ALL", NSF_LOG_ALL}};
    if (pszLevel == NULL)
        return 0;
    for (const auto &level : rgLevels) {
        if (strcmp(pszLevel, level.pszName) == 0)
            return level.nLevel;
    }
    return 0;
}

void nsfLogOpen(NSFCONTEXT *pContext)
{
    pContext->logLevel = NSF_LOG_NONE;
    const char *pszLevel = nsfGetEnv("QUILLON_TESSEL_LOG_LEVEL");
    if (pszLevel != NULL) {
        pContext->logLevel = nsfParseLogLevel(pszLevel);
        if (pContext->logLevel == 0)
            pContext->logLevel = NSF_LOG_NONE;
    }
    if (pContext->logLevel < NSF_LOG_NOTES_API)
        return;

    pContext->bLogTimestamp = 1;
    const char *pszValue = nsfGetEnv("QUILLON_TESSEL_LOG_TIMESTAMP");
    if (pszValue != NULL && strcasecmp(pszValue, "FALSE") == 0)
        pContext->bLogTimestamp = 0;
    pszValue = nsfGetEnv("QUILLON_TESSEL_LOG_API");
    pContext->bLogAPI = (pszValue != NULL && strcasecmp(pszValue, "TRUE") == 0) ? 1 : 0;

    char szPath[NSF_PATH_SIZE] = "";
    const char *pszFile = nsfGetEnv("QUILLON_TESSEL_LOG_FILE");
    bool bNamedByUser = pszFile != NULL && pszFile[0] != '\0';
    if (bNamedByUser) {
        snprintf(szPath, sizeof(szPath), "%s", pszFile);
    } else {
        const char *pszDir = nsfGetEnv("QUILLON_TESSEL_LOG_DIR");
        if (pszDir != NULL && pszDir[0] != '\0') {
            snprintf(szPath, sizeof(szPath), "%s", pszDir);
            size_t cch = strlen(szPath);
            if (szPath[cch - 1] != '\\' && szPath[cch - 1] != '/' && cch + 1 < sizeof(szPath)) {
                szPath[cch] = qlsys_dir_separator(szPath);
                szPath[cch + 1] = '\0';
            }
        }
        char szName[64];
        snprintf(szName, sizeof(szName), "tessel_%d_%d.log", qlsys_getpid(), qlsys_gettid());
        if (strlen(szPath) + strlen(szName) < sizeof(szPath))
            strcat(szPath, szName);
        else
            snprintf(szPath, sizeof(szPath), "%s", szName);
    }

    pContext->logFile = qlsys_fopen_log(szPath, bNamedByUser ? 1 : 0);
    if (pContext->logFile == NULL)
        pContext->logLevel = NSF_LOG_NONE;
}

void nsfLog(NSFCONTEXT *pContext, int nLevel, const char *pszFunc, const char *pszMessage)
{
    if (!nsfLogOn(pContext, nLevel) || pszMessage == NULL)
        return;
    if (pszFunc == NULL) {
        nsfLogText(pContext->logFile, pszMessage);
        fputc('\n', pContext->logFile);
    } else {
        char szTimestamp[32] = "";
        if (pContext->bLogTimestamp) {
            QLSYS_TIME t;
            qlsys_localtime(&t);
            snprintf(szTimestamp, sizeof(szTimestamp), "%04d-%02d-%02d %02d:%02d:%02d:%03d ", t.nYear,
                     t.nMonth, t.nDay, t.nHour, t.nMinute, t.nSecond, t.nMillisecond);
        }
        fprintf(pContext->logFile, "%s[%d/%d] %s %s: ", szTimestamp, pContext->curSubFile,
                pContext->numSubFiles, rgszLevelLabels[nLevel], pszFunc);
        nsfLogText(pContext->logFile, pszMessage);
        fputc('\n', pContext->logFile);
    }
    fflush(pContext->logFile);
}

void nsfLogFormat(NSFCONTEXT *pContext, int nLevel, const char *pszFunc, const char *pszFormat, ...)
{
    if (!nsfLogOn(pContext, nLevel))
        return;
    va_list args;
    va_start(args, pszFormat);
    vsnprintf(pContext->szMsg, sizeof(pContext->szMsg), pszFormat, args);
    va_end(args);
    nsfLog(pContext, nLevel, pszFunc, pContext->szMsg);
}

void nsfLogDump(NSFCONTEXT *pContext, int nLevel, const void *pData, uint32_t cbData)
{
    if (!nsfLogOn(pContext, nLevel) || pData == NULL || cbData == 0)
        return;
    const uint8_t *pb = (const uint8_t *)pData;
    for (uint64_t ulOffset = 0; ulOffset < cbData; ulOffset += 16) {
        uint32_t cb = cbData - ulOffset < 16 ? (uint32_t)(cbData - ulOffset) : 16;
        // 8 offset columns, 16 x 3 hex columns, 2 blanks, 16 characters and the terminator.
        char szLine[8 + 48 + 2 + 16 + 1];
        char *psz = szLine;
        psz += snprintf(psz, 9, "%-8lx", (unsigned long)ulOffset);
        for (uint32_t i = 0; i < 16; i++) {
            if (i < cb)
                psz += snprintf(psz, 4, "%.2x ", pb[ulOffset + i]);
            else
                psz += snprintf(psz, 4, "   ");
        }
        *psz++ = ' ';
        *psz++ = ' ';
        for (uint32_t i = 0; i < cb; i++) {
            uint8_t b = pb[ulOffset + i];
            *psz++ = (b >= 0x20 && b <= 0x7E) ? (char)b : ' ';
        }
        *psz = '\0';
        nsfLog(pContext, nLevel, NULL, szLine);
    }
}

void nsfLogClose(NSFCONTEXT *pContext)
{
    if (pContext->logFile != NULL) {
        fflush(pContext->logFile);
        fclose(pContext->logFile);
        pContext->logFile = NULL;
    }
}
