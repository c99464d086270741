// Who the process works as: the user of an ID file of the emulated runtime (a small text file:
// "TESSEL-EMU-ID 1", the canonical user name, a 16-byte salt in hex, the SHA-256 of salt and
// password in hex, one per LF-terminated line), or "Anonymous".
#pragma once

#include <notes/global.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace notesemu {

inline constexpr std::string_view kAnonymous = "Anonymous";

struct IdFile {
    std::string userName;
    std::array<std::uint8_t, 16> salt{};
    std::array<std::uint8_t, 32> hash{};
};

// Reads an ID file; ERR_SECURE_NOKEYFILE (reason logged) when it is missing, unreadable or not an
// ID file of this runtime.
STATUS readIdFile(const std::filesystem::path &path, IdFile &file);
bool passwordMatches(const IdFile &file, std::string_view password);

// The current user: the one SECKFMSwitchToIDFile switched to, else the user of the ID file that
// notes.ini names (KeyFileName, else ServerKeyFileName; a bare file name is looked up in the
// Directory variable's folder), else Anonymous.
std::string currentUser();
// Switches the whole process to the ID file's user after checking the password.
STATUS switchIdentity(const std::filesystem::path &path, std::string_view password, std::string &userName);
// Forgets a switch (runtime termination).
void resetIdentity();

} // namespace notesemu
