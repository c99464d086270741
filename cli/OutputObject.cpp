#include "OutputObject.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessel::cli {

OutputObject::OutputObject(std::filesystem::path path)
    : path_(std::move(path)), name_(path_.empty() ? std::string("<stdout>") : path_.string()) {
    table_.self = this;
    table_.io.pFileName = name_.data();
    table_.io.fpOpen = &OutputObject::openEntry;
    table_.io.fpWrite = &OutputObject::writeEntry;
    table_.io.fpClose = nullptr;
}

OutputObject::~OutputObject() {
    if (fd_ >= 0 && !path_.empty())
        ::close(fd_);
}

int QLAPI OutputObject::openEntry(QLIOobj *pIOobj) {
    OutputObject &self = from(pIOobj);
    if (self.fd_ >= 0)
        closeEntry(pIOobj);
    if (self.path_.empty()) {
        self.fd_ = STDOUT_FILENO;
    } else {
        self.fd_ = ::open(self.path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (self.fd_ < 0) {
            self.error_ = "cannot create " + self.path_.string() + ": " + std::strerror(errno);
            return 0;
        }
        self.bytes_ = 0;
    }
    self.opens_++;
    pIOobj->fpClose = &OutputObject::closeEntry;
    return 1;
}

int QLAPI OutputObject::writeEntry(QLIOobj *pIOobj, const void *pData, uint32_t cb) {
    OutputObject &self = from(pIOobj);
    if (self.fd_ < 0) {
        self.error_ = "write to a closed output";
        return 0;
    }
    const auto *p = static_cast<const char *>(pData);
    uint32_t left = cb;
    while (left > 0) {
        const ssize_t n = ::write(self.fd_, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            self.error_ = std::string("write failed: ") + std::strerror(errno);
            return 0;
        }
        p += n;
        left -= static_cast<uint32_t>(n);
        self.bytes_ += static_cast<uint64_t>(n);
    }
    return 1;
}

int QLAPI OutputObject::closeEntry(QLIOobj *pIOobj) {
    OutputObject &self = from(pIOobj);
    pIOobj->fpClose = nullptr;
    if (self.fd_ < 0 || self.path_.empty()) {
        self.fd_ = -1;
        return 1;
    }
    const int result = ::close(self.fd_);
    self.fd_ = -1;
    if (result != 0) {
        self.error_ = std::string("close failed: ") + std::strerror(errno);
        return 0;
    }
    return 1;
}

} // namespace tessel::cli
