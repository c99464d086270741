#include "nsf/reader/options.h"

#include <string.h>

#include "nsf/diag/log.h"
#include "nsf/notes/tempdir.h"
#include "nsf/os/qlsys.h"
#include "nsf/base/context.h"

namespace {

const char szSection[] = "tessel";

// Reads one key into a buffer of cbBuffer bytes; true when the key has a value.
bool nsfGetOption(NSFCONTEXT *pContext, const char *pszKey, char *pszBuffer, uint32_t cbBuffer)
{
    QLHAPI *pHAPI = pContext->services;
    pszBuffer[0] = '\0';
    bool bPresent = pHAPI->fpGetProfileString(pHAPI, szSection, pszKey, "", pszBuffer, cbBuffer, 0) != 0;
    pszBuffer[cbBuffer - 1] = '\0';
    return bPresent;
}

// A flag that is on only when its key's value is exactly "1".
uint8_t nsfGetFlagOption(NSFCONTEXT *pContext, const char *pszKey)
{
    char szValue[32];
    return (nsfGetOption(pContext, pszKey, szValue, sizeof(szValue)) && strcmp(szValue, "1") == 0) ? 1 : 0;
}

} // namespace

void nsfInitOptions(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfInitOptions()";
    pContext->bExportDXL = nsfGetFlagOption(pContext, "ExportDXL");
    pContext->bExportDXL_PureXML = nsfGetFlagOption(pContext, "ExportDXL_PureXML");
    pContext->bExtractAllNotes = nsfGetFlagOption(pContext, "ExtractAllNotes");
    pContext->bExtractAllFields = nsfGetFlagOption(pContext, "ExtractAllFields");
    nsfLogf(pContext, NSF_LOG_INFO, szFunc,
            "bExportDXL %d, bExportDXL_PureXML %d, bExtractAllNotes %d, bExtractAllFields %d",
            pContext->bExportDXL, pContext->bExportDXL_PureXML, pContext->bExtractAllNotes,
            pContext->bExtractAllFields);

    // Read into a buffer of the field's size; at most 258 characters of the value are kept, so that
    // the separator and the terminator fit. The separator is appended whether or not the value
    // already ends in one.
    char szTempDir[NSF_PATH_SIZE];
    if (nsfGetOption(pContext, "TempDir", szTempDir, sizeof(szTempDir))) {
        size_t cch = strnlen(szTempDir, NSF_PATH_SIZE - 2);
        memcpy(pContext->szTempDir, szTempDir, cch);
        pContext->szTempDir[cch] = QLSYS_PATH_SEPARATOR;
        pContext->szTempDir[cch + 1] = '\0';
        pContext->bTempDirCreated = 0;
        nsfLog(pContext, NSF_LOG_INFO, szFunc, "szTempDir...");
        nsfLog(pContext, NSF_LOG_INFO, szFunc, pContext->szTempDir);
    } else if (nsfCreateTempDir(pContext) != 0) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCreateTempDir() failed");
    }

    if (nsfGetOption(pContext, "MailLogoFieldName", pContext->szMailLogoFieldName,
                     sizeof(pContext->szMailLogoFieldName)))
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "szMailLogoFieldName %s", pContext->szMailLogoFieldName);
    if (nsfGetOption(pContext, "MailLogoFieldDefaultValue", pContext->szMailLogoFieldDefaultValue,
                     sizeof(pContext->szMailLogoFieldDefaultValue)))
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "szMailLogoFieldDefaultValue %s",
                pContext->szMailLogoFieldDefaultValue);
    if (nsfGetOption(pContext, "AltSentField", pContext->szAltSentField, sizeof(pContext->szAltSentField)))
        nsfLogf(pContext, NSF_LOG_INFO, szFunc, "szAltSentField %s", pContext->szAltSentField);

    char szValue[32];
    pContext->bExtractByTemplate = 1;
    if (nsfGetOption(pContext, "ExtractByTemplate", szValue, sizeof(szValue)) && strcmp(szValue, "0") == 0)
        pContext->bExtractByTemplate = 0;
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "bExtractByTemplate %d", pContext->bExtractByTemplate);
}
