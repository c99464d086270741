// I/O objects (QLIOobj) over a file and over memory, each with an owner that closes it when it
// goes. While an object is closed its fpClose is null; opening sets it, closing clears it.
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

// An I/O object that keeps in memory every byte written to it. Opening it again keeps what was
// captured before (a reader writes several extractions into one object). For tests, the object
// can be told to fail its open, its Nth write or its close.
class MemoryIOObject {
public:
    // name becomes pFileName (the reader only logs the name of an output object).
    explicit MemoryIOObject(std::string_view name = "memory");
    ~MemoryIOObject();
    MemoryIOObject(MemoryIOObject &&) noexcept;
    MemoryIOObject &operator=(MemoryIOObject &&) noexcept;

    QLIOobj *get();
    bool isOpen() const;
    const std::string &data() const;
    void clear();
    int openCount() const;
    int closeCount() const;

    void failOpen(bool fail);
    // Makes write number n (from 1, counted across opens) fail; 0 turns it off.
    void failWrite(uint64_t n);
    void failClose(bool fail);

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace quillon

#endif
