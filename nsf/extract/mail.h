// Mail renderings of a note: MHT with the rich-text body, plain text, and the all-fields list.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <quillon/quillon.h>

struct NSFCONTEXT;
struct NSFSUBFILE;
struct NSFIMAGE;

// The mail renderings chosen by the extraction flags and the template option.
int nsfExtractMailFields(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj,
                         uint8_t bGetFormattedBody, uint8_t bExcludeMailHeader, uint8_t bExtractByTemplate);
// One picture part of an MHT message, numbered nImage. Also writes the template pictures.
int nsfExtractMailImage(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NSFIMAGE *pImage, int32_t nImage,
                        QLIOobj *pIOobj);
// The mail body as composite data into BufferCDR.
int nsfGetMessageBodyCDR(NSFCONTEXT *pContext, NOTEHANDLE hNote);
// The all-fields list of a note.
int nsfExtractAllFields(NSFCONTEXT *pContext, NOTEHANDLE hNote, QLIOobj *pIOobj);
