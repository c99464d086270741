// The item value forms of DXL and their canonical encodings: date/time text, base64, text
// in LMBCS with Notes line breaks, and the checks that a raw value fits its data type.
#pragma once

#include <notes/global.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace notesemu {

// A DXL datetime ("20240115T092530,17-05", "20240115", "T120000,00") and its dst attribute as
// the TIMEDATE Notes stores: GMT time of day, Julian day, the zone's standard offset and the
// daylight-saving bit. Date-only values carry ALLDAY, time-only values ANYDAY (no zone).
// nullopt for text that is not such a value or fields out of range.
std::optional<TIMEDATE> parseDxlDateTime(std::string_view text, bool dst);

// The DXL text of a TIMEDATE, with dst set when the text needs dst='true'. A value whose zone
// observes daylight saving is shown as in daylight saving time (the TIMEDATE does not say
// whether it applied at that instant, only that the zone observes it), so that reading the text
// back gives the same TIMEDATE. nullopt for values DXL cannot show (the cleared value, the
// wildcard, days or times out of range); those are written as raw item data.
struct DxlDateTimeText {
    std::string text;
    bool dst = false;
};
std::optional<DxlDateTimeText> formatDxlDateTime(const TIMEDATE &value);

// Decodes base64 as it arrives, ignoring whitespace. Reports malformed input (a character
// outside the alphabet, data after padding, a length that is not a whole number of groups).
class Base64Decoder {
public:
    explicit Base64Decoder(std::vector<std::uint8_t> &out) : out_(out) {}
    // False once the input is malformed; later calls do nothing.
    bool feed(std::string_view text);
    // True when everything fed was a complete, well-formed encoding.
    bool finish();

private:
    std::vector<std::uint8_t> &out_;
    std::uint32_t bits_ = 0;
    int pending_ = 0; // characters of the current group
    int padding_ = 0;
    bool bad_ = false;
};

// Checks base64 as it arrives by the same rules as Base64Decoder and counts the bytes it
// decodes to, without decoding them.
class Base64Counter {
public:
    bool feed(std::string_view text);
    bool finish() const { return !bad_ && (digits_ + padding_) % 4 == 0; }
    // Padding only ever ends the last group, which counts once it is complete.
    std::uint64_t size() const {
        const std::uint64_t characters = digits_ + padding_;
        return characters / 4 * 3 - (characters % 4 == 0 ? padding_ : 0);
    }

private:
    std::uint64_t digits_ = 0;
    std::uint64_t padding_ = 0;
    bool bad_ = false;
};

// Whether every byte is a base64 digit, padding or whitespace.
bool plainBase64Text(std::string_view text);

std::string base64Encode(std::span<const std::uint8_t> data);

// UTF-8 text with line breaks given as NUL bytes, as Notes stores text: LMBCS with NULs for
// line breaks.
std::string textToLmbcs(std::string_view utf8WithNulBreaks);
std::string lmbcsToText(std::string_view lmbcs);

// Why a raw value does not fit its data type, or an empty view when it does. `data` excludes the
// type word.
std::string_view rawValueProblem(WORD type, std::span<const std::uint8_t> data);


} // namespace notesemu
