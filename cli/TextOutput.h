// Text for people and scripts: names and values from a database made safe to print, and times.
#pragma once

#include <quillon/quillon.h>

#include <optional>
#include <string>
#include <string_view>

namespace tessel::cli {

// The text with every byte that could break a line, a column or a terminal written as an escape:
// "\n", "\r", "\t", "\\" for a backslash, "\xHH" for the other control characters (C0, DEL, and the
// C1 controls U+0080..U+009F) and for bytes that are not valid UTF-8. Everything else is kept.
std::string escapeText(std::string_view text);

// A FILETIME as UTC ISO 8601 ("2015-10-05T12:30:00Z"); nullopt when it is zero or out of range.
std::optional<std::string> isoTime(const QL_FILETIME &time);

// The length of the valid UTF-8 sequence that starts at text[i], or 0 when there is none.
size_t utf8SequenceLength(std::string_view text, size_t i);

} // namespace tessel::cli
