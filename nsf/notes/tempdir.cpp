#include "nsf/notes/tempdir.h"

#include <string.h>

#include "nsf/diag/log.h"
#include "nsf/os/qlsys.h"
#include "nsf/base/context.h"
#include "nsf/base/status.h"

int nsfCreateTempDir(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfCreateTempDir()";
    char *pszDir = pContext->szTempDir;
    pszDir[0] = '\0';
    pContext->bTempDirCreated = 0;

    const char *pszHostTemp = pContext->services->pszTempDir;
    size_t cch;
    if (pszHostTemp != NULL && pszHostTemp[0] != '\0') {
        cch = strlen(pszHostTemp);
        // The base is followed directly by the directory's name, so it must end in a separator.
        bool bSep = pszHostTemp[cch - 1] == '/' || pszHostTemp[cch - 1] == '\\';
        if (cch + 1 >= sizeof(pContext->szTempDir)) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error getting system temp path");
            return NSF_STATUS_INTERNAL;
        }
        snprintf(pszDir, sizeof(pContext->szTempDir), "%s", pszHostTemp);
        if (!bSep) {
            pszDir[cch++] = qlsys_dir_separator(pszHostTemp);
            pszDir[cch] = '\0';
        }
    } else {
        cch = qlsys_gettemppath(pszDir, sizeof(pContext->szTempDir));
        if (cch == 0) {
            pszDir[0] = '\0';
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error getting system temp path");
            return NSF_STATUS_INTERNAL;
        }
        // Readers killed before their close leave their directories in the system's temporary
        // directory; a directory the host names is the host's to keep.
        nsfRemoveStaleTempDirs(pContext, pszDir);
    }

    int cchName = snprintf(pszDir + cch, sizeof(pContext->szTempDir) - cch, "tessel_%d", qlsys_getpid());
    if (cchName < 0 || cch + (size_t)cchName >= sizeof(pContext->szTempDir) ||
        qlsys_mkdir_private(pszDir) != 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error creating temp dir...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, pszDir);
        pszDir[0] = '\0';
        return NSF_STATUS_INTERNAL;
    }

    pContext->bTempDirCreated = 1;
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Created temp dir, szTempDir...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, pszDir);
    return NSF_STATUS_OK;
}

// The process ID of a name "tessel_<digits>", or 0 for any other name.
static int nsfTempDirPid(const char *pszName)
{
    static const char szPrefix[] = "tessel_";
    if (strncmp(pszName, szPrefix, sizeof(szPrefix) - 1) != 0)
        return 0;
    const char *pch = pszName + sizeof(szPrefix) - 1;
    if (*pch == '\0' || *pch == '0')
        return 0;
    long lPid = 0;
    for (; *pch != '\0'; pch++) {
        if (*pch < '0' || *pch > '9' || lPid > 0x7FFFFFFF / 10)
            return 0;
        lPid = lPid * 10 + (*pch - '0');
    }
    return lPid <= 0x7FFFFFFF ? (int)lPid : 0;
}

int nsfRemoveStaleTempDirs(NSFCONTEXT *pContext, const char *pszBase)
{
    static const char szFunc[] = "nsfRemoveStaleTempDirs()";
    QLSYS_DIR *pDir = qlsys_opendir(pszBase);
    if (pDir == NULL) {
        nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Cannot list temp path %s (error %d)", pszBase,
                qlsys_last_error());
        return 0;
    }
    int cRemoved = 0;
    int nOwnPid = qlsys_getpid();
    char szPath[4096];
    for (QLSYS_DIRENT *pEntry = qlsys_readdir(pDir); pEntry != NULL; pEntry = qlsys_readdir(pDir)) {
        int nPid = nsfTempDirPid(pEntry->d_name);
        if (nPid == 0 || nPid == nOwnPid || qlsys_process_exists(nPid) != 0)
            continue;
        int cch = snprintf(szPath, sizeof(szPath), "%s%s", pszBase, pEntry->d_name);
        if (cch < 0 || (size_t)cch >= sizeof(szPath) || !qlsys_is_own_dir(szPath))
            continue;
        if (qlsys_rmtree(szPath, 1) != 0) {
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Error deleting stale temp dir %s (error %d)", szPath,
                    qlsys_last_error());
            continue;
        }
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Deleted stale temp dir of ended process %d: %s", nPid, szPath);
        cRemoved++;
    }
    qlsys_closedir(pDir);
    return cRemoved;
}

int nsfGetTempFilePath(NSFCONTEXT *pContext, const char *pszPrefix, char *pszBuffer, size_t cbBuffer)
{
    static const char szFunc[] = "nsfGetTempFilePath()";
    // Another context of this process may have removed the shared directory at its close.
    if (pContext->szTempDir[0] == '\0' || qlsys_access(pContext->szTempDir, 0) != 0) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "No temp dir, szTempDir...");
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, pContext->szTempDir);
        int nStatus = nsfCreateTempDir(pContext);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCreateTempDir() failed");
            return nStatus;
        }
    }

    // Room for any path the system may give, so that a path too long for the caller is reported
    // as such rather than cut.
    char szPath[4096];
    bool bCreated = qlsys_gettempfilename(pContext->szTempDir, pszPrefix, szPath, sizeof(szPath)) == 0;
    if (!bCreated && strlen(pszPrefix) < 10) {
        for (int nDigit = 0; nDigit <= 9 && !bCreated; nDigit++) {
            char szPrefix[16];
            snprintf(szPrefix, sizeof(szPrefix), "%c%c%d", pszPrefix[0], pszPrefix[0] ? pszPrefix[1] : '\0',
                     nDigit);
            bCreated = qlsys_gettempfilename(pContext->szTempDir, szPrefix, szPath, sizeof(szPath)) == 0;
        }
    }
    if (!bCreated) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error getting temp file in temp dir...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, pContext->szTempDir);
        return NSF_STATUS_INTERNAL;
    }

    size_t cchPath = strlen(szPath);
    if (cchPath + 1 > cbBuffer) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Temp file buffer too small (size %d)", (int)cbBuffer);
        // The caller never learns the name, so nobody else would remove the file.
        qlsys_unlink(szPath);
        return NSF_STATUS_INTERNAL;
    }
    memcpy(pszBuffer, szPath, cchPath + 1);
    return NSF_STATUS_OK;
}

// Removes a directory and everything in it; true on success.
static bool nsfRemoveDirectory(const char *pszPath, bool bPermanent)
{
    return qlsys_rmtree(pszPath, bPermanent ? 1 : 0) == 0;
}

int nsfDeleteTempDir(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfDeleteTempDir()";
    if (pContext->szTempDir[0] == '\0')
        return NSF_STATUS_OK;
    if (!pContext->bTempDirCreated) {
        // A directory the user named holds more than our files; only its files of ours are removed,
        // by their users.
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Keeping configured temp dir, szTempDir...");
        nsfLog(pContext, NSF_LOG_INFO, szFunc, pContext->szTempDir);
        return NSF_STATUS_OK;
    }
    if (!nsfRemoveDirectory(pContext->szTempDir, true)) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error deleting temp dir...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, pContext->szTempDir);
        return NSF_STATUS_INTERNAL;
    }
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Deleted temp dir, szTempDir...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, pContext->szTempDir);
    return NSF_STATUS_OK;
}

