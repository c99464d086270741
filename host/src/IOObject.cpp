#include <quillon/host/IOObject.h>

#include "PathText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

namespace quillon {

// The C table and the object behind it; an entry's QLIOobj pointer is the table's address.
template <typename Impl> struct IOHeader {
    QLIOobj ql; // first member
    Impl *self;
};

template <typename Impl> Impl &self(QLIOobj *pIOobj) {
    return *reinterpret_cast<IOHeader<Impl> *>(pIOobj)->self;
}


struct FileIOObject::Impl {
    IOHeader<Impl> header;
    std::filesystem::path filePath;
    std::string path; // UTF-8, as the reader gets it
    Direction direction;
    std::FILE *file = nullptr;
    std::string error;

    static int QLAPI open(QLIOobj *pIOobj);
    static int QLAPI write(QLIOobj *pIOobj, const void *pData, uint32_t cb);
    static int QLAPI close(QLIOobj *pIOobj);

    int closeFile() {
        int result = 1;
        if (file != nullptr && std::fclose(file) != 0) {
            error = "cannot close " + path + ": " + std::strerror(errno);
            result = 0;
        }
        file = nullptr;
        header.ql.fpClose = nullptr;
        return result;
    }
};

int QLAPI FileIOObject::Impl::open(QLIOobj *pIOobj) {
    if (pIOobj == nullptr)
        return 0;
    Impl &impl = self<Impl>(pIOobj);
    impl.closeFile();
    impl.error.clear();
    impl.file = openFile(impl.filePath, impl.direction == Direction::Input ? "rb" : "wb");
    if (impl.file == nullptr) {
        impl.error = "cannot open " + impl.path + ": " + std::strerror(errno);
        return 0;
    }
    impl.header.ql.fpClose = close;
    return 1;
}

int QLAPI FileIOObject::Impl::write(QLIOobj *pIOobj, const void *pData, uint32_t cb) {
    if (pIOobj == nullptr)
        return 0;
    Impl &impl = self<Impl>(pIOobj);
    if (impl.file == nullptr || impl.direction != Direction::Output || (pData == nullptr && cb != 0)) {
        impl.error = "write to an I/O object that is not open for output: " + impl.path;
        return 0;
    }
    if (cb != 0 && std::fwrite(pData, 1, cb, impl.file) != cb) {
        impl.error = "cannot write " + impl.path + ": " + std::strerror(errno);
        return 0;
    }
    return 1;
}

int QLAPI FileIOObject::Impl::close(QLIOobj *pIOobj) {
    return pIOobj == nullptr ? 0 : self<Impl>(pIOobj).closeFile();
}

FileIOObject::FileIOObject(const std::filesystem::path &path, Direction direction)
    : impl_(std::make_unique<Impl>()) {
    impl_->filePath = path;
    impl_->path = utf8Text(path);
    impl_->direction = direction;
    impl_->header = {{impl_->path.data(), Impl::open, Impl::write, nullptr}, impl_.get()};
}

FileIOObject::~FileIOObject() {
    if (impl_)
        impl_->closeFile();
}

FileIOObject::FileIOObject(FileIOObject &&) noexcept = default;

FileIOObject &FileIOObject::operator=(FileIOObject &&other) noexcept {
    if (this != &other) {
        if (impl_)
            impl_->closeFile();
        impl_ = std::move(other.impl_);
    }
    return *this;
}

QLIOobj *FileIOObject::get() {
    return &impl_->header.ql;
}

bool FileIOObject::isOpen() const {
    return impl_->file != nullptr;
}

const std::string &FileIOObject::error() const {
    return impl_->error;
}

struct StringIOObject::Impl {
    IOHeader<Impl> header;
    std::string name;
    std::string data;
    bool open = false;
    int opens = 0;

    static int QLAPI openEntry(QLIOobj *pIOobj);
    static int QLAPI writeEntry(QLIOobj *pIOobj, const void *pData, uint32_t cb);
    static int QLAPI closeEntry(QLIOobj *pIOobj);
};

int QLAPI StringIOObject::Impl::openEntry(QLIOobj *pIOobj) {
    if (pIOobj == nullptr)
        return 0;
    Impl &impl = self<Impl>(pIOobj);
    impl.open = true;
    ++impl.opens;
    impl.header.ql.fpClose = closeEntry;
    return 1;
}

int QLAPI StringIOObject::Impl::writeEntry(QLIOobj *pIOobj, const void *pData, uint32_t cb) {
    if (pIOobj == nullptr)
        return 0;
    Impl &impl = self<Impl>(pIOobj);
    if (!impl.open || (pData == nullptr && cb != 0))
        return 0;
    try {
        impl.data.append(static_cast<const char *>(pData), cb);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

int QLAPI StringIOObject::Impl::closeEntry(QLIOobj *pIOobj) {
    if (pIOobj == nullptr)
        return 0;
    Impl &impl = self<Impl>(pIOobj);
    impl.open = false;
    impl.header.ql.fpClose = nullptr;
    return 1;
}

StringIOObject::StringIOObject(std::string_view name) : impl_(std::make_unique<Impl>()) {
    impl_->name = std::string(name);
    impl_->header = {{impl_->name.data(), Impl::openEntry, Impl::writeEntry, nullptr}, impl_.get()};
}

StringIOObject::~StringIOObject() = default;
StringIOObject::StringIOObject(StringIOObject &&) noexcept = default;
StringIOObject &StringIOObject::operator=(StringIOObject &&) noexcept = default;

QLIOobj *StringIOObject::get() {
    return &impl_->header.ql;
}

const std::string &StringIOObject::data() const {
    return impl_->data;
}

int StringIOObject::openCount() const {
    return impl_->opens;
}

} // namespace quillon
