#include "nsf/richtext/cdrecord.h"

bool nsfFrameCDRecord(const uint8_t *pbStream, uint32_t cbStream, uint32_t dwOffset, NSFCDRECORD *pRecord)
{
    // A record needs at least its kind and length class bytes. A final record of exactly two bytes
    // (a paragraph or hotspot end) is still a whole record and is framed.
    if (pbStream == NULL || dwOffset > cbStream || cbStream - dwOffset < 2)
        return false;
    CLotusRecordCursor cursor(pbStream + dwOffset, cbStream - dwOffset);
    uint8_t bKind = 0, bClass = 0;
    cursor.ReadByte(&bKind);
    cursor.ReadByte(&bClass);
    uint32_t cbRecord;
    if (bClass == 0x00) {
        if (!cursor.ReadDWord(&cbRecord))
            return false;
    } else if (bClass == 0xFF) {
        uint16_t w;
        if (!cursor.ReadWord(&w))
            return false;
        cbRecord = w;
    } else {
        cbRecord = bClass;
    }
    if (cbRecord < 1 || cbRecord > cbStream - dwOffset)
        return false;
    pRecord->dwOffset = dwOffset;
    pRecord->bKind = bKind;
    pRecord->wSignature = (uint16_t)(bKind | (bClass << 8));
    pRecord->cbRecord = cbRecord;
    // cbRecord fits the stream, so this sum cannot wrap; a next offset past the end ends the walk.
    uint64_t ullNext = (uint64_t)dwOffset + cbRecord + (cbRecord & 1);
    pRecord->dwNext = ullNext > cbStream ? cbStream : (uint32_t)ullNext;
    return true;
}
