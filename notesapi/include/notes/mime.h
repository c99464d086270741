/* Conversion of MIME items to composite data. */
#ifndef NOTES_MIME_H
#define NOTES_MIME_H

#include "global.h"
#include "mimeods.h"

typedef void *CCHANDLE;

#define MIME_HEADER_MAP_EMAIL 0
#define MIME_HEADER_MAP_HTTP 1
#define MIME_HEADER_MAP_NEWS 2

NOTESAPI_BEGIN_DECLS

/* Rewrites the note's TYPE_MIME_PART items of that name as TYPE_COMPOSITE items, in memory.
   hCC NULL = default conversion controls. The four-parameter form of the toolkit headers (the
   reference pages add a BOOL bCanonical before hCC); the reader calls this form. */
NOTESAPI STATUS LNPUBLIC MIMEConvertMIMEPartCC(NOTEHANDLE hNote, char *pItemName, WORD wItemNameLen,
                                               CCHANDLE hCC);

NOTESAPI_END_DECLS

#endif
