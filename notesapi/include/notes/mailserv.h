/* Mail message helpers. */
#ifndef NOTES_MAILSERV_H
#define NOTES_MAILSERV_H

#include "global.h"

NOTESAPI_BEGIN_DECLS

/* Writes the composite data of all items named ItemName (NULL = "Body") of the message, in
   order, to OutputFileName; the file size goes to *OutputFileSize. */
NOTESAPI STATUS LNPUBLIC MailGetMessageBodyComposite(DHANDLE hMessage, char *ItemName, char *OutputFileName,
                                                     DWORD *OutputFileSize);

NOTESAPI_END_DECLS

#endif
