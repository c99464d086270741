// Memory objects: the C entry points over the handle table.
#include "Log.h"
#include "Runtime.h"

#include <notes/notes.h>

using notesemu::HandleKind;
using notesemu::Runtime;

namespace {

notesemu::HandleTable *liveTable(const char *function) {
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised()) {
        notesemu::logf("%s called before NotesInitExtended", function);
        return nullptr;
    }
    return &runtime.handles();
}

} // namespace

extern "C" {

NOTESAPI STATUS LNPUBLIC OSMemAlloc(WORD BlkType, DWORD dwSize, DHANDLE *retHandle) {
    (void)BlkType; // MEM_SHARE and MEM_GROWABLE change nothing in a single-process runtime
    if (retHandle == nullptr)
        return ERR_BAD_PARAM;
    *retHandle = NULLHANDLE;
    notesemu::HandleTable *table = liveTable("OSMemAlloc");
    if (table == nullptr)
        return ERR_NOTES_NOT_INITIALIZED;
    return table->allocateMemory(HandleKind::Memory, dwSize, *retHandle);
}

NOTESAPI STATUS LNPUBLIC OSMemFree(DHANDLE Handle) {
    notesemu::HandleTable *table = liveTable("OSMemFree");
    return table ? table->freeMemory(HandleKind::Memory, Handle) : ERR_NOTES_NOT_INITIALIZED;
}

NOTESAPI STATUS LNPUBLIC OSMemGetSize(DHANDLE Handle, DWORD *retSize) {
    if (retSize == nullptr)
        return ERR_BAD_PARAM;
    *retSize = 0;
    notesemu::HandleTable *table = liveTable("OSMemGetSize");
    if (table == nullptr)
        return ERR_NOTES_NOT_INITIALIZED;
    std::size_t size = 0;
    if (!table->memorySize(HandleKind::Memory, Handle, size))
        return ERR_BAD_PARAM;
    *retSize = static_cast<DWORD>(size);
    return NOERROR;
}

NOTESAPI void *LNPUBLIC OSLockObject(DHANDLE Handle) {
    notesemu::HandleTable *table = liveTable("OSLockObject");
    return table ? table->lockMemory(HandleKind::Memory, Handle) : nullptr;
}

NOTESAPI BOOL LNPUBLIC OSUnlockObject(DHANDLE Handle) {
    notesemu::HandleTable *table = liveTable("OSUnlockObject");
    return (table && table->unlockMemory(HandleKind::Memory, Handle)) ? TRUE : FALSE;
}

NOTESAPI STATUS LNPUBLIC OSMemoryAllocate(DWORD dwtype, DWORD size, MEMHANDLE *rethandle) {
    (void)dwtype; // MEM_SHARE and MEM_GROWABLE change nothing in a single-process runtime
    if (rethandle == nullptr)
        return ERR_BAD_PARAM;
    *rethandle = NULLMEMHANDLE;
    notesemu::HandleTable *table = liveTable("OSMemoryAllocate");
    if (table == nullptr)
        return ERR_NOTES_NOT_INITIALIZED;
    return table->allocateMemory(HandleKind::MemoryObject, size, *rethandle);
}

NOTESAPI void LNPUBLIC OSMemoryFree(MEMHANDLE handle) {
    if (notesemu::HandleTable *table = liveTable("OSMemoryFree"))
        table->freeMemory(HandleKind::MemoryObject, handle);
}

NOTESAPI DWORD LNPUBLIC OSMemoryGetSize(MEMHANDLE handle) {
    notesemu::HandleTable *table = liveTable("OSMemoryGetSize");
    std::size_t size = 0;
    if (table == nullptr || !table->memorySize(HandleKind::MemoryObject, handle, size))
        return 0;
    return static_cast<DWORD>(size);
}

NOTESAPI void *LNPUBLIC OSMemoryLock(MEMHANDLE handle) {
    notesemu::HandleTable *table = liveTable("OSMemoryLock");
    return table ? table->lockMemory(HandleKind::MemoryObject, handle) : nullptr;
}

NOTESAPI BOOL LNPUBLIC OSMemoryUnlock(MEMHANDLE handle) {
    notesemu::HandleTable *table = liveTable("OSMemoryUnlock");
    return (table && table->unlockMemory(HandleKind::MemoryObject, handle)) ? TRUE : FALSE;
}

} // extern "C"
