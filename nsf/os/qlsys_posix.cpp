// The POSIX implementation of the portable OS layer.
#include "nsf/os/qlsys.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/file.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif

struct QLSYS_DIR {
    DIR *pDir;        // null when the directory was missing: the stream is at its end
    int32_t cEntries; // entries handed out so far
    QLSYS_DIRENT entry;
};

namespace {

int qlsysNativeFlags(int nFlags)
{
    int nNative = O_CLOEXEC;
    switch (nFlags & 0x3) {
    case QLSYS_O_WRONLY:
        nNative |= O_WRONLY;
        break;
    case QLSYS_O_RDWR:
        nNative |= O_RDWR;
        break;
    default:
        nNative |= O_RDONLY;
        break;
    }
    if (nFlags & QLSYS_O_APPEND)
        nNative |= O_APPEND;
    if (nFlags & QLSYS_O_CREAT)
        nNative |= O_CREAT;
    if (nFlags & QLSYS_O_TRUNC)
        nNative |= O_TRUNC;
    if (nFlags & QLSYS_O_EXCL)
        nNative |= O_EXCL;
    return nNative;
}

// The path cut at its last separator, in a buffer of PATH_MAX bytes; false when it has none.
bool qlsysParentDir(const char *pszPath, char *pszParent)
{
    size_t cch = strlen(pszPath);
    if (cch >= PATH_MAX)
        return false;
    memcpy(pszParent, pszPath, cch + 1);
    while (cch > 0 && pszParent[cch - 1] == '/')
        pszParent[--cch] = '\0';
    char *pszSlash = strrchr(pszParent, '/');
    if (pszSlash == NULL)
        return false;
    if (pszSlash == pszParent)
        pszSlash[1] = '\0';
    else
        *pszSlash = '\0';
    return true;
}

int qlsysRemoveEntry(const char *pszPath, const struct stat *, int nType, struct FTW *)
{
    return (nType == FTW_DP ? rmdir(pszPath) : unlink(pszPath)) == 0 ? 0 : -1;
}

} // namespace

QLSYS_FILE qlsys_open(const char *pszPath, int nFlags)
{
    if (pszPath == NULL) {
        errno = EINVAL;
        return QLSYS_INVALID_FILE;
    }
    int fd = open(pszPath, qlsysNativeFlags(nFlags), 0666);
    if (fd < 0)
        return QLSYS_INVALID_FILE;
    // A delete-on-close file: the name goes now, the data when the descriptor closes.
    if (nFlags & QLSYS_O_TEMPORARY)
        unlink(pszPath);
    return (QLSYS_FILE)fd;
}

size_t qlsys_fread(void *pBuffer, size_t cbSize, size_t cCount, QLSYS_FILE hFile)
{
    if (cbSize == 0 || hFile == QLSYS_INVALID_FILE)
        return 0;
    if (cCount > SIZE_MAX / cbSize) {
        errno = EINVAL;
        return 0;
    }
    size_t cbWanted = cbSize * cCount;
    size_t cbRead = 0;
    while (cbRead < cbWanted) {
        ssize_t cb = read((int)hFile, (char *)pBuffer + cbRead, cbWanted - cbRead);
        if (cb < 0) {
            if (errno == EINTR)
                continue;
            return 0;
        }
        if (cb == 0)
            break;
        cbRead += (size_t)cb;
    }
    return cbRead / cbSize;
}

int qlsys_fclose(QLSYS_FILE hFile)
{
    if (hFile == QLSYS_INVALID_FILE) {
        errno = EBADF;
        return -1;
    }
    return close((int)hFile) == 0 ? 0 : -1;
}

int qlsys_stat(const char *pszPath, QLSYS_STAT *pStat)
{
    return stat(pszPath, pStat);
}

int qlsys_unlink(const char *pszPath)
{
    return unlink(pszPath);
}

int qlsys_access(const char *pszPath, int nMode)
{
    return access(pszPath, nMode & ~X_OK);
}

int qlsys_mkdir(const char *pszPath)
{
    if (pszPath == NULL || pszPath[0] == '\0') {
        errno = EINVAL;
        return -1;
    }
    // A path is never cut: creating a shortened path would make a different directory.
    char szPath[PATH_MAX];
    size_t cch = strlen(pszPath);
    if (cch >= sizeof(szPath)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(szPath, pszPath, cch + 1);

    int nResult = -1;
    errno = EEXIST;
    struct stat st;
    for (char *psz = szPath + 1; *psz != '\0'; psz++) {
        if (*psz != '/' || psz[-1] == '/')
            continue;
        *psz = '\0';
        if (stat(szPath, &st) != 0)
            nResult = mkdir(szPath, 0777);
        *psz = '/';
    }
    if (stat(szPath, &st) != 0)
        nResult = mkdir(szPath, 0777);
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
    pDir->pDir = opendir(pszPath);
    if (pDir->pDir == NULL && errno != ENOENT) {
        int nErrno = errno;
        free(pDir);
        errno = nErrno;
        return NULL;
    }
    return pDir;
}

QLSYS_DIRENT *qlsys_readdir(QLSYS_DIR *pDir)
{
    if (pDir == NULL || pDir->pDir == NULL)
        return NULL;
    struct dirent *pEntry = readdir(pDir->pDir);
    if (pEntry == NULL)
        return NULL;
    size_t cch = strnlen(pEntry->d_name, sizeof(pDir->entry.d_name) - 1);
    memcpy(pDir->entry.d_name, pEntry->d_name, cch);
    pDir->entry.d_name[cch] = '\0';
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
    int nResult = pDir->pDir != NULL ? closedir(pDir->pDir) : 0;
    free(pDir);
    return nResult;
}

int qlsys_getpid(void)
{
    return (int)getpid();
}

int qlsys_gettid(void)
{
#if defined(__linux__)
    return (int)syscall(SYS_gettid);
#else
    return (int)(intptr_t)pthread_self();
#endif
}

void qlsys_localtime(QLSYS_TIME *pTime)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tmLocal;
    localtime_r(&ts.tv_sec, &tmLocal);
    pTime->nYear = tmLocal.tm_year + 1900;
    pTime->nMonth = tmLocal.tm_mon + 1;
    pTime->nDay = tmLocal.tm_mday;
    pTime->nHour = tmLocal.tm_hour;
    pTime->nMinute = tmLocal.tm_min;
    pTime->nSecond = tmLocal.tm_sec;
    pTime->nMillisecond = (int)(ts.tv_nsec / 1000000);
}

FILE *qlsys_fopen_stdio(const char *pszPath, const char *pszMode)
{
    return fopen(pszPath, pszMode);
}

FILE *qlsys_fopen_log(const char *pszPath, int bNamedByUser)
{
    int nFlags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;
    if (!bNamedByUser)
        nFlags |= O_NOFOLLOW;
    int fd = open(pszPath, nFlags, 0600);
    if (fd < 0)
        return NULL;
    struct stat st;
    if (!bNamedByUser && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid())) {
        close(fd);
        errno = EPERM;
        return NULL;
    }
    FILE *pFile = fdopen(fd, "a");
    if (pFile == NULL) {
        int nErrno = errno;
        close(fd);
        errno = nErrno;
    }
    return pFile;
}

char qlsys_dir_separator(const char *)
{
    return '/';
}

size_t qlsys_gettemppath(char *pszBuffer, size_t cbBuffer)
{
    const char *pszDir = getenv("TMPDIR");
    if (pszDir == NULL || pszDir[0] == '\0')
        pszDir = "/tmp";
    size_t cch = strlen(pszDir);
    bool bSlash = pszDir[cch - 1] == '/';
    size_t cchTotal = cch + (bSlash ? 0 : 1);
    if (cchTotal + 1 > cbBuffer)
        return 0;
    memcpy(pszBuffer, pszDir, cch);
    if (!bSlash)
        pszBuffer[cch] = '/';
    pszBuffer[cchTotal] = '\0';
    return cchTotal;
}

int qlsys_gettempfilename(const char *pszDir, const char *pszPrefix, char *pszBuffer, size_t cbBuffer)
{
    if (pszDir == NULL || pszPrefix == NULL || pszBuffer == NULL) {
        errno = EINVAL;
        return -1;
    }
    size_t cchDir = strlen(pszDir);
    const char *pszSep = (cchDir > 0 && pszDir[cchDir - 1] == '/') ? "" : "/";
    // Unique numbers are 16-bit, as on Windows; start somewhere different in every process.
    static unsigned uNext = 0;
    if (uNext == 0)
        uNext = ((unsigned)getpid() * 2654435761u ^ (unsigned)time(NULL)) & 0xFFFF;
    for (unsigned cTries = 0; cTries < 0xFFFF; cTries++) {
        unsigned uUnique = uNext & 0xFFFF;
        uNext = uNext % 0xFFFF + 1;
        if (uUnique == 0)
            continue;
        int cch = snprintf(pszBuffer, cbBuffer, "%s%s%.3s%X.TMP", pszDir, pszSep, pszPrefix, uUnique);
        if (cch < 0 || (size_t)cch >= cbBuffer) {
            errno = ENAMETOOLONG;
            return -1;
        }
        int fd = open(pszBuffer, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            close(fd);
            return 0;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

int qlsys_mkdir_private(const char *pszPath)
{
    if (pszPath == NULL || pszPath[0] == '\0') {
        errno = EINVAL;
        return -1;
    }
    char szParent[PATH_MAX];
    struct stat st;
    if (qlsysParentDir(pszPath, szParent) && stat(szParent, &st) != 0 && qlsys_mkdir(szParent) != 0 &&
        errno != EEXIST)
        return -1;
    if (mkdir(pszPath, 0700) == 0)
        return 0;
    if (errno != EEXIST)
        return -1;
    // Someone else may have put a link or a directory of theirs at this predictable name.
    if (lstat(pszPath, &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        errno = EPERM;
        return -1;
    }
    return 0;
}

int qlsys_process_exists(int nPid)
{
    if (nPid <= 0)
        return -1;
    // Signal 0 only checks: EPERM means the process exists but belongs to someone else.
    if (kill((pid_t)nPid, 0) == 0 || errno != ESRCH)
        return 1;
    return 0;
}

int qlsys_is_own_dir(const char *pszPath)
{
    struct stat st;
    if (pszPath == NULL || lstat(pszPath, &st) != 0)
        return 0;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() ? 1 : 0;
}

int qlsys_rmtree(const char *pszPath, int)
{
    if (pszPath == NULL || pszPath[0] == '\0') {
        errno = EINVAL;
        return -1;
    }
    // Without its trailing separators, so that a symbolic link is seen as the link itself.
    char szPath[PATH_MAX];
    size_t cch = strlen(pszPath);
    if (cch >= sizeof(szPath)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(szPath, pszPath, cch + 1);
    while (cch > 1 && szPath[cch - 1] == '/')
        szPath[--cch] = '\0';

    struct stat st;
    if (lstat(szPath, &st) != 0)
        return errno == ENOENT ? 0 : -1;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return -1;
    }
    return nftw(szPath, qlsysRemoveEntry, 16, FTW_DEPTH | FTW_PHYS) == 0 ? 0 : -1;
}

struct QLSYS_MUTEX {
    int fd;
    bool bHeld;
};

namespace {

// What a holder writes into the lock file while it holds the lock; it is cleared before release.
const char szLockRecord[] = "tessel lock held by process %d\n";

// True when the text is a holder's record naming a process that no longer exists.
bool qlsysRecordOfDeadHolder(const char *pszText)
{
    int nPid = 0;
    char szRecord[64];
    if (sscanf(pszText, "tessel lock held by process %d", &nPid) != 1 || nPid <= 0)
        return false;
    snprintf(szRecord, sizeof(szRecord), szLockRecord, nPid);
    if (strcmp(pszText, szRecord) != 0)
        return false;
    return kill((pid_t)nPid, 0) != 0 && errno == ESRCH;
}

} // namespace

int qlsys_mutex_path(const char *pszName, char *pszBuffer, size_t cbBuffer)
{
    char szTemp[PATH_MAX];
    if (pszName == NULL || pszName[0] == '\0' || strchr(pszName, '/') != NULL ||
        qlsys_gettemppath(szTemp, sizeof(szTemp)) == 0) {
        errno = EINVAL;
        return -1;
    }
    // The user's own directory: made with 0700, and taken only when it is a real directory of
    // this user that no one else can write.
    char szDir[PATH_MAX];
    if (snprintf(szDir, sizeof(szDir), "%stessel-lock-%u", szTemp, (unsigned)geteuid()) >= (int)sizeof(szDir)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    if (mkdir(szDir, 0700) != 0 && errno != EEXIST)
        return -1;
    struct stat st;
    if (lstat(szDir, &st) != 0)
        return -1;
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        errno = EPERM;
        return -1;
    }
    if (snprintf(pszBuffer, cbBuffer, "%s/%s.lock", szDir, pszName) >= (int)cbBuffer) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

QLSYS_MUTEX *qlsys_mutex_open(const char *pszName)
{
    char szPath[PATH_MAX];
    if (qlsys_mutex_path(pszName, szPath, sizeof(szPath)) != 0)
        return NULL;
    int fd = open(szPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return NULL;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        errno = EPERM;
        return NULL;
    }
    QLSYS_MUTEX *pMutex = (QLSYS_MUTEX *)calloc(1, sizeof(QLSYS_MUTEX));
    if (pMutex == NULL) {
        close(fd);
        errno = ENOMEM;
        return NULL;
    }
    pMutex->fd = fd;
    return pMutex;
}

uint32_t qlsys_mutex_lock(QLSYS_MUTEX *pMutex)
{
    if (pMutex == NULL) {
        errno = EINVAL;
        return QLSYS_WAIT_FAILED;
    }
    while (flock(pMutex->fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return QLSYS_WAIT_FAILED;
    }
    pMutex->bHeld = true;
    // The system drops a dead holder's lock, but not the record it wrote: a record naming a
    // process that is gone means the holder died holding the lock. Anything else found in the
    // file is not ours to judge and is overwritten.
    char szText[64];
    ssize_t cb = pread(pMutex->fd, szText, sizeof(szText) - 1, 0);
    szText[cb > 0 ? cb : 0] = '\0';
    bool bAbandoned = qlsysRecordOfDeadHolder(szText);
    char szRecord[64];
    int cch = snprintf(szRecord, sizeof(szRecord), szLockRecord, (int)getpid());
    if (ftruncate(pMutex->fd, 0) != 0 || pwrite(pMutex->fd, szRecord, (size_t)cch, 0) != cch) {
        int nErrno = errno;
        flock(pMutex->fd, LOCK_UN);
        pMutex->bHeld = false;
        errno = nErrno;
        return QLSYS_WAIT_FAILED;
    }
    return bAbandoned ? QLSYS_WAIT_ABANDONED : QLSYS_WAIT_OBJECT_0;
}

int qlsys_mutex_unlock(QLSYS_MUTEX *pMutex)
{
    if (pMutex == NULL || !pMutex->bHeld) {
        errno = EPERM;
        return -1;
    }
    int nResult = ftruncate(pMutex->fd, 0) == 0 ? 0 : -1;
    if (flock(pMutex->fd, LOCK_UN) != 0)
        nResult = -1;
    pMutex->bHeld = false;
    return nResult;
}

void qlsys_mutex_close(QLSYS_MUTEX *pMutex)
{
    if (pMutex == NULL)
        return;
    if (pMutex->bHeld)
        qlsys_mutex_unlock(pMutex);
    close(pMutex->fd);
    free(pMutex);
}

int qlsys_last_error(void)
{
    return errno;
}

int qlsys_timezone_name(char *pszBuffer, size_t cbBuffer)
{
    if (pszBuffer == NULL || cbBuffer == 0) {
        errno = EINVAL;
        return -1;
    }
    tzset();
    time_t tNow = time(NULL);
    struct tm tmNow;
    if (localtime_r(&tNow, &tmNow) == NULL)
        return -1;
    const char *pszName = tmNow.tm_zone != NULL ? tmNow.tm_zone : tzname[tmNow.tm_isdst > 0 ? 1 : 0];
    if (pszName == NULL || pszName[0] == '\0') {
        errno = ENOENT;
        return -1;
    }
    snprintf(pszBuffer, cbBuffer, "%s", pszName);
    return 0;
}
