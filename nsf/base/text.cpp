#include "nsf/base/text.h"

int nsfCompareNoCase(const char *psz1, const char *psz2)
{
    for (;; psz1++, psz2++) {
        unsigned char ch1 = (unsigned char)*psz1;
        unsigned char ch2 = (unsigned char)*psz2;
        if (ch1 >= 'A' && ch1 <= 'Z')
            ch1 = (unsigned char)(ch1 - 'A' + 'a');
        if (ch2 >= 'A' && ch2 <= 'Z')
            ch2 = (unsigned char)(ch2 - 'A' + 'a');
        if (ch1 != ch2)
            return ch1 < ch2 ? -1 : 1;
        if (ch1 == '\0')
            return 0;
    }
}

bool nsfEqualNoCase(const char *psz1, const char *psz2)
{
    return nsfCompareNoCase(psz1, psz2) == 0;
}
