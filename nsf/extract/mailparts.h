// The pieces of the mail renderings that nsfExtractMailFields puts together.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <quillon/quillon.h>

struct NSFCONTEXT;
struct NSFSUBFILE;

// The header block (formatted) or header lines (plain): From, Sent, To and the other mail and
// calendar fields that the note has, with the logo table around them when the memo has a logo.
int nsfExtractMailHeader(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj,
                         uint8_t bGetFormattedBody);
// The body: converted to HTML with its picture parts and the logo part (formatted), or the text
// of the Body item after a blank line (plain).
int nsfExtractMailBody(NSFCONTEXT *pContext, NSFSUBFILE *pSubFile, NOTEHANDLE hNote, QLIOobj *pIOobj,
                       uint8_t bGetFormattedBody);
// One field line: the label (when given) and the value held in BufferMain, as plain text or HTML.
int nsfExtractField(NSFCONTEXT *pContext, const char *pszLabel, QLIOobj *pIOobj, uint8_t bHTML);
