// ID tables: the C entry points.
#include "IdTable.h"
#include "Log.h"
#include "Runtime.h"

#include <notes/notes.h>

using notesemu::HandleKind;
using notesemu::IdTable;
using notesemu::Runtime;

namespace {

std::shared_ptr<IdTable> tableOf(DHANDLE handle, const char *function) {
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised()) {
        notesemu::logf("%s called before NotesInitExtended", function);
        return nullptr;
    }
    return runtime.handles().objectAs<IdTable>(HandleKind::IdTable, handle);
}

} // namespace

extern "C" {

NOTESAPI STATUS LNPUBLIC IDCreateTable(DWORD Alignment, DHANDLE *rethTable) {
    if (rethTable == nullptr)
        return ERR_BAD_PARAM;
    *rethTable = NULLHANDLE;
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    // Alignment only tunes a real table's compression; any value gives the same set.
    (void)Alignment;
    return runtime.handles().insertObject(HandleKind::IdTable, std::make_shared<IdTable>(), *rethTable);
}

NOTESAPI STATUS LNPUBLIC IDDestroyTable(DHANDLE hTable) {
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    return runtime.handles().freeObject(HandleKind::IdTable, hTable);
}

NOTESAPI STATUS LNPUBLIC IDInsert(DHANDLE hTable, DWORD id, BOOL *retfInserted) {
    if (retfInserted != nullptr)
        *retfInserted = FALSE;
    const auto table = tableOf(hTable, "IDInsert");
    if (!table)
        return ERR_BAD_PARAM;
    const bool inserted = table->insert(id);
    if (retfInserted != nullptr)
        *retfInserted = inserted ? TRUE : FALSE;
    return NOERROR;
}

NOTESAPI DWORD LNPUBLIC IDEntries(DHANDLE hTable) {
    const auto table = tableOf(hTable, "IDEntries");
    return table ? static_cast<DWORD>(table->size()) : 0;
}

NOTESAPI BOOL LNPUBLIC IDScan(DHANDLE hTable, BOOL fFirst, DWORD *retID) {
    if (retID == nullptr)
        return FALSE;
    const auto table = tableOf(hTable, "IDScan");
    if (!table)
        return FALSE;
    const std::optional<DWORD> id = fFirst ? table->first() : table->next(*retID);
    if (!id)
        return FALSE;
    *retID = *id;
    return TRUE;
}

NOTESAPI STATUS LNPUBLIC IDDeleteAll(DHANDLE hTable) {
    const auto table = tableOf(hTable, "IDDeleteAll");
    if (!table)
        return ERR_BAD_PARAM;
    table->clear();
    return NOERROR;
}

NOTESAPI BOOL LNPUBLIC IDIsPresent(DHANDLE hTable, DWORD id) {
    const auto table = tableOf(hTable, "IDIsPresent");
    return table && table->contains(id) ? TRUE : FALSE;
}

NOTESAPI STATUS LNPUBLIC IDEnumerate(DHANDLE hTable, IDENUMERATEPROC Routine, void *Parameter) {
    if (Routine == nullptr)
        return ERR_BAD_PARAM;
    const auto table = tableOf(hTable, "IDEnumerate");
    if (!table)
        return ERR_BAD_PARAM;
    // A copy, so that the routine may change the table.
    for (const DWORD id : table->snapshot()) {
        if (const STATUS status = Routine(Parameter, id); status != NOERROR)
            return status;
    }
    return NOERROR;
}

} // extern "C"
