// Portable OS layer: files, directories and paths behind one small POSIX-like interface, plus the
// few process and system services the reader needs. Failures return -1 (or null) with errno set.
//
// On Windows a path is tried in the system code page, then as UTF-8 (converted to UTF-16), then in
// the long-path form, so that names outside the code page and long or UNC paths still open. On
// POSIX a path is a byte string and is used as it is.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#ifdef _WIN32
#define QLSYS_PATH_SEPARATOR '\\'
#else
#define QLSYS_PATH_SEPARATOR '/'
#endif

// Open flags, with the values of the Windows runtime library on every platform.
#define QLSYS_O_RDONLY 0x0000
#define QLSYS_O_WRONLY 0x0001
#define QLSYS_O_RDWR 0x0002
#define QLSYS_O_APPEND 0x0008
#define QLSYS_O_TEMPORARY 0x0040 // delete the file when it is closed
#define QLSYS_O_CREAT 0x0100
#define QLSYS_O_TRUNC 0x0200
#define QLSYS_O_EXCL 0x0400

// A file: a Windows handle or a POSIX descriptor; QLSYS_INVALID_FILE when invalid.
typedef intptr_t QLSYS_FILE;
#define QLSYS_INVALID_FILE ((QLSYS_FILE)-1)

#ifdef _WIN32
typedef struct _stat64 QLSYS_STAT;
#else
typedef struct stat QLSYS_STAT;
#endif

QLSYS_FILE qlsys_fopen(const char *pszPath, const char *pszMode);
QLSYS_FILE qlsys_open(const char *pszPath, int nFlags);
// Reads cbSize * cCount bytes; returns the number of whole items read (0 on failure or cbSize 0).
size_t qlsys_fread(void *pBuffer, size_t cbSize, size_t cCount, QLSYS_FILE hFile);
int qlsys_fclose(QLSYS_FILE hFile);
int qlsys_stat(const char *pszPath, QLSYS_STAT *pStat);
int qlsys_unlink(const char *pszPath);
// 0 when the path is accessible in the mode (0 exists, 2 write, 4 read; the execute bit is ignored).
int qlsys_access(const char *pszPath, int nMode);
// Creates every missing directory of the path. The result of the last creation, or -1 when every
// level already existed.
int qlsys_mkdir(const char *pszPath);

// One directory entry. d_ino is always 1; d_off is the entry's 1-based position.
typedef struct QLSYS_DIRENT {
    int32_t d_ino;
    int32_t d_off;
    uint16_t d_namlen;
    char d_name[260];
} QLSYS_DIRENT;
typedef struct QLSYS_DIR QLSYS_DIR;

// A missing directory gives a stream already at its end; any other failure gives null.
QLSYS_DIR *qlsys_opendir(const char *pszPath);
QLSYS_DIRENT *qlsys_readdir(QLSYS_DIR *pDir);
int qlsys_closedir(QLSYS_DIR *pDir);

// Process and system services.
int qlsys_getpid(void);
int qlsys_gettid(void);

typedef struct QLSYS_TIME {
    int nYear, nMonth, nDay, nHour, nMinute, nSecond, nMillisecond;
} QLSYS_TIME;
// The local time now.
void qlsys_localtime(QLSYS_TIME *pTime);

// A text-mode stdio stream for the diagnostic log.
FILE *qlsys_fopen_stdio(const char *pszPath, const char *pszMode);
// Opens the diagnostic log for appending, creating it readable by its owner only. A path the
// reader formed itself (bNamedByUser 0) lies at a predictable name: a symbolic link there is not
// followed, and anything but a regular file of the current user is refused. A path the user named
// is opened as it is (a link, /dev/stderr, a pipe). Null with errno set on failure.
FILE *qlsys_fopen_log(const char *pszPath, int bNamedByUser);

// The separator to append to a directory named by the user: on Windows '/' when the directory
// already uses '/', else '\'; on POSIX always '/'.
char qlsys_dir_separator(const char *pszDir);

// The system's temporary directory, ending in a separator, into pszBuffer (cbBuffer bytes).
// Returns its length, or 0 when it is unknown or does not fit.
size_t qlsys_gettemppath(char *pszBuffer, size_t cbBuffer);

// Creates a new empty file in pszDir named by the first three characters of the prefix, a
// hexadecimal number and ".TMP", and writes its path to pszBuffer. 0 or -1.
int qlsys_gettempfilename(const char *pszDir, const char *pszPrefix, char *pszBuffer, size_t cbBuffer);

// Makes the directory (and its missing parents) for the reader's private use, or reuses it when it
// exists. On POSIX it is created with mode 0700, and an existing path is reused only when it is a
// real directory (not a symbolic link) owned by the current user. 0 or -1.
int qlsys_mkdir_private(const char *pszPath);

// Removes a directory with everything in it, never following symbolic links. On Windows the
// contents go to the recycle bin unless bPermanent is set. 0 or -1; a directory that is already
// gone counts as removed.
int qlsys_rmtree(const char *pszPath, int bPermanent);

// 1 when a process with this ID runs (or may run: one the system does not let us query), 0 when
// none does, -1 when the ID is not a process ID.
int qlsys_process_exists(int nPid);
// 1 when the path is a real directory (not a symbolic link) that the current user owns, else 0.
// On Windows, where the temporary directory is the user's own, any real directory counts.
int qlsys_is_own_dir(const char *pszPath);

// A named mutex shared by the processes of one user, which a crashed holder cannot leave locked:
// a Windows mutex in the session's namespace, or on POSIX a lock file of mode 0600 held with flock
// in a directory of the system's temporary directory that only the user can write. Waits return
// the Windows codes.
#define QLSYS_WAIT_OBJECT_0 0x00000000u
#define QLSYS_WAIT_ABANDONED 0x00000080u // the previous holder ended without releasing it
#define QLSYS_WAIT_TIMEOUT 0x00000102u
#define QLSYS_WAIT_FAILED 0xFFFFFFFFu

typedef struct QLSYS_MUTEX QLSYS_MUTEX;
// Creates or opens the mutex; null on failure (the error number tells why).
QLSYS_MUTEX *qlsys_mutex_open(const char *pszName);
// On POSIX, the path of the mutex's lock file (its directory is created when missing); 0 or -1.
int qlsys_mutex_path(const char *pszName, char *pszBuffer, size_t cbBuffer);
// Waits without a time limit. QLSYS_WAIT_OBJECT_0 when it is now held; QLSYS_WAIT_ABANDONED when
// it is held but the previous holder died holding it (on POSIX: the lock file holds a holder's
// record naming a process that no longer exists); QLSYS_WAIT_FAILED otherwise.
uint32_t qlsys_mutex_lock(QLSYS_MUTEX *pMutex);
// 0, or -1 when it was not held.
int qlsys_mutex_unlock(QLSYS_MUTEX *pMutex);
void qlsys_mutex_close(QLSYS_MUTEX *pMutex);
// The last system error number, for log lines.
int qlsys_last_error(void);

// The name of the time zone in force now (the daylight name while daylight saving applies), in
// the system's own form: "EST" or "CEST" on POSIX, "Eastern Standard Time" on Windows. 0 or -1.
int qlsys_timezone_name(char *pszBuffer, size_t cbBuffer);
