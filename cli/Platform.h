// What the command line needs from the operating system, behind one interface: PlatformPosix.cpp
// and PlatformWin32.cpp implement it. Text is UTF-8 everywhere in the program; a path becomes the
// system's form (bytes on POSIX, UTF-16 on Windows) only here. Descriptors opened through these
// functions are binary (no CR LF translation) and not inherited by child processes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::cli {

// A path from UTF-8 text, and back; never throws (text that is not UTF-8 on Windows keeps its
// valid parts, the rest become U+FFFD).
std::filesystem::path pathFromUtf8(std::string_view text);
std::string utf8FromPath(const std::filesystem::path &path);

// Sets the process up before anything else runs: the time zone UTC (the reader turns a note's
// dates into catalogue times through the process's zone, so in UTC every time tessel prints or
// writes is what it says it is, on any machine) and standard output and error in binary mode.
void prepareProcess();
// The command line's arguments in UTF-8 (on Windows from the UTF-16 command line, whatever the
// code page); the program name first.
std::vector<std::string> utf8Arguments(int argc, char **argv);
// This program's file, or an empty path when the system does not say.
std::filesystem::path programPath();

// Opens a file (flags as for open(2), O_CREAT with mode 0644 or 0600 for private); -1 with errno.
int openFile(const std::filesystem::path &path, int flags, bool privateFile = false);
// Opens a file for output, creating it or emptying what it holds; -1 with errno.
int openForOutput(const std::filesystem::path &path);
// Reads up to size bytes at offset without moving a shared position; -1 on failure.
int64_t readAt(int fd, char *buffer, std::size_t size, uint64_t offset);
// The size of an open file, or nullopt.
std::optional<uint64_t> openFileSize(int fd);
bool isTerminal(int fd);

// Checks that path is a regular file this user can open for reading, without blocking on a pipe
// or a device; an empty string when it is, else what the system said.
std::string checkReadable(const std::filesystem::path &path);
// Whether files can be made in the existing folder.
bool canWriteInto(const std::filesystem::path &folder);
// A new empty file in folder, named ".tessel-XXXXXX.part"; nullopt with errno set.
std::optional<std::filesystem::path> makeTemporaryFile(const std::filesystem::path &folder);
// A new folder only this user can enter, in the system's temporary folder; nullopt on failure.
std::optional<std::filesystem::path> makePrivateFolder(std::string_view prefix);
// Renames from to to, failing (errno EEXIST) when to exists; false with errno set.
bool renameNoReplace(const std::filesystem::path &from, const std::filesystem::path &to);
// Renames from to to, replacing a file there; false with errno set.
bool renameReplacing(const std::filesystem::path &from, const std::filesystem::path &to);
// Removes a file; false when it could not.
bool removeFile(const std::filesystem::path &path);

// The process environment, as the plug-in loaded into this process reads it.
void setEnvironment(const char *name, const std::string &value);
void unsetEnvironment(const char *name);

// The name the plug-in gives its log in a folder when the calling thread opens a database.
std::string pluginLogName();

} // namespace tessel::cli
