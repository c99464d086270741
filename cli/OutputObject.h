// The I/O objects extraction writes into: a file, created only when the reader opens the object,
// and standard output. Both count the bytes written. Small writes are gathered in a buffer that
// goes out when it is full and at close (whose result reports a failed write). As the host
// interface requires, fpClose is null while the object is closed.
#pragma once

#include <quillon/quillon.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

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
    // Writes the gathered bytes; false (with error_ set) when the file refuses them.
    bool flush();
    bool writeAll(const char *p, std::size_t cb);

    static constexpr std::size_t kBufferSize = 64 * 1024;

    std::filesystem::path path_;
    std::string name_;
    Table table_{};
    int fd_ = -1;
    std::vector<char> pending_; // written but not yet handed to the file
    uint64_t bytes_ = 0;
    int opens_ = 0;
    std::string error_;
};

} // namespace tessel::cli
