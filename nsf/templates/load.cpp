// Loading and validation of the XML templates: discovery under the templates directory, the
// template records, the element and attribute checks, and the pictures that templates name.
#include "nsf/templates/templates.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "nsf/base/context.h"
#include "nsf/base/memory.h"
#include "nsf/base/status.h"
#include "nsf/catalogue/images.h"
#include "nsf/diag/log.h"
#include "nsf/items/buffers.h"
#include "nsf/os/qlsys.h"
#include "nsf/templates/engine.h"
#include <notes/notes.h>

namespace {

// What a template file begins with: an XML declaration whose version is followed by a blank.
const char szXMLDecl[] = "<?xml version=\"1.0\" ";
const size_t cchXMLDecl = sizeof(szXMLDecl) - 1;

const char szMainTemplate[] = "main.xml";

// Attributes, as bits of an element's row.
enum {
    ATTR_NAME = 0x01,
    ATTR_ITEM = 0x02,
    ATTR_TEXT = 0x04,
    ATTR_TYPE = 0x08,
    ATTR_FORMAT = 0x10,
    ATTR_LINK = 0x20,
    ATTR_FILE = 0x40,
    ATTR_MAX = 0x80
};

struct NSFELEMENTROW {
    const char *pszName;
    uint32_t fAccepted;
};

// Indexed by element number.
const NSFELEMENTROW rgElements[NSF_XML_LAST + 1] = {
    {NULL, 0},
    {"ifeq", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifne", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"iflt", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifle", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifgt", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifge", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifdteq", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifdtne", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifdtlt", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifdtle", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifdtgt", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifdtge", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"iftzeq", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"iftzne", ATTR_NAME | ATTR_ITEM | ATTR_TEXT},
    {"ifex", ATTR_NAME | ATTR_TEXT},
    {"ifnex", ATTR_NAME | ATTR_TEXT},
    {"switch", ATTR_NAME},
    {"for", ATTR_NAME | ATTR_MAX},
    {"ifini", ATTR_NAME | ATTR_TEXT},
    {"else", 0},
    {"case", ATTR_TEXT},
    {"default", 0},
    {"quillon", 0},
    {"call", ATTR_FILE},
    {"log", ATTR_TEXT | ATTR_TYPE},
    {"quit", ATTR_TEXT | ATTR_TYPE},
    {"stop", ATTR_TEXT},
    {"text", ATTR_NAME},
    {"rich", ATTR_NAME},
    {"body", 0},
    {"form", ATTR_NAME},
    {"addr", ATTR_NAME | ATTR_TYPE},
    {"name", 0},
    {"format", ATTR_FORMAT},
    {"date", ATTR_NAME | ATTR_FORMAT},
    {"date_ql", ATTR_NAME | ATTR_FORMAT},
    {"time", ATTR_NAME | ATTR_ITEM},
    {"zone", ATTR_NAME},
    {"zone_utc", ATTR_NAME},
    {"logo", 0},
    {"image", ATTR_LINK | ATTR_FILE},
    {"image_uri", ATTR_LINK | ATTR_FILE},
    {"index", 0},
};

// The state of one template's validation.
struct NSFXMLCHECK {
    NSFCONTEXT *pContext;
    NSFTEMPLATE *pTemplate;
    XML_Parser parser;
    int nError;
    int nElement;
    int rgnElements[NSF_XML_MAX_LEVELS + 1];
    const char *pszName;
    const char *pszItem;
    const char *pszText;
    const char *pszType;
    const char *pszFormat;
    const char *pszLink;
    const char *pszFile;
    const char *pszMax;
    bool bSwitch;
    bool bFor;
    int32_t nLevel;
};

bool nsfIsControlElement(int nElement)
{
    return nElement >= NSF_XML_IFEQ && nElement <= NSF_XML_DEFAULT;
}

// Joins a directory, the path separator and a name into a 260-byte path. False when it does not fit.
bool nsfJoinPath(char *pszPath, const char *pszDir, const char *pszName)
{
    int cch = snprintf(pszPath, NSF_PATH_SIZE, "%s%c%s", pszDir, QLSYS_PATH_SEPARATOR, pszName);
    return cch >= 0 && cch < NSF_PATH_SIZE;
}

// Appends a template record named pszName. Returns 0 or NSF_STATUS_OUT_OF_MEMORY.
int nsfNewTemplate(NSFCONTEXT *pContext, const char *pszName)
{
    static const char szFunc[] = "nsfNewTemplate()";
    NSFTEMPLATE **rgNew;
    if (pContext->rgpTemplates == NULL) {
        rgNew = (NSFTEMPLATE **)nsfAlloc(pContext, sizeof(NSFTEMPLATE *));
        if (rgNew == NULL) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error allocating template array");
            return NSF_STATUS_OUT_OF_MEMORY;
        }
        pContext->cTemplates = 0;
    } else {
        uint32_t cbArray = nsfSatMul(nsfSatAdd((uint32_t)pContext->cTemplates, 1), sizeof(NSFTEMPLATE *));
        rgNew = (NSFTEMPLATE **)nsfRealloc(pContext, pContext->rgpTemplates, cbArray);
        if (rgNew == NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error re-allocating template array for template # %d",
                    pContext->cTemplates + 1);
            return NSF_STATUS_OUT_OF_MEMORY;
        }
    }
    pContext->rgpTemplates = rgNew;

    NSFTEMPLATE *pTemplate = (NSFTEMPLATE *)nsfAllocZero(pContext, sizeof(NSFTEMPLATE));
    if (pTemplate == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error allocating template # %d", pContext->cTemplates + 1);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    pContext->rgpTemplates[pContext->cTemplates++] = pTemplate;
    pTemplate->nTemplate = pContext->cTemplates;
    QLHAPI *pHAPI = pContext->services;
    pTemplate->pszName = pHAPI->fpDupString(pHAPI, pszName);
    if (pTemplate->pszName == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error allocating template name");
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    return NSF_STATUS_OK;
}

// Reads one file of the templates directory and keeps it when it is a template. Returns the status.
int nsfLoadTemplateFile(NSFCONTEXT *pContext, const char *pszFile, const char *pszName, uint32_t ucbSize)
{
    static const char szFunc[] = "nsfFindXMLTemplatesR()";
    QLSYS_FILE hFile = qlsys_fopen(pszFile, "r");
    if (hFile == QLSYS_INVALID_FILE) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error opening file %s", pszFile);
        return NSF_STATUS_ACCESS_FAILED;
    }
    NSFBUFFER *pBuffer = NULL;
    int nStatus = nsfAddBuffer(pContext, ucbSize, &pBuffer);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfAddBuffer() failed");
    } else if (qlsys_fread(pBuffer->rgbData, 1, ucbSize, hFile) != ucbSize) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error reading file %s", pszFile);
        nStatus = NSF_STATUS_ACCESS_FAILED;
    } else {
        pBuffer->ucbData = ucbSize;
        pBuffer->rgbData[ucbSize] = 0;
    }
    if (qlsys_fclose(hFile) != 0) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error closing file %s", pszFile);
        if (nStatus == NSF_STATUS_OK)
            nStatus = NSF_STATUS_ACCESS_FAILED;
    }

    if (nStatus == NSF_STATUS_OK && ucbSize >= cchXMLDecl &&
        memcmp(pBuffer->rgbData, szXMLDecl, cchXMLDecl) == 0) {
        if (nsfFindTemplate(pContext, pszName) != NULL) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Template name %s already used", pszName);
            nStatus = NSF_STATUS_INVALID_TEMPLATE;
        } else if ((nStatus = nsfNewTemplate(pContext, pszName)) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfNewTemplate() failed");
        } else {
            pContext->rgpTemplates[pContext->cTemplates - 1]->pBuffer = pBuffer;
            pBuffer = NULL;
        }
    }
    nsfFreeBuffer(pContext, &pBuffer);
    return nStatus;
}

// Finds and loads the templates of a directory and of its subdirectories, except folders whose
// names begin with "images". Returns the reader status.
int nsfFindXMLTemplatesR(NSFCONTEXT *pContext, const char *pszDir)
{
    static const char szFunc[] = "nsfFindXMLTemplatesR()";
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pszDir %s", pszDir);

    // The directory layer hands out an empty listing for a missing directory: ask first, so that
    // a missing templates directory is reported as such.
    QLSYS_STAT st;
    QLSYS_DIR *pDir = NULL;
    if (qlsys_stat(pszDir, &st) != 0 || !S_ISDIR(st.st_mode) || (pDir = qlsys_opendir(pszDir)) == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error opening templates dir %s", pszDir);
        return NSF_STATUS_ACCESS_FAILED;
    }

    int nStatus = NSF_STATUS_OK;
    for (QLSYS_DIRENT *pEntry = qlsys_readdir(pDir); pEntry != NULL && nStatus == NSF_STATUS_OK;
         pEntry = qlsys_readdir(pDir)) {
        if (pEntry->d_name[0] == '.')
            continue;
        char szFile[NSF_PATH_SIZE];
        if (!nsfJoinPath(szFile, pszDir, pEntry->d_name)) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error getting stats on file %s%c%s (path too long)",
                    pszDir, QLSYS_PATH_SEPARATOR, pEntry->d_name);
            nStatus = NSF_STATUS_ACCESS_FAILED;
            break;
        }
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "szFile %s", szFile);
        if (qlsys_stat(szFile, &st) != 0) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error getting stats on file %s", szFile);
            nStatus = NSF_STATUS_ACCESS_FAILED;
            break;
        }
        if (S_ISDIR(st.st_mode)) {
            if (strncmp(pEntry->d_name, "images", 6) == 0)
                continue;
            nStatus = nsfFindXMLTemplatesR(pContext, szFile);
            if (nStatus != NSF_STATUS_OK)
                nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfFindXMLTemplatesR() failed (recursive)");
            continue;
        }
        if (st.st_size == 0)
            continue;
        uint32_t ucbSize = st.st_size > 0x7FFFFFFF ? NSF_SIZE_OVERFLOW : (uint32_t)st.st_size;
        nStatus = nsfLoadTemplateFile(pContext, szFile, pEntry->d_name, ucbSize);
    }
    qlsys_closedir(pDir);
    return nStatus;
}

// Clears the stop state of a validation: every handler removed, the status recorded.
void nsfStopCheck(NSFXMLCHECK *pCheck, const char *pszElement, bool bEnd, int nStatus)
{
    static const char szFunc[] = "nsfInitXMLTemplate()";
    NSFCONTEXT *pContext = pCheck->pContext;
    nsfLogf(pContext, NSF_LOG_WARNING, szFunc,
            bEnd ? "Element </%s> failed with error %d" : "Element <%s> failed with error %d", pszElement,
            nStatus);
    nsfLog(pContext, NSF_LOG_WARNING, szFunc, "Stopping XML processing");
    XML_SetElementHandler(pCheck->parser, NULL, NULL);
    XML_SetCharacterDataHandler(pCheck->parser, NULL);
    pCheck->nError = nStatus;
}

// The element number of a name, logging an unknown one. Returns 0 or NSF_STATUS_INVALID_TEMPLATE.
int nsfInitElement(NSFXMLCHECK *pCheck, const char *pszElement)
{
    static const char szFunc[] = "nsfInitElement()";
    pCheck->nElement = nsfElementNumber(pszElement);
    if (pCheck->nElement == NSF_XML_NONE) {
        nsfLogf(pCheck->pContext, NSF_LOG_ERROR, szFunc, "Invalid element <%s>", pszElement);
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    return NSF_STATUS_OK;
}

// Checks one attribute of the current element and records its value. Returns the status.
int nsfInitAttrib(const char *pszAttr, const char *pszValue, NSFXMLCHECK *pCheck)
{
    static const char szFunc[] = "nsfInitAttrib()";
    NSFCONTEXT *pContext = pCheck->pContext;
    int nElement = pCheck->nElement;
    uint32_t fAccepted = rgElements[nElement].fAccepted;

    if (strcmp(pszAttr, "name") == 0 && (fAccepted & ATTR_NAME)) {
        pCheck->pszName = pszValue;
    } else if (strcmp(pszAttr, "item") == 0 && (fAccepted & ATTR_ITEM)) {
        pCheck->pszItem = pszValue;
    } else if (strcmp(pszAttr, "text") == 0 && (fAccepted & ATTR_TEXT)) {
        pCheck->pszText = pszValue;
    } else if (strcmp(pszAttr, "type") == 0 && (fAccepted & ATTR_TYPE)) {
        if (nElement == NSF_XML_ADDR) {
            if (strcmp(pszValue, "CN") != 0) {
                nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid address type %s", pszValue);
                return NSF_STATUS_INVALID_TEMPLATE;
            }
        } else if (nsfParseLogLevel(pszValue) == 0) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid error type %s", pszValue);
            return NSF_STATUS_INVALID_TEMPLATE;
        }
        pCheck->pszType = pszValue;
    } else if (strcmp(pszAttr, "format") == 0 && (fAccepted & ATTR_FORMAT)) {
        if (nsfInitAttribFormat(pContext, pszValue) != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitAttribFormat() failed");
            return NSF_STATUS_INVALID_TEMPLATE;
        }
        pCheck->pszFormat = pszValue;
    } else if (strcmp(pszAttr, "link") == 0 && (fAccepted & ATTR_LINK)) {
        if (nsfFindImage(pContext, pszValue, pszValue) == NULL)
            nsfLogf(pContext, NSF_LOG_WARNING, szFunc, "Invalid image link %s", pszValue);
        pCheck->pszLink = pszValue;
    } else if (strcmp(pszAttr, "file") == 0 && (fAccepted & ATTR_FILE)) {
        if (nElement == NSF_XML_CALL) {
            if (nsfFindTemplate(pContext, pszValue) == NULL) {
                nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid template file %s", pszValue);
                return NSF_STATUS_INVALID_TEMPLATE;
            }
        } else if (nsfFindImage(pContext, NULL, pszValue) == NULL &&
                   nsfAddImage(pContext, pszValue) != NSF_STATUS_OK) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid image file %s", pszValue);
            return NSF_STATUS_INVALID_TEMPLATE;
        }
        pCheck->pszFile = pszValue;
    } else if (strcmp(pszAttr, "max") == 0 && (fAccepted & ATTR_MAX)) {
        if (pszValue[0] < '0' || pszValue[0] > '9') {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid loop maximum %s", pszValue);
            return NSF_STATUS_INVALID_TEMPLATE;
        }
        pCheck->pszMax = pszValue;
    } else {
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    return NSF_STATUS_OK;
}

// Checks the attributes of the current element, then the ones its row requires. Returns the status.
int nsfInitAttributes(NSFXMLCHECK *pCheck, const char *pszElement, const char **rgpszAttrs)
{
    static const char szFunc[] = "nsfInitAttributes()";
    NSFCONTEXT *pContext = pCheck->pContext;
    pCheck->pszName = pCheck->pszItem = pCheck->pszText = pCheck->pszType = NULL;
    pCheck->pszFormat = pCheck->pszLink = pCheck->pszFile = pCheck->pszMax = NULL;

    bool bAny = false;
    for (int i = 0; rgpszAttrs[i] != NULL && rgpszAttrs[i + 1] != NULL; i += 2) {
        bAny = true;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "%s=\"%s\"", rgpszAttrs[i], rgpszAttrs[i + 1]);
        if (nsfInitAttrib(rgpszAttrs[i], rgpszAttrs[i + 1], pCheck) != NSF_STATUS_OK) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Element <%s> has an invalid attribute: %s=\"%s\"",
                    pszElement, rgpszAttrs[i], rgpszAttrs[i + 1]);
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitAttrib() failed");
            return NSF_STATUS_INVALID_TEMPLATE;
        }
    }

    const char *pszMissing = NULL;
    bool bInside = pCheck->nLevel > 0;
    switch (pCheck->nElement) {
    case NSF_XML_IFEQ:
    case NSF_XML_IFNE:
    case NSF_XML_IFLT:
    case NSF_XML_IFLE:
    case NSF_XML_IFGT:
    case NSF_XML_IFGE:
    case NSF_XML_IFDTEQ:
    case NSF_XML_IFDTNE:
    case NSF_XML_IFDTLT:
    case NSF_XML_IFDTLE:
    case NSF_XML_IFDTGT:
    case NSF_XML_IFDTGE:
        if (pCheck->pszName == NULL)
            pszMissing = "Element <%s> has no main item";
        else if (pCheck->pszItem == NULL && pCheck->pszText == NULL)
            pszMissing = "Element <%s> has no secondary item or text";
        break;
    case NSF_XML_IFTZEQ:
    case NSF_XML_IFTZNE:
    case NSF_XML_IFEX:
    case NSF_XML_IFNEX:
    case NSF_XML_SWITCH:
    case NSF_XML_FOR:
        if (pCheck->pszName == NULL)
            pszMissing = "Element <%s> has no main item";
        break;
    case NSF_XML_IFINI:
        if (pCheck->pszName == NULL && pCheck->pszText == NULL)
            pszMissing = "Element <%s> has no option name or text";
        break;
    case NSF_XML_CASE:
    case NSF_XML_LOG:
    case NSF_XML_STOP:
        if (pCheck->pszText == NULL)
            pszMissing = "Element <%s> has no text";
        break;
    case NSF_XML_CALL:
        if (pCheck->pszFile == NULL)
            pszMissing = "Element <%s> has no file";
        break;
    case NSF_XML_TEXT:
    case NSF_XML_RICH:
    case NSF_XML_FORM:
    case NSF_XML_ADDR:
    case NSF_XML_DATE:
    case NSF_XML_DATE_QL:
    case NSF_XML_ZONE:
    case NSF_XML_ZONE_UTC:
        if (pCheck->pszName == NULL && !bInside)
            pszMissing = "Element <%s> has no main or parent item";
        break;
    case NSF_XML_TIME:
        if (pCheck->pszItem == NULL)
            pszMissing = "Element <%s> has no secondary item";
        else if (pCheck->pszName == NULL && !bInside)
            pszMissing = "Element <%s> has no main or parent item";
        break;
    case NSF_XML_IMAGE:
    case NSF_XML_IMAGE_URI:
        if (pCheck->pszLink == NULL && pCheck->pszFile == NULL)
            pszMissing = "Element <%s> has no link or file";
        break;
    case NSF_XML_ELSE:
    case NSF_XML_DEFAULT:
    case NSF_XML_QUILLON:
    case NSF_XML_BODY:
    case NSF_XML_NAME:
    case NSF_XML_LOGO:
    case NSF_XML_INDEX:
        if (bAny)
            pszMissing = "Element <%s> should not have any attributes";
        break;
    case NSF_XML_QUIT:
    case NSF_XML_FORMAT:
        break;
    default:
        pszMissing = "Element <%s> not handled";
        break;
    }
    if (pszMissing != NULL) {
        snprintf(pContext->szMsg, sizeof(pContext->szMsg), pszMissing, pszElement);
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, pContext->szMsg);
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    return NSF_STATUS_OK;
}

// Start tags during validation: the element, its attributes, the nesting rules and the level.
void XMLCALL nsfStartElementXML(void *pvCheck, const XML_Char *pszElement, const XML_Char **rgpszAttrs)
{
    static const char szFunc[] = "nsfStartElementXML()";
    NSFXMLCHECK *pCheck = (NSFXMLCHECK *)pvCheck;
    NSFCONTEXT *pContext = pCheck->pContext;
    nsfLog(pContext, NSF_LOG_DIAG, NULL, "");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pcszElement <%s>, nLevel %d", pszElement, pCheck->nLevel);

    int nStatus = nsfInitElement(pCheck, pszElement);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitElement() failed");
        nsfStopCheck(pCheck, pszElement, false, nStatus);
        return;
    }
    int nElement = pCheck->nElement;
    int nParent = pCheck->nLevel > 0 ? pCheck->rgnElements[pCheck->nLevel] : NSF_XML_NONE;

    nStatus = nsfInitAttributes(pCheck, pszElement, rgpszAttrs);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitAttributes() failed");
        nsfStopCheck(pCheck, pszElement, false, nStatus);
        return;
    }

    const char *pszRule = NULL;
    if ((nElement == NSF_XML_SWITCH && pCheck->bSwitch) || (nElement == NSF_XML_FOR && pCheck->bFor))
        pszRule = "Element <%s> cannot be nested in itself";
    else if ((nElement == NSF_XML_CASE || nElement == NSF_XML_DEFAULT) && nParent != NSF_XML_SWITCH)
        pszRule = "Element <%s> must be inside a <switch>";
    else if (nElement == NSF_XML_INDEX && nParent != NSF_XML_FOR)
        pszRule = "Element <%s> must be inside a <for>";
    else if (nElement == NSF_XML_ELSE && pCheck->pTemplate->cLevels == 0)
        pszRule = "Element <%s> must be after an <if> or <switch>";
    if (pszRule != NULL) {
        snprintf(pContext->szMsg, sizeof(pContext->szMsg), pszRule, pszElement);
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, pContext->szMsg);
        nsfStopCheck(pCheck, pszElement, false, NSF_STATUS_INVALID_TEMPLATE);
        return;
    }
    if (nElement == NSF_XML_SWITCH)
        pCheck->bSwitch = true;
    else if (nElement == NSF_XML_FOR)
        pCheck->bFor = true;
    else if (nElement == NSF_XML_QUILLON)
        pCheck->nLevel = 0;

    if (nsfIsControlElement(nElement)) {
        if (pCheck->nLevel + 1 > NSF_XML_MAX_LEVELS) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Element <%s> is nested more than %d levels", pszElement,
                    NSF_XML_MAX_LEVELS);
            nsfStopCheck(pCheck, pszElement, false, NSF_STATUS_INVALID_TEMPLATE);
            return;
        }
        pCheck->nLevel++;
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "nLevel %d", pCheck->nLevel);
        pCheck->rgnElements[pCheck->nLevel] = nElement;
        if (pCheck->pTemplate->cLevels < pCheck->nLevel)
            pCheck->pTemplate->cLevels = pCheck->nLevel;
    }
}

// End tags during validation: closes levels and the switch and loop flags.
void XMLCALL nsfEndElementXML(void *pvCheck, const XML_Char *pszElement)
{
    static const char szFunc[] = "nsfEndElementXML()";
    NSFXMLCHECK *pCheck = (NSFXMLCHECK *)pvCheck;
    NSFCONTEXT *pContext = pCheck->pContext;
    nsfLog(pContext, NSF_LOG_DIAG, NULL, "");
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "pcszElement </%s>, nLevel %d", pszElement, pCheck->nLevel);

    int nStatus = nsfInitElement(pCheck, pszElement);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitElement() failed");
        nsfStopCheck(pCheck, pszElement, true, nStatus);
        return;
    }
    int nElement = pCheck->nElement;
    if (nElement == NSF_XML_SWITCH)
        pCheck->bSwitch = false;
    else if (nElement == NSF_XML_FOR)
        pCheck->bFor = false;

    if (nElement == NSF_XML_QUILLON) {
        if (pCheck->nLevel != 0) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid element nesting level %d", pCheck->nLevel);
            nsfStopCheck(pCheck, pszElement, true, NSF_STATUS_INVALID_TEMPLATE);
        }
        return;
    }
    if (nsfIsControlElement(nElement)) {
        pCheck->nLevel--;
        if (pCheck->nLevel < 0) {
            nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid element nesting level %d", pCheck->nLevel);
            nsfStopCheck(pCheck, pszElement, true, NSF_STATUS_INVALID_TEMPLATE);
            return;
        }
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "nLevel %d", pCheck->nLevel);
}

// Validates one template completely. Returns the reader status.
int nsfInitXMLTemplate(NSFCONTEXT *pContext, NSFTEMPLATE *pTemplate)
{
    static const char szFunc[] = "nsfInitXMLTemplate()";
    if (pTemplate == NULL || pTemplate->pBuffer == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No template");
        return NSF_STATUS_INTERNAL;
    }
    NSFBUFFER *pBuffer = pTemplate->pBuffer;
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Initializing XML template %s", pTemplate->pszName);
    nsfLogf(pContext, NSF_LOG_DUMP, szFunc, "Template Buffer.ucbData %u 0x%x, (char *)rgbData...",
            pBuffer->ucbData, pBuffer->ucbData);
    nsfLog(pContext, NSF_LOG_DUMP, szFunc, (const char *)pBuffer->rgbData);

    NSFXMLCHECK check;
    memset(&check, 0, sizeof(check));
    check.pContext = pContext;
    check.pTemplate = pTemplate;
    pTemplate->cLevels = 0;
    check.parser = XML_ParserCreateNS(NULL, NSF_XML_NS_SEPARATOR);
    if (check.parser == NULL) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error creating XML Parser for XML template %s",
                pTemplate->pszName);
        return NSF_STATUS_OUT_OF_MEMORY;
    }
    XML_SetUserData(check.parser, &check);
    XML_SetElementHandler(check.parser, nsfStartElementXML, nsfEndElementXML);
    XML_SetCharacterDataHandler(check.parser, NULL);

    int nStatus = NSF_STATUS_OK;
    if (XML_Parse(check.parser, (const char *)pBuffer->rgbData, (int)pBuffer->ucbData, 1) ==
        XML_STATUS_ERROR) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "XML Parser failed on line %d of XML template %s, error...",
                (int)XML_GetCurrentLineNumber(check.parser), pTemplate->pszName);
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, XML_ErrorString(XML_GetErrorCode(check.parser)));
        nStatus = NSF_STATUS_INVALID_TEMPLATE;
    } else if (check.nError != NSF_STATUS_OK) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "XML Parser handler function failed on XML template %s",
                pTemplate->pszName);
        nStatus = check.nError;
    }
    XML_ParserFree(check.parser);
    return nStatus;
}

} // namespace

const char *nsfElementName(int nElement)
{
    return nElement > NSF_XML_NONE && nElement <= NSF_XML_LAST ? rgElements[nElement].pszName : NULL;
}

int nsfElementNumber(const char *pszName)
{
    for (int nElement = 1; nElement <= NSF_XML_LAST; nElement++) {
        if (strcmp(pszName, rgElements[nElement].pszName) == 0)
            return nElement;
    }
    return NSF_XML_NONE;
}



NSFTEMPLATE *nsfFindTemplate(NSFCONTEXT *pContext, const char *pszName)
{
    static const char szFunc[] = "nsfFindTemplate()";
    for (int32_t i = 0; pContext->rgpTemplates != NULL && i < pContext->cTemplates; i++) {
        NSFTEMPLATE *pTemplate = pContext->rgpTemplates[i];
        if (pTemplate != NULL && pTemplate->pszName != NULL && nsfEqualNoCase(pTemplate->pszName, pszName))
            return pTemplate;
    }
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Template not found, pszName %s", pszName);
    return NULL;
}

NSFTEMPLATE *nsfGetTemplate(NSFCONTEXT *pContext, int32_t nTemplate)
{
    if (pContext->rgpTemplates == NULL || nTemplate < 1 || nTemplate > pContext->cTemplates)
        return NULL;
    return pContext->rgpTemplates[nTemplate - 1];
}

bool nsfNextFormatPair(const char **ppszCursor, NSFFORMATPAIR *pPair)
{
    const char *psz = *ppszCursor;
    if (psz == NULL || *psz == '\0')
        return false;
    const char *pszEnd = strchr(psz, ',');
    if (pszEnd == NULL)
        pszEnd = psz + strlen(psz);
    *ppszCursor = *pszEnd == ',' ? pszEnd + 1 : pszEnd;

    memset(pPair, 0, sizeof(*pPair));
    while (psz < pszEnd && (*psz == ' ' || *psz == '\t'))
        psz++;
    const char *pszEquals = (const char *)memchr(psz, '=', (size_t)(pszEnd - psz));
    if (pszEquals == NULL || pszEquals + 1 >= pszEnd || pszEquals[1] < '0' || pszEquals[1] > '9')
        return true;
    // Only the low 8 bits of the value count; longer digit strings keep their low bits.
    unsigned nValue = 0;
    for (const char *pszDigit = pszEquals + 1; pszDigit < pszEnd && *pszDigit >= '0' && *pszDigit <= '9';
         pszDigit++)
        nValue = (nValue * 10 + (unsigned)(*pszDigit - '0')) & 0xFFFFFF;
    pPair->nValue = nValue & 0xFF;
    if (pszEquals - psz >= 2) {
        if (psz[0] == 'T' && (psz[1] == 'D' || psz[1] == 'T' || psz[1] == 'Z' || psz[1] == 'S'))
            pPair->chKey = psz[1];
        else if (psz[0] == 'Q' && psz[1] == 'L')
            pPair->chKey = 'Q';
    }
    return true;
}

int nsfInitAttribFormat(NSFCONTEXT *pContext, const char *pszFormat)
{
    static const char szFunc[] = "nsfInitAttribFormat()";
    bool bValid = false;
    NSFFORMATPAIR pair;
    for (const char *pszCursor = pszFormat; nsfNextFormatPair(&pszCursor, &pair);) {
        unsigned nLimit;
        switch (pair.chKey) {
        case 'D':
            nLimit = 6;
            break;
        case 'T':
        case 'Z':
            nLimit = 2;
            break;
        case 'S':
            nLimit = 3;
            break;
        case 'Q':
            nLimit = 138;
            break;
        default:
            continue;
        }
        if (pair.nValue <= nLimit)
            bValid = true;
    }
    if (!bValid) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Invalid format %s", pszFormat);
        return NSF_STATUS_INVALID_TEMPLATE;
    }
    return NSF_STATUS_OK;
}

int nsfAddImage(NSFCONTEXT *pContext, const char *pszFile)
{
    static const char szFunc[] = "nsfAddImage()";
    char szFile[NSF_PATH_SIZE];
    int cch = snprintf(szFile, sizeof(szFile), "%s%c%s%c%s", pContext->szTemplateDir, QLSYS_PATH_SEPARATOR,
                       "images", QLSYS_PATH_SEPARATOR, pszFile);
    nsfLogf(pContext, NSF_LOG_INFO, szFunc, "Adding new image, pszFile %s, szFile...", pszFile);
    nsfLog(pContext, NSF_LOG_INFO, szFunc, szFile);
    // A picture file is a plain name inside the pictures directory: a template cannot reach
    // files elsewhere through it.
    if (cch < 0 || cch >= (int)sizeof(szFile) || pszFile[0] == '\0' || strchr(pszFile, '/') != NULL ||
        strchr(pszFile, '\\') != NULL || strcmp(pszFile, "..") == 0 || strchr(pszFile, ':') != NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error finding image file...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, szFile);
        return NSF_STATUS_ACCESS_FAILED;
    }

    QLSYS_STAT st;
    if (qlsys_stat(szFile, &st) != 0 || S_ISDIR(st.st_mode)) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error finding image file...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, szFile);
        return NSF_STATUS_ACCESS_FAILED;
    }
    if (st.st_size == 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Empty image file...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, szFile);
        return NSF_STATUS_ACCESS_FAILED;
    }
    uint32_t ucbSize = st.st_size > 0x7FFFFFFF ? NSF_SIZE_OVERFLOW : (uint32_t)st.st_size;

    int nStatus = nsfNewImage(pContext);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfNewImage() failed");
        return nStatus;
    }
    NSFIMAGE *pImage = pContext->numImages > 0 ? pContext->images[pContext->numImages - 1] : NULL;
    if (pImage == NULL || pImage->pBuffer == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No image found");
        return NSF_STATUS_INTERNAL;
    }

    QLSYS_FILE hFile = qlsys_fopen(szFile, "r");
    if (hFile == QLSYS_INVALID_FILE) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error opening image file...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, szFile);
        return NSF_STATUS_ACCESS_FAILED;
    }
    NSFBUFFER *pBuffer = pImage->pBuffer;
    pBuffer->ucbData = 0;
    nStatus = nsfCheckBuffer(pContext, pBuffer, ucbSize);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfCheckBuffer() failed");
    } else if (qlsys_fread(pBuffer->rgbData, 1, ucbSize, hFile) != ucbSize) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error reading image file...");
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, szFile);
        nStatus = NSF_STATUS_ACCESS_FAILED;
    } else {
        pBuffer->ucbData = ucbSize;
    }
    if (qlsys_fclose(hFile) != 0) {
        if (nStatus == NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, "Error closing image file...");
            nsfLog(pContext, NSF_LOG_ERROR, szFunc, szFile);
            nStatus = NSF_STATUS_ACCESS_FAILED;
        } else {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "qlsys_fclose() failed");
        }
    }
    if (nStatus != NSF_STATUS_OK) {
        // The record stays in the catalogue, empty: the picture writers pass over it.
        pBuffer->ucbData = 0;
        return nStatus;
    }

    size_t cchTitle = strnlen(pszFile, sizeof(pImage->szTitle) - 1);
    memcpy(pImage->szTitle, pszFile, cchTitle);
    pImage->szTitle[cchTitle] = '\0';
    const char *pszExt = strrchr(pszFile, '.');
    if (pszExt != NULL) {
        if (strncasecmp(pszExt, ".gif", 4) == 0)
            pImage->wImageType = CDIMAGETYPE_GIF;
        else if (strncasecmp(pszExt, ".jpeg", 5) == 0 || strncasecmp(pszExt, ".jpg", 4) == 0)
            pImage->wImageType = CDIMAGETYPE_JPEG;
        else if (strncasecmp(pszExt, ".bmp", 4) == 0)
            pImage->wImageType = CDIMAGETYPE_BMP;
        else {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "Could not get image type from file, szFile...");
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, szFile);
        }
    }
    return NSF_STATUS_OK;
}

int nsfInitXMLTemplates(NSFCONTEXT *pContext)
{
    static const char szFunc[] = "nsfInitXMLTemplates()";
    nsfLog(pContext, NSF_LOG_INFO, NULL, "");
    nsfLog(pContext, NSF_LOG_INFO, szFunc, "Initializing all XML templates...");

    const char *pszHostDir = pContext->services->pszHostDir != NULL ? pContext->services->pszHostDir : "";
    int cch =
        snprintf(pContext->szTemplateDir, sizeof(pContext->szTemplateDir), "%sNSFtemplates", pszHostDir);
    pContext->szTemplateDir[sizeof(pContext->szTemplateDir) - 1] = '\0';
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "szTemplateDir %s", pContext->szTemplateDir);
    if (cch < 0 || cch >= (int)sizeof(pContext->szTemplateDir)) {
        nsfLogf(pContext, NSF_LOG_ERROR, szFunc, "Error opening templates dir %s (path too long)",
                pContext->szTemplateDir);
        return NSF_STATUS_ACCESS_FAILED;
    }

    int nStatus = nsfFindXMLTemplatesR(pContext, pContext->szTemplateDir);
    if (nStatus != NSF_STATUS_OK) {
        nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfFindXMLTemplatesR() failed (recursive)");
        return nStatus;
    }
    if (pContext->cTemplates == 0) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No templates");
        return NSF_STATUS_NO_TEMPLATES;
    }
    NSFTEMPLATE *pMain = nsfFindTemplate(pContext, szMainTemplate);
    if (pMain == NULL) {
        nsfLog(pContext, NSF_LOG_ERROR, szFunc, "No main template");
        return NSF_STATUS_NO_MAIN_TEMPLATE;
    }
    pContext->nMainTemplate = pMain->nTemplate;

    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Initial cTemplates %d, rgpTemplates...", pContext->cTemplates);
    for (int32_t i = 0; i < pContext->cTemplates; i++)
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "rgpTemplates[%d]: nTemplate %d, pszName %s", i,
                pContext->rgpTemplates[i]->nTemplate, pContext->rgpTemplates[i]->pszName);
    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "nMainTemplate %d", pContext->nMainTemplate);

    for (int32_t i = 0; i < pContext->cTemplates; i++) {
        nStatus = nsfInitXMLTemplate(pContext, pContext->rgpTemplates[i]);
        if (nStatus != NSF_STATUS_OK) {
            nsfLog(pContext, NSF_LOG_WARNING, szFunc, "nsfInitXMLTemplate() failed");
            return nStatus;
        }
    }

    nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "Final cTemplates %d, rgpTemplates...", pContext->cTemplates);
    for (int32_t i = 0; i < pContext->cTemplates; i++)
        nsfLogf(pContext, NSF_LOG_DIAG, szFunc, "rgpTemplates[%d]: nTemplate %d, pszName %s, cLevels %d", i,
                pContext->rgpTemplates[i]->nTemplate, pContext->rgpTemplates[i]->pszName,
                pContext->rgpTemplates[i]->cLevels);
    return NSF_STATUS_OK;
}
