// XML templates that decide how the fields of a mail memo are written.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <quillon/quillon.h>

struct NSFBUFFER;
struct NSFCONTEXT;
struct NSFSUBFILE;

// One template file held in memory.
struct NSFTEMPLATE {
    int32_t nTemplate;  // 1-based number: position in the template array + 1
    char *pszName;      // owned: the file name without directory
    NSFBUFFER *pBuffer; // the whole file, zero-terminated
    int32_t cLevels;    // deepest control nesting found by validation
};

// Finds, loads and validates the templates under the host directory's "NSFtemplates" and their
// pictures. Called by open when the template option is on. Returns the reader status.
int nsfInitXMLTemplates(NSFCONTEXT *pContext);
// Runs the main template for a mail note into the output. Returns the reader status.
int nsfExtractMailFieldsXML(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj);
// Writes the picture parts gathered by the last template run. Returns the reader status.
int nsfExtractMailImagesXML(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj);
