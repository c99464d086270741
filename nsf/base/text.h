// Comparisons of names as Notes and the reader make them: ASCII letters without regard to case,
// every other byte as it is, whatever the process's locale.
#pragma once

// Byte order of two texts with ASCII letters folded to lower case: <0, 0 or >0.
int nsfCompareNoCase(const char *psz1, const char *psz2);
// True when the two texts differ at most in the case of ASCII letters.
bool nsfEqualNoCase(const char *psz1, const char *psz2);
