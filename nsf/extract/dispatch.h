// Extraction operations: slots 5 and 7 of the operation table, and the choice of a note's rendering.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <quillon/quillon.h>

struct NSFCONTEXT;
struct NSFSUBFILE;

// Slot 5: writes subfile nIndex into the I/O object, rendered by the extraction flags in nFlag.
int QLAPI nsfExtractSubFileToIOobj(void *pvContext, int32_t nIndex, QLIOobj *pIOobj,
                                   QLSubFileExtractInfo *pExtractInfo, void *pvFifth, uint32_t nFlag);
// Slot 7: as slot 5, or, with extra subfile info, a note named by its ID followed by its
// attachments, all into the one I/O object; the catalogue is left as it was.
int QLAPI nsfExtractSubFileToIOobjEx(void *pvContext, int32_t nIndex, QLIOobj *pIOobj,
                                     QLSubFileExtractInfo *pExtractInfo, void *pvFifth, QLExtractArgsEx *pArgs);
// Renders one open note of the catalogue into the I/O object, which it opens and closes.
int nsfExtractNote(NSFCONTEXT *pContext, NOTEHANDLE hNote, QLIOobj *pIOobj, NSFSUBFILE *pSubFile);
