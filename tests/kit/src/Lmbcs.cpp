#include "tessel/kit/Lmbcs.h"

#include <memory>
#include <stdexcept>
#include <unicode/ucnv.h>

namespace tessel::kit {
namespace {

struct ConverterCloser {
    void operator()(UConverter *c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

std::string convert(const char *to, const char *from, const char *src, std::size_t len) {
    if (len == 0)
        return {};
    UErrorCode status = U_ZERO_ERROR;
    Converter toConv(ucnv_open(to, &status));
    Converter fromConv(ucnv_open(from, &status));
    if (U_FAILURE(status))
        throw std::runtime_error("ICU converter not available");
    ucnv_setToUCallBack(fromConv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(toConv.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    std::string out(len * 4 + 16, '\0');
    char *target = out.data();
    const char *source = src;
    UChar pivot[256];
    UChar *pivotSource = pivot;
    UChar *pivotTarget = pivot;
    ucnv_convertEx(toConv.get(), fromConv.get(), &target, out.data() + out.size(), &source, src + len, pivot,
                   &pivotSource, &pivotTarget, pivot + 256, true, true, &status);
    if (U_FAILURE(status))
        throw std::runtime_error(std::string("ICU conversion failed: ") + u_errorName(status));
    out.resize(static_cast<std::size_t>(target - out.data()));
    return out;
}

} // namespace

Bytes utf8ToLmbcs(std::string_view utf8) {
    return toBytes(convert("LMBCS-1", "UTF-8", utf8.data(), utf8.size()));
}

std::string lmbcsToUtf8(std::span<const std::uint8_t> lmbcs) {
    return convert("UTF-8", "LMBCS-1", reinterpret_cast<const char *>(lmbcs.data()), lmbcs.size());
}

} // namespace tessel::kit
