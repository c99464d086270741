// Value functions of the runtime: the C entry points over ValueText, TimeText, Ods, Composite
// and Translate.
//
// Buffers: NSFItemConvertValueToText writes at most BufferLength - 1 bytes of text and a NUL
// (the returned length does not count the NUL). ConvertTIMEDATEToText and OSTranslate write at
// most the buffer length given and add a NUL only when room remains; their results do not count
// it. Text cut to fit is cut at a character boundary.
#include "Composite.h"
#include "Log.h"
#include "Ods.h"
#include "TimeText.h"
#include "Translate.h"
#include "ValueText.h"

#include <notes/notes.h>

#include <cstring>
#include <span>
#include <string_view>

namespace {

// A value block locked for the duration of a call. The span is cut to the pool's size when the
// pool is a memory object whose size is known.
class LockedValue {
public:
    LockedValue(BLOCKID block, DWORD length, const char *function) : block_(block) {
        auto *data = OSLockBlock(std::uint8_t, block);
        if (data == nullptr) {
            notesemu::logf("%s: value block (pool 0x%08X, block %u) cannot be locked", function,
                           static_cast<unsigned>(block.pool), static_cast<unsigned>(block.block));
            return;
        }
        locked_ = true;
        DWORD poolSize = 0;
        if (OSMemGetSize(block.pool, &poolSize) == NOERROR) {
            const DWORD available = poolSize > block.block ? poolSize - block.block : 0;
            if (length > available) {
                notesemu::logf("%s: value length %u runs past its pool (%u bytes left)", function,
                               static_cast<unsigned>(length), static_cast<unsigned>(available));
                length = available;
            }
        }
        bytes_ = std::span<const std::uint8_t>(data, length);
    }
    ~LockedValue() {
        if (locked_)
            OSUnlockBlock(block_);
    }
    LockedValue(const LockedValue &) = delete;
    LockedValue &operator=(const LockedValue &) = delete;

    bool locked() const { return locked_; }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    BLOCKID block_;
    bool locked_ = false;
    std::span<const std::uint8_t> bytes_;
};

// Copies at most `room` bytes of text cut at `cut` and a NUL when room remains.
WORD copyOut(std::string_view text, std::size_t cut, char *out, std::size_t room) {
    const std::size_t length = std::min(cut, room);
    if (length > 0)
        std::memcpy(out, text.data(), length);
    if (length < room)
        out[length] = '\0';
    return static_cast<WORD>(length);
}

} // namespace

extern "C" {

NOTESAPI WORD LNPUBLIC NSFItemConvertValueToText(WORD DataType, BLOCKID bhValue, DWORD ValueLength,
                                                 char *retBuffer, WORD BufferLength, char SepChar) {
    if (retBuffer == nullptr || BufferLength == 0)
        return 0;
    retBuffer[0] = '\0';
    LockedValue value(bhValue, ValueLength, "NSFItemConvertValueToText");
    if (!value.locked() || value.bytes().size() < sizeof(WORD))
        return 0;
    const std::string text =
        DataType == TYPE_COMPOSITE
            ? notesemu::compositeToText(value.bytes())
            : notesemu::valueToText(DataType, value.bytes().subspan(sizeof(WORD)), SepChar);
    const std::size_t room = BufferLength - 1U;
    const std::size_t length = copyOut(text, notesemu::lmbcsCut(text, room), retBuffer, room);
    retBuffer[length] = '\0';
    return static_cast<WORD>(length);
}

NOTESAPI STATUS LNPUBLIC ConvertTIMEDATEToText(const void *IntlFormat, const TFMT *TextFormat,
                                               const TIMEDATE *InputTime, char *retTextBuffer,
                                               WORD TextBufferLength, WORD *retTextLength) {
    if (retTextLength != nullptr)
        *retTextLength = 0;
    if (InputTime == nullptr || (retTextBuffer == nullptr && TextBufferLength > 0))
        return ERR_BAD_PARAM;
    std::string text;
    const STATUS status =
        notesemu::timeDateToText(static_cast<const INTLFORMAT *>(IntlFormat), TextFormat, *InputTime, text);
    if (status != NOERROR)
        return status;
    const WORD length =
        copyOut(text, notesemu::lmbcsCut(text, TextBufferLength), retTextBuffer, TextBufferLength);
    if (retTextLength != nullptr)
        *retTextLength = length;
    return NOERROR;
}

NOTESAPI WORD LNPUBLIC ODSLength(WORD type) {
    if (const notesemu::OdsType *odsType = notesemu::findOdsType(type))
        return odsType->size;
    notesemu::logf("ODSLength: unknown ODS type %u", static_cast<unsigned>(type));
    return 0;
}

NOTESAPI void LNPUBLIC ODSReadMemory(void *ppSrc, WORD type, void *pDest, WORD iterations) {
    const notesemu::OdsType *odsType = notesemu::findOdsType(type);
    auto **source = static_cast<const std::byte **>(ppSrc);
    if (odsType == nullptr || source == nullptr || *source == nullptr || pDest == nullptr) {
        notesemu::logf("ODSReadMemory: nothing read (ODS type %u%s)", static_cast<unsigned>(type),
                       odsType == nullptr ? ", unknown" : ", null pointer");
        return;
    }
    notesemu::odsToHost(*odsType, *source, static_cast<std::byte *>(pDest), iterations);
    *source += std::size_t{odsType->size} * iterations;
}

NOTESAPI void LNPUBLIC ODSWriteMemory(void *ppDest, WORD type, const void *pSrc, WORD iterations) {
    const notesemu::OdsType *odsType = notesemu::findOdsType(type);
    auto **dest = static_cast<std::byte **>(ppDest);
    if (odsType == nullptr || dest == nullptr || *dest == nullptr || pSrc == nullptr) {
        notesemu::logf("ODSWriteMemory: nothing written (ODS type %u%s)", static_cast<unsigned>(type),
                       odsType == nullptr ? ", unknown" : ", null pointer");
        return;
    }
    notesemu::hostToOds(*odsType, static_cast<const std::byte *>(pSrc), *dest, iterations);
    *dest += std::size_t{odsType->size} * iterations;
}

NOTESAPI STATUS LNPUBLIC EnumCompositeBuffer(BLOCKID ItemValue, DWORD ItemValueLength,
                                             ActionRoutinePtr ActionRoutine, void *vContext) {
    if (ActionRoutine == nullptr)
        return ERR_BAD_PARAM;
    LockedValue value(ItemValue, ItemValueLength, "EnumCompositeBuffer");
    if (!value.locked())
        return ERR_BAD_PARAM;
    return notesemu::walkComposite(value.bytes(), [&](const notesemu::CdRecord &record) {
        return ActionRoutine(reinterpret_cast<char *>(const_cast<std::uint8_t *>(record.data)), record.type,
                             record.length, vContext);
    });
}

NOTESAPI WORD LNPUBLIC OSTranslate(WORD TranslateMode, const char *In, WORD InLength, char *Out,
                                   WORD OutLength) {
    if (Out == nullptr || OutLength == 0)
        return 0;
    if (In == nullptr) {
        notesemu::logLine("OSTranslate: null input");
        return 0;
    }
    // MAXWORD asks for the input up to its NUL.
    const std::size_t inputLength = InLength == MAXWORD ? strnlen(In, MAXWORD) : InLength;
    const std::string_view input(In, inputLength);
    if (notesemu::translatesToItself(TranslateMode, input))
        return copyOut(input, notesemu::cutForMode(TranslateMode, input, OutLength), Out, OutLength);
    const auto translated = notesemu::translate(TranslateMode, std::string_view(In, inputLength));
    if (!translated)
        return 0;
    return copyOut(*translated, notesemu::cutForMode(TranslateMode, *translated, OutLength), Out, OutLength);
}

} // extern "C"
