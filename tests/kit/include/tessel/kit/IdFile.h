// ID files of the emulated Notes runtime: four LF-terminated lines, the magic "TESSEL-EMU-ID 1",
// the canonical user name, a 16-byte salt in lower-case hex and the lower-case hex SHA-256 of the
// salt bytes followed by the password bytes.
#pragma once

#include "tessel/kit/Random.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace tessel::kit {

using Salt = std::array<std::uint8_t, 16>;

// A salt from the system's random source (OpenSSL RAND_bytes; BCryptGenRandom on Windows). Throws std::runtime_error on failure.
Salt randomSalt();
// A salt drawn from a seeded source, for reproducible test files.
Salt seededSalt(Random &random);

// SHA-256 of the bytes, as 64 lower-case hex digits (OpenSSL; CNG on Windows). Throws
// std::runtime_error on failure.
std::string sha256Hex(std::span<const std::uint8_t> bytes);
// SHA-256 of salt || password, as 64 lower-case hex digits.
std::string passwordHash(const Salt &salt, std::string_view password);
std::string idFileText(std::string_view canonicalName, std::string_view password, const Salt &salt);
// Writes the file (binary mode, so the line ends stay LF). Throws std::runtime_error on failure.
void writeIdFile(const std::filesystem::path &path, std::string_view canonicalName, std::string_view password,
                 const Salt &salt);

} // namespace tessel::kit
