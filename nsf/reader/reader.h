// The reader's entry: the operation table, open and close.
#pragma once

#include <quillon/quillon.h>

struct NSFCONTEXT;

extern "C" QLEXPORT QLReaderInterface *QLAPI nsfGetContainerReaderInterfaceEx(QLReaderInterface *pTable);

void *QLAPI nsfInit(QLIOobj *pIOobj, QLHAPI *services, uint32_t dwFlags, void *pReserved,
                    QLCredentialList *pCredentials, int *pStatus);
void QLAPI nsfShutdown(void *pvContext);

// The input file's base name as the catalogue names its subfiles: at most 8 characters after the
// separator that precedes the path's first '.', cut at a '.' and never inside a UTF-8 character.
void nsfGetFileName8(const char *pszPath, char szFileName8[9]);
