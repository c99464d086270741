#include "Platform.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessel::cli {
namespace fs = std::filesystem;

fs::path pathFromUtf8(std::string_view text) {
    return fs::path(std::string(text));
}

std::string utf8FromPath(const fs::path &path) {
    return path.string();
}

void prepareProcess() {
    setenv("TZ", "UTC", 1);
    tzset();
}

std::vector<std::string> utf8Arguments(int argc, char **argv) {
    return {argv, argv + argc};
}

fs::path programPath() {
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self;
}

int openFile(const fs::path &path, int flags, bool privateFile) {
    return ::open(path.c_str(), flags | O_CLOEXEC, privateFile ? 0600 : 0644);
}

int openForOutput(const fs::path &path) {
    // Truncated only when it holds something: on ext4, truncating a file (even an empty one) makes
    // its close write the new data out at once, a disk write per extracted file.
    const int fd = openFile(path, O_WRONLY | O_CREAT);
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || (st.st_size != 0 && ::ftruncate(fd, 0) != 0))) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int64_t readAt(int fd, char *buffer, std::size_t size, uint64_t offset) {
    return ::pread(fd, buffer, size, static_cast<off_t>(offset));
}

std::optional<uint64_t> openFileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(info.st_size);
}

bool isTerminal(int fd) {
    return ::isatty(fd) == 1;
}

std::string checkReadable(const fs::path &path) {
    // O_NONBLOCK: a FIFO put in the file's place after the check must not block the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return {};
}

bool canWriteInto(const fs::path &folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::optional<fs::path> makeTemporaryFile(const fs::path &folder) {
    std::string pattern = (folder / ".tessel-XXXXXX.part").string();
    const int fd = ::mkstemps(pattern.data(), 5);
    if (fd < 0)
        return std::nullopt;
    ::close(fd);
    return fs::path(pattern);
}

std::optional<fs::path> makePrivateFolder(std::string_view prefix) {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec)
        return std::nullopt;
    std::string pattern = (base / (std::string(prefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return std::nullopt;
    return fs::path(pattern);
}

bool renameNoReplace(const fs::path &from, const fs::path &to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link fails when the name is taken.
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

bool renameReplacing(const fs::path &from, const fs::path &to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

bool removeFile(const fs::path &path) {
    return ::unlink(path.c_str()) == 0;
}

void setEnvironment(const char *name, const std::string &value) {
    ::setenv(name, value.c_str(), 1);
}

void unsetEnvironment(const char *name) {
    ::unsetenv(name);
}

std::string pluginLogName() {
    const auto pid = static_cast<long>(::getpid());
    const auto tid = static_cast<long>(::syscall(SYS_gettid));
    return "tessel_" + std::to_string(pid) + "_" + std::to_string(tid) + ".log";
}

} // namespace tessel::cli
