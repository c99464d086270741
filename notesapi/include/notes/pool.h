/* Memory pools: a BLOCKID addresses a block inside a pool object by its byte offset. */
#ifndef NOTES_POOL_H
#define NOTES_POOL_H

#include "global.h"

typedef WORD BLOCK;
typedef DWORD DBLOCK;

/* An in-memory structure, never stored on disk: 6 bytes packed (32-bit Windows), 8 with
   natural alignment. */
NOTESAPI_HOST_PACK_BEGIN

typedef struct {
    DHANDLE pool;
    BLOCK block;
} BLOCKID;

typedef struct {
    DHANDLE pool;
    DBLOCK block;
} DBLOCKID;

NOTESAPI_HOST_PACK_END

#define NULLBLOCK ((BLOCK)0)
#define ISNULLBLOCKID(bid) (((bid).pool == NULLHANDLE) && ((bid).block == NULLBLOCK))

#endif
