// Inside the template engine: the element table, the run state and the services that loading,
// running and the data elements share. Nothing outside nsf/templates includes this header.
#pragma once

#include <stdint.h>

#include "nsf/base/text.h"

#include <expat.h>

#include <notes/global.h>
#include <notes/misc.h>
#include <quillon/quillon.h>

struct NSFBUFFER;
struct NSFCONTEXT;
struct NSFSUBFILE;
struct NSFTEMPLATE;

// Element numbers of the template language. 1 to 22 are control elements (they open a level),
// 23 the root, 24 to 27 actions, 28 to 43 data elements.
enum {
    NSF_XML_NONE = 0,
    NSF_XML_IFEQ = 1,
    NSF_XML_IFNE,
    NSF_XML_IFLT,
    NSF_XML_IFLE,
    NSF_XML_IFGT,
    NSF_XML_IFGE,
    NSF_XML_IFDTEQ,
    NSF_XML_IFDTNE,
    NSF_XML_IFDTLT,
    NSF_XML_IFDTLE,
    NSF_XML_IFDTGT,
    NSF_XML_IFDTGE,
    NSF_XML_IFTZEQ,
    NSF_XML_IFTZNE,
    NSF_XML_IFEX,
    NSF_XML_IFNEX,
    NSF_XML_SWITCH,
    NSF_XML_FOR,
    NSF_XML_IFINI,
    NSF_XML_ELSE,
    NSF_XML_CASE,
    NSF_XML_DEFAULT,
    NSF_XML_QUILLON,
    NSF_XML_CALL,
    NSF_XML_LOG,
    NSF_XML_QUIT,
    NSF_XML_STOP,
    NSF_XML_TEXT,
    NSF_XML_RICH,
    NSF_XML_BODY,
    NSF_XML_FORM,
    NSF_XML_ADDR,
    NSF_XML_NAME,
    NSF_XML_FORMAT,
    NSF_XML_DATE,
    NSF_XML_DATE_QL,
    NSF_XML_TIME,
    NSF_XML_ZONE,
    NSF_XML_ZONE_UTC,
    NSF_XML_LOGO,
    NSF_XML_IMAGE,
    NSF_XML_IMAGE_URI,
    NSF_XML_INDEX,
    NSF_XML_LAST = NSF_XML_INDEX
};

#define NSF_XML_MAX_LEVELS 25      // control levels per template, and nested template runs
#define NSF_ITEM_MAX 64            // item names are cut to 63 characters
#define NSF_ITEM_TYPE_UNREAD 0x100 // wDataType of an item record before reading
#define NSF_ITEM_TYPE_TEXT 0x500   // TYPE_TEXT

// The Expat namespace separator: element names of a namespace become "uri local".
#define NSF_XML_NS_SEPARATOR ' '

// The element's name for numbers 1 to 43, else null.
const char *nsfElementName(int nElement);
// The element number of a name, or NSF_XML_NONE.
int nsfElementNumber(const char *pszName);


// The template whose name equals pszName ignoring case, or null.
NSFTEMPLATE *nsfFindTemplate(NSFCONTEXT *pContext, const char *pszName);
// The template numbered nTemplate (1-based), or null.
NSFTEMPLATE *nsfGetTemplate(NSFCONTEXT *pContext, int32_t nTemplate);

// The value of an item of the note as the run reads it.
struct NSFXMLITEM {
    char szName[NSF_ITEM_MAX];
    int32_t fItemIsPresent;
    uint16_t wDataType;
    NSFBUFFER *pBuffer; // the value as zero-terminated text
};

// The state of one run of a template document.
struct NSFXMLRUN {
    NSFCONTEXT *pContext;
    NSFSUBFILE *pSubFile;
    NOTEHANDLE hNote;
    QLIOobj *pIOobj;
    NSFTEMPLATE *pTemplate;
    XML_Parser parser;
    int nError;

    int nElement;
    int rgnElements[NSF_XML_MAX_LEVELS + 1];

    // Attribute values of the current start tag; they point into the parser's memory and are
    // valid only while that tag is handled.
    const char *pszName;
    const char *pszItem;
    const char *pszText;
    const char *pszType;
    const char *pszFormat;
    const char *pszLink;
    const char *pszFile;
    int32_t nMax;

    TFMT TimeFormat;
    int32_t eDateTimeFmt;

    bool bSwitchMatched;
    bool bFor; // copying a loop body into BufferFOR
    bool bCondition;
    bool rgbConditions[NSF_XML_MAX_LEVELS + 1];
    bool bQuit;

    // Record 0: main item of a data element; record 1: second item; record 1 + n: level n.
    NSFXMLITEM *rgItems;
    int32_t cItems;
    int32_t nLevel;

    NSFBUFFER *BufferFOR;
    NSFXMLITEM *pForItem;
    int32_t nForIndex;
    int32_t nForMax;
};

// The item record of a level (1 to the template's cLevels), or null outside the records.
NSFXMLITEM *nsfLevelItem(NSFXMLRUN *pRun, int32_t nLevel);
// Clears a record: empty name and value, not present, not yet read.
void nsfClearItem(NSFXMLITEM *pItem);
// True when the item is present and its value has at least one byte.
bool nsfItemHasValue(const NSFXMLITEM *pItem);
// The value text of a record ("" when it has none).
const char *nsfItemText(const NSFXMLITEM *pItem);
// Reads the named item into the record in the way the current element needs.
int nsfGetItemValue(const char *pszName, NSFXMLITEM *pItem, NSFXMLRUN *pRun);
// Applies a format string: to the run's own format (reset to the default first) when pTimeFormat
// is null, else to the copy given. Returns the reader status.
int nsfSetFormat(NSFXMLRUN *pRun, const char *pszFormat, TFMT *pTimeFormat, int32_t *peDateTimeFmt);
// Scans two times and gives the seconds from the first to the second. Returns the reader status.
int nsfGetTime(NSFXMLRUN *pRun, const char *pszTime1, const char *pszTime2, int64_t *pdTime);
// Writes bytes to the run's output; 0 or NSF_STATUS_OUTPUT_FAILED.
int nsfWriteXML(NSFXMLRUN *pRun, const void *pData, uint32_t cbData);

// Runs one template document against the note: the main template, a called one or a loop pass.
int nsfParseXMLTemplateR(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj,
                         NSFTEMPLATE *pTemplate, NSFXMLITEM *pForItem, int32_t nForIndex);
// The data elements (28 to 43) while the condition is on. Returns the reader status.
int nsfStartDataElement(NSFXMLRUN *pRun);

// Loads a picture file of the pictures directory into the picture catalogue.
int nsfAddImage(NSFCONTEXT *pContext, const char *pszFile);
// One KEY=value pair of a format string: chKey is 'D', 'T', 'Z' or 'S' for TD, TT, TZ and TS,
// 'Q' for QL, and 0 for a pair without '=', without a decimal value or with an unknown key.
struct NSFFORMATPAIR {
    char chKey;
    unsigned nValue; // the low 8 bits of the decimal value
};
// Reads the next comma-separated pair and moves the cursor past it. False at the end.
bool nsfNextFormatPair(const char **ppszCursor, NSFFORMATPAIR *pPair);
// Checks a format string: valid when at least one pair is. Returns 0 or NSF_STATUS_INVALID_TEMPLATE.
int nsfInitAttribFormat(NSFCONTEXT *pContext, const char *pszFormat);
