// Test support shared by every test binary: a temporary folder the test names, environment
// overrides that put the old values back, and reading the diagnostic log a test captured.
#ifndef TESSEL_KIT_TEMPDIR_H
#define TESSEL_KIT_TEMPDIR_H

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::kit {

// A fresh directory under the system's temporary directory ("<prefix>-XXXXXX"), removed with
// everything in it (also what the test made unwritable). Tests copy their inputs into it, so that
// nothing depends on where the checkout lives or what other runs left behind.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "tessel-test");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    // Writes a file below the directory (creating its folders) and returns its path.
    std::filesystem::path write(const std::filesystem::path &relative, std::string_view content) const;
    // Copies a file into the directory under the name given and returns its path.
    std::filesystem::path copy(const std::filesystem::path &from, const std::filesystem::path &relative) const;
    // A whole file's bytes ("" when it cannot be read).
    static std::string read(const std::filesystem::path &file);

private:
    std::filesystem::path path_;
};

// Sets or unsets environment variables for the life of the object and puts the old values back.
class ScopedEnv {
public:
    ScopedEnv() = default;
    // One variable: set to the value, or unset with nullopt.
    ScopedEnv(const std::string &name, const std::optional<std::string> &value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

    void set(const std::string &name, const std::string &value);
    void unset(const std::string &name);

private:
    void remember(const std::string &name);
    std::map<std::string, std::optional<std::string>> saved_;
};

// Makes a directory the current one for the life of the object. Tests that check names derived
// from an input path (its base name stops at the path's first dot) open the input by a relative
// path in their own folder, so that no dot in the temporary directory's path can reach the name.
class ScopedCurrentPath {
public:
    explicit ScopedCurrentPath(const std::filesystem::path &path);
    ~ScopedCurrentPath();
    ScopedCurrentPath(const ScopedCurrentPath &) = delete;
    ScopedCurrentPath &operator=(const ScopedCurrentPath &) = delete;

private:
    std::filesystem::path old_;
};

// A word for /bin/sh: the text in single quotes (a path with blanks or quotes stays one argument).
std::string shellQuote(std::string_view text);

// Log capture: a log file's lines, without their timestamps when asked.
std::string readFile(const std::filesystem::path &path);
std::vector<std::string> splitLines(const std::string &text);
std::vector<std::string> stripTimestamps(const std::vector<std::string> &lines);
bool contains(const std::vector<std::string> &lines, const std::string &line);
// True when some line ends with the text (the text after a line's prefix of subfile counts).
bool anyLineEndsWith(const std::vector<std::string> &lines, const std::string &text);

} // namespace tessel::kit

#endif
