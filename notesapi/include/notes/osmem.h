/* Memory objects: DHANDLE objects (OSMem*, OSLockObject) and MEMHANDLE objects (OSMemory*). */
#ifndef NOTES_OSMEM_H
#define NOTES_OSMEM_H

#include "global.h"
#include "pool.h"

#define MEM_SHARE 0x8000
#define MEM_GROWABLE 0x4000

/* Largest single item or segment: min(0xFFFF - 1 - 128, 0xFFFF - 1 - 6). */
#define MAXONESEGSIZE 65406

NOTESAPI_BEGIN_DECLS

NOTESAPI STATUS LNPUBLIC OSMemAlloc(WORD BlkType, DWORD dwSize, DHANDLE *retHandle);
NOTESAPI STATUS LNPUBLIC OSMemFree(DHANDLE Handle);
NOTESAPI STATUS LNPUBLIC OSMemGetSize(DHANDLE Handle, DWORD *retSize);
/* Returns the object's address and counts the lock, or NULL for a handle that is not a
   memory object of this kind. */
NOTESAPI void *LNPUBLIC OSLockObject(DHANDLE Handle);
NOTESAPI BOOL LNPUBLIC OSUnlockObject(DHANDLE Handle);

NOTESAPI STATUS LNPUBLIC OSMemoryAllocate(DWORD dwtype, DWORD size, MEMHANDLE *rethandle);
NOTESAPI void LNPUBLIC OSMemoryFree(MEMHANDLE handle);
NOTESAPI DWORD LNPUBLIC OSMemoryGetSize(MEMHANDLE handle);
NOTESAPI void *LNPUBLIC OSMemoryLock(MEMHANDLE handle);
NOTESAPI BOOL LNPUBLIC OSMemoryUnlock(MEMHANDLE handle);

/* Adds a block offset to a locked pool; a pool that cannot be locked gives NULL rather than
   an offset from NULL, so that callers can test the result of OSLockBlock. */
static inline void *notesapiLockBlock(BLOCKID bid) {
    char *pPool = (char *)OSLockObject(bid.pool);
    return pPool != NULL ? (void *)(pPool + bid.block) : NULL;
}

NOTESAPI_END_DECLS

#define OSLock(type, handle) ((type *)OSLockObject(handle))
#define OSUnlock(handle) OSUnlockObject(handle)
#define OSLockBlock(type, blockid) ((type *)notesapiLockBlock(blockid))
#define OSUnlockBlock(blockid) OSUnlockObject((blockid).pool)

#endif
