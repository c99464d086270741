// Item values as text, the way NSFItemConvertValueToText shows them.
//
// Text is copied as stored (LMBCS; line breaks stay the NUL bytes Notes stores). List entries
// are joined with the separator given, NUL included. Numbers use the general format described
// at formatNumber. Times use the default TFMT of ConvertTIMEDATEToText (date and time in the
// local zone). Ranges show their single values first, then each pair as "low - high". A user ID
// (TYPE_USERID) is the name stored in it. Rich text (TYPE_COMPOSITE) shows the text of its text
// runs, paragraphs and line breaks as CR LF. An RFC 822 header item (TYPE_RFC822_TEXT) shows
// its native value (see Rfc822Text.h). Every other type gives empty text. A value whose
// counts or lengths run past its end gives what fits and a line in the runtime log.
#pragma once

#include <notes/global.h>

#include <cstdint>
#include <span>
#include <string>

namespace notesemu {

// `value` is the value without its leading type word.
std::string valueToText(WORD dataType, std::span<const std::uint8_t> value, char separator);

// The general number format: integers up to 15 digits in full ("3", "-120"); other values
// between 1E-4 and 1E15 in magnitude with up to 15 significant digits and no trailing zeros
// ("3.5", "0.001"); everything else in scientific form with at least one decimal and a signed
// two-digit exponent ("1.0E+20", "1.25E-07"). "-0" shows as "0"; not-a-number as "NaN" and
// infinities as "Inf" / "-Inf". The decimal separator is ".".
std::string formatNumber(double number);

// The text of a composite value given with its type word (see above).
std::string compositeToText(std::span<const std::uint8_t> valueWithType);

} // namespace notesemu
