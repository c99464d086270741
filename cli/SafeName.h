// Names for the files the command line writes. No name that comes from inside a database decides
// where a file lands outside the output folder: each becomes one harmless path component.
#pragma once

#include <set>
#include <string>
#include <string_view>

namespace tessel::cli {

// The longest component written, in bytes (the common file-system limit).
inline constexpr size_t kMaxComponent = 255;

// One path component made from an untrusted name:
// - directory parts are folded into the name: "/" and "\" separate parts, and the parts "", "." and
//   ".." are dropped, the others joined with "_" ("../../etc/passwd" gives "etc_passwd");
// - a drive prefix ("C:") is dropped; control characters, bytes that are not UTF-8 and the characters
//   Windows forbids in names (< > : " | ? *) become "_";
// - leading blanks and trailing blanks and dots are dropped (Windows drops them itself);
// - a Windows device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, CLOCK$, with or
//   without an extension) gets a leading "_";
// - the result is cut to kMaxComponent bytes at a character boundary, keeping a short extension.
// An empty result gives fallback (which the caller makes safe).
std::string safeComponent(std::string_view name, std::string_view fallback);

// A name split at its last dot: {"report", ".pdf"}; a name with only a leading dot (".profile") or
// no dot has no extension.
std::pair<std::string, std::string> splitExtension(std::string_view name);

// True for a Windows device name, compared without regard to case and extension.
bool isDeviceName(std::string_view name);

// The names taken in one folder of one run. Names compare without regard to ASCII case, so that
// the output can be copied to a file system that ignores case without two files becoming one.
class NameAllocator {
public:
    // Returns stem + extension, or the first free "stem (2)" + extension, "stem (3)"... and takes it.
    std::string claim(std::string_view stem, std::string_view extension);
    // As claim, but the bare stem (a folder beside the file) must be free as well and is taken too.
    // Returns the chosen stem.
    std::string claimWithFolder(std::string_view stem, std::string_view extension);
    bool taken(std::string_view name) const;

private:
    std::set<std::string> taken_; // folded names
};

} // namespace tessel::cli
