#include "Translate.h"

#include "Log.h"

#include <notes/osmisc.h>

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace notesemu {
namespace {

struct ConverterCloser {
    void operator()(UConverter *converter) const { ucnv_close(converter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// ICU converters keep state and are not thread-safe, and opening one costs more than converting a
// short text. A conversion borrows a converter from a pool and gives it back reset, so conversions
// running at once each have their own and the pool holds no more converters than ever ran at once.
// (A thread_local converter would need no lock, but a thread-local object with a destructor makes
// the runtime DLL hang in the process's exit on Windows once threads that used it have ended.)
class LmbcsConverterPool {
public:
    ConverterPtr take() {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                ConverterPtr converter = std::move(idle_.back());
                idle_.pop_back();
                return converter;
            }
        }
        UErrorCode error = U_ZERO_ERROR;
        ConverterPtr opened(ucnv_open("LMBCS-1", &error));
        if (U_FAILURE(error)) {
            logf("ICU cannot open the LMBCS-1 converter: %s", u_errorName(error));
            opened.reset();
        }
        return opened;
    }
    void giveBack(ConverterPtr converter) noexcept {
        ucnv_reset(converter.get());
        std::lock_guard lock(mutex_);
        try {
            idle_.push_back(std::move(converter));
        } catch (const std::bad_alloc &) {
            // Without room to keep it the converter is closed; the next conversion opens another.
        }
    }

private:
    std::mutex mutex_;
    std::vector<ConverterPtr> idle_;
};

LmbcsConverterPool &lmbcsConverters() {
    static LmbcsConverterPool pool;
    return pool;
}

// A converter borrowed for one conversion; null when ICU cannot open one.
class LmbcsConverter {
public:
    LmbcsConverter() : converter_(lmbcsConverters().take()) {}
    ~LmbcsConverter() {
        if (converter_)
            lmbcsConverters().giveBack(std::move(converter_));
    }
    LmbcsConverter(const LmbcsConverter &) = delete;
    LmbcsConverter &operator=(const LmbcsConverter &) = delete;
    UConverter *get() const { return converter_.get(); }

private:
    ConverterPtr converter_;
};

std::optional<std::u16string> lmbcsToUtf16(std::string_view lmbcs) {
    const LmbcsConverter borrowed;
    UConverter *converter = borrowed.get();
    if (converter == nullptr)
        return std::nullopt;
    // Every LMBCS character of 1 to 3 bytes gives one UTF-16 unit.
    std::u16string out(lmbcs.size() + 1, u'\0');
    UErrorCode error = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter, out.data(), static_cast<int32_t>(out.size()),
                                         lmbcs.data(), static_cast<int32_t>(lmbcs.size()), &error);
    if (U_FAILURE(error)) {
        logf("LMBCS to Unicode conversion failed: %s", u_errorName(error));
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::optional<std::string> utf16ToLmbcs(std::u16string_view text) {
    const LmbcsConverter borrowed;
    UConverter *converter = borrowed.get();
    if (converter == nullptr)
        return std::nullopt;
    std::string out(static_cast<std::size_t>(UCNV_GET_MAX_BYTES_FOR_STRING(static_cast<int32_t>(text.size()),
                                                                           ucnv_getMaxCharSize(converter))) +
                        1,
                    '\0');
    UErrorCode error = U_ZERO_ERROR;
    const int32_t length = ucnv_fromUChars(converter, out.data(), static_cast<int32_t>(out.size()),
                                           text.data(), static_cast<int32_t>(text.size()), &error);
    if (U_FAILURE(error)) {
        logf("Unicode to LMBCS conversion failed: %s", u_errorName(error));
        return std::nullopt;
    }
    out.resize(static_cast<std::size_t>(length));
    return out;
}

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out(utf8.size() + 1, u'\0');
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &error);
    out.resize(U_SUCCESS(error) ? static_cast<std::size_t>(length) : 0);
    return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out(text.size() * 3 + 1, '\0');
    UErrorCode error = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, text.data(),
                       static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &error);
    out.resize(U_SUCCESS(error) ? static_cast<std::size_t>(length) : 0);
    return out;
}

// UTF-16LE bytes of the units, and back (an odd trailing byte is dropped).
std::string unitsToBytes(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t unit : text) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

std::u16string bytesToUnits(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return out;
}

std::optional<std::u16string> changeCase(std::u16string_view text, bool upper) {
    std::u16string out(text.size() * 3 + 1, u'\0');
    UErrorCode error = U_ZERO_ERROR;
    const int32_t length = upper ? u_strToUpper(out.data(), static_cast<int32_t>(out.size()), text.data(),
                                                static_cast<int32_t>(text.size()), "", &error)
                                 : u_strToLower(out.data(), static_cast<int32_t>(out.size()), text.data(),
                                                static_cast<int32_t>(text.size()), "", &error);
    if (U_FAILURE(error))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

// Decomposes, drops the non-spacing marks (accents) and recomposes.
std::optional<std::u16string> removeAccents(std::u16string_view text) {
    UErrorCode error = U_ZERO_ERROR;
    const UNormalizer2 *nfd = unorm2_getNFDInstance(&error);
    const UNormalizer2 *nfc = unorm2_getNFCInstance(&error);
    if (U_FAILURE(error))
        return std::nullopt;
    std::u16string decomposed(text.size() * 4 + 1, u'\0');
    int32_t length = unorm2_normalize(nfd, text.data(), static_cast<int32_t>(text.size()), decomposed.data(),
                                      static_cast<int32_t>(decomposed.size()), &error);
    if (U_FAILURE(error))
        return std::nullopt;
    decomposed.resize(static_cast<std::size_t>(length));
    std::u16string stripped;
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U16_NEXT(decomposed.data(), i, length, c);
        if (u_charType(c) == U_NON_SPACING_MARK)
            continue;
        if (U_IS_BMP(c)) {
            stripped.push_back(static_cast<char16_t>(c));
        } else {
            stripped.push_back(U16_LEAD(c));
            stripped.push_back(U16_TRAIL(c));
        }
    }
    std::u16string out(stripped.size() * 2 + 1, u'\0');
    length = unorm2_normalize(nfc, stripped.data(), static_cast<int32_t>(stripped.size()), out.data(),
                              static_cast<int32_t>(out.size()), &error);
    if (U_FAILURE(error))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

enum class OutputForm { Lmbcs, Utf8, Utf16 };

OutputForm outputForm(WORD mode) {
    switch (mode) {
    case OS_TRANSLATE_LMBCS_TO_NATIVE:
    case OS_TRANSLATE_LMBCS_TO_UTF8:
        return OutputForm::Utf8;
    case OS_TRANSLATE_LMBCS_TO_UNICODE:
        return OutputForm::Utf16;
    default:
        return OutputForm::Lmbcs;
    }
}

} // namespace

bool translatesToItself(WORD mode, std::string_view input) {
    switch (mode) {
    case OS_TRANSLATE_NATIVE_TO_LMBCS:
    case OS_TRANSLATE_UTF8_TO_LMBCS:
    case OS_TRANSLATE_LMBCS_TO_NATIVE:
    case OS_TRANSLATE_LMBCS_TO_UTF8:
        break;
    default:
        return false;
    }
    // Bytes below 0x20 are LMBCS group prefixes; 0x7F and above differ between the sets.
    return std::all_of(input.begin(), input.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7F;
    });
}

std::optional<std::string> translate(WORD mode, std::string_view input) {
    switch (mode) {
    case OS_TRANSLATE_NATIVE_TO_LMBCS:
    case OS_TRANSLATE_UTF8_TO_LMBCS:
        return utf16ToLmbcs(utf8ToUtf16(input));
    case OS_TRANSLATE_LMBCS_TO_NATIVE:
    case OS_TRANSLATE_LMBCS_TO_UTF8: {
        auto units = lmbcsToUtf16(input);
        return units ? std::optional(utf16ToUtf8(*units)) : std::nullopt;
    }
    case OS_TRANSLATE_LMBCS_TO_UNICODE: {
        auto units = lmbcsToUtf16(input);
        return units ? std::optional(unitsToBytes(*units)) : std::nullopt;
    }
    case OS_TRANSLATE_UNICODE_TO_LMBCS:
        return utf16ToLmbcs(bytesToUnits(input));
    case OS_TRANSLATE_LOWER_TO_UPPER:
    case OS_TRANSLATE_UPPER_TO_LOWER: {
        auto units = lmbcsToUtf16(input);
        auto mapped = units ? changeCase(*units, mode == OS_TRANSLATE_LOWER_TO_UPPER) : std::nullopt;
        return mapped ? utf16ToLmbcs(*mapped) : std::nullopt;
    }
    case OS_TRANSLATE_UNACCENT:
    case OS_TRANSLATE_LMBCS_TO_ASCII: {
        auto units = lmbcsToUtf16(input);
        auto plain = units ? removeAccents(*units) : std::nullopt;
        if (!plain)
            return std::nullopt;
        if (mode == OS_TRANSLATE_UNACCENT)
            return utf16ToLmbcs(*plain);
        std::string ascii;
        for (std::size_t i = 0; i < plain->size(); ++i) {
            const char16_t unit = (*plain)[i];
            if (U16_IS_LEAD(unit) && i + 1 < plain->size() && U16_IS_TRAIL((*plain)[i + 1]))
                ++i;
            ascii.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        }
        return ascii;
    }
    default:
        logf("OSTranslate: unknown translate mode %u", static_cast<unsigned>(mode));
        return std::nullopt;
    }
}

std::size_t lmbcsCharLength(std::string_view lmbcs, std::size_t pos) {
    if (pos >= lmbcs.size())
        return 0;
    // ICU's LMBCS rule: the prefixes of the single-byte groups (0x01-0x06, 0x08, 0x0B) and the
    // control escape 0x0F take one byte after them; the double-byte groups (0x10-0x13, a doubled
    // prefix included) and the Unicode group 0x14 take two; every other byte, the unused group
    // numbers 0x07, 0x0C and 0x0E among them, stands alone.
    const auto byte = static_cast<unsigned char>(lmbcs[pos]);
    std::size_t length = 1;
    if ((byte >= 0x01 && byte <= 0x06) || byte == 0x08 || byte == 0x0B || byte == 0x0F)
        length = 2;
    else if (byte >= 0x10 && byte <= 0x14)
        length = 3;
    return std::min(length, lmbcs.size() - pos);
}

std::size_t lmbcsCut(std::string_view lmbcs, std::size_t limit) {
    std::size_t pos = 0;
    while (pos < lmbcs.size()) {
        const std::size_t next = pos + lmbcsCharLength(lmbcs, pos);
        if (next > limit)
            break;
        pos = next;
    }
    return pos;
}

std::size_t utf8Cut(std::string_view utf8, std::size_t limit) {
    if (limit >= utf8.size())
        return utf8.size();
    std::size_t pos = limit;
    // Step back over continuation bytes to the start of the character that straddles the limit.
    while (pos > 0 && (static_cast<unsigned char>(utf8[pos]) & 0xC0) == 0x80)
        --pos;
    return pos;
}

std::size_t cutForMode(WORD mode, std::string_view output, std::size_t limit) {
    switch (outputForm(mode)) {
    case OutputForm::Utf8:
        return utf8Cut(output, limit);
    case OutputForm::Utf16: {
        std::size_t cut = std::min(limit, output.size()) & ~static_cast<std::size_t>(1);
        if (cut >= 2 && cut < output.size()) {
            const auto unit = static_cast<char16_t>(static_cast<unsigned char>(output[cut - 2]) |
                                                    static_cast<unsigned char>(output[cut - 1]) << 8);
            if (U16_IS_LEAD(unit))
                cut -= 2;
        }
        return cut;
    }
    case OutputForm::Lmbcs:
        break;
    }
    return lmbcsCut(output, limit);
}

std::string utf8ToLmbcs(std::string_view utf8) {
    return utf16ToLmbcs(utf8ToUtf16(utf8)).value_or(std::string());
}

std::string lmbcsToUtf8(std::string_view lmbcs) {
    auto units = lmbcsToUtf16(lmbcs);
    return units ? utf16ToUtf8(*units) : std::string();
}

} // namespace notesemu
