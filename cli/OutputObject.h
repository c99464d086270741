// The I/O objects extraction writes into: a file, created only when the reader opens the object,
// and standard output. Both count the bytes written. As the host interface requires, fpClose is
// null while the object is closed.
#pragma once

#include <quillon/quillon.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tessel::cli {

class OutputObject {
public:
    // A file at path (created or truncated at each open), or standard output when path is empty.
    explicit OutputObject(std::filesystem::path path);
    ~OutputObject();
    OutputObject(const OutputObject &) = delete;
    OutputObject &operator=(const OutputObject &) = delete;

    QLIOobj *get() { return &table_.io; }
    uint64_t bytes() const { return bytes_; }
    bool opened() const { return opens_ > 0; }
    // Why an open, write or close failed ("" when nothing did).
    const std::string &error() const { return error_; }

private:
    struct Table {
        QLIOobj io; // first member: the C entries cast their argument back to Table
        OutputObject *self;
    };
    static int QLAPI openEntry(QLIOobj *pIOobj);
    static int QLAPI writeEntry(QLIOobj *pIOobj, const void *pData, uint32_t cb);
    static int QLAPI closeEntry(QLIOobj *pIOobj);
    static OutputObject &from(QLIOobj *pIOobj) { return *reinterpret_cast<Table *>(pIOobj)->self; }

    std::filesystem::path path_;
    std::string name_;
    Table table_{};
    int fd_ = -1;
    uint64_t bytes_ = 0;
    int opens_ = 0;
    std::string error_;
};

} // namespace tessel::cli
