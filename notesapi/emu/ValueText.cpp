#include "ValueText.h"

#include "Composite.h"
#include "Log.h"
#include "Rfc822Text.h"
#include "TimeText.h"

#include <notes/notes.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace notesemu {
namespace {

// Host-format values: read with the host's byte order, never past the value.
template <typename T> bool readAt(std::span<const std::uint8_t> value, std::size_t offset, T &out) {
    if (offset > value.size() || value.size() - offset < sizeof(T))
        return false;
    std::memcpy(&out, value.data() + offset, sizeof(T));
    return true;
}

void append(std::string &text, char separator, bool &first, const std::string &entry) {
    if (!first)
        text.push_back(separator);
    first = false;
    text += entry;
}

std::string textList(std::span<const std::uint8_t> value, char separator) {
    std::string text;
    LIST list{};
    if (!readAt(value, 0, list))
        return text;
    std::size_t data = sizeof(LIST) + std::size_t{list.ListEntries} * sizeof(WORD);
    bool first = true;
    for (std::size_t i = 0; i < list.ListEntries; ++i) {
        WORD length = 0;
        if (!readAt(value, sizeof(LIST) + i * sizeof(WORD), length) || data > value.size()) {
            logf("NSFItemConvertValueToText: text list cut short after %zu of %u entries", i,
                 static_cast<unsigned>(list.ListEntries));
            break;
        }
        const std::size_t available = std::min<std::size_t>(length, value.size() - data);
        append(text, separator, first,
               std::string(reinterpret_cast<const char *>(value.data() + data), available));
        data += available;
        if (available < length) {
            logf("NSFItemConvertValueToText: text list entry %zu runs past the value", i);
            break;
        }
    }
    return text;
}

std::string timeText(const TIMEDATE &value) {
    std::string text;
    if (timeDateToText(nullptr, nullptr, value, text) != NOERROR)
        text.clear();
    return text;
}

// Ranges: RANGE, the single values, then the pairs. Format is called per element.
template <typename Single, typename Pair, typename Format>
std::string range(std::span<const std::uint8_t> value, char separator, Format format) {
    std::string text;
    RANGE header{};
    if (!readAt(value, 0, header))
        return text;
    bool first = true;
    std::size_t offset = sizeof(RANGE);
    for (std::size_t i = 0; i < header.ListEntries; ++i, offset += sizeof(Single)) {
        Single single{};
        if (!readAt(value, offset, single)) {
            logf("NSFItemConvertValueToText: range cut short after %zu values", i);
            return text;
        }
        append(text, separator, first, format(single));
    }
    for (std::size_t i = 0; i < header.RangeEntries; ++i, offset += sizeof(Pair)) {
        Pair pair{};
        if (!readAt(value, offset, pair)) {
            logf("NSFItemConvertValueToText: range cut short after %zu pairs", i);
            return text;
        }
        append(text, separator, first, format(pair.Lower) + " - " + format(pair.Upper));
    }
    return text;
}

std::string trimZeros(std::string digits) {
    if (digits.find('.') == std::string::npos)
        return digits;
    while (!digits.empty() && digits.back() == '0')
        digits.pop_back();
    if (!digits.empty() && digits.back() == '.')
        digits.pop_back();
    return digits;
}

} // namespace

std::string formatNumber(double number) {
    if (std::isnan(number))
        return "NaN";
    if (std::isinf(number))
        return number < 0 ? "-Inf" : "Inf";
    if (number == 0)
        return "0";
    const double magnitude = std::fabs(number);
    char buffer[64];
    if (magnitude < 1e15 && std::trunc(number) == number) {
        std::snprintf(buffer, sizeof buffer, "%.0f", number);
        return buffer;
    }
    if (magnitude >= 1e-4 && magnitude < 1e15) {
        std::snprintf(buffer, sizeof buffer, "%.15g", number);
        std::string text = buffer;
        // %.15g may still pick an exponent for small magnitudes; fixed notation keeps it plain.
        if (text.find('e') != std::string::npos) {
            std::snprintf(buffer, sizeof buffer, "%.*f",
                          15 + static_cast<int>(-std::floor(std::log10(magnitude))), number);
            text = buffer;
        }
        return trimZeros(text);
    }
    std::snprintf(buffer, sizeof buffer, "%.14e", number);
    std::string text = buffer;
    const std::size_t e = text.find('e');
    std::string mantissa = trimZeros(text.substr(0, e));
    if (mantissa.find('.') == std::string::npos)
        mantissa += ".0";
    const int exponent = std::atoi(text.c_str() + e + 1);
    std::snprintf(buffer, sizeof buffer, "E%c%02d", exponent < 0 ? '-' : '+',
                  exponent < 0 ? -exponent : exponent);
    return mantissa + buffer;
}

std::string compositeToText(std::span<const std::uint8_t> valueWithType) {
    std::string text;
    bool seenParagraph = false;
    const STATUS status = walkComposite(valueWithType, [&](const CdRecord &record) -> STATUS {
        if (record.type == SIG_CD_PARAGRAPH) {
            if (seenParagraph)
                text += "\r\n";
            seenParagraph = true;
        } else if ((record.type == SIG_CD_TEXT || record.type == SIG_CD_BIDI_TEXT) &&
                   record.length >= sizeof(CDTEXT)) {
            for (DWORD i = sizeof(CDTEXT); i < record.length; ++i) {
                const char c = static_cast<char>(record.data[i]);
                if (c == '\0')
                    text += "\r\n";
                else
                    text.push_back(c);
            }
        }
        return NOERROR;
    });
    if (status != NOERROR)
        logf("NSFItemConvertValueToText: rich text ends early (status 0x%04X)",
             static_cast<unsigned>(status));
    return text;
}

std::string valueToText(WORD dataType, std::span<const std::uint8_t> value, char separator) {
    switch (dataType) {
    case TYPE_TEXT:
    case TYPE_USERID:
        return value.empty() ? std::string()
                             : std::string(reinterpret_cast<const char *>(value.data()), value.size());
    case TYPE_TEXT_LIST:
        return textList(value, separator);
    case TYPE_NUMBER: {
        NUMBER number = 0;
        return readAt(value, 0, number) ? formatNumber(number) : std::string();
    }
    case TYPE_NUMBER_RANGE:
        return range<NUMBER, NUMBER_PAIR>(value, separator, [](NUMBER n) { return formatNumber(n); });
    case TYPE_TIME: {
        TIMEDATE time{};
        return readAt(value, 0, time) ? timeText(time) : std::string();
    }
    case TYPE_TIME_RANGE:
        return range<TIMEDATE, TIMEDATE_PAIR>(value, separator,
                                              [](const TIMEDATE &t) { return timeText(t); });
    case TYPE_RFC822_TEXT:
        return rfc822ToText(value, separator);
    case TYPE_COMPOSITE: {
        std::vector<std::uint8_t> withType(value.size() + sizeof(WORD));
        withType[0] = TYPE_COMPOSITE & 0xFF;
        withType[1] = TYPE_COMPOSITE >> 8;
        if (!value.empty())
            std::memcpy(withType.data() + sizeof(WORD), value.data(), value.size());
        return compositeToText(withType);
    }
    default:
        return std::string();
    }
}

} // namespace notesemu
