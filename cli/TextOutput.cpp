#include "TextOutput.h"

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace tessel::cli {

size_t utf8SequenceLength(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF; // the allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    if (byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (size_t k = 2; k < length; k++)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF)
            return 0;
    return length;
}

std::string escapeText(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto hex = [&](unsigned char b) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    };
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        switch (b) {
        case '\n': out += "\\n"; i++; continue;
        case '\r': out += "\\r"; i++; continue;
        case '\t': out += "\\t"; i++; continue;
        case '\\': out += "\\\\"; i++; continue;
        default: break;
        }
        if (b < 0x20 || b == 0x7F) {
            hex(b);
            i++;
            continue;
        }
        const size_t length = utf8SequenceLength(text, i);
        if (length == 0) {
            hex(b);
            i++;
            continue;
        }
        // U+0080..U+009F are C1 controls: CSI and friends reach some terminals this way.
        if (length == 2 && b == 0xC2 && static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            hex(b);
            hex(static_cast<unsigned char>(text[i + 1]));
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::optional<std::string> isoTime(const QL_FILETIME &time) {
    using namespace std::chrono;
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (ticks == 0)
        return std::nullopt;
    // Counted here rather than by the C library, whose range differs between systems (Windows'
    // ends in the year 3000); 9999-12-31T23:59:59Z is the last time the format can write.
    constexpr int64_t kLastSecond = 253402300799;
    const int64_t seconds = static_cast<int64_t>(ticks / 10000000ull) - 11644473600ll;
    if (seconds > kLastSecond)
        return std::nullopt;
    const sys_seconds instant{std::chrono::seconds{seconds}};
    const sys_days day = floor<days>(instant);
    const year_month_day date{day};
    const hh_mm_ss clock{instant - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return std::string(text);
}

} // namespace tessel::cli
