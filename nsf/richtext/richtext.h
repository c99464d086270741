// Rich text to HTML: the front of the composite-data converter. Converts the composite records
// gathered in BufferCDR into the HTML body and picture parts of an MHT message in BufferMHT.
#pragma once

#include <stdint.h>

#include <notes/global.h>

struct NSFCONTEXT;

// Converts BufferCDR (type word and records) into BufferMHT: the body HTML, "</BODY></HTML>",
// one base64 part per picture and the closing delimiter. Returns the reader status.
int nsfConvertCDRtoMHT(NSFCONTEXT *pContext, NOTEHANDLE hNote);
// Rewrites BufferCDR for the template engine: every field placeholder is followed by a text
// record holding the field's value. Returns the reader status.
int nsfConvertCDRforXML(NSFCONTEXT *pContext, NOTEHANDLE hNote);
// Appends the value of one field to BufferCDR2 as a text record; pvTimeFormat is the field's
// TFMT (4 bytes) or null. Returns the reader status.
int nsfConvertFieldCDRforXML(NSFCONTEXT *pContext, NOTEHANDLE hNote, const char *pszField, void *pvTimeFormat);
// The picture callback of the converter: a copy of a shared picture's bytes from the host
// allocator (the caller frees it), its size and its CDIMAGETYPE. Returns the reader status.
int nsfGetMHTImageCB(NSFCONTEXT *pContext, const char *pszLinkName, uint8_t **ppData, int32_t *pnImageSize,
                     int32_t *pnStreamType);
// Log dumps of BufferCDR and of one record; nothing below log level DEBUG.
int nsfDumpBufferCDR(NSFCONTEXT *pContext);
void nsfDumpRecordCDR(NSFCONTEXT *pContext, uint32_t dwOffset, uint16_t wSignature, const uint8_t *pbRecord,
                      uint32_t cbRecord);
