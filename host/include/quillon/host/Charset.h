// Character conversion between the host's character sets, through ICU.
#ifndef QUILLON_HOST_CHARSET_H
#define QUILLON_HOST_CHARSET_H

#include <quillon/quillon.h>

#include <cstdint>
#include <span>

namespace quillon {

// The ICU converter name of a QLCharset_* code, or null for an unknown code.
const char *icuCharsetName(int nCharset);

// Converts input from one charset into output. Bytes that are invalid in the source are replaced
// (U+FFFD, or the target's substitution character where the target cannot hold U+FFFD); characters
// the target cannot hold are replaced by its substitution character. Returns the bytes written,
// not counting the terminator (one zero byte, two for UTF-16LE) that follows when room remains;
// -1 for an unknown charset, a conversion ICU refuses, or output that does not fit. Never writes
// past the end of output.
int32_t convertCharset(int nFrom, int nTo, std::span<const char> input, std::span<char> output);

// Nonzero when b starts a character of more than one byte in the charset: 0xC2..0xF4 for UTF-8;
// for LMBCS the group prefixes, as ICU's LMBCS-1 converter reads them; 0 for the single-byte
// charsets, for UTF-16LE (whose characters are all two or four bytes, so a single byte tells
// nothing) and for unknown codes.
int isLeadByte(unsigned char b, int nCharset);

} // namespace quillon

#endif
