#include "HandleTable.h"

#include "Log.h"

#include <cstdlib>

namespace notesemu {
namespace {

constexpr std::uint32_t kGenerationMask = (1U << (32 - HandleTable::kSlotBits)) - 1;

const char *kindName(HandleKind kind) {
    switch (kind) {
    case HandleKind::Memory:
        return "DHANDLE memory object";
    case HandleKind::MemoryObject:
        return "MEMHANDLE memory object";
    case HandleKind::Database:
        return "database handle";
    case HandleKind::Note:
        return "note handle";
    case HandleKind::IdTable:
        return "ID table";
    case HandleKind::DxlExporter:
        return "DXL exporter";
    }
    return "handle";
}

bool isMemoryKind(HandleKind kind) {
    return kind == HandleKind::Memory || kind == HandleKind::MemoryObject;
}

} // namespace

void MemoryBlock::FreeDeleter::operator()(std::byte *bytes) const {
    std::free(bytes);
}

std::unique_ptr<MemoryBlock> MemoryBlock::allocate(std::size_t size) {
    // calloc hands out zeroed pages lazily; at least one byte so the address is never null.
    auto *bytes = static_cast<std::byte *>(std::calloc(size == 0 ? 1 : size, 1));
    if (bytes == nullptr)
        return nullptr;
    return std::unique_ptr<MemoryBlock>(
        new MemoryBlock(std::unique_ptr<std::byte, FreeDeleter>(bytes), size));
}

bool MemoryBlock::unlock() {
    if (locks_ == 0)
        return false;
    --locks_;
    return true;
}

HandleTable::Slot *HandleTable::find(HandleKind kind, DWORD handle) {
    const std::uint32_t index = handle & kMaxSlots;
    const std::uint32_t generation = handle >> kSlotBits;
    if (index == 0 || index >= slots_.size())
        return nullptr;
    Slot &slot = slots_[index];
    if (!slot.used || slot.generation != generation || slot.kind != kind)
        return nullptr;
    return &slot;
}

STATUS HandleTable::insert(HandleKind kind, std::unique_ptr<MemoryBlock> memory,
                           std::shared_ptr<HandleObject> object, bool pinned, DWORD &handle) {
    std::uint32_t index;
    if (!freeSlots_.empty()) {
        index = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        if (slots_.size() > kMaxSlots) {
            logf("Handle table full (%u handles)", kMaxSlots);
            return ERR_MEMORY;
        }
        index = static_cast<std::uint32_t>(slots_.size());
        slots_.emplace_back();
    }
    Slot &slot = slots_[index];
    slot.used = true;
    slot.kind = kind;
    slot.pinned = pinned;
    slot.memory = std::move(memory);
    slot.object = std::move(object);
    ++live_;
    handle = (slot.generation << kSlotBits) | index;
    return NOERROR;
}

STATUS HandleTable::allocateMemory(HandleKind kind, std::size_t size, DWORD &handle) {
    handle = NULLHANDLE;
    if (size > kMaxMemorySize) {
        logf("Refused a %s of %zu bytes", kindName(kind), size);
        return ERR_MEMORY;
    }
    std::unique_ptr<MemoryBlock> memory = MemoryBlock::allocate(size);
    if (!memory) {
        logf("Out of memory allocating a %s of %zu bytes", kindName(kind), size);
        return ERR_MEMORY;
    }
    std::lock_guard lock(mutex_);
    return insert(kind, std::move(memory), nullptr, false, handle);
}

STATUS HandleTable::allocatePinned(std::size_t size, DWORD &handle) {
    handle = NULLHANDLE;
    std::unique_ptr<MemoryBlock> memory = size > kMaxMemorySize ? nullptr : MemoryBlock::allocate(size);
    if (!memory) {
        logf("Out of memory allocating a note pool segment of %zu bytes", size);
        return ERR_MEMORY;
    }
    std::lock_guard lock(mutex_);
    return insert(HandleKind::Memory, std::move(memory), nullptr, true, handle);
}

void HandleTable::release(Slot &slot, std::uint32_t index,
                          std::vector<std::shared_ptr<HandleObject>> &dropped) {
    slot.memory.reset();
    if (slot.object)
        dropped.push_back(std::move(slot.object));
    slot.object.reset();
    slot.used = false;
    slot.pinned = false;
    slot.generation = (slot.generation + 1) & kGenerationMask;
    if (slot.generation == 0)
        slot.generation = 1;
    freeSlots_.push_back(index);
    --live_;
}

void HandleTable::releasePinned(DWORD handle) {
    std::vector<std::shared_ptr<HandleObject>> dropped;
    std::lock_guard lock(mutex_);
    Slot *slot = find(HandleKind::Memory, handle);
    if (slot == nullptr || !slot->pinned) {
        logf("Release of handle 0x%08X, which is not a live pool segment", handle);
        return;
    }
    release(*slot, handle & kMaxSlots, dropped);
}

STATUS HandleTable::insertObject(HandleKind kind, std::shared_ptr<HandleObject> object, DWORD &handle) {
    handle = NULLHANDLE;
    if (isMemoryKind(kind) || !object)
        return ERR_BAD_PARAM;
    std::lock_guard lock(mutex_);
    return insert(kind, nullptr, std::move(object), false, handle);
}

std::shared_ptr<HandleObject> HandleTable::object(HandleKind kind, DWORD handle) {
    std::lock_guard lock(mutex_);
    Slot *slot = find(kind, handle);
    if (slot == nullptr) {
        logf("Use of handle 0x%08X, which is not a live %s", handle, kindName(kind));
        return nullptr;
    }
    return slot->object;
}

STATUS HandleTable::freeObject(HandleKind kind, DWORD handle) {
    std::vector<std::shared_ptr<HandleObject>> dropped;
    std::lock_guard lock(mutex_);
    Slot *slot = find(kind, handle);
    if (slot == nullptr || isMemoryKind(kind)) {
        logf("Free of handle 0x%08X, which is not a live %s", handle, kindName(kind));
        return ERR_BAD_PARAM;
    }
    release(*slot, handle & kMaxSlots, dropped);
    return NOERROR;
}

STATUS HandleTable::freeMemory(HandleKind kind, DWORD handle) {
    std::lock_guard lock(mutex_);
    Slot *slot = find(kind, handle);
    if (slot == nullptr) {
        logf("Free of handle 0x%08X, which is not a live %s", handle, kindName(kind));
        return ERR_BAD_PARAM;
    }
    if (slot->pinned) {
        logf("Free of handle 0x%08X refused: it belongs to an open note and goes with NSFNoteClose", handle);
        return ERR_BAD_PARAM;
    }
    if (slot->memory->locks() != 0) {
        logf("Free of handle 0x%08X refused: still locked %u time(s)", handle, slot->memory->locks());
        return ERR_BAD_PARAM;
    }
    std::vector<std::shared_ptr<HandleObject>> dropped;
    release(*slot, handle & kMaxSlots, dropped);
    return NOERROR;
}

void *HandleTable::lockMemory(HandleKind kind, DWORD handle) {
    std::lock_guard lock(mutex_);
    Slot *slot = find(kind, handle);
    if (slot == nullptr) {
        logf("Lock of handle 0x%08X, which is not a live %s", handle, kindName(kind));
        return nullptr;
    }
    slot->memory->lock();
    return slot->memory->data();
}

bool HandleTable::unlockMemory(HandleKind kind, DWORD handle) {
    std::lock_guard lock(mutex_);
    Slot *slot = find(kind, handle);
    if (slot == nullptr) {
        logf("Unlock of handle 0x%08X, which is not a live %s", handle, kindName(kind));
        return false;
    }
    if (!slot->memory->unlock()) {
        logf("Unlock of handle 0x%08X, which is not locked", handle);
        return false;
    }
    return true;
}

bool HandleTable::memorySize(HandleKind kind, DWORD handle, std::size_t &size) {
    std::lock_guard lock(mutex_);
    Slot *slot = find(kind, handle);
    if (slot == nullptr) {
        logf("Size of handle 0x%08X, which is not a live %s", handle, kindName(kind));
        return false;
    }
    size = slot->memory->size();
    return true;
}

std::size_t HandleTable::liveHandles() const {
    std::lock_guard lock(mutex_);
    return live_;
}

std::size_t HandleTable::clear() {
    // Objects are destroyed after the lock is released (declared first, destroyed last).
    std::vector<std::shared_ptr<HandleObject>> dropped;
    std::lock_guard lock(mutex_);
    const std::size_t leaked = live_;
    // Generations go on counting, so handles from before the clear stay invalid.
    for (std::uint32_t index = 1; index < slots_.size(); ++index) {
        Slot &slot = slots_[index];
        if (slot.used)
            release(slot, index, dropped);
    }
    return leaked;
}

} // namespace notesemu
