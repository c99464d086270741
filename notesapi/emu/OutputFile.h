// A file written whole or not at all: the bytes go to a temporary file in the target's directory,
// which takes the target's name only when the writer commits. A writer destroyed before that
// removes its temporary file, so a failed write never leaves a partial file behind. An empty file
// that may be replaced (a caller's reserved temporary file) is written in place instead, and is
// emptied again if the write does not commit: creating and renaming a second file for it costs
// more than the write on most file systems.
#pragma once

#include <notes/global.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>

namespace notesemu {

// The OS status for a C library error number: ERR_NOEXIST for a missing directory, ERR_ACCESS for
// a refused or read-only target, ERR_INV_FILE_NAME for a name the system cannot take, ERR_CREATE
// for the rest.
STATUS statusForErrno(int error);

class OutputFile {
public:
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Starts a file for `target`. Without `overwrite` an existing target gives ERR_EXISTS. Failures
    // are logged with the path.
    static STATUS create(const std::filesystem::path &target, bool overwrite,
                         std::unique_ptr<OutputFile> &out);
    // The same for a file named by a caller's narrow text (pathFromText in Platform.h: on Windows
    // in the code page, else in UTF-8); ERR_INV_FILE_NAME when the text is neither.
    static STATUS create(const char *targetName, bool overwrite, std::unique_ptr<OutputFile> &out);

    STATUS write(std::span<const std::uint8_t> bytes);
    // Flushes, closes and renames the file to its target.
    STATUS commit();

private:
    OutputFile(std::filesystem::path target, std::filesystem::path temporary, std::FILE *file, bool overwrite)
        : target_(std::move(target)), temporary_(std::move(temporary)), file_(file), overwrite_(overwrite) {}
    STATUS fail(const char *what, int error);

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    std::FILE *file_;
    bool overwrite_;
    bool committed_ = false;
};

} // namespace notesemu
