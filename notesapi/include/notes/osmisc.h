/* Message strings and character set translation. */
#ifndef NOTES_OSMISC_H
#define NOTES_OSMISC_H

#include "global.h"

#define OS_TRANSLATE_NATIVE_TO_LMBCS 0
#define OS_TRANSLATE_LMBCS_TO_NATIVE 1
#define OS_TRANSLATE_LOWER_TO_UPPER 3
#define OS_TRANSLATE_UPPER_TO_LOWER 4
#define OS_TRANSLATE_UNACCENT 5
#define OS_TRANSLATE_OSNATIVE_TO_LMBCS 0
#define OS_TRANSLATE_LMBCS_TO_OSNATIVE 1
#define OS_TRANSLATE_LMBCS_TO_ASCII 11
#define OS_TRANSLATE_LMBCS_TO_UNICODE 20
#define OS_TRANSLATE_LMBCS_TO_UTF8 22
#define OS_TRANSLATE_UNICODE_TO_LMBCS 23
#define OS_TRANSLATE_UTF8_TO_LMBCS 24

NOTESAPI_BEGIN_DECLS

/* Loads the text of a STATUS (pass ERR(status)) into retBuffer: at most BufferLength bytes and
   a NUL after them. Returns the length copied, 0 for an unknown code. */
NOTESAPI WORD LNPUBLIC OSLoadString(HMODULE hModule, STATUS StringCode, char *retBuffer, WORD BufferLength);
NOTESAPI WORD LNPUBLIC OSTranslate(WORD TranslateMode, const char *In, WORD InLength, char *Out,
                                   WORD OutLength);

NOTESAPI_END_DECLS

#endif
