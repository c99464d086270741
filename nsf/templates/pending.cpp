// Stand-ins for the mail rendering entries the template engine calls, used only until
// those subsystems land on this branch. Weak: the real definitions replace them at link time.
#include "nsf/base/context.h"
#include "nsf/base/status.h"
#include "nsf/diag/log.h"
#include "nsf/extract/mail.h"

__attribute__((weak)) int nsfGetMessageBodyCDR(NSFCONTEXT *pContext, NOTEHANDLE)
{
    nsfLog(pContext, NSF_LOG_ERROR, "nsfGetMessageBodyCDR()", "Mail rendering not available");
    return NSF_STATUS_INTERNAL;
}

__attribute__((weak)) int nsfExtractMailImage(NSFCONTEXT *pContext, NSFSUBFILE *, NSFIMAGE *, int32_t, QLIOobj *)
{
    nsfLog(pContext, NSF_LOG_ERROR, "nsfExtractMailImage()", "Mail rendering not available");
    return NSF_STATUS_INTERNAL;
}
