// The POSIX side of Platform.h: file names as bytes, file stamps and reads by offset.
#include "Platform.h"

#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace notesemu {

static FileStamp stampOf(const struct stat &info) {
    FileStamp stamp;
    stamp.size = static_cast<std::uint64_t>(info.st_size);
    stamp.modifiedNs = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    stamp.device = static_cast<std::uint64_t>(info.st_dev);
    stamp.inode = static_cast<std::uint64_t>(info.st_ino);
    return stamp;
}

std::optional<FileStamp> fileStampOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return stampOf(info);
}

std::optional<FileStamp> fileStampOf(const std::filesystem::path &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return std::nullopt;
    return stampOf(info);
}

int openForReadsAt(int fd, const std::filesystem::path &) {
    // pread leaves the file position alone, so a duplicate of the descriptor serves.
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

long long readAt(int fd, void *buffer, std::size_t length, std::uint64_t offset) {
    return ::pread(fd, buffer, length, static_cast<off_t>(offset));
}

void closeDescriptor(int fd) {
    ::close(fd);
}

bool pathFromText(std::string_view text, std::filesystem::path &path) {
    path = std::filesystem::path(std::string(text));
    return true;
}

bool pathFromUtf8(std::string_view text, std::filesystem::path &path) {
    return pathFromText(text, path);
}

std::string pathText(const std::filesystem::path &path) {
    return path.native();
}

std::FILE *openFile(const std::filesystem::path &path, const char *mode) {
    return std::fopen(path.c_str(), mode);
}

std::optional<std::string> environmentText(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace notesemu
