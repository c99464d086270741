// The runtime's handle table. Every Notes handle (memory objects, databases, notes, ID tables,
// and whatever other object kinds come) is a 32-bit value naming one entry: the low 20 bits
// are the slot, the high 12 bits a generation that changes when the slot is freed, so that a
// stale or forged handle is refused instead of reaching another object.
#pragma once

#include <notes/global.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace notesemu {

enum class HandleKind : std::uint8_t {
    Memory,       // DHANDLE memory object (OSMemAlloc, OSLockObject)
    MemoryObject, // MEMHANDLE memory object (OSMemoryAllocate, OSMemoryLock)
    Database,     // DBHANDLE (NSFDbOpen)
    Note,         // NOTEHANDLE (NSFNoteOpenExt); its item pool segments are pinned Memory objects
    IdTable,      // DHANDLE of an ID table (IDCreateTable)
    DxlExporter,  // DXLEXPORTHANDLE (DXLCreateExporter)
};

// An object a handle names other than plain memory. Objects are shared with the callers that
// look them up, so freeing a handle never pulls an object from under a call in progress; an
// object's destructor must not call back into the handle table.
class HandleObject {
public:
    virtual ~HandleObject() = default;
};

// Zero-filled memory with a lock count. The bytes never move while the object exists.
class MemoryBlock {
public:
    static std::unique_ptr<MemoryBlock> allocate(std::size_t size);

    std::byte *data() { return bytes_.get(); }
    std::size_t size() const { return size_; }
    std::uint32_t locks() const { return locks_; }
    void lock() { ++locks_; }
    // Returns false when the block was not locked.
    bool unlock();

private:
    struct FreeDeleter {
        void operator()(std::byte *bytes) const;
    };

    MemoryBlock(std::unique_ptr<std::byte, FreeDeleter> bytes, std::size_t size)
        : bytes_(std::move(bytes)), size_(size) {}

    std::unique_ptr<std::byte, FreeDeleter> bytes_;
    std::size_t size_;
    std::uint32_t locks_ = 0;
};

class HandleTable {
public:
    static constexpr std::uint32_t kSlotBits = 20;
    static constexpr std::uint32_t kMaxSlots = (1U << kSlotBits) - 1;
    // Memory objects larger than this are refused with ERR_MEMORY.
    static constexpr std::size_t kMaxMemorySize = 0x7FFFFFFF;

    // Allocates a zero-filled memory object of the given kind.
    STATUS allocateMemory(HandleKind kind, std::size_t size, DWORD &handle);
    // Frees a memory object; refused (ERR_BAD_PARAM) while it is locked, when the handle is
    // not a live memory object of that kind, or when the object is pinned.
    STATUS freeMemory(HandleKind kind, DWORD handle);
    // A DHANDLE memory object owned by another object (a note's item pool): OSLockObject works
    // on it, OSMemFree refuses it, and only releasePinned frees it (whatever its lock count).
    STATUS allocatePinned(std::size_t size, DWORD &handle);
    void releasePinned(DWORD handle);
    // The object's address with its lock count raised, or nullptr for a bad handle.
    void *lockMemory(HandleKind kind, DWORD handle);
    // False for a bad handle or a block that was not locked.
    bool unlockMemory(HandleKind kind, DWORD handle);
    // False for a bad handle.
    bool memorySize(HandleKind kind, DWORD handle, std::size_t &size);

    // Registers an object under a new handle of the given kind.
    STATUS insertObject(HandleKind kind, std::shared_ptr<HandleObject> object, DWORD &handle);
    // The object a live handle of that kind names, or null.
    std::shared_ptr<HandleObject> object(HandleKind kind, DWORD handle);
    template <class T> std::shared_ptr<T> objectAs(HandleKind kind, DWORD handle) {
        return std::static_pointer_cast<T>(object(kind, handle));
    }
    // Frees an object handle; ERR_BAD_PARAM (logged) when it is not a live handle of that kind.
    // The object itself goes when its last user lets it go.
    STATUS freeObject(HandleKind kind, DWORD handle);

    // Number of live handles.
    std::size_t liveHandles() const;
    // Frees every object (runtime termination); returns how many were still allocated.
    std::size_t clear();

private:
    struct Slot {
        std::uint32_t generation = 1;
        bool used = false;
        HandleKind kind = HandleKind::Memory;
        bool pinned = false;
        std::unique_ptr<MemoryBlock> memory;
        std::shared_ptr<HandleObject> object;
    };

    Slot *find(HandleKind kind, DWORD handle);
    STATUS insert(HandleKind kind, std::unique_ptr<MemoryBlock> memory, std::shared_ptr<HandleObject> object,
                  bool pinned, DWORD &handle);
    void release(Slot &slot, std::uint32_t index, std::vector<std::shared_ptr<HandleObject>> &dropped);

    mutable std::mutex mutex_;
    std::vector<Slot> slots_ = std::vector<Slot>(1); // slot 0 is never used: handle 0 is NULLHANDLE
    std::vector<std::uint32_t> freeSlots_;
    std::size_t live_ = 0;
};

} // namespace notesemu
