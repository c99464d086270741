#include "tessel/kit/Values.h"

#include "tessel/kit/Lmbcs.h"

#include <stdexcept>

namespace tessel::kit {
namespace {

std::uint16_t word(std::size_t n, const char *what) {
    if (n > 0xFFFF)
        throw std::length_error(std::string(what) + " does not fit a WORD");
    return static_cast<std::uint16_t>(n);
}

} // namespace

Bytes textListValue(const std::vector<std::string> &utf8) {
    std::vector<Bytes> strings;
    for (const std::string &s : utf8)
        strings.push_back(utf8ToLmbcs(s));
    Bytes out;
    ByteWriter w(out);
    w.u16(word(strings.size(), "text list"));
    for (const Bytes &s : strings)
        w.u16(word(s.size(), "text list entry"));
    for (const Bytes &s : strings)
        w.bytes(s);
    return out;
}

Bytes numberRangeValue(const std::vector<double> &numbers,
                       const std::vector<std::pair<double, double>> &pairs) {
    Bytes out;
    ByteWriter w(out);
    w.u16(word(numbers.size(), "number list")).u16(word(pairs.size(), "number pairs"));
    for (double n : numbers)
        w.f64(n);
    for (const auto &[lo, hi] : pairs)
        w.f64(lo).f64(hi);
    return out;
}

Bytes timeRangeValue(const std::vector<TimeDate> &times,
                     const std::vector<std::pair<TimeDate, TimeDate>> &pairs) {
    Bytes out;
    ByteWriter w(out);
    w.u16(word(times.size(), "time list")).u16(word(pairs.size(), "time pairs"));
    for (const TimeDate &t : times)
        w.bytes(t.bytes());
    for (const auto &[lo, hi] : pairs)
        w.bytes(lo.bytes()).bytes(hi.bytes());
    return out;
}

Bytes noteRefListValue(const std::vector<Unid> &unids) {
    Bytes out;
    ByteWriter w(out);
    w.u16(word(unids.size(), "note reference list"));
    for (const Unid &u : unids)
        w.bytes(u.bytes());
    return out;
}

Bytes MimePart::value() const {
    std::uint32_t f =
        flags.value_or((boundary.empty() ? 0u : kHasBoundary) | (headers.empty() ? 0u : kHasHeaders));
    Bytes out;
    ByteWriter w(out);
    w.u16(version).u32(f).u8(partType).u8(0);
    w.u16(word(boundary.size() + headers.size() + body.size(), "MIME part data"));
    w.u16(word(boundary.size(), "MIME boundary")).u16(word(headers.size(), "MIME headers")).u16(0).u32(0);
    w.str(boundary).str(headers).str(body);
    return out;
}

Rfc822Text Rfc822Text::address(std::string_view name, std::string_view value) {
    Rfc822Text t = text(name, value);
    t.flags = kFormatAddress | kStorageStrict;
    return t;
}

Rfc822Text Rfc822Text::text(std::string_view name, std::string_view value) {
    Rfc822Text t;
    t.native = utf8ToLmbcs(value);
    t.name = name;
    t.body = std::string(value) + "\r\n";
    return t;
}

Rfc822Text Rfc822Text::date(std::string_view name, std::string_view value, const TimeDate &when) {
    Rfc822Text t;
    t.flags = kFormatDate | kStorageStrict;
    t.native = when.bytes();
    t.name = name;
    t.body = std::string(value) + "\r\n";
    return t;
}

Bytes Rfc822Text::value() const {
    Bytes out;
    ByteWriter w(out);
    w.u16(14).u32(flags).u16(word(native.size(), "RFC 822 native value"));
    w.u16(word(name.size(), "RFC 822 name")).u16(word(delimiter.size(), "RFC 822 delimiter"));
    w.u16(word(body.size(), "RFC 822 body"));
    w.bytes(native).str(name).str(delimiter).str(body);
    return out;
}

} // namespace tessel::kit
