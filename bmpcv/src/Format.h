// printf-style formatting into a std::string, for error messages.
#ifndef TESSEL_BMPCV_FORMAT_H
#define TESSEL_BMPCV_FORMAT_H

#include <cstdio>
#include <string>

namespace tessel::bmpcv {

template <typename... Args> std::string format(const char *pszFormat, Args... args) {
    char szText[256];
    std::snprintf(szText, sizeof szText, pszFormat, args...);
    return szText;
}

} // namespace tessel::bmpcv

#endif
