#include "DxlValues.h"

#include "Calendar.h"

#include "Ods.h"

#include "Composite.h"
#include "Translate.h"

#include <notes/nsfdata.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace notesemu {
namespace {


bool digits(std::string_view text, std::size_t pos, std::size_t count, int &value) {
    if (pos + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = pos; i < pos + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

int daysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// hhmmss[,cc] at pos; returns the ticks or nullopt, and moves pos past it.
std::optional<std::uint32_t> parseClock(std::string_view text, std::size_t &pos) {
    int hour, minute, second;
    if (!digits(text, pos, 2, hour) || !digits(text, pos + 2, 2, minute) || !digits(text, pos + 4, 2, second))
        return std::nullopt;
    pos += 6;
    int hundredths = 0;
    if (pos < text.size() && (text[pos] == ',' || text[pos] == '.')) {
        ++pos;
        const std::size_t start = pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
            ++pos;
        const std::size_t count = pos - start;
        if (count == 0)
            return std::nullopt;
        int value = 0;
        digits(text, start, count > 2 ? 2 : count, value);
        hundredths = count == 1 ? value * 10 : value;
    }
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return static_cast<std::uint32_t>(((hour * 60 + minute) * 60 + second) * 100 + hundredths);
}

} // namespace

std::optional<TIMEDATE> parseDxlDateTime(std::string_view text, bool dst) {
    while (!text.empty() &&
           (text.front() == ' ' || text.front() == '\n' || text.front() == '\t' || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() &&
           (text.back() == ' ' || text.back() == '\n' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    std::size_t pos = 0;
    TIMEDATE result{};
    if (!text.empty() && text[0] == 'T') {
        ++pos;
        const auto ticks = parseClock(text, pos);
        if (!ticks)
            return std::nullopt;
        // A zone on a time-only value changes nothing: it has no date to place it on.
        result.Innards[0] = *ticks;
        result.Innards[1] = ANYDAY;
        return result;
    }
    int year, month, day;
    if (!digits(text, 0, 4, year) || !digits(text, 4, 2, month) || !digits(text, 6, 2, day))
        return std::nullopt;
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month))
        return std::nullopt;
    pos = 8;
    const std::int64_t days = daysFromCivil(year, month, day);
    if (pos == text.size()) {
        result.Innards[0] = ALLDAY;
        result.Innards[1] = static_cast<DWORD>(days + kJulianDayOfUnixEpoch);
        return result;
    }
    if (text[pos] != 'T')
        return std::nullopt;
    ++pos;
    const auto ticks = parseClock(text, pos);
    if (!ticks)
        return std::nullopt;
    int offsetMinutes = 0;
    if (pos < text.size()) {
        const char sign = text[pos];
        if (sign == 'Z' && pos + 1 == text.size()) {
            offsetMinutes = 0;
        } else {
            if (sign != '+' && sign != '-')
                return std::nullopt;
            int hours, minutes = 0;
            const std::size_t length = text.size() - pos - 1;
            if ((length != 2 && length != 4) || !digits(text, pos + 1, 2, hours) ||
                (length == 4 && !digits(text, pos + 3, 2, minutes)))
                return std::nullopt;
            if (minutes % 15 != 0 || minutes > 45 || hours > 15)
                return std::nullopt;
            offsetMinutes = (hours * 60 + minutes) * (sign == '-' ? -1 : 1);
        }
    }
    std::int64_t gmt = days * kTicksInDay + *ticks - static_cast<std::int64_t>(offsetMinutes) * 6000;
    std::int64_t gmtDays = gmt / kTicksInDay;
    std::int64_t rest = gmt % kTicksInDay;
    if (rest < 0) {
        rest += kTicksInDay;
        --gmtDays;
    }
    const std::int64_t julian = gmtDays + kJulianDayOfUnixEpoch;
    const int standard = offsetMinutes - (dst ? 60 : 0);
    const int magnitude = standard < 0 ? -standard : standard;
    if (julian < 0 || julian > 0x00FFFFFF || magnitude / 60 > 15)
        return std::nullopt;
    std::uint32_t zone =
        static_cast<std::uint32_t>(magnitude / 60) | static_cast<std::uint32_t>(magnitude % 60 / 15) << 4;
    if (standard > 0)
        zone |= 0x40;
    if (dst)
        zone |= 0x80;
    result.Innards[0] = static_cast<DWORD>(rest);
    result.Innards[1] = static_cast<DWORD>(julian) | zone << 24;
    return result;
}

std::optional<DxlDateTimeText> formatDxlDateTime(const TIMEDATE &value) {
    char buffer[40];
    const DWORD time = value.Innards[0];
    const DWORD date = value.Innards[1];
    if (date == ANYDAY) {
        if (time == ALLDAY || time >= kTicksInDay)
            return std::nullopt;
        std::snprintf(buffer, sizeof buffer, "T%02u%02u%02u,%02u", time / 360000, time / 6000 % 60,
                      time / 100 % 60, time % 100);
        return DxlDateTimeText{buffer, false};
    }
    const std::int64_t julian = date & 0x00FFFFFF;
    if (julian == 0 && time == 0)
        return std::nullopt;
    int year, month, day;
    if (time == ALLDAY) {
        const CivilDate civil = civilFromDays(julian - kJulianDayOfUnixEpoch);
        year = civil.year;
        month = civil.month;
        day = civil.day;
        if (year < 1 || year > 9999 || (date >> 24) != 0)
            return std::nullopt;
        std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", year, month, day);
        return DxlDateTimeText{buffer, false};
    }
    if (time >= kTicksInDay)
        return std::nullopt;
    const DWORD zone = date >> 24;
    const bool dst = (zone & 0x80) != 0;
    const int magnitude = static_cast<int>(zone & 0x0F) * 60 + static_cast<int>(zone >> 4 & 0x03) * 15;
    const int offset = ((zone & 0x40) != 0 ? magnitude : -magnitude) + (dst ? 60 : 0);
    const std::int64_t local = (julian - kJulianDayOfUnixEpoch) * kTicksInDay + time + offset * 6000LL;
    std::int64_t localDays = local / kTicksInDay;
    std::int64_t ticks = local % kTicksInDay;
    if (ticks < 0) {
        ticks += kTicksInDay;
        --localDays;
    }
    const CivilDate civil = civilFromDays(localDays);
    year = civil.year;
    month = civil.month;
    day = civil.day;
    if (year < 1 || year > 9999)
        return std::nullopt;
    const int absOffset = offset < 0 ? -offset : offset;
    char zoneText[8];
    if (absOffset % 60 == 0)
        std::snprintf(zoneText, sizeof zoneText, "%c%02d", offset < 0 ? '-' : '+', absOffset / 60);
    else
        std::snprintf(zoneText, sizeof zoneText, "%c%02d%02d", offset < 0 ? '-' : '+', absOffset / 60,
                      absOffset % 60);
    const auto t = static_cast<std::uint32_t>(ticks);
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02dT%02u%02u%02u,%02u%s", year, month, day, t / 360000,
                  t / 6000 % 60, t / 100 % 60, t % 100, zoneText);
    // Reading it back must give the same value (a zone of 15 hours plus an hour of daylight
    // saving cannot be written, for example).
    const auto back = parseDxlDateTime(buffer, dst);
    if (!back || back->Innards[0] != value.Innards[0] || back->Innards[1] != value.Innards[1])
        return std::nullopt;
    return DxlDateTimeText{buffer, dst};
}

namespace {

// Base64 digit values; 64 marks whitespace, 65 padding, 66 anything else.
constexpr std::array<std::uint8_t, 256> kBase64Digits = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(66);
    for (int i = 0; i < 26; ++i) {
        table[static_cast<std::size_t>('A' + i)] = static_cast<std::uint8_t>(i);
        table[static_cast<std::size_t>('a' + i)] = static_cast<std::uint8_t>(26 + i);
    }
    for (int i = 0; i < 10; ++i)
        table[static_cast<std::size_t>('0' + i)] = static_cast<std::uint8_t>(52 + i);
    table['+'] = 62;
    table['/'] = 63;
    for (char c : {' ', '\n', '\r', '\t'})
        table[static_cast<unsigned char>(c)] = 64;
    table['='] = 65;
    return table;
}();

} // namespace

bool Base64Decoder::feed(std::string_view text) {
    if (bad_)
        return false;
    // Room for every byte this text can give; trimmed to what was written at the end.
    std::size_t at = out_.size();
    out_.resize(at + text.size() / 4 * 3 + 3);
    std::uint8_t *out = out_.data();
    for (char c : text) {
        const std::uint8_t value = kBase64Digits[static_cast<unsigned char>(c)];
        if (value < 64) {
            if (padding_ != 0) {
                bad_ = true;
                break;
            }
            bits_ = bits_ << 6 | value;
            if (++pending_ == 4) {
                out[at++] = static_cast<std::uint8_t>(bits_ >> 16);
                out[at++] = static_cast<std::uint8_t>(bits_ >> 8);
                out[at++] = static_cast<std::uint8_t>(bits_);
                pending_ = 0;
                bits_ = 0;
            }
        } else if (value == 64) {
            continue;
        } else if (value == 65) {
            // Padding completes a group of two or three characters.
            if (pending_ < 2) {
                bad_ = true;
                break;
            }
            ++padding_;
            if (++pending_ == 4) {
                if (padding_ == 2) {
                    out[at++] = static_cast<std::uint8_t>(bits_ >> 4);
                } else {
                    out[at++] = static_cast<std::uint8_t>(bits_ >> 10);
                    out[at++] = static_cast<std::uint8_t>(bits_ >> 2);
                }
                pending_ = 0;
                bits_ = 0;
            }
        } else {
            bad_ = true;
            break;
        }
    }
    out_.resize(at);
    return !bad_;
}

bool Base64Decoder::finish() {
    return !bad_ && pending_ == 0;
}

bool Base64Counter::feed(std::string_view text) {
    if (bad_)
        return false;
    const auto *at = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = at + text.size();
    while (at != end) {
        // Runs of digits are the common case: count them without looking at groups.
        const auto *run = at;
        if (padding_ == 0) {
            while (at != end && kBase64Digits[*at] < 64)
                ++at;
            digits_ += static_cast<std::uint64_t>(at - run);
            if (at == end)
                break;
        }
        const std::uint8_t value = kBase64Digits[*at++];
        if (value == 64)
            continue;
        // Padding completes a group of two or three digits; nothing but padding and whitespace
        // may follow it.
        if (value == 65 && (digits_ + padding_) % 4 >= 2) {
            ++padding_;
            continue;
        }
        bad_ = true;
        return false;
    }
    return true;
}

bool plainBase64Text(std::string_view text) {
    for (char c : text) {
        if (kBase64Digits[static_cast<unsigned char>(c)] > 65)
            return false;
    }
    return true;
}

std::string base64Encode(std::span<const std::uint8_t> data) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v = data[i] << 16 | data[i + 1] << 8 | data[i + 2];
        out += kAlphabet[v >> 18];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    if (data.size() - i == 1) {
        const std::uint32_t v = data[i] << 16;
        out += kAlphabet[v >> 18];
        out += kAlphabet[v >> 12 & 63];
        out += "==";
    } else if (data.size() - i == 2) {
        const std::uint32_t v = data[i] << 16 | data[i + 1] << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += '=';
    }
    return out;
}

namespace {

// Printable ASCII is the same in LMBCS; anything else goes through the converter.
bool plainAscii(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7F)
            return false;
    }
    return true;
}

template <class Convert> std::string convertLines(std::string_view text, Convert convert) {
    if (plainAscii(text))
        return std::string(text);
    std::string out;
    while (true) {
        const std::size_t nul = text.find('\0');
        const std::string_view line = text.substr(0, nul);
        out += plainAscii(line) ? std::string(line) : convert(line);
        if (nul == std::string_view::npos)
            break;
        out.push_back('\0');
        text.remove_prefix(nul + 1);
    }
    return out;
}

} // namespace

std::string textToLmbcs(std::string_view utf8WithNulBreaks) {
    return convertLines(utf8WithNulBreaks, [](std::string_view line) { return utf8ToLmbcs(line); });
}

std::string lmbcsToText(std::string_view lmbcs) {
    return convertLines(lmbcs, [](std::string_view line) { return lmbcsToUtf8(line); });
}

std::string_view rawValueProblem(WORD type, std::span<const std::uint8_t> data) {
    const auto word = [&](std::size_t offset) -> std::size_t { return data[offset] | data[offset + 1] << 8; };
    switch (type) {
    case TYPE_NUMBER:
    case TYPE_TIME:
        return data.size() == 8 ? std::string_view() : "a single number or time is 8 bytes";
    case TYPE_NUMBER_RANGE:
    case TYPE_TIME_RANGE: {
        if (data.size() < 4)
            return "a range has a 4-byte header";
        const std::size_t size = 4 + word(0) * 8 + word(2) * 16;
        return data.size() == size ? std::string_view() : "the range's entry counts do not match its length";
    }
    case TYPE_TEXT_LIST: {
        if (data.size() < 2)
            return "a text list has a 2-byte header";
        const std::size_t count = word(0);
        if (2 + 2 * count > data.size())
            return "the text list's length table runs past the value";
        std::size_t total = 2 + 2 * count;
        for (std::size_t i = 0; i < count; ++i)
            total += word(2 + 2 * i);
        return total == data.size() ? std::string_view() : "the text list's lengths do not match its size";
    }
    case TYPE_NOTEREF_LIST:
    case TYPE_NOTELINK_LIST: {
        if (data.size() < 2)
            return "a list has a 2-byte header";
        const std::size_t entry = type == TYPE_NOTEREF_LIST ? 16 : 40;
        return data.size() == 2 + word(0) * entry ? std::string_view()
                                                  : "the list's entry count does not match its length";
    }
    case TYPE_OBJECT:
        return data.size() >= odsSize<OBJECT_DESCRIPTOR>() ? std::string_view()
                                                        : "an object value is at least 6 bytes";
    case TYPE_USERDATA:
        return !data.empty() && 1u + data[0] <= data.size()
                   ? std::string_view()
                   : "the user data's format name runs past the value";
    case TYPE_COMPOSITE: {
        std::vector<std::uint8_t> value(data.size() + 2);
        value[0] = static_cast<std::uint8_t>(TYPE_COMPOSITE);
        if (!data.empty())
            std::memcpy(value.data() + 2, data.data(), data.size());
        const STATUS status = walkComposite(value, [](const CdRecord &) -> STATUS { return NOERROR; });
        return status == NOERROR ? std::string_view() : "its CD records do not fit the value";
    }
    default:
        return {};
    }
}

} // namespace notesemu
