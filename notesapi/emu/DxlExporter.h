// The DXL exporter behind DXLCreateExporter: its properties and the export of one note.
//
// A note is written in the dialect of the runtime's own DXL writer (a `note` element with its
// noteinfo and every visible item of the open note's working copy), optionally preceded by the
// XML declaration, a DOCTYPE and banner comments, in UTF-8 or UTF-16. Rich text and MIME parts
// are always written as item data (rawitemdata); when the properties ask for the DXL rich-text
// or MIME forms, the result log says that item data was written instead. The item filters
// (omit and restrict by name, omit attachments, OLE objects and other file objects) apply to
// whole items.
#pragma once

#include "HandleTable.h"
#include "OpenNote.h"

#include <notes/xml.h>

#include <string>
#include <vector>

namespace notesemu {

class DxlExporter : public HandleObject {
public:
    STATUS set(HandleTable &table, DXL_EXPORT_PROPERTY property, const void *value);
    STATUS get(HandleTable &table, DXL_EXPORT_PROPERTY property, void *value);
    // The exported document of the note, in the output encoding; the result log tells what was
    // done. The caller holds the note's lock.
    std::string render(const OpenNote &note);
    // Hands the document to the write callback in chunks.
    static void stream(const std::string &document, XML_WRITE_FUNCTION write, void *action);
    // Records a failure of an export that could not start (bad note handle) in the result log.
    void failExport(std::string message);
    bool errorLogged() const { return errorLogged_; }
    // Frees the result-log and property handles handed out and not yet freed by the caller.
    void release(HandleTable &table);

private:
    STATUS textHandle(HandleTable &table, const std::string &text, void *value);
    std::string document(const OpenNote &note);
    void logLine(std::string line);

    // Booleans by property number (30 to 40), as the published defaults.
    bool flags_[41] = {};
    DWORD charset_ = eDxlExportUtf8;
    DWORD richText_ = eRichtextAsDxl;
    DWORD mime_ = eMimeAsDxl;
    DWORD validation_ = eDxlExportValidationStyle_DTD;
    std::string doctype_ = "xmlschemas/domino_9_0_1.dtd";
    std::string schemaLocation_ = "http://www.lotus.com/dxl xmlschemas/domino_9_0_1.xsd";
    std::vector<std::string> banner_;
    std::string logComment_;
    std::string attachmentOmitted_, oleOmitted_, pictureOmitted_;
    std::vector<std::string> omitNames_, restrictNames_;
    std::string resultLog_;
    bool errorLogged_ = false;
    std::vector<DWORD> handedOut_;

public:
    DxlExporter();
};

} // namespace notesemu
