/* ID tables: sorted sets of note IDs in a memory object. */
#ifndef NOTES_IDTABLE_H
#define NOTES_IDTABLE_H

#include "global.h"

#define IDTABLE_MODIFIED 0x0001
#define IDTABLE_INVERTED 0x0002

typedef LNCALLBACKPTR(STATUS, IDENUMERATEPROC)(void *Parameter, DWORD id);

NOTESAPI_BEGIN_DECLS

NOTESAPI STATUS LNPUBLIC IDCreateTable(DWORD Alignment, DHANDLE *rethTable);
NOTESAPI STATUS LNPUBLIC IDDestroyTable(DHANDLE hTable);
/* NOERROR whether or not the ID was present; *retfInserted (optional) tells which. */
NOTESAPI STATUS LNPUBLIC IDInsert(DHANDLE hTable, DWORD id, BOOL *retfInserted);
NOTESAPI DWORD LNPUBLIC IDEntries(DHANDLE hTable);
/* fFirst TRUE gives the lowest ID; FALSE gives the next one above *retID. FALSE at the end. */
NOTESAPI BOOL LNPUBLIC IDScan(DHANDLE hTable, BOOL fFirst, DWORD *retID);
NOTESAPI STATUS LNPUBLIC IDDeleteAll(DHANDLE hTable);
NOTESAPI BOOL LNPUBLIC IDIsPresent(DHANDLE hTable, DWORD id);
NOTESAPI STATUS LNPUBLIC IDEnumerate(DHANDLE hTable, IDENUMERATEPROC Routine, void *Parameter);

NOTESAPI_END_DECLS

#endif
