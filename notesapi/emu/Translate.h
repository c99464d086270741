// Character set translation for OSTranslate and for the runtime's own use: LMBCS (optimisation
// group 1) through ICU's "LMBCS-1" converter, UTF-8, UTF-16LE and the platform's native set
// (UTF-8 here).
#pragma once

#include <notes/global.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace notesemu {

// Converts text for one OS_TRANSLATE_xxx mode. Supported modes: NATIVE<->LMBCS, LMBCS<->UTF8,
// LMBCS<->UNICODE (UTF-16LE), LOWER_TO_UPPER and UPPER_TO_LOWER (case mapping of LMBCS text),
// UNACCENT (LMBCS with accents removed) and LMBCS_TO_ASCII (accents removed, every other
// non-ASCII character as '?'). Invalid input is replaced by the target's substitution character.
// nullopt for an unknown mode or a converter that cannot be opened (both logged).
std::optional<std::string> translate(WORD mode, std::string_view input);

// The largest length <= limit at which the output of the mode may be cut without splitting a
// character (an LMBCS group sequence, a UTF-8 sequence, a UTF-16 surrogate pair).
std::size_t cutForMode(WORD mode, std::string_view output, std::size_t limit);
// Whether translating the input gives the input itself: printable ASCII between LMBCS and UTF-8
// (or the native character set), which needs no converter.
bool translatesToItself(WORD mode, std::string_view input);

// UTF-8 <-> LMBCS; invalid input is replaced, never refused.
std::string utf8ToLmbcs(std::string_view utf8);
std::string lmbcsToUtf8(std::string_view lmbcs);

// Bytes of the LMBCS character that starts at pos (1 to 3), never past the end of the text.
std::size_t lmbcsCharLength(std::string_view lmbcs, std::size_t pos);
// The largest character boundary <= limit in LMBCS text.
std::size_t lmbcsCut(std::string_view lmbcs, std::size_t limit);
// The largest character boundary <= limit in UTF-8 text.
std::size_t utf8Cut(std::string_view utf8, std::size_t limit);

} // namespace notesemu
