// The runtime's environment: the Name=Value variables of a notes.ini file, looked up without
// regard to case, and the rules that find that file.
#pragma once

#include <notes/global.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace notesemu {

// Orders names by their ASCII upper-case form, so "keyfilename" finds "KeyFileName".
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view left, std::string_view right) const;
};

class Environment {
public:
    // Reads notes.ini text: "Name=Value" lines, before any section header or in "[Notes]".
    // The first definition of a name wins. Lines that are not variables are logged and skipped.
    static Environment parse(std::string_view text);

    std::optional<std::string> get(std::string_view name) const;
    void set(std::string_view name, std::string_view value);
    void erase(std::string_view name);
    std::size_t size() const { return variables_.size(); }

private:
    std::map<std::string, std::string, CaseInsensitiveLess> variables_;
};

// Where the environment comes from.
struct IniSource {
    STATUS status = NOERROR;                   // ERR_NO_NOTESINI when a named file is missing
    std::optional<std::filesystem::path> path; // empty: no notes.ini, an empty environment
};

// Reads a process environment variable (in UTF-8 on Windows, as environmentText in Platform.h
// gives it); nullopt when it is not set.
using GetEnv = std::function<std::optional<std::string>(const char *name)>;

// The ini file, in order of precedence: an argument "=path" (argv[0] excluded), the file named
// by NOTES_INI, the first notes.ini in a directory of PATH, else none. A file named by an
// argument or by NOTES_INI that does not exist gives ERR_NO_NOTESINI.
IniSource locateIni(std::span<char *const> args, const GetEnv &getEnv);

// Loads the environment from a located source. A file that cannot be read gives
// ERR_NO_NOTESINI.
STATUS loadEnvironment(const IniSource &source, Environment &environment);

} // namespace notesemu
