#include <quillon/host/Stream.h>

#include <quillon/host/Allocator.h>

#include "PathText.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace quillon {

namespace {

// Access a mode grants, parsed from its fopen spelling.
struct Mode {
    std::string fopenMode; // normalised: "rb", "w+b", ...
    bool append = false;
};

bool parseMode(std::string_view mode, Mode &parsed) {
    static constexpr std::string_view kModes[] = {"rb", "wb", "ab", "r+b", "w+b", "a+b", "rb+", "wb+", "ab+"};
    for (std::string_view known : kModes) {
        if (mode == known) {
            parsed.fopenMode =
                std::string(1, mode[0]) + (mode.find('+') != std::string_view::npos ? "+b" : "b");
            parsed.append = mode[0] == 'a';
            return true;
        }
    }
    return false;
}

class StreamBase;

int QLAPI entryOpen(QLStream *pStream);
uint32_t QLAPI entryRead(QLStream *pStream, void *pBuffer, uint32_t cb);
uint32_t QLAPI entryWrite(QLStream *pStream, const void *pData, uint32_t cb);
int QLAPI entrySeek(QLStream *pStream, int64_t offset, int origin);
int64_t QLAPI entryTell(QLStream *pStream);
void QLAPI entryClose(QLStream *pStream);

constexpr QLStream kEntries = {entryOpen, entryRead, entryWrite, entrySeek, entryTell, entryClose};

// The C table and the object it belongs to; an entry's QLStream pointer is the table's address.
struct StreamHeader {
    QLStream ql; // first member
    StreamBase *self;
};

class StreamBase {
public:
    virtual ~StreamBase() = default;
    virtual int open() = 0;
    virtual uint32_t read(void *pBuffer, uint32_t cb) = 0;
    virtual uint32_t write(const void *pData, uint32_t cb) = 0;
    virtual int seek(int64_t offset, int origin) = 0;
    virtual int64_t tell() = 0;

    QLStream *table() { return &header_.ql; }

private:
    StreamHeader header_{kEntries, this};
};

StreamBase &self(QLStream *pStream) {
    return *reinterpret_cast<StreamHeader *>(pStream)->self;
}

int QLAPI entryOpen(QLStream *pStream) {
    return pStream == nullptr ? 0 : self(pStream).open();
}

uint32_t QLAPI entryRead(QLStream *pStream, void *pBuffer, uint32_t cb) {
    if (pStream == nullptr || (pBuffer == nullptr && cb != 0))
        return 0;
    return self(pStream).read(pBuffer, cb);
}

uint32_t QLAPI entryWrite(QLStream *pStream, const void *pData, uint32_t cb) {
    if (pStream == nullptr || (pData == nullptr && cb != 0))
        return 0;
    return self(pStream).write(pData, cb);
}

int QLAPI entrySeek(QLStream *pStream, int64_t offset, int origin) {
    return pStream == nullptr ? 0 : self(pStream).seek(offset, origin);
}

int64_t QLAPI entryTell(QLStream *pStream) {
    return pStream == nullptr ? -1 : self(pStream).tell();
}

void QLAPI entryClose(QLStream *pStream) {
    if (pStream != nullptr)
        delete &self(pStream);
}

#ifdef _WIN32
int seekFile(std::FILE *file, int64_t offset, int origin) {
    return _fseeki64(file, offset, origin);
}
int64_t tellFile(std::FILE *file) {
    return _ftelli64(file);
}
#else
int seekFile(std::FILE *file, int64_t offset, int origin) {
    if (static_cast<int64_t>(static_cast<off_t>(offset)) != offset)
        return -1;
    return fseeko(file, static_cast<off_t>(offset), origin);
}
int64_t tellFile(std::FILE *file) {
    return static_cast<int64_t>(ftello(file));
}
#endif

// The position a seek asks for, or -1 when it is negative or does not fit.
int64_t seekTarget(int64_t offset, int origin, int64_t position, int64_t size) {
    int64_t base;
    switch (origin) {
    case 0:
        base = 0;
        break;
    case 1:
        base = position;
        break;
    case 2:
        base = size;
        break;
    default:
        return -1;
    }
    if ((offset > 0 && base > std::numeric_limits<int64_t>::max() - offset))
        return -1;
    int64_t target = base + offset;
    return target < 0 ? -1 : target;
}

constexpr size_t kMaxMemoryStreamSize = kMaxBlockSize;

class MemoryStream final : public StreamBase {
public:
    explicit MemoryStream(bool append) : append_(append) {}

    int open() override {
        bytes_.clear();
        position_ = 0;
        return 1;
    }

    uint32_t read(void *pBuffer, uint32_t cb) override {
        if (position_ >= bytes_.size())
            return 0;
        const size_t start = static_cast<size_t>(position_);
        size_t cbRead = std::min<size_t>(cb, bytes_.size() - start);
        std::memcpy(pBuffer, bytes_.data() + start, cbRead);
        position_ += cbRead;
        return static_cast<uint32_t>(cbRead);
    }

    uint32_t write(const void *pData, uint32_t cb) override {
        const uint64_t start = append_ ? bytes_.size() : position_;
        // A memory stream holds at most kMaxMemoryStreamSize bytes, as any block of the host does.
        if (start > kMaxMemoryStreamSize || cb > kMaxMemoryStreamSize - start)
            return 0;
        const size_t end = static_cast<size_t>(start + cb);
        try {
            if (end > bytes_.size())
                bytes_.resize(end);
        } catch (const std::exception &) {
            return 0;
        }
        if (cb != 0)
            std::memcpy(bytes_.data() + static_cast<size_t>(start), pData, cb);
        position_ = end;
        return cb;
    }

    int seek(int64_t offset, int origin) override {
        int64_t target =
            seekTarget(offset, origin, static_cast<int64_t>(position_), static_cast<int64_t>(bytes_.size()));
        if (target < 0)
            return 0;
        position_ = static_cast<uint64_t>(target);
        return 1;
    }

    int64_t tell() override { return static_cast<int64_t>(position_); }

private:
    std::vector<unsigned char> bytes_;
    // 64 bits wide on every system: a position past the end is valid, and on 32-bit systems one
    // beyond 4 GB must not wrap round to the start of the bytes.
    uint64_t position_ = 0;
    bool append_;
};

class FileStream final : public StreamBase {
public:
    FileStream(std::filesystem::path path, std::string mode) : path_(std::move(path)), mode_(std::move(mode)) {}
    ~FileStream() override { closeFile(); }

    bool openFile() {
        closeFile();
        file_ = quillon::openFile(path_, mode_.c_str());
        return file_ != nullptr;
    }

    int open() override { return openFile() ? 1 : 0; }

    // The mode decides, not the C runtime: Windows' fread on a stream opened only for writing
    // returns bytes and moves the position, which then leaves a hole in the file.
    uint32_t read(void *pBuffer, uint32_t cb) override {
        if (file_ == nullptr || !readable())
            return 0;
        return static_cast<uint32_t>(std::fread(pBuffer, 1, cb, file_));
    }

    uint32_t write(const void *pData, uint32_t cb) override {
        if (file_ == nullptr || !writable())
            return 0;
        return static_cast<uint32_t>(std::fwrite(pData, 1, cb, file_));
    }

    int seek(int64_t offset, int origin) override {
        if (file_ == nullptr)
            return 0;
        int64_t position = tellFile(file_);
        if (position < 0 || seekFile(file_, 0, SEEK_END) != 0)
            return 0;
        int64_t size = tellFile(file_);
        int64_t target = seekTarget(offset, origin, position, size);
        if (target < 0 || seekFile(file_, target, SEEK_SET) != 0) {
            seekFile(file_, position, SEEK_SET);
            return 0;
        }
        return 1;
    }

    int64_t tell() override {
        if (file_ == nullptr)
            return -1;
        int64_t position = tellFile(file_);
        return position < 0 ? -1 : position;
    }

private:
    bool readable() const { return mode_[0] == 'r' || mode_.find('+') != std::string::npos; }
    bool writable() const { return mode_[0] != 'r' || mode_.find('+') != std::string::npos; }

    void closeFile() {
        if (file_ != nullptr)
            std::fclose(file_);
        file_ = nullptr;
    }

    std::filesystem::path path_;
    std::string mode_;
    std::FILE *file_ = nullptr;
};

} // namespace

QLStream *openStream(const char *pszPath, const char *pszMode) {
    Mode mode;
    if (pszMode == nullptr || !parseMode(pszMode, mode))
        return nullptr;
    try {
        if (pszPath == nullptr) {
            if (mode.fopenMode != "a+b" && mode.fopenMode != "w+b")
                return nullptr;
            return (new MemoryStream(mode.append))->table();
        }
        // The reader's paths are UTF-8: on Windows the file is opened by its UTF-16 name.
        std::filesystem::path path;
        if (!pathFromUtf8(pszPath, path))
            return nullptr;
        auto stream = std::make_unique<FileStream>(std::move(path), mode.fopenMode);
        if (!stream->openFile())
            return nullptr;
        return stream.release()->table();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

} // namespace quillon
