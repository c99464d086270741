#include "XmlText.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>

namespace tessel::kit::xml {
namespace {

// Decodes one code point at s[i], advancing i. Rejects overlong forms, surrogates and values above U+10FFFF.
char32_t decode(std::string_view s, std::size_t &i) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b0 = byte(i);
    int extra;
    char32_t cp;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        throw std::invalid_argument("invalid UTF-8");
    }
    if (i + extra >= s.size())
        throw std::invalid_argument("truncated UTF-8");
    for (int k = 1; k <= extra; ++k) {
        const std::uint8_t b = byte(i + k);
        if ((b & 0xC0) != 0x80)
            throw std::invalid_argument("invalid UTF-8");
        cp = cp << 6 | (b & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        throw std::invalid_argument("invalid UTF-8");
    i += extra + 1;
    return cp;
}

bool xmlAllowed(char32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

} // namespace

void appendText(std::string &out, std::string_view s, bool breaks) {
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t start = i;
        const char32_t cp = decode(s, i);
        switch (cp) {
        case '<':
            out += "&lt;";
            continue;
        case '>':
            out += "&gt;";
            continue;
        case '&':
            out += "&amp;";
            continue;
        case '\r':
            out += "&#13;";
            continue;
        case '\n':
            out += breaks ? "<break/>" : "&#10;";
            continue;
        default:
            break;
        }
        if (!xmlAllowed(cp)) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "<nonxmlchar value='%X'/>", static_cast<unsigned>(cp));
            out += buf;
            continue;
        }
        out.append(s.substr(start, i - start));
    }
}

void appendAttr(std::string &out, std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t start = i;
        const char32_t cp = decode(s, i);
        switch (cp) {
        case '<':
            out += "&lt;";
            continue;
        case '>':
            out += "&gt;";
            continue;
        case '&':
            out += "&amp;";
            continue;
        case '\'':
            out += "&apos;";
            continue;
        case '"':
            out += "&quot;";
            continue;
        case '\t':
            out += "&#9;";
            continue;
        case '\n':
            out += "&#10;";
            continue;
        case '\r':
            out += "&#13;";
            continue;
        default:
            break;
        }
        if (!xmlAllowed(cp))
            throw std::invalid_argument("character not allowed in an XML attribute");
        out.append(s.substr(start, i - start));
    }
}

void attr(std::string &out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "='";
    appendAttr(out, value);
    out += '\'';
}

} // namespace tessel::kit::xml
