#include <tessel/kit/MemoryIOObject.h>

#include <new>

namespace quillon {

namespace {

// The C table and the object behind it; an entry's QLIOobj pointer is the table's address.
template <typename Impl> struct IOHeader {
    QLIOobj ql; // first member
    Impl *self;
};

template <typename Impl> Impl &self(QLIOobj *pIOobj) {
    return *reinterpret_cast<IOHeader<Impl> *>(pIOobj)->self;
}

} // namespace

struct MemoryIOObject::Impl {
    IOHeader<Impl> header;
    std::string name;
    std::string data;
    bool open = false;
    int opens = 0;
    int closes = 0;
    uint64_t writes = 0;
    bool failOpen = false;
    uint64_t failWrite = 0;
    bool failClose = false;

    static int QLAPI openEntry(QLIOobj *pIOobj);
    static int QLAPI writeEntry(QLIOobj *pIOobj, const void *pData, uint32_t cb);
    static int QLAPI closeEntry(QLIOobj *pIOobj);
};

int QLAPI MemoryIOObject::Impl::openEntry(QLIOobj *pIOobj) {
    if (pIOobj == nullptr)
        return 0;
    Impl &impl = self<Impl>(pIOobj);
    if (impl.failOpen)
        return 0;
    impl.open = true;
    ++impl.opens;
    impl.header.ql.fpClose = closeEntry;
    return 1;
}

int QLAPI MemoryIOObject::Impl::writeEntry(QLIOobj *pIOobj, const void *pData, uint32_t cb) {
    if (pIOobj == nullptr)
        return 0;
    Impl &impl = self<Impl>(pIOobj);
    if (!impl.open || (pData == nullptr && cb != 0))
        return 0;
    if (++impl.writes == impl.failWrite)
        return 0;
    try {
        impl.data.append(static_cast<const char *>(pData), cb);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

int QLAPI MemoryIOObject::Impl::closeEntry(QLIOobj *pIOobj) {
    if (pIOobj == nullptr)
        return 0;
    Impl &impl = self<Impl>(pIOobj);
    impl.open = false;
    ++impl.closes;
    impl.header.ql.fpClose = nullptr;
    return impl.failClose ? 0 : 1;
}

MemoryIOObject::MemoryIOObject(std::string_view name) : impl_(std::make_unique<Impl>()) {
    impl_->name = std::string(name);
    impl_->header = {{impl_->name.data(), Impl::openEntry, Impl::writeEntry, nullptr}, impl_.get()};
}

MemoryIOObject::~MemoryIOObject() = default;
MemoryIOObject::MemoryIOObject(MemoryIOObject &&) noexcept = default;
MemoryIOObject &MemoryIOObject::operator=(MemoryIOObject &&) noexcept = default;

QLIOobj *MemoryIOObject::get() {
    return &impl_->header.ql;
}

bool MemoryIOObject::isOpen() const {
    return impl_->open;
}

const std::string &MemoryIOObject::data() const {
    return impl_->data;
}

void MemoryIOObject::clear() {
    impl_->data.clear();
}

int MemoryIOObject::openCount() const {
    return impl_->opens;
}

int MemoryIOObject::closeCount() const {
    return impl_->closes;
}

void MemoryIOObject::failOpen(bool fail) {
    impl_->failOpen = fail;
}

void MemoryIOObject::failWrite(uint64_t n) {
    impl_->failWrite = n;
}

void MemoryIOObject::failClose(bool fail) {
    impl_->failClose = fail;
}

} // namespace quillon
