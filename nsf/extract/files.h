// Attachments and DXL: file attachments and OLE objects copied byte for byte through a temporary
// file, and notes exported as DXL by the Notes exporter.
#pragma once

#include <stdint.h>

#include <notes/global.h>
#include <notes/nsfnote.h>
#include <notes/xml.h>
#include <quillon/quillon.h>

struct NSFCONTEXT;
struct NSFSUBFILE;

// Detaches the attachment or OLE object of the subfile into a temporary file and copies it into the
// I/O object, which it opens and closes. pKey is the note's bulk key from NSFNoteDecrypt, or null.
// The temporary file is always removed.
int nsfExtractFile(NSFCONTEXT *pContext, ENCRYPTION_KEY *pKey, QLIOobj *pIOobj, NSFSUBFILE *pSubFile,
                   NOTEHANDLE hNote);
// Exports the open note as DXL into the I/O object, which the caller has opened.
int nsfExtractNoteDXL(NSFCONTEXT *pContext, NOTEHANDLE hNote, QLIOobj *pIOobj);

// What the DXL write callback receives as its action argument.
struct NSFDXLOUTPUT {
    NSFCONTEXT *pContext;
    QLIOobj *pIOobj;
    uint8_t bWriteFailed; // set by the first refused write; later output is dropped
    uint32_t ucbWritten;
};
// The exporter's write callback: passes the bytes to the I/O object of the NSFDXLOUTPUT.
void LNCALLBACK nsfDXLWriteCB(const BYTE *pbData, DWORD dwLength, void *pvAction);
