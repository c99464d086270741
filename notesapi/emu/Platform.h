// The few system calls the runtime needs whose spelling differs between POSIX and Windows.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

namespace notesemu {

// The local broken-down time of an instant, and the zone's offset from UTC then in seconds
// (east positive), or nullopt when the instant cannot be represented.
inline std::optional<long> localTimeWithOffset(std::time_t instant, std::tm &out) {
#ifdef _WIN32
    if (localtime_s(&out, &instant) != 0)
        return std::nullopt;
    // The local fields read as UTC give the instant shifted by the offset.
    std::tm copy = out;
    const std::time_t shifted = _mkgmtime(&copy);
    if (shifted == static_cast<std::time_t>(-1))
        return std::nullopt;
    return static_cast<long>(shifted - instant);
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
