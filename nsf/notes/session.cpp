#include "nsf/notes/session.h"

#include <stdio.h>
#include <string.h>

#include "nsf/diag/log.h"
#include "nsf/diag/trace.h"
#include "nsf/items/buffers.h"
#include <notes/notes.h>
#include "nsf/os/qlsys.h"
#include "nsf/base/context.h"
#include "nsf/base/status.h"

namespace {

// Reads one variable of the Notes environment into BufferTemp: 0 with *ppszValue the value, or
// null when the variable is not set; or the status of a buffer that could not be had (*ppszValue
// is then null: a buffer that was not filled is never read).
int nsfGetEnvironment(NSFCONTEXT *pContext, const char *pszCaller, const char *pszName, const char **ppszValue)
{
    *ppszValue = NULL;
    NSFBUFFER *pBuffer = pContext->BufferTemp;
    pBuffer->ucbData = 0;
    int nStatus = nsfCheckBuffer(pContext, pBuffer, 1024);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, pszCaller, "nsfCheckBuffer() failed");
        return nStatus;
    }
    pBuffer->rgbData[0] = 0;
    WORD cbValue = pBuffer->ucbDataSize > 0xFFFF ? 0xFFFF : (WORD)pBuffer->ucbDataSize;
    nsfCallAPI(pContext, pszCaller, "OSGetEnvironmentString()");
    BOOL bFound = OSGetEnvironmentString(pszName, (char *)pBuffer->rgbData, cbValue);
    nsfRetAPI(pContext, pszCaller, NOERROR);
    pBuffer->rgbData[cbValue] = 0;
    if (bFound)
        *ppszValue = (const char *)pBuffer->rgbData;
    return NSF_STATUS_OK;
}

// Copies text into a fixed field, cut to the field.
void nsfCopyField(char *pszField, size_t cbField, const char *pszText)
{
    snprintf(pszField, cbField, "%s", pszText);
}

// What the log shows in place of a password: never the password itself.
const char *nsfMaskPassword(const char *pszPassword)
{
    return (pszPassword == NULL || pszPassword[0] == '\0') ? "(none)" : "********";
}

} // namespace

// Starts the Notes runtime for this context. Only one reader on the machine starts it at a time.
int nsfInitNotes(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfInitNotes()";
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Creating mutex %s...", NSF_MUTEX_NAME);
    // Each system error number is taken right after its call, before a log line can change it.
    QLSYS_MUTEX *pMutex = qlsys_mutex_open(NSF_MUTEX_NAME);
    int nLastError = qlsys_last_error();
    if (pMutex == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error creating mutex (last error %d)", nLastError);
        return NSF_STATUS_INIT_FAILED;
    }
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Mutex created");

    int nStatus = NSF_STATUS_OK;
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Locking mutex %s...", NSF_MUTEX_NAME);
    uint32_t dwResult = qlsys_mutex_lock(pMutex);
    nLastError = qlsys_last_error();
    if (dwResult != QLSYS_WAIT_OBJECT_0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error locking mutex (mutex NOT locked)...");
        switch (dwResult) {
        case QLSYS_WAIT_ABANDONED:
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "... wait abandoned");
            break;
        case QLSYS_WAIT_TIMEOUT:
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, ".. wait timed out");
            break;
        case QLSYS_WAIT_FAILED:
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "... wait failed (last error %d)", nLastError);
            break;
        default:
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "WaitForSingleObject() returned unknown dwResult %ld 0x%lx",
                    (long)dwResult, (unsigned long)dwResult);
            break;
        }
        nStatus = NSF_STATUS_INIT_FAILED;
    } else {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Mutex locked");
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Initializing Notes...");
        nsfCallAPI(pContext, szFunc, "NotesInitExtended()");
        STATUS status = NotesInitExtended(0, NULL);
        nsfRetAPI(pContext, szFunc, NOERROR);
        if (status != NOERROR) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error initializing Notes (status %ld 0x%lx)", (long)status,
                    (unsigned long)status);
            if (status == ERR_NO_NOTESINI)
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, "The NOTES.INI file cannot be found on the search path (PATH)");
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "Notes is NOT initialized");
            nStatus = NSF_STATUS_INIT_FAILED;
        } else {
            nsfLog(pContext, NSF_LOG_INFO, szFunc, "Notes is initialized");
            pContext->bNotesInitialised = 1;
        }
    }

    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Releasing mutex %s...", NSF_MUTEX_NAME);
    int nUnlock = qlsys_mutex_unlock(pMutex);
    nLastError = qlsys_last_error();
    if (nUnlock == 0)
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Mutex released");
    else
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error releasing mutex (last error %d)", nLastError);
    qlsys_mutex_close(pMutex);
    return nStatus;
}

// Remembers the Notes client's own ID file and its password, to switch back to after a caller's.
int nsfSaveUserIdFile(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfSaveUserIdFile()";
    pContext->szUserIdFile[0] = '\0';
    pContext->szPassword[0] = '\0';

    const char *pszValue = NULL;
    int nStatus = nsfGetEnvironment(pContext, szFunc, "KeyFileName", &pszValue);
    if (nStatus == NSF_STATUS_OK && pszValue == NULL)
        nStatus = nsfGetEnvironment(pContext, szFunc, "ServerKeyFileName", &pszValue);
    if (nStatus != NSF_STATUS_OK)
        return nStatus;
    if (pszValue == NULL)
        pszValue = "";
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, "KeyFileName or ServerKeyFileName...");
    nsfLog(pContext, NSF_LOG_DIAG, szFunc, pszValue);
    nsfCopyField(pContext->szUserIdFile, sizeof(pContext->szUserIdFile), pszValue);

    if (pContext->szUserIdFile[0] != '\0') {
        if (strchr(pContext->szUserIdFile, '\\') == NULL && strchr(pContext->szUserIdFile, '/') == NULL) {
            // A bare file name lives in the Notes data directory.
            char szFileName[sizeof(pContext->szUserIdFile)];
            nsfCopyField(szFileName, sizeof(szFileName), pContext->szUserIdFile);
            const char *pszDirectory = NULL;
            if ((nStatus = nsfGetEnvironment(pContext, szFunc, "Directory", &pszDirectory)) != NSF_STATUS_OK) {
                pContext->szUserIdFile[0] = '\0';
                return nStatus;
            }
            if (pszDirectory == NULL)
                pszDirectory = "";
            nsfLog(pContext, NSF_LOG_DIAG, szFunc, "Directory...");
            nsfLog(pContext, NSF_LOG_DIAG, szFunc, pszDirectory);
            if (pszDirectory[0] == '\0') {
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No directory found");
                pContext->szUserIdFile[0] = '\0';
                return NSF_STATUS_INTERNAL;
            }
            int cch = snprintf(pContext->szUserIdFile, sizeof(pContext->szUserIdFile), "%s%c%s", pszDirectory,
                               QLSYS_PATH_SEPARATOR, szFileName);
            if (cch < 0 || (size_t)cch >= sizeof(pContext->szUserIdFile)) {
                // A shortened path would name another file to switch back to.
                nsfLog(pContext, NSF_LOG_ERROR, szFunc, "User ID file path too long");
                pContext->szUserIdFile[0] = '\0';
                return NSF_STATUS_INTERNAL;
            }
        }
        const char *pszPassword = NULL;
        if ((nStatus = nsfGetEnvironment(pContext, szFunc, "QUILLON_TESSEL_PASSWORD", &pszPassword)) !=
            NSF_STATUS_OK) {
            pContext->szUserIdFile[0] = '\0';
            return nStatus;
        }
        nsfCopyField(pContext->szPassword, sizeof(pContext->szPassword), pszPassword != NULL ? pszPassword : "");
    }

    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Saved user ID file, szPassword %s, szUserIdFile...",
            nsfMaskPassword(pContext->szPassword));
    nsfLog(pContext, NSF_LOG_INFO, szFunc, pContext->szUserIdFile);
    return NSF_STATUS_OK;
}

// Opens the database by its path, under the caller's ID file when one is given.
int nsfOpenDatabase(NSFCONTEXT *pContext, const char *pszIdFile, const char *pszPath, const char *pszPassword)
{
    static const char szFunc[] = "nsfOpenDatabase()";
    if (pContext->hDB != NULLHANDLE) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Database is already open");
        return NSF_STATUS_INTERNAL;
    }

    if (pszIdFile != NULL) {
        char szUserName[MAXUSERNAME + 1] = "";
        nsfCallAPI(pContext, szFunc, "SECKFMSwitchToIDFile()");
        STATUS status = SECKFMSwitchToIDFile((char *)pszIdFile, (char *)pszPassword, szUserName, MAXUSERNAME, 0, NULL);
        int nStatus = nsfRetAPI(pContext, szFunc, status);
        if (status != NOERROR)
            return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
        szUserName[MAXUSERNAME] = '\0';
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Switched to temp ID file, szUserName %s, szUserIdFile...",
                szUserName);
        nsfLog(pContext, NSF_LOG_INFO, szFunc, pszIdFile);
    }

    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Opening NSF database...");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, pszPath);
    DBHANDLE hDB = NULLHANDLE;
    nsfCallAPI(pContext, szFunc, "NSFDbOpen()");
    STATUS status = NSFDbOpen(pszPath, &hDB);
    int nStatus = nsfRetAPI(pContext, szFunc, status);
    if (status != NOERROR)
        return nStatus == NSF_STATUS_ACCESS_REFUSED ? NSF_STATUS_ACCESS_REFUSED : NSF_STATUS_ACCESS_FAILED;
    if (hDB == NULLHANDLE) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Errror opening NSF database");
        return NSF_STATUS_ACCESS_FAILED;
    }
    pContext->hDB = hDB;

    BUILDVERSION version;
    memset(&version, 0, sizeof(version));
    nsfCallAPI(pContext, szFunc, "NSFDbGetMajMinVersion()");
    status = NSFDbGetMajMinVersion(hDB, &version);
    nStatus = nsfRetAPI(pContext, szFunc, status);
    if (status != NOERROR)
        return nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "BuildVersion: %d.%d.%d.%d.%d.%d", (int)version.MajorVersion,
            (int)version.MinorVersion, (int)version.QMRNumber, (int)version.QMUNumber, (int)version.HotfixNumber,
            (int)version.Flags);
    return NSF_STATUS_OK;
}

// Switches back to the client's own ID file when one was saved, and closes the database.
int nsfCloseDatabase(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfCloseDatabase()";
    int nResult = NSF_STATUS_OK;
    if (pContext->szUserIdFile[0] != '\0') {
        char szUserName[MAXUSERNAME + 1] = "";
        nsfCallAPI(pContext, szFunc, "SECKFMSwitchToIDFile()");
        STATUS status = SECKFMSwitchToIDFile(pContext->szUserIdFile, pContext->szPassword, szUserName, MAXUSERNAME,
                                             0, NULL);
        int nStatus = nsfRetAPI(pContext, szFunc, status);
        szUserName[MAXUSERNAME] = '\0';
        if (status != NOERROR) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error switching to User ID file... (password %s)",
                    nsfMaskPassword(pContext->szPassword));
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, pContext->szUserIdFile);
            nResult = nStatus != NSF_STATUS_OK ? nStatus : NSF_STATUS_INTERNAL;
        } else {
            nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Switched back to ID file, UserName %s, szPassword %s, szUserIdFile...",
                    szUserName, nsfMaskPassword(pContext->szPassword));
            nsfLog(pContext, NSF_LOG_INFO, szFunc, pContext->szUserIdFile);
        }
    }
    if (pContext->hDB != NULLHANDLE) {
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "Closing NSF database...");
        nsfLog(pContext, NSF_LOG_INFO, szFunc, pContext->pIOobj != NULL ? pContext->pIOobj->pFileName : "");
        nsfCallAPI(pContext, szFunc, "NSFDbClose()");
        STATUS status = NSFDbClose(pContext->hDB);
        nsfRetAPI(pContext, szFunc, status);
        pContext->hDB = NULLHANDLE;
    }
    return nResult;
}
