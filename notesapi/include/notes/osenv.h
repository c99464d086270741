/* The runtime's environment: the variables of the notes.ini file. */
#ifndef NOTES_OSENV_H
#define NOTES_OSENV_H

#include "global.h"

#define MAXENVVALUE 256

NOTESAPI_BEGIN_DECLS

/* Case-insensitive lookup. BufferLength is the buffer size minus one: at most BufferLength
   bytes of the value are copied and a NUL follows them. TRUE when the variable exists. */
NOTESAPI BOOL LNPUBLIC OSGetEnvironmentString(const char *VariableName, char *retValueBuffer,
                                              WORD BufferLength);
NOTESAPI void LNPUBLIC OSSetEnvironmentVariable(const char *VariableName, const char *Value);

NOTESAPI_END_DECLS

#endif
