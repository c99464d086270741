// The test kit's I/O object over memory: keeps every byte written to it and can be told to fail
// its open, its Nth write or its close. It keeps its old name and namespace, so tests written
// against the host library only change the header they include.
#ifndef TESSEL_KIT_MEMORYIOOBJECT_H
#define TESSEL_KIT_MEMORYIOOBJECT_H

#include <quillon/quillon.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quillon {

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
