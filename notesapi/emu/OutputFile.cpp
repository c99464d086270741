#include "OutputFile.h"

#include "Log.h"
#include "Platform.h"

#include <notes/notes.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>

namespace notesemu {

STATUS statusForErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERR_NOEXIST;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERR_ACCESS;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
        return ERR_INV_FILE_NAME;
    case EEXIST:
        return ERR_EXISTS;
    default:
        return ERR_CREATE;
    }
}

OutputFile::~OutputFile() {
    if (file_ != nullptr)
        std::fclose(file_);
    if (!committed_) {
        std::error_code ignored;
        if (temporary_.empty())
            std::filesystem::resize_file(target_, 0, ignored);
        else
            std::filesystem::remove(temporary_, ignored);
    }
}

STATUS OutputFile::create(const std::filesystem::path &target, bool overwrite,
                          std::unique_ptr<OutputFile> &out) {
    out.reset();
    if (target.empty() || !target.has_filename()) {
        logf("Cannot write '%s': not a file name", pathText(target).c_str());
        return ERR_INV_FILE_NAME;
    }
    std::error_code error;
    const auto state = std::filesystem::status(target, error);
    if (std::filesystem::is_directory(state)) {
        logf("Cannot write '%s': it is a directory", pathText(target).c_str());
        return ERR_CREATE;
    }
    if (!overwrite && std::filesystem::exists(state)) {
        logf("Cannot write '%s': the file exists and may not be replaced", pathText(target).c_str());
        return ERR_EXISTS;
    }
    if (overwrite && std::filesystem::is_regular_file(state) && std::filesystem::file_size(target, error) == 0 &&
        !error) {
        if (std::FILE *file = openFile(target, "r+b"); file != nullptr) {
            out.reset(new OutputFile(target, {}, file, overwrite));
            return NOERROR;
        }
    }
    // The temporary name is unique within the process and, through the time, across processes;
    // "x" makes the open fail rather than reuse a file someone else made.
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::filesystem::path temporary = target;
        temporary += ".part-" + std::to_string(stamp) + "-" + std::to_string(counter++);
        errno = 0;
        std::FILE *file = openFile(temporary, "wbx");
        if (file != nullptr) {
            out.reset(new OutputFile(target, std::move(temporary), file, overwrite));
            return NOERROR;
        }
        if (errno != EEXIST) {
            const int code = errno;
            logf("Cannot write '%s': %s", pathText(target).c_str(),
                 std::generic_category().message(code).c_str());
            return statusForErrno(code);
        }
    }
    logf("Cannot write '%s': no free temporary name beside it", pathText(target).c_str());
    return ERR_CREATE;
}

STATUS OutputFile::create(const char *targetName, bool overwrite, std::unique_ptr<OutputFile> &out) {
    out.reset();
    std::filesystem::path target;
    if (targetName == nullptr || !pathFromText(targetName, target)) {
        logf("Cannot write '%s': the name is neither in the code page nor in UTF-8",
             targetName != nullptr ? targetName : "");
        return ERR_INV_FILE_NAME;
    }
    return create(target, overwrite, out);
}

STATUS OutputFile::fail(const char *what, int error) {
    logf("Writing '%s' failed (%s): %s", pathText(target_).c_str(), what,
         std::generic_category().message(error).c_str());
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    return statusForErrno(error);
}

STATUS OutputFile::write(std::span<const std::uint8_t> bytes) {
    if (file_ == nullptr)
        return ERR_CREATE;
    if (bytes.empty())
        return NOERROR;
    errno = 0;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
        return fail("write", errno != 0 ? errno : EIO);
    return NOERROR;
}

STATUS OutputFile::commit() {
    if (file_ == nullptr)
        return ERR_CREATE;
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(file_) == 0;
    const int closeError = errno;
    file_ = nullptr;
    if (!flushed || !closed)
        return fail("close", !flushed ? flushError : closeError);
    if (temporary_.empty()) {
        committed_ = true;
        return NOERROR;
    }
    std::error_code error;
    const bool exists = std::filesystem::exists(std::filesystem::symlink_status(target_, error));
    if (!overwrite_ && exists) {
        logf("Cannot write '%s': the file appeared while it was written", pathText(target_).c_str());
        return ERR_EXISTS;
    }
    // A file being replaced is removed before the rename: renaming over an existing file makes
    // some file systems (ext4) write the new data out at once, which costs more than the write.
    if (exists)
        std::filesystem::remove(target_, error);
    std::filesystem::rename(temporary_, target_, error);
    if (error) {
        logf("Cannot write '%s': %s", pathText(target_).c_str(), error.message().c_str());
        return error.category() == std::generic_category() || error.category() == std::system_category()
                   ? statusForErrno(error.value())
                   : ERR_CREATE;
    }
    committed_ = true;
    return NOERROR;
}

} // namespace notesemu
