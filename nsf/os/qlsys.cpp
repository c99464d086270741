// The parts of the portable OS layer that are the same on every platform.
#include "nsf/os/qlsys.h"

#include <string.h>

QLSYS_FILE qlsys_fopen(const char *pszPath, const char *pszMode)
{
    int nFlags = 0;
    bool bPlus = pszMode != NULL && strchr(pszMode, '+') != NULL;
    switch (pszMode != NULL ? pszMode[0] : '\0') {
    case 'r':
        nFlags = bPlus ? QLSYS_O_RDWR : QLSYS_O_RDONLY;
        break;
    case 'w':
        nFlags = (bPlus ? QLSYS_O_RDWR : QLSYS_O_WRONLY) | QLSYS_O_CREAT | QLSYS_O_TRUNC;
        break;
    case 'a':
        nFlags = (bPlus ? QLSYS_O_RDWR : QLSYS_O_WRONLY) | QLSYS_O_CREAT | QLSYS_O_APPEND;
        break;
    default:
        nFlags = 0;
        break;
    }
    return qlsys_open(pszPath, nFlags);
}
