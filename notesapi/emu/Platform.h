// The few system calls the runtime needs whose spelling differs between POSIX and Windows.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace notesemu {

// The local broken-down time of an instant, and the zone's offset from UTC then in seconds
// (east positive), or nullopt when the instant cannot be represented.
inline std::optional<long> localTimeWithOffset(std::time_t instant, std::tm &out) {
#ifdef _WIN32
    using namespace std::chrono;
    if (localtime_s(&out, &instant) == 0) {
        // The local fields read as UTC give the instant shifted by the offset (computed here:
        // _mkgmtime refuses the local fields of the first hours of 1970 west of UTC).
        const sys_days day{year{out.tm_year + 1900} / month{static_cast<unsigned>(out.tm_mon + 1)} /
                           std::chrono::day{static_cast<unsigned>(out.tm_mday)}};
        const std::int64_t shifted = static_cast<std::int64_t>(day.time_since_epoch().count()) * 86400 +
                                     out.tm_hour * 3600 + out.tm_min * 60 + out.tm_sec;
        return static_cast<long>(shifted - static_cast<std::int64_t>(instant));
    }
    // The C runtime refuses instants before 1970 (some runtimes also those whose local time falls
    // before it, in the first hours of 1970). Windows knows no daylight-saving rules that far
    // back, so those take the zone's standard offset.
    if (instant >= 2 * 86400)
        return std::nullopt;
    _tzset();
    const long offset = -_timezone;
    const sys_seconds local{seconds{static_cast<std::int64_t>(instant) + offset}};
    const sys_days day = floor<days>(local);
    const year_month_day date{day};
    const hh_mm_ss<seconds> time{local - day};
    out = std::tm{};
    out.tm_year = static_cast<int>(date.year()) - 1900;
    out.tm_mon = static_cast<int>(static_cast<unsigned>(date.month())) - 1;
    out.tm_mday = static_cast<int>(static_cast<unsigned>(date.day()));
    out.tm_hour = static_cast<int>(time.hours().count());
    out.tm_min = static_cast<int>(time.minutes().count());
    out.tm_sec = static_cast<int>(time.seconds().count());
    out.tm_wday = static_cast<int>(weekday{day}.c_encoding());
    out.tm_yday = static_cast<int>((day - sys_days{date.year() / January / 1}).count());
    return offset;
#else
    if (localtime_r(&instant, &out) == nullptr)
        return std::nullopt;
    return out.tm_gmtoff;
#endif
}

// What tells one version of a file from another: its size, modification time and identity.
struct FileStamp {
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::uint64_t device = 0, inode = 0;
    bool operator==(const FileStamp &) const = default;
};
// The stamp of an open file, or of a file by path (following links); nullopt when it cannot be had.
std::optional<FileStamp> fileStampOf(int fd);
std::optional<FileStamp> fileStampOf(const std::filesystem::path &path);

// A second descriptor on the file open as fd (which was opened from path), for reads by offset
// that never move fd's own position; -1 when it cannot be had.
int openForReadsAt(int fd, const std::filesystem::path &path);
// Reads up to length bytes at offset: the count read, 0 at the end of the file, -1 on failure.
long long readAt(int fd, void *buffer, std::size_t length, std::uint64_t offset);
void closeDescriptor(int fd);

// File names. Narrow text names a file as its bytes on POSIX. On Windows a narrow name is in the
// code page or in UTF-8 and the file is opened by its UTF-16 name, so that a name outside the code
// page opens too; path.string() there is in the code page and throws for such a name, so log lines
// and keys use pathText instead.

// A path named by narrow text as a caller of the Notes API or notes.ini passes it: on Windows in the
// code page when that names a file, else in UTF-8 (windowsPath). False when the text is neither.
bool pathFromText(std::string_view text, std::filesystem::path &path);
// A path named by UTF-8 text (the form environmentText gives); false when the text is not UTF-8.
bool pathFromUtf8(std::string_view text, std::filesystem::path &path);
// The path as text for log lines and keys: its bytes on POSIX, UTF-8 on Windows. Never throws.
std::string pathText(const std::filesystem::path &path);
// std::fopen by path, whatever its name; errno tells why it failed.
std::FILE *openFile(const std::filesystem::path &path, const char *mode);
// A process environment variable: its bytes on POSIX, UTF-8 on Windows (read in UTF-16, so that a
// file name outside the code page survives); nullopt when it is not set.
std::optional<std::string> environmentText(const char *name);

// The whole content of a file opened with openFile; false when it cannot be opened or read, or
// holds more than maxBytes (a file that grew after its size was checked).
inline bool readWholeFile(const std::filesystem::path &path, std::string &content, std::size_t maxBytes) {
    content.clear();
    std::FILE *file = openFile(path, "rb");
    if (file == nullptr)
        return false;
    char buffer[8192];
    std::size_t got = 0;
    while (content.size() <= maxBytes && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content.append(buffer, got);
    const bool ok = std::ferror(file) == 0 && content.size() <= maxBytes;
    std::fclose(file);
    return ok;
}

#ifdef _WIN32
// SHA-256 of salt || password through Windows' own cryptography (CNG); nullopt when it fails.
std::optional<std::array<std::uint8_t, 32>> systemSha256(std::span<const std::uint8_t> salt,
                                                         std::string_view password);
// A narrow path on Windows, through UTF-16: in the code page, as the Notes C API passes it, when
// that names a file; else in UTF-8, as a host that works in UTF-8 passes it (a name outside the
// code page has no other spelling). False when the text is neither.
bool windowsPath(std::string_view text, std::filesystem::path &path);
#endif

} // namespace notesemu
