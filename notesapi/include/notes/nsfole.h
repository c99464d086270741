/* OLE objects stored in notes. */
#ifndef NOTES_NSFOLE_H
#define NOTES_NSFOLE_H

#include "global.h"
#include "nsfnote.h"

NOTESAPI_BEGIN_DECLS

/* Writes the OLE2 structured-storage file of the object whose master $FILE object is
   pszObjectName. */
NOTESAPI STATUS LNPUBLIC NSFNoteExtractOLE2Object(NOTEHANDLE hNote, char *pszObjectName, char *pszFileName,
                                                  ENCRYPTION_KEY *pEncryptionKey, BOOL fOverwrite,
                                                  DWORD dwFlags);

NOTESAPI_END_DECLS

#endif
