// The host's configuration: named sections of key and value strings, read from an INI file and
// overridden by values set in code (the command line's options).
#ifndef QUILLON_HOST_CONFIG_H
#define QUILLON_HOST_CONFIG_H

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

// INI format: "[section]" lines, "key = value" lines, comments starting with ';' or '#', blank
// lines. Names are trimmed and compared without regard to ASCII case; values are trimmed, and a
// value wrapped in double quotes loses the quotes (so that it may keep leading or trailing blanks).
// A later value for the same key replaces an earlier one. A line that fits none of these forms
// (no '=', an empty key, an unclosed section, a key before any section, a NUL byte) is skipped and
// reported in warnings(); it never stops the reading.
class Config {
public:
    // The section of the plug-in's options and the section of the converter's keys.
    static constexpr std::string_view kReaderSection = "tessel";
    static constexpr std::string_view kConverterSection = "sorrel";

    // Reads a file into the file layer. False, with a warning, when the file cannot be read.
    bool loadFile(const std::filesystem::path &path);
    // Reads INI text into the file layer; origin names it in warnings.
    void loadText(std::string_view text, std::string_view origin = "<text>");

    // Sets a value that wins over any value from a file, whenever the file is read.
    void set(std::string_view section, std::string_view key, std::string_view value);
    // Removes a value set in code.
    void unset(std::string_view section, std::string_view key);

    // The value of a key, overrides first; nullopt when the key is in neither layer.
    std::optional<std::string> get(std::string_view section, std::string_view key) const;

    // One line per skipped line or unreadable file: "<origin>:<line>: <reason>".
    const std::vector<std::string> &warnings() const { return warnings_; }

private:
    using Values = std::map<std::string, std::string>; // "section\nkey", lower case -> value

    static std::string makeKey(std::string_view section, std::string_view key);

    Values fileValues_;
    Values overrides_;
    std::vector<std::string> warnings_;
};

} // namespace quillon

#endif
