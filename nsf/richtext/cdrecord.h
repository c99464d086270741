// Composite data records: the framing of a record stream and one bounded cursor over a record.
// Every handler of the converter reads its record through CLotusRecordCursor, so a record shorter
// than a field it needs, or a length taken from the record that runs past its end, is a failed
// read and never a read outside the record.
#pragma once

#include <stdint.h>
#include <string.h>

// A bounded view of bytes with a read position. Offsets are counted from the view's first byte.
// A failed read leaves the position where it was.
class CLotusRecordCursor {
public:
    CLotusRecordCursor() : m_pb(NULL), m_cb(0), m_off(0) {}
    CLotusRecordCursor(const uint8_t *pb, uint32_t cb) : m_pb(pb), m_cb(pb != NULL ? cb : 0), m_off(0) {}

    const uint8_t *Data() const { return m_pb; }
    uint32_t Size() const { return m_cb; }
    uint32_t Offset() const { return m_off; }
    uint32_t Remaining() const { return m_cb - m_off; }
    // True when n bytes from offset off lie inside the view.
    bool Has(uint32_t off, uint32_t n) const { return off <= m_cb && n <= m_cb - off; }

    // Moves the position to an offset of the view (the end included).
    bool Seek(uint32_t off)
    {
        if (off > m_cb)
            return false;
        m_off = off;
        return true;
    }
    bool Skip(uint32_t n) { return n <= Remaining() && Seek(m_off + n); }

    bool ReadByte(uint8_t *pb)
    {
        if (!Has(m_off, 1))
            return false;
        *pb = m_pb[m_off++];
        return true;
    }
    bool ReadWord(uint16_t *pw)
    {
        if (!Has(m_off, 2))
            return false;
        *pw = (uint16_t)(m_pb[m_off] | (m_pb[m_off + 1] << 8));
        m_off += 2;
        return true;
    }
    bool ReadDWord(uint32_t *pdw)
    {
        if (!Has(m_off, 4))
            return false;
        *pdw = (uint32_t)m_pb[m_off] | ((uint32_t)m_pb[m_off + 1] << 8) | ((uint32_t)m_pb[m_off + 2] << 16) |
               ((uint32_t)m_pb[m_off + 3] << 24);
        m_off += 4;
        return true;
    }
    // The next n bytes, in place.
    bool ReadBytes(uint32_t n, const uint8_t **ppb)
    {
        if (!Has(m_off, n))
            return false;
        *ppb = m_pb + m_off;
        m_off += n;
        return true;
    }
    // The next n bytes as a view of their own.
    bool ReadSub(uint32_t n, CLotusRecordCursor *pSub)
    {
        const uint8_t *pb;
        if (!ReadBytes(n, &pb))
            return false;
        *pSub = CLotusRecordCursor(pb, n);
        return true;
    }
    // The bytes from the position up to the first NUL, or to the end of the view when there is
    // none; the position moves past the NUL.
    void ReadToNul(const uint8_t **ppb, uint32_t *pcb)
    {
        const uint8_t *pb = m_pb + m_off;
        const void *pvNul = Remaining() != 0 ? memchr(pb, 0, Remaining()) : NULL;
        *ppb = pb;
        *pcb = pvNul != NULL ? (uint32_t)((const uint8_t *)pvNul - pb) : Remaining();
        m_off += *pcb;
        if (m_off < m_cb)
            m_off++;
    }

    // Reads at a fixed offset of the view; the position is left after the field.
    bool ByteAt(uint32_t off, uint8_t *pb) { return Seek(off) && ReadByte(pb); }
    bool WordAt(uint32_t off, uint16_t *pw) { return Seek(off) && ReadWord(pw); }
    bool DWordAt(uint32_t off, uint32_t *pdw) { return Seek(off) && ReadDWord(pdw); }

private:
    const uint8_t *m_pb;
    uint32_t m_cb;
    uint32_t m_off;
};

// One record of a stream as the record walk frames it.
struct NSFCDRECORD {
    uint32_t dwOffset;  // offset of the record's first byte in the stream
    uint8_t bKind;      // the record kind: the signature's low byte
    uint16_t wSignature; // the first word as stored
    uint32_t cbRecord;  // the record's length, header included, from its header
    uint32_t dwNext;    // offset of the next record: the length taken up to an even number
};

// Frames the record at offset dwOffset of a stream of cbStream bytes: the length class byte
// decides a long (0x00), word (0xFF) or byte record. False when the walk must stop there: fewer
// than 2 bytes left, a header cut short, a length of 0 or a record that would end past the stream.
bool nsfFrameCDRecord(const uint8_t *pbStream, uint32_t cbStream, uint32_t dwOffset, NSFCDRECORD *pRecord);

// A cursor over the whole of a framed record.
inline CLotusRecordCursor nsfRecordCursor(const uint8_t *pbStream, const NSFCDRECORD &record)
{
    return CLotusRecordCursor(pbStream + record.dwOffset, record.cbRecord);
}
