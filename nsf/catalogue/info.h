// Container and subfile info: the catalogue as the host queries it (operation slots 2 and 3).
#pragma once

#include <stdint.h>

#include <quillon/quillon.h>

struct NSFCONTEXT;
struct NSFSUBFILE;

// Slot 2: the number of subfiles and the character set of their names.
int QLAPI nsfGetContainerInfo(void *pvContext, QLMainFileInfo *pMainFileInfo, QLRequest *pRequest);
// Slot 3: one subfile's kind, name, time and place in the tree. Names and child arrays come from
// the request's allocator; the host frees them.
int QLAPI nsfGetSubFileInfo(void *pvContext, int32_t nIndex, QLSubFileInfo *pSubFileInfo,
                            QLRequest *pRequest);

// The part of nsfGetSubFileInfo for a note.
int nsfGetMainFileInfo(NSFCONTEXT *pContext, const NSFSUBFILE *pSubFile, QLSubFileInfo *pSubFileInfo,
                       QLAllocator *pAllocator);

