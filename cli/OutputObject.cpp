#include "OutputObject.h"

#include "Platform.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tessel::cli {

OutputObject::OutputObject(std::filesystem::path path)
    : path_(std::move(path)), name_(path_.empty() ? std::string("<stdout>") : utf8FromPath(path_)) {
    table_.self = this;
    table_.io.pFileName = name_.data();
    table_.io.fpOpen = &OutputObject::openEntry;
    table_.io.fpWrite = &OutputObject::writeEntry;
    table_.io.fpClose = nullptr;
}

OutputObject::~OutputObject() {
    if (fd_ >= 0)
        flush();
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
        self.fd_ = openForOutput(self.path_);
        if (self.fd_ < 0) {
            self.error_ = "cannot create " + self.name_ + ": " + std::strerror(errno);
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
    // A memo arrives in dozens of small pieces (a header line, a tag); they are gathered so that
    // the file gets a few large writes instead of one system call each.
    if (self.pending_.size() + cb > kBufferSize && !self.flush())
        return 0;
    if (cb >= kBufferSize) {
        if (!self.writeAll(p, cb))
            return 0;
    } else {
        self.pending_.insert(self.pending_.end(), p, p + cb);
    }
    self.bytes_ += cb;
    return 1;
}

bool OutputObject::flush() {
    const bool ok = writeAll(pending_.data(), pending_.size());
    pending_.clear();
    return ok;
}

bool OutputObject::writeAll(const char *p, std::size_t cb) {
    while (cb > 0) {
        const ssize_t n = ::write(fd_, p, cb);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error_ = std::string("write failed: ") + std::strerror(errno);
            return false;
        }
        p += n;
        cb -= static_cast<std::size_t>(n);
    }
    return true;
}

int QLAPI OutputObject::closeEntry(QLIOobj *pIOobj) {
    OutputObject &self = from(pIOobj);
    pIOobj->fpClose = nullptr;
    const bool flushed = self.fd_ < 0 || self.flush();
    if (self.fd_ < 0 || self.path_.empty()) {
        self.fd_ = -1;
        return flushed ? 1 : 0;
    }
    const int result = ::close(self.fd_);
    self.fd_ = -1;
    if (result != 0) {
        self.error_ = std::string("close failed: ") + std::strerror(errno);
        return 0;
    }
    return flushed ? 1 : 0;
}

} // namespace tessel::cli
