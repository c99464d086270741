// The Windows side of Platform.h. It includes no Notes header: windows.h and the Notes API
// declare some of the same type names differently.
#include "Platform.h"

#include <windows.h>

#include <bcrypt.h>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

namespace notesemu {

std::optional<std::array<std::uint8_t, 32>> systemSha256(std::span<const std::uint8_t> salt,
                                                         std::string_view password) {
    std::array<std::uint8_t, 32> digest{};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    const bool ok =
        BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(salt.data()), static_cast<ULONG>(salt.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char *>(password.data())),
                                      static_cast<ULONG>(password.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    if (hash != nullptr)
        BCryptDestroyHash(hash);
    if (algorithm != nullptr)
        BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok)
        return std::nullopt;
    return digest;
}

static FileStamp stampOf(const struct _stat64 &info) {
    FileStamp stamp;
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.modifiedNs = static_cast<std::int64_t>(info.st_mtime) * 1000000000;
    stamp.device = static_cast<std::uint64_t>(info.st_dev);
    stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    return stamp;
}

std::optional<FileStamp> fileStampOf(int fd) {
    struct _stat64 info {};
    if (::_fstat64(fd, &info) != 0)
        return std::nullopt;
    return stampOf(info);
}

std::optional<FileStamp> fileStampOf(const std::filesystem::path &path) {
    struct _stat64 info {};
    if (::_wstat64(path.c_str(), &info) != 0)
        return std::nullopt;
    return stampOf(info);
}

int openForReadsAt(int, const std::filesystem::path &path) {
    // A duplicated handle shares its file position with the original, and a read at an offset
    // moves it: the file is opened once more instead, so that the loader's stream is not
    // disturbed. The stamp checked before each read tells if another file took the name.
    return ::_wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

long long readAt(int fd, void *buffer, std::size_t length, std::uint64_t offset) {
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE)
        return -1;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD wanted = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD got = 0;
    if (!::ReadFile(handle, buffer, wanted, &got, &at))
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return got;
}

void closeDescriptor(int fd) {
    ::_close(fd);
}

namespace {

bool toWide(std::string_view text, UINT codePage, std::wstring &wide) {
    wide.clear();
    if (text.empty())
        return true;
    const int cch = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                        static_cast<int>(text.size()), nullptr, 0);
    if (cch <= 0)
        return false;
    wide.resize(static_cast<std::size_t>(cch));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                               wide.data(), cch) == cch;
}

std::string toUtf8(std::wstring_view wide) {
    if (wide.empty())
        return {};
    // Unpaired surrogates (which Windows allows in names) become U+FFFD.
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                          nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string text(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes, nullptr,
                        nullptr);
    return text;
}

} // namespace

bool pathFromText(std::string_view text, std::filesystem::path &path) {
    return windowsPath(text, path);
}

bool pathFromUtf8(std::string_view text, std::filesystem::path &path) {
    std::wstring wide;
    if (!toWide(text, CP_UTF8, wide))
        return false;
    path = std::move(wide);
    return true;
}

std::string pathText(const std::filesystem::path &path) {
    return toUtf8(path.native());
}

std::FILE *openFile(const std::filesystem::path &path, const char *mode) {
    std::wstring wideMode;
    for (const char *c = mode; *c != '\0'; ++c)
        wideMode.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    return ::_wfopen(path.c_str(), wideMode.c_str());
}

std::optional<std::string> environmentText(const char *name) {
    std::wstring wideName;
    if (!toWide(name, CP_UTF8, wideName))
        return std::nullopt;
    const wchar_t *value = ::_wgetenv(wideName.c_str());
    return value != nullptr ? std::optional<std::string>(toUtf8(value)) : std::nullopt;
}

bool windowsPath(std::string_view text, std::filesystem::path &path) {
    std::wstring ansi, utf8;
    const bool inCodePage = toWide(text, CP_ACP, ansi);
    const bool inUtf8 = toWide(text, CP_UTF8, utf8);
    std::error_code error;
    if (inCodePage && (!inUtf8 || std::filesystem::exists(ansi, error))) {
        path = ansi;
        return true;
    }
    if (inUtf8)
        path = utf8;
    return inUtf8;
}

} // namespace notesemu
