#include "nsf/diag/trace.h"

#include "nsf/diag/log.h"
#include <notes/osmisc.h>
#include "nsf/base/context.h"
#include "nsf/base/status.h"

int nsfCallAPI(NSFCONTEXT *pContext, const char *pszCaller, const char *pszAPI)
{
    static const char szFunc[] = "nsfCallAPI()";
    if (pContext->pszFuncAPI != NULL)
        nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "pszFuncAPI still set to %s - missing nsfRetAPI() call",
                pContext->pszFuncAPI);
    pContext->pszFuncAPI = pszAPI;
    if (pContext->bLogAPI)
        nsfLogf(pContext, NSF_LOG_NOTES_API, pszCaller, "Calling Notes API %s...", pszAPI);
    return NSF_STATUS_OK;
}

int nsfRetAPI(NSFCONTEXT *pContext, const char *pszCaller, STATUS status)
{
    static const char szFunc[] = "nsfRetAPI()";
    const char *pszAPI = pContext->pszFuncAPI;
    if (pszAPI == NULL) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "pszFuncAPI not set - missing nsfCallAPI() call");
        return NSF_STATUS_INTERNAL;
    }
    if (pContext->bLogAPI)
        nsfLogf(pContext, NSF_LOG_NOTES_API, pszCaller, "Returned from Notes API %s", pszAPI);

    int nStatus = NSF_STATUS_OK;
    int nLevel = NSF_LOG_ERROR;
    const char *pszIgnored = "";
    switch (status) {
    case NOERROR:
        pContext->pszFuncAPI = NULL;
        return NSF_STATUS_OK;
    case ERR_NOTE_NOT_SEALED:
        // Decrypting a note that is not encrypted: every plain note gives this, so it is an expected
        // outcome, not a warning. The note is read as it is.
        nLevel = NSF_LOG_DIAG;
        pszIgnored = " (ignored)";
        break;
    case ERR_NOT_SEALED_FOR_YOU:
        // Encrypted for others: the note is read without its sealed items, which a user wants to know.
        nLevel = NSF_LOG_WARNING;
        pszIgnored = " (ignored)";
        break;
    case ERR_LOCALSEC_DBOPENFAILURE:
    case ERR_SECURE_NOKEYFILE:
    case ERR_SECURE_BADPASSWORD:
        nStatus = NSF_STATUS_ACCESS_REFUSED;
        break;
    default:
        nStatus = NSF_STATUS_INTERNAL;
        break;
    }
    // The failure line and the API's message text are written only when their level is on; the text
    // lookup is a call into the runtime, so it is skipped with the log off.
    if (nsfLogOn(pContext, nLevel)) {
        nsfLogf(pContext, nLevel, pszCaller, "Notes API %s failed, status %ld 0x%lx, error message...%s",
                pszAPI, (long)status, (unsigned long)status, pszIgnored);
        WORD cch =
            OSLoadString(NULLHANDLE, ERR(status), pContext->szMsg, (WORD)(sizeof(pContext->szMsg) - 1));
        pContext->szMsg[cch < sizeof(pContext->szMsg) ? cch : sizeof(pContext->szMsg) - 1] = '\0';
        nsfLog(pContext, nLevel, pszCaller, pContext->szMsg);
    }
    pContext->pszFuncAPI = NULL;
    return nStatus;
}
