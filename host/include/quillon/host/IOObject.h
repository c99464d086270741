// I/O objects (QLIOobj) over a file and over a string, each with an owner that closes it when it
// goes. While an object is closed its fpClose is null; opening sets it, closing clears it. (The
// memory object that can fail on demand is the test kit's: <tessel/kit/MemoryIOObject.h>.)
#ifndef QUILLON_HOST_IOOBJECT_H
#define QUILLON_HOST_IOOBJECT_H

#include <quillon/quillon.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace quillon {

// An I/O object over a file. Input: open opens the file for reading and write fails. Output:
// open creates or truncates the file, write appends. Opening an object that is already open
// closes it first. close gives 0 when the file could not be flushed.
class FileIOObject {
public:
    enum class Direction { Input, Output };

    FileIOObject(const std::filesystem::path &path, Direction direction);
    ~FileIOObject();
    FileIOObject(FileIOObject &&) noexcept;
    FileIOObject &operator=(FileIOObject &&) noexcept;

    QLIOobj *get();
    bool isOpen() const;
    // Why the last open or write failed ("" when it did not).
    const std::string &error() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// An output I/O object that appends every byte written to it to a string. Opening it again keeps
// what was written before: a reader writes a note and its attachments into one object that way.
class StringIOObject {
public:
    explicit StringIOObject(std::string_view name = "memory");
    ~StringIOObject();
    StringIOObject(StringIOObject &&) noexcept;
    StringIOObject &operator=(StringIOObject &&) noexcept;

    QLIOobj *get();
    const std::string &data() const;
    int openCount() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace quillon

#endif
