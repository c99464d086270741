// The Windows implementation of the portable OS layer. A path is tried unchanged in the system
// code page, then as UTF-8 converted to UTF-16, then in the "\\?\" long-path form.
#include "nsf/os/qlsys.h"

// windows.h comes first: shellapi.h relies on its definitions.
#include <windows.h>

#include <direct.h>
#include <errno.h>
#include <io.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

struct QLSYS_DIR {
    HANDLE hFind;
    int32_t cEntries; // entries handed out so far
    int bEnd;
    bool bWide; // a UTF-8 path, listed through the wide calls with names handed out in UTF-8
    WIN32_FIND_DATAA findData;
    WIN32_FIND_DATAW findDataW;
    char *pszPath;
    QLSYS_DIRENT entry;
};

namespace {

// One way of turning Windows errors into error numbers throughout.
void qlsysSetErrno(DWORD dwError)
{
    switch (dwError) {
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_NOT_ENOUGH_MEMORY:
        errno = ENOMEM;
        break;
    case ERROR_SHARING_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_FILE_EXISTS:
        errno = EEXIST;
        break;
    default:
        errno = (int)dwError;
        break;
    }
}

// Decodes UTF-8 leniently, as the Unicode reference converter does without its validity check:
// code points above U+10FFFF become U+FFFD, code points above U+FFFF become surrogate pairs.
bool qlsysUTF8ToUTF16(const char *pszIn, wchar_t *pwszOut, size_t cchOut)
{
    static const unsigned char rgbTrailing[256] = {
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
        2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
    static const unsigned long rgulOffsets[6] = {0x00000000UL, 0x00003080UL, 0x000E2080UL,
                                                 0x03C82080UL, 0xFA082080UL, 0x82082080UL};
    const unsigned char *pb = (const unsigned char *)pszIn;
    size_t iOut = 0;
    while (*pb != 0) {
        unsigned cTrailing = rgbTrailing[*pb];
        unsigned long ulChar = 0;
        for (unsigned i = 0; i <= cTrailing; i++) {
            if (i > 0 && *pb == 0)
                return false; // a sequence cut by the terminator
            ulChar = (ulChar << 6) + *pb++;
        }
        ulChar -= rgulOffsets[cTrailing];
        if (ulChar > 0x10FFFF)
            ulChar = 0xFFFD;
        if (ulChar > 0xFFFF) {
            if (iOut + 2 >= cchOut)
                return false;
            ulChar -= 0x10000;
            pwszOut[iOut++] = (wchar_t)((ulChar >> 10) + 0xD800);
            pwszOut[iOut++] = (wchar_t)((ulChar & 0x3FF) + 0xDC00);
        } else {
            if (iOut + 1 >= cchOut)
                return false;
            pwszOut[iOut++] = (wchar_t)ulChar;
        }
    }
    pwszOut[iOut] = 0;
    return true;
}

// The wide form of a path with the given prefix ("" or "\\?\"); UNC paths always take the
// "\\?\UNC\" form. The caller frees the result. Null for paths shorter than 3 characters.
wchar_t *qlsysWidePath(const char *pszPath, const char *pszPrefix, bool bForOpen)
{
    size_t cch = strlen(pszPath);
    if (cch < 3)
        return NULL;
    const char *pszRest = pszPath;
    bool bUNC =
        (pszPath[0] == '\\' && pszPath[1] == '\\') || (bForOpen && pszPath[0] == '/' && pszPath[1] == '/');
    if (bUNC) {
        pszPrefix = "\\\\?\\UNC\\";
        pszRest = pszPath + 2;
    }
    size_t cchNarrow = strlen(pszPrefix) + strlen(pszRest) + 1;
    char *pszNarrow = (char *)malloc(cchNarrow);
    if (pszNarrow == NULL)
        return NULL;
    strcpy(pszNarrow, pszPrefix);
    strcat(pszNarrow, pszRest);
    if (bForOpen) {
        for (char *psz = pszNarrow; *psz; psz++) {
            if (*psz == '/')
                *psz = '\\';
        }
    }
    size_t cbWide = cchNarrow * 2 + 20;
    wchar_t *pwsz = (wchar_t *)malloc(cbWide);
    if (pwsz != NULL && !qlsysUTF8ToUTF16(pszNarrow, pwsz, cbWide / sizeof(wchar_t))) {
        free(pwsz);
        pwsz = NULL;
    }
    free(pszNarrow);
    return pwsz;
}

bool qlsysUTF8Only()
{
    const char *pszValue = getenv("QL_PATHNM_UTF8");
    return pszValue != NULL && atoi(pszValue) == 1;
}

// True when the path holds characters beyond ASCII written as well-formed UTF-8. Such a path is
// taken as UTF-8 at once: its bytes read in the code page would name another file, which the
// code-page attempt of a creation would make under that garbled name.
bool qlsysIsWideUTF8(const char *pszPath)
{
    bool bWide = false;
    const unsigned char *pb = (const unsigned char *)pszPath;
    while (*pb != 0) {
        unsigned cTrailing;
        if (*pb < 0x80) {
            pb++;
            continue;
        } else if (*pb >= 0xC2 && *pb <= 0xDF) {
            cTrailing = 1;
        } else if (*pb >= 0xE0 && *pb <= 0xEF) {
            cTrailing = 2;
        } else if (*pb >= 0xF0 && *pb <= 0xF4) {
            cTrailing = 3;
        } else {
            return false;
        }
        pb++;
        for (unsigned i = 0; i < cTrailing; i++, pb++) {
            if ((*pb & 0xC0) != 0x80)
                return false;
        }
        bWide = true;
    }
    return bWide;
}

// The UTF-16 form of a UTF-8 path for the runtime's wide calls; null (errno set) when it fails.
wchar_t *qlsysWideForCall(const char *pszPath)
{
    wchar_t *pwszPath = qlsysWidePath(pszPath, "", false);
    if (pwszPath == NULL)
        errno = ENOENT;
    return pwszPath;
}

// Runs the runtime's narrow call on a path in the code page, or its wide twin on the UTF-16 form
// of a UTF-8 path.
int qlsysPathCall(const char *pszPath, int (*pfnNarrow)(const char *), int (*pfnWide)(const wchar_t *))
{
    if (!qlsysIsWideUTF8(pszPath))
        return pfnNarrow(pszPath);
    wchar_t *pwszPath = qlsysWideForCall(pszPath);
    if (pwszPath == NULL)
        return -1;
    int nResult = pfnWide(pwszPath);
    free(pwszPath);
    return nResult;
}

int qlsysStat(const char *pszPath, struct _stat64 *pStat)
{
    if (!qlsysIsWideUTF8(pszPath))
        return _stat64(pszPath, pStat);
    wchar_t *pwszPath = qlsysWideForCall(pszPath);
    if (pwszPath == NULL)
        return -1;
    int nResult = _wstat64(pwszPath, pStat);
    free(pwszPath);
    return nResult;
}

int qlsysMkdir(const char *pszPath)
{
    return qlsysPathCall(pszPath, _mkdir, _wmkdir);
}

// The "\\?\" form of a path too long for the plain calls (a directory's limit is MAX_PATH - 12);
// null for a shorter path.
wchar_t *qlsysLongFormPath(const char *pszPath)
{
    if (strlen(pszPath) < MAX_PATH - 12)
        return NULL;
    return qlsysWidePath(pszPath, "\\\\?\\", true);
}

// Whether a file or directory is there, by the plain calls or, for a long path, the long form
// (the C runtime's stat takes no "\\?\" path: it refuses the wildcard character).
bool qlsysExists(const char *pszPath)
{
    struct _stat64 st;
    if (qlsysStat(pszPath, &st) == 0)
        return true;
    wchar_t *pwszPath = qlsysLongFormPath(pszPath);
    if (pwszPath == NULL)
        return false;
    DWORD dwAttributes = GetFileAttributesW(pwszPath);
    free(pwszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES;
}

// Creates one directory, through the long form when the path is too long for the plain calls.
int qlsysMakeDirectory(const char *pszPath)
{
    if (qlsysMkdir(pszPath) == 0)
        return 0;
    int nErrno = errno;
    wchar_t *pwszPath = qlsysLongFormPath(pszPath);
    if (pwszPath == NULL) {
        errno = nErrno;
        return -1;
    }
    BOOL bMade = CreateDirectoryW(pwszPath, NULL);
    DWORD dwError = GetLastError();
    free(pwszPath);
    if (bMade)
        return 0;
    qlsysSetErrno(dwError);
    return -1;
}

bool qlsysIsNT()
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

} // namespace

QLSYS_FILE qlsys_open(const char *pszPath, int nFlags)
{
    DWORD dwAccess = GENERIC_READ;
    if ((nFlags & 0x3) == QLSYS_O_WRONLY)
        dwAccess = GENERIC_WRITE;
    else if ((nFlags & 0x3) == QLSYS_O_RDWR)
        dwAccess = GENERIC_READ | GENERIC_WRITE;

    DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    if (qlsysIsNT())
        dwShare |= FILE_SHARE_DELETE;

    DWORD dwCreation = OPEN_EXISTING;
    if ((nFlags & QLSYS_O_CREAT) && (nFlags & QLSYS_O_EXCL))
        dwCreation = CREATE_NEW;
    else if ((nFlags & QLSYS_O_CREAT) && (nFlags & QLSYS_O_TRUNC))
        dwCreation = CREATE_ALWAYS;
    else if (nFlags & QLSYS_O_CREAT)
        dwCreation = OPEN_ALWAYS;
    else if (nFlags & QLSYS_O_TRUNC)
        dwCreation = TRUNCATE_EXISTING;

    DWORD dwAttributes = FILE_ATTRIBUTE_NORMAL;
    if (nFlags & QLSYS_O_TEMPORARY)
        dwAttributes |= FILE_FLAG_DELETE_ON_CLOSE;
    if (nFlags < 0)
        dwAttributes |= FILE_FLAG_WRITE_THROUGH;
    dwAttributes |= (DWORD)nFlags & 0x7F000000u;

    if (pszPath == NULL) {
        errno = EINVAL;
        return QLSYS_INVALID_FILE;
    }
    HANDLE hFile = INVALID_HANDLE_VALUE;
    if (!qlsysUTF8Only() && !qlsysIsWideUTF8(pszPath)) {
        hFile = CreateFileA(pszPath, dwAccess, dwShare, NULL, dwCreation, dwAttributes, NULL);
        if (hFile != INVALID_HANDLE_VALUE)
            return (QLSYS_FILE)hFile;
    }
    wchar_t *pwszPath = qlsysWidePath(pszPath, "", true);
    if (pwszPath != NULL) {
        hFile = CreateFileW(pwszPath, dwAccess, dwShare, NULL, dwCreation, dwAttributes, NULL);
        free(pwszPath);
        if (hFile != INVALID_HANDLE_VALUE)
            return (QLSYS_FILE)hFile;
    }
    if (strlen(pszPath) > 2 && !(pszPath[0] == '\\' && pszPath[1] == '\\')) {
        pwszPath = qlsysWidePath(pszPath, "\\\\?\\", true);
        if (pwszPath != NULL) {
            hFile = CreateFileW(pwszPath, dwAccess, dwShare, NULL, dwCreation, dwAttributes, NULL);
            free(pwszPath);
            if (hFile != INVALID_HANDLE_VALUE)
                return (QLSYS_FILE)hFile;
        }
    }
    qlsysSetErrno(GetLastError());
    return QLSYS_INVALID_FILE;
}

size_t qlsys_fread(void *pBuffer, size_t cbSize, size_t cCount, QLSYS_FILE hFile)
{
    if (cbSize == 0 || cCount > 0xFFFFFFFFu / cbSize)
        return 0;
    if (hFile == QLSYS_INVALID_FILE) {
        errno = EBADF;
        return 0;
    }
    DWORD cbRead = 0;
    if (!ReadFile((HANDLE)hFile, pBuffer, (DWORD)(cbSize * cCount), &cbRead, NULL)) {
        qlsysSetErrno(GetLastError());
        return 0;
    }
    return cbRead / cbSize;
}

int qlsys_fclose(QLSYS_FILE hFile)
{
    // The invalid file's value is also the pseudo-handle of the current process, which
    // CloseHandle accepts: it must not count as a file closed.
    if (hFile == QLSYS_INVALID_FILE) {
        errno = EBADF;
        return -1;
    }
    if (!CloseHandle((HANDLE)hFile)) {
        qlsysSetErrno(GetLastError());
        return -1;
    }
    return 0;
}

int qlsys_stat(const char *pszPath, QLSYS_STAT *pStat)
{
    if (pszPath == NULL) {
        errno = EINVAL;
        return -1;
    }
    return qlsysStat(pszPath, pStat);
}

int qlsys_unlink(const char *pszPath)
{
    if (pszPath == NULL) {
        errno = EINVAL;
        return -1;
    }
    return qlsysPathCall(pszPath, _unlink, _wunlink);
}

int qlsys_access(const char *pszPath, int nMode)
{
    if (pszPath == NULL) {
        errno = EINVAL;
        return -1;
    }
    nMode &= ~1;
    int nResult = _access(pszPath, nMode);
    if (nResult == 0)
        return 0;
    wchar_t *pwszPath = qlsysWidePath(pszPath, "", false);
    if (pwszPath != NULL) {
        nResult = _waccess(pwszPath, nMode);
        free(pwszPath);
        if (nResult == 0)
            return 0;
    }
    if (strlen(pszPath) >= 3 && !(pszPath[0] == '\\' && pszPath[1] == '\\')) {
        pwszPath = qlsysWidePath(pszPath, "\\\\?\\", false);
        if (pwszPath != NULL) {
            nResult = _waccess(pwszPath, nMode);
            free(pwszPath);
        }
    }
    return nResult;
}

int qlsys_mkdir(const char *pszPath)
{
    if (pszPath == NULL || pszPath[0] == '\0') {
        errno = EINVAL;
        return -1;
    }
    // The whole path is used, however long: cut short, it would name another directory.
    size_t cch = strlen(pszPath);
    if (cch == 2 && pszPath[1] == ':') {
        errno = EINVAL;
        return -1;
    }
    char *szPath = _strdup(pszPath);
    if (szPath == NULL) {
        errno = ENOMEM;
        return -1;
    }

    char *psz = szPath;
    if (cch >= 2 && szPath[1] == ':')
        psz += 2;
    if ((psz[0] == '\\' || psz[0] == '/') && (psz[1] == '\\' || psz[1] == '/')) {
        // \\server\share: the server name is not a directory to create.
        psz += 2;
        while (*psz != '\0' && *psz != '\\' && *psz != '/')
            psz++;
    }
    if (*psz == '\\' || *psz == '/')
        psz++;

    int nResult = -1;
    errno = EEXIST;
    for (; *psz != '\0'; psz++) {
        if (*psz != '\\' && *psz != '/')
            continue;
        char chSep = *psz;
        *psz = '\0';
        if (!qlsysExists(szPath))
            nResult = qlsysMakeDirectory(szPath);
        *psz = chSep;
    }
    // A path ending in a separator was made whole by the loop (and the runtime's stat refuses a
    // trailing separator, so asking again would report a failure).
    if (szPath[cch - 1] != '\\' && szPath[cch - 1] != '/' && !qlsysExists(szPath))
        nResult = qlsysMakeDirectory(szPath);
    int nErrno = errno;
    free(szPath);
    errno = nErrno;
    return nResult;
}

QLSYS_DIR *qlsys_opendir(const char *pszPath)
{
    if (pszPath == NULL) {
        errno = EINVAL;
        return NULL;
    }
    QLSYS_DIR *pDir = (QLSYS_DIR *)calloc(1, sizeof(QLSYS_DIR));
    if (pDir == NULL) {
        errno = ENOMEM;
        return NULL;
    }
    size_t cch = strlen(pszPath);
    pDir->pszPath = (char *)malloc(cch + 3);
    if (pDir->pszPath == NULL) {
        free(pDir);
        errno = ENOMEM;
        return NULL;
    }
    memcpy(pDir->pszPath, pszPath, cch + 1);
    for (char *psz = pDir->pszPath; *psz; psz++) {
        if (*psz == '/')
            *psz = '\\';
    }
    if (cch > 0 && pDir->pszPath[cch - 1] == '\\')
        pDir->pszPath[--cch] = '\0';
    strcat(pDir->pszPath, "\\*");
    // The find is tried as every path of this layer is opened: in the code page, then as UTF-8 in
    // UTF-16, then, for a path longer than MAX_PATH, in the "\\?\" long form. Found through the
    // wide calls, the entries are named in UTF-8, which the layer's calls take back as such. The
    // last attempt's error decides between a missing directory and a failure.
    pDir->hFind = INVALID_HANDLE_VALUE;
    if (!qlsysUTF8Only() && !qlsysIsWideUTF8(pDir->pszPath))
        pDir->hFind = FindFirstFileA(pDir->pszPath, &pDir->findData);
    const char *const rgpszPrefixes[] = {"", "\\\\?\\"};
    for (size_t i = 0; i < 2 && pDir->hFind == INVALID_HANDLE_VALUE; i++) {
        if (i == 1 && (strlen(pDir->pszPath) < MAX_PATH || (pDir->pszPath[0] == '\\' && pDir->pszPath[1] == '\\')))
            break; // short enough for the plain forms, or a UNC path, which took its long form already
        wchar_t *pwszPath = qlsysWidePath(pDir->pszPath, rgpszPrefixes[i], true);
        if (pwszPath == NULL)
            continue;
        pDir->hFind = FindFirstFileW(pwszPath, &pDir->findDataW);
        DWORD dwError = GetLastError();
        free(pwszPath);
        SetLastError(dwError);
        pDir->bWide = pDir->hFind != INVALID_HANDLE_VALUE;
    }
    if (pDir->hFind == INVALID_HANDLE_VALUE) {
        DWORD dwError = GetLastError();
        qlsysSetErrno(dwError);
        if (errno != ENOENT && dwError != ERROR_FILE_NOT_FOUND) {
            int nErrno = errno;
            free(pDir->pszPath);
            free(pDir);
            errno = nErrno;
            return NULL;
        }
        pDir->bEnd = 1;
    }
    return pDir;
}

QLSYS_DIRENT *qlsys_readdir(QLSYS_DIR *pDir)
{
    if (pDir == NULL || pDir->bEnd)
        return NULL;
    if (pDir->cEntries > 0 && !(pDir->bWide ? FindNextFileW(pDir->hFind, &pDir->findDataW)
                                            : FindNextFileA(pDir->hFind, &pDir->findData))) {
        pDir->bEnd = 1;
        return NULL;
    }
    size_t cch;
    if (pDir->bWide) {
        // A name too long for the entry in UTF-8 (up to three bytes a UTF-16 unit) is cut at a
        // character, never inside one.
        int cb = WideCharToMultiByte(CP_UTF8, 0, pDir->findDataW.cFileName, -1, pDir->entry.d_name,
                                     (int)sizeof(pDir->entry.d_name), NULL, NULL);
        if (cb <= 0) {
            size_t cchWide = wcslen(pDir->findDataW.cFileName);
            cb = 0;
            while (cchWide > 0 && cb <= 0) {
                cchWide--;
                if (cchWide > 0 && pDir->findDataW.cFileName[cchWide - 1] >= 0xD800 &&
                    pDir->findDataW.cFileName[cchWide - 1] <= 0xDBFF)
                    cchWide--;
                cb = WideCharToMultiByte(CP_UTF8, 0, pDir->findDataW.cFileName, (int)cchWide, pDir->entry.d_name,
                                         (int)sizeof(pDir->entry.d_name) - 1, NULL, NULL);
            }
            pDir->entry.d_name[cb > 0 ? cb : 0] = '\0';
        }
        cch = strlen(pDir->entry.d_name);
    } else {
        cch = strnlen(pDir->findData.cFileName, sizeof(pDir->entry.d_name) - 1);
        memcpy(pDir->entry.d_name, pDir->findData.cFileName, cch);
        pDir->entry.d_name[cch] = '\0';
    }
    pDir->entry.d_namlen = (uint16_t)cch;
    pDir->entry.d_ino = 1;
    pDir->entry.d_off = ++pDir->cEntries;
    return &pDir->entry;
}

int qlsys_closedir(QLSYS_DIR *pDir)
{
    if (pDir == NULL) {
        errno = EBADF;
        return -1;
    }
    if (pDir->hFind != INVALID_HANDLE_VALUE && pDir->hFind != NULL)
        FindClose(pDir->hFind);
    free(pDir->pszPath);
    free(pDir);
    return 0;
}

int qlsys_process_exists(int nPid)
{
    if (nPid <= 0)
        return -1;
    HANDLE hProcess = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, (DWORD)nPid);
    if (hProcess == NULL)
        return GetLastError() == ERROR_INVALID_PARAMETER ? 0 : 1;
    DWORD dwExit = 0;
    BOOL bGot = GetExitCodeProcess(hProcess, &dwExit);
    CloseHandle(hProcess);
    return bGot && dwExit != STILL_ACTIVE ? 0 : 1;
}

int qlsys_is_own_dir(const char *pszPath)
{
    DWORD dwAttributes = pszPath != NULL ? GetFileAttributesA(pszPath) : INVALID_FILE_ATTRIBUTES;
    if (dwAttributes == INVALID_FILE_ATTRIBUTES)
        return 0;
    return (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
}

int qlsys_getpid(void)
{
    return (int)GetCurrentProcessId();
}

int qlsys_gettid(void)
{
    return (int)GetCurrentThreadId();
}

void qlsys_localtime(QLSYS_TIME *pTime)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    pTime->nYear = st.wYear;
    pTime->nMonth = st.wMonth;
    pTime->nDay = st.wDay;
    pTime->nHour = st.wHour;
    pTime->nMinute = st.wMinute;
    pTime->nSecond = st.wSecond;
    pTime->nMillisecond = st.wMilliseconds;
}

FILE *qlsys_fopen_stdio(const char *pszPath, const char *pszMode)
{
    char szMode[8];
    snprintf(szMode, sizeof(szMode), "%st", pszMode);
    return fopen(pszPath, szMode);
}

// Windows files carry the creating user's default security, which keeps other users out of a
// profile's temporary directory; the name formed by the reader is opened like any other.
FILE *qlsys_fopen_log(const char *pszPath, int)
{
    return qlsys_fopen_stdio(pszPath, "a+");
}

char qlsys_dir_separator(const char *pszDir)
{
    return strchr(pszDir, '/') != NULL ? '/' : '\\';
}

size_t qlsys_gettemppath(char *pszBuffer, size_t cbBuffer)
{
    DWORD cch = GetTempPathA((DWORD)cbBuffer, pszBuffer);
    if (cch == 0 || cch >= cbBuffer)
        return 0;
    return cch;
}

int qlsys_gettempfilename(const char *pszDir, const char *pszPrefix, char *pszBuffer, size_t cbBuffer)
{
    char szPath[MAX_PATH];
    if (GetTempFileNameA(pszDir, pszPrefix, 0, szPath) == 0) {
        qlsysSetErrno(GetLastError());
        return -1;
    }
    size_t cch = strlen(szPath);
    if (cch + 1 > cbBuffer) {
        DeleteFileA(szPath);
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(pszBuffer, szPath, cch + 1);
    return 0;
}

int qlsys_mkdir_private(const char *pszPath)
{
    if (qlsys_access(pszPath, 0) == 0) {
        DWORD dwAttributes = GetFileAttributesA(pszPath);
        if (dwAttributes != INVALID_FILE_ATTRIBUTES && !(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            errno = ENOTDIR;
            return -1;
        }
        return 0;
    }
    return qlsys_mkdir(pszPath) == 0 ? 0 : -1;
}

int qlsys_rmtree(const char *pszPath, int bPermanent)
{
    if (pszPath == NULL || pszPath[0] == '\0') {
        errno = EINVAL;
        return -1;
    }
    if (GetFileAttributesA(pszPath) == INVALID_FILE_ATTRIBUTES) {
        DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND)
            return 0;
    }
    // The shell's file operation takes a list of paths ended by an empty one.
    size_t cch = strlen(pszPath);
    char *pszFrom = (char *)calloc(cch + 2, 1);
    if (pszFrom == NULL) {
        errno = ENOMEM;
        return -1;
    }
    memcpy(pszFrom, pszPath, cch);
    SHFILEOPSTRUCTA op;
    memset(&op, 0, sizeof(op));
    op.wFunc = FO_DELETE;
    op.pFrom = pszFrom;
    // FOF_NOERRORUI as well: the host may run without anyone to answer an error dialog, which
    // would otherwise wait for ever.
    op.fFlags = (FILEOP_FLAGS)(bPermanent ? (FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI)
                                          : (FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_ALLOWUNDO));
    int nResult = SHFileOperationA(&op);
    free(pszFrom);
    if (nResult != 0 || op.fAnyOperationsAborted) {
        errno = EIO;
        return -1;
    }
    return 0;
}

struct QLSYS_MUTEX {
    HANDLE hMutex;
};

// A Windows mutex has no file: its name alone, in the session's namespace, scopes it.
int qlsys_mutex_path(const char *, char *, size_t)
{
    errno = ENOSYS;
    return -1;
}

QLSYS_MUTEX *qlsys_mutex_open(const char *pszName)
{
    QLSYS_MUTEX *pMutex = (QLSYS_MUTEX *)calloc(1, sizeof(QLSYS_MUTEX));
    if (pMutex == NULL) {
        errno = ENOMEM;
        return NULL;
    }
    pMutex->hMutex = CreateMutexA(NULL, FALSE, pszName);
    if (pMutex->hMutex == NULL) {
        qlsysSetErrno(GetLastError());
        free(pMutex);
        return NULL;
    }
    return pMutex;
}

uint32_t qlsys_mutex_lock(QLSYS_MUTEX *pMutex)
{
    return (uint32_t)WaitForSingleObject(pMutex->hMutex, INFINITE);
}

int qlsys_mutex_unlock(QLSYS_MUTEX *pMutex)
{
    return ReleaseMutex(pMutex->hMutex) ? 0 : -1;
}

void qlsys_mutex_close(QLSYS_MUTEX *pMutex)
{
    if (pMutex == NULL)
        return;
    CloseHandle(pMutex->hMutex);
    free(pMutex);
}

int qlsys_last_error(void)
{
    return (int)GetLastError();
}

int qlsys_timezone_name(char *pszBuffer, size_t cbBuffer)
{
    if (pszBuffer == NULL || cbBuffer == 0) {
        errno = EINVAL;
        return -1;
    }
    TIME_ZONE_INFORMATION tzi;
    DWORD dwZone = GetTimeZoneInformation(&tzi);
    if (dwZone == TIME_ZONE_ID_INVALID) {
        qlsysSetErrno(GetLastError());
        return -1;
    }
    const WCHAR *pwszName = dwZone == TIME_ZONE_ID_DAYLIGHT ? tzi.DaylightName : tzi.StandardName;
    if (pwszName[0] == L'\0') {
        errno = ENOENT;
        return -1;
    }
    if (WideCharToMultiByte(CP_UTF8, 0, pwszName, -1, pszBuffer, (int)cbBuffer, NULL, NULL) == 0) {
        qlsysSetErrno(GetLastError());
        return -1;
    }
    return 0;
}
