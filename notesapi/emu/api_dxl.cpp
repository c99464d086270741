// DXL export: the C entry points.
#include "DxlExporter.h"
#include "Log.h"
#include "OpenNote.h"
#include "Runtime.h"

#include <notes/notes.h>

#include <mutex>
#include <string>

using notesemu::DxlExporter;
using notesemu::HandleKind;
using notesemu::OpenNote;
using notesemu::Runtime;

namespace {

std::shared_ptr<DxlExporter> exporterOf(DXLEXPORTHANDLE handle, const char *function) {
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised()) {
        notesemu::logf("%s called before NotesInitExtended", function);
        return nullptr;
    }
    auto exporter = runtime.handles().objectAs<DxlExporter>(HandleKind::DxlExporter, handle);
    if (!exporter)
        notesemu::logf("%s: 0x%08X is not a DXL exporter", function, handle);
    return exporter;
}

// Exporters are used by one thread at a time, as the API asks; this lock keeps a misuse from
// corrupting one.
std::mutex &exporterMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

extern "C" {

NOTESAPI STATUS LNPUBLIC DXLCreateExporter(DXLEXPORTHANDLE *prethDXLExport) {
    if (prethDXLExport == nullptr)
        return ERR_BAD_PARAM;
    *prethDXLExport = NULLMEMHANDLE;
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised())
        return ERR_NOTES_NOT_INITIALIZED;
    DWORD handle = NULLHANDLE;
    if (const STATUS status =
            runtime.handles().insertObject(HandleKind::DxlExporter, std::make_shared<DxlExporter>(), handle);
        status != NOERROR)
        return status;
    *prethDXLExport = handle;
    return NOERROR;
}

// Deletes the exporter with the result-log and property handles it handed out that the caller
// has not freed.
NOTESAPI void LNPUBLIC DXLDeleteExporter(DXLEXPORTHANDLE hDXLExport) {
    const auto exporter = exporterOf(hDXLExport, "DXLDeleteExporter");
    if (!exporter)
        return;
    Runtime &runtime = Runtime::instance();
    {
        std::lock_guard lock(exporterMutex());
        exporter->release(runtime.handles());
    }
    runtime.handles().freeObject(HandleKind::DxlExporter, hDXLExport);
}

NOTESAPI STATUS LNPUBLIC DXLSetExporterProperty(DXLEXPORTHANDLE hDXLExport, DXL_EXPORT_PROPERTY prop,
                                                void *propValue) {
    const auto exporter = exporterOf(hDXLExport, "DXLSetExporterProperty");
    if (!exporter)
        return Runtime::instance().initialised() ? ERR_BAD_PARAM : ERR_NOTES_NOT_INITIALIZED;
    std::lock_guard lock(exporterMutex());
    return exporter->set(Runtime::instance().handles(), prop, propValue);
}

NOTESAPI STATUS LNPUBLIC DXLGetExporterProperty(DXLEXPORTHANDLE hDXLExport, DXL_EXPORT_PROPERTY prop,
                                                void *retPropValue) {
    const auto exporter = exporterOf(hDXLExport, "DXLGetExporterProperty");
    if (!exporter)
        return Runtime::instance().initialised() ? ERR_BAD_PARAM : ERR_NOTES_NOT_INITIALIZED;
    std::lock_guard lock(exporterMutex());
    return exporter->get(Runtime::instance().handles(), prop, retPropValue);
}

NOTESAPI STATUS LNPUBLIC DXLExportNote(DXLEXPORTHANDLE hDXLExport, XML_WRITE_FUNCTION pDXLWriteFunc,
                                       NOTEHANDLE hNote, void *pExAction) {
    const auto exporter = exporterOf(hDXLExport, "DXLExportNote");
    if (!exporter)
        return Runtime::instance().initialised() ? ERR_BAD_PARAM : ERR_NOTES_NOT_INITIALIZED;
    std::shared_ptr<OpenNote> note;
    notesemu::openNoteOf(hNote, "DXLExportNote", note); // a failure is recorded in the export's result log
    std::string document;
    {
        std::lock_guard lock(exporterMutex());
        if (!note) {
            exporter->failExport("the note handle is not an open note");
            notesemu::logf("DXLExportNote: 0x%08X is not an open note", hNote);
            return ERR_BAD_PARAM;
        }
        if (pDXLWriteFunc == nullptr) {
            exporter->failExport("no write function was given");
            return ERR_BAD_PARAM;
        }
        std::lock_guard noteLock(note->mutex());
        if (const STATUS status = note->readValues(); status != NOERROR) {
            exporter->failExport("the note's values cannot be read from the database file");
            return status;
        }
        document = exporter->render(*note);
    }
    // The callback runs without the runtime's locks: it may call back into the runtime.
    DxlExporter::stream(document, pDXLWriteFunc, pExAction);
    return NOERROR;
}

NOTESAPI BOOL LNPUBLIC DXLExportWasErrorLogged(DXLEXPORTHANDLE hDXLExport) {
    const auto exporter = exporterOf(hDXLExport, "DXLExportWasErrorLogged");
    if (!exporter)
        return FALSE;
    std::lock_guard lock(exporterMutex());
    return exporter->errorLogged() ? TRUE : FALSE;
}

} // extern "C"
