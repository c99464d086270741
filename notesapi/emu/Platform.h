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
