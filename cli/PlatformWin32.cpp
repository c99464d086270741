#include "Platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <shellapi.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace tessel::cli {
namespace fs = std::filesystem;
namespace {

std::wstring wideFromUtf8(std::string_view text) {
    if (text.empty())
        return {};
    const int cch = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(cch), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), cch);
    return wide;
}

std::string utf8FromWide(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int cb = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                       nullptr, nullptr);
    std::string text(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), cb, nullptr,
                        nullptr);
    return text;
}

// errno for the last Windows error of a file operation.
void setErrnoFromLastError() {
    switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        errno = EEXIST;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        errno = ENOENT;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        errno = EACCES;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        errno = ENOSPC;
        break;
    case ERROR_NOT_SAME_DEVICE:
        errno = EXDEV;
        break;
    default:
        errno = EIO;
        break;
    }
}

// Eight random letters and digits for a new file's name.
std::string randomPart() {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::mt19937 generator{std::random_device{}() ^ GetCurrentProcessId() ^ GetTickCount()};
    std::uniform_int_distribution<size_t> pick(0, sizeof kChars - 2);
    std::string part;
    for (int i = 0; i < 8; i++)
        part += kChars[pick(generator)];
    return part;
}

} // namespace

fs::path pathFromUtf8(std::string_view text) {
    return fs::path(wideFromUtf8(text));
}

std::string utf8FromPath(const fs::path &path) {
    return utf8FromWide(path.native());
}

void prepareProcess() {
    // The C runtime's time functions (the plug-in shares msvcrt.dll with this program) follow TZ.
    _putenv_s("TZ", "UTC");
    _tzset();
    // Extracted bytes go to standard output as they are; messages end in LF as on every system.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

std::vector<std::string> utf8Arguments(int argc, char **argv) {
    int count = 0;
    LPWSTR *wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr)
        return {argv, argv + argc};
    std::vector<std::string> arguments;
    for (int i = 0; i < count; i++)
        arguments.push_back(utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}

fs::path programPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD cch = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (cch == 0)
            return {};
        if (cch < buffer.size()) {
            buffer.resize(cch);
            return fs::path(buffer);
        }
        if (buffer.size() > 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

int openFile(const fs::path &path, int flags, [[maybe_unused]] bool privateFile) {
    // Windows has no mode bits for other users: a file is private by the folder it is made in.
    return ::_wopen(path.c_str(), flags | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
}

int openForOutput(const fs::path &path) {
    return openFile(path, _O_WRONLY | _O_CREAT | _O_TRUNC);
}

int64_t readAt(int fd, char *buffer, std::size_t size, uint64_t offset) {
    if (::_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) < 0)
        return -1;
    return ::_read(fd, buffer, static_cast<unsigned>(size));
}

std::optional<uint64_t> openFileSize(int fd) {
    const __int64 size = ::_filelengthi64(fd);
    if (size < 0)
        return std::nullopt;
    return static_cast<uint64_t>(size);
}

bool isTerminal(int fd) {
    // A console that understands the escape sequences the progress bar draws with (Windows 10 and
    // later); _isatty() says yes to NUL as well.
    HANDLE console = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    DWORD mode = 0;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

std::string checkReadable(const fs::path &path) {
    // A device name (CON, a COM port) is never a regular file, so the caller never gets here for
    // one; CreateFileW then opens nothing that can block.
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        setErrnoFromLastError();
        return std::strerror(errno);
    }
    CloseHandle(file);
    return {};
}

bool canWriteInto(const fs::path &folder) {
    // The read-only attribute of a folder does not stop files being made in it; only the access
    // rights do, and trying is the one reliable way to learn them.
    const auto probe = makeTemporaryFile(folder);
    if (!probe)
        return false;
    removeFile(*probe);
    return true;
}

std::optional<fs::path> makeTemporaryFile(const fs::path &folder) {
    for (int attempt = 0; attempt < 100; attempt++) {
        fs::path candidate = folder / pathFromUtf8(".tessel-" + randomPart() + ".part");
        const int fd = openFile(candidate, _O_RDWR | _O_CREAT | _O_EXCL, true);
        if (fd >= 0) {
            ::_close(fd);
            return candidate;
        }
        if (errno != EEXIST)
            return std::nullopt;
    }
    errno = EEXIST;
    return std::nullopt;
}

std::optional<fs::path> makePrivateFolder(std::string_view prefix) {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec)
        return std::nullopt;
    // Made in the user's own temporary folder, whose access rights already keep other users out.
    for (int attempt = 0; attempt < 100; attempt++) {
        fs::path candidate = base / pathFromUtf8(std::string(prefix) + randomPart());
        if (CreateDirectoryW(candidate.c_str(), nullptr))
            return candidate;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::nullopt;
    }
    return std::nullopt;
}

bool renameNoReplace(const fs::path &from, const fs::path &to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    if (MoveFileExW(from.c_str(), to.c_str(), 0))
        return true;
    setErrnoFromLastError();
    return false;
}

bool renameReplacing(const fs::path &from, const fs::path &to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    setErrnoFromLastError();
    return false;
}

bool removeFile(const fs::path &path) {
    return DeleteFileW(path.c_str()) != 0;
}

void setEnvironment(const char *name, const std::string &value) {
    _putenv_s(name, value.c_str());
}

void unsetEnvironment(const char *name) {
    // An empty value removes the variable.
    _putenv_s(name, "");
}

std::string pluginLogName() {
    return "tessel_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(GetCurrentThreadId()) +
           ".log";
}

} // namespace tessel::cli
