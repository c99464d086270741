/* Databases: open, close, version and folder contents. */
#ifndef NOTES_NSFDB_H
#define NOTES_NSFDB_H

#include "global.h"

NOTESAPI_HOST_PACK_BEGIN

typedef struct {
    DWORD MajorVersion;
    DWORD MinorVersion;
    DWORD QMRNumber;
    DWORD QMUNumber;
    DWORD HotfixNumber;
    DWORD Flags;
    DWORD FixpackNumber;
    DWORD Spare[2];
} BUILDVERSION;

NOTESAPI_HOST_PACK_END

NOTESAPI_ASSERT_SIZE(BUILDVERSION, 36);

#define BLDVERFLAGS_NONPRODUCTION 0x00000001

#define DBOPEN_WITH_SCAN_LOCK 0x0001
#define DBOPEN_PURGE 0x0002
#define DBOPEN_NO_USERINFO 0x0004
#define DBOPEN_FORCE_FIXUP 0x0008
#define DBOPEN_FIXUP_FULL_NOTE_SCAN 0x0010
#define DBOPEN_FIXUP_NO_NOTE_DELETE 0x0020
#define DBOPEN_CLUSTER_FAILOVER 0x0080
#define DBOPEN_CLOSE_SESS_ON_ERROR 0x0100
#define DBOPEN_NOLOG 0x0200

#define DB_GETIDTABLE_VALIDATE 0x00000001

NOTESAPI_BEGIN_DECLS

NOTESAPI STATUS LNPUBLIC NSFDbOpen(const char *PathName, DBHANDLE *rethDB);
NOTESAPI STATUS LNPUBLIC NSFDbOpenExtended(const char *PathName, WORD Options, DHANDLE hNames,
                                           TIMEDATE *ModifiedTime, DBHANDLE *rethDB,
                                           TIMEDATE *retDataModified, TIMEDATE *retNonDataModified);
NOTESAPI STATUS LNPUBLIC NSFDbClose(DBHANDLE hDB);
NOTESAPI STATUS LNPUBLIC NSFDbGetMajMinVersion(DBHANDLE hDb, BUILDVERSION *retVersion);
/* Returns a new ID table of the notes in a folder; the caller frees it with IDDestroyTable. */
NOTESAPI STATUS LNPUBLIC NSFFolderGetIDTable(DHANDLE hViewDB, DHANDLE hDataDB, NOTEID ViewNoteID, DWORD Flags,
                                             DHANDLE *hTable);

NOTESAPI_END_DECLS

#endif
