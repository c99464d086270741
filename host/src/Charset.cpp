#include <quillon/host/Charset.h>

#include <unicode/ucnv.h>

#include <array>
#include <limits>
#include <map>
#include <memory>

namespace quillon {

namespace {

struct ConverterCloser {
    void operator()(UConverter *pConverter) const { ucnv_close(pConverter); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr openConverter(int nCharset) {
    const char *pszName = icuCharsetName(nCharset);
    if (pszName == nullptr)
        return nullptr;
    UErrorCode error = U_ZERO_ERROR;
    ConverterPtr converter(ucnv_open(pszName, &error));
    if (U_FAILURE(error))
        return nullptr;
    // ICU's defaults already substitute; set them explicitly so that nothing here depends on them.
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &error);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                          &error);
    if (U_FAILURE(error))
        return nullptr;
    return converter;
}

// The converter of a charset for one role (0 source, 1 target) of this thread's conversions. Opening
// an ICU converter costs more than converting a short text, so each thread keeps its converters;
// ucnv_convertEx resets both before every conversion. Null when the charset has none.
UConverter *threadConverter(int nCharset, int nRole) {
    thread_local std::map<int, ConverterPtr> converters;
    const int key = nCharset * 2 + nRole;
    auto it = converters.find(key);
    if (it == converters.end())
        it = converters.emplace(key, openConverter(nCharset)).first;
    return it->second.get();
}

// The bytes after which ICU's converter for the charset waits for more input: the bytes that start
// a character of several bytes. Computed once per charset.
std::array<bool, 256> computeLeadBytes(int nCharset) {
    std::array<bool, 256> leads{};
    ConverterPtr converter = openConverter(nCharset);
    if (!converter)
        return leads;
    for (int b = 0; b < 256; ++b) {
        ucnv_resetToUnicode(converter.get());
        char byte = static_cast<char>(b);
        const char *pSource = &byte;
        UChar target[4];
        UChar *pTarget = target;
        UErrorCode error = U_ZERO_ERROR;
        ucnv_toUnicode(converter.get(), &pTarget, target + 4, &pSource, &byte + 1, nullptr, false, &error);
        leads[b] = U_SUCCESS(error) && pTarget == target && ucnv_toUCountPending(converter.get(), &error) > 0;
    }
    return leads;
}

} // namespace

const char *icuCharsetName(int nCharset) {
    switch (nCharset) {
    case QLCharset_Windows1252:
        return "windows-1252";
    case QLCharset_ISO8859_1:
        return "ISO-8859-1";
    case QLCharset_UTF16LE:
        return "UTF-16LE";
    case QLCharset_UTF8:
        return "UTF-8";
    case QLCharset_LMBCS:
        return "LMBCS-1";
    default:
        return nullptr;
    }
}

int32_t convertCharset(int nFrom, int nTo, std::span<const char> input, std::span<char> output) {
    UConverter *source = threadConverter(nFrom, 0);
    UConverter *target = threadConverter(nTo, 1);
    if (source == nullptr || target == nullptr)
        return -1;
    // The result is an int32_t: never offer more room than it can count.
    if (output.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        output = output.first(static_cast<size_t>(std::numeric_limits<int32_t>::max()));

    char *pTarget = output.data();
    const char *pSource = input.data();
    std::array<UChar, 1024> pivot;
    UChar *pPivotSource = pivot.data();
    UChar *pPivotTarget = pivot.data();
    UErrorCode error = U_ZERO_ERROR;
    if (!input.empty())
        ucnv_convertEx(target, source, &pTarget, output.data() + output.size(), &pSource,
                       input.data() + input.size(), pivot.data(), &pPivotSource, &pPivotTarget,
                       pivot.data() + pivot.size(), true, true, &error);
    if (U_FAILURE(error))
        return -1;

    auto cbWritten = static_cast<size_t>(pTarget - output.data());
    size_t cbTerminator = nTo == QLCharset_UTF16LE ? 2 : 1;
    if (output.size() - cbWritten >= cbTerminator)
        std::fill_n(pTarget, cbTerminator, '\0');
    return static_cast<int32_t>(cbWritten);
}

int isLeadByte(unsigned char b, int nCharset) {
    switch (nCharset) {
    case QLCharset_UTF8:
        return b >= 0xC2 && b <= 0xF4 ? 1 : 0;
    case QLCharset_LMBCS: {
        static const std::array<bool, 256> kLeads = computeLeadBytes(QLCharset_LMBCS);
        return kLeads[b] ? 1 : 0;
    }
    default:
        return 0;
    }
}

} // namespace quillon
