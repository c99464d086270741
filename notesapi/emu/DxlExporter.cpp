#include "DxlExporter.h"

#include "Attachment.h"
#include "DxlWriter.h"
#include "Log.h"
#include "Translate.h"

#include <notes/notes.h>

#include <unicode/unistr.h>

#include <algorithm>
#include <cstring>

namespace notesemu {
namespace {

constexpr std::size_t kChunk = 16 * 1024;

bool isStringProperty(DXL_EXPORT_PROPERTY property) {
    switch (property) {
    case eDoctypeSYSTEM:
    case eDXLBannerComments:
    case eDxlExportResultLogComment:
    case eDxlSchemaLocation:
    case eAttachmentOmittedText:
    case eOLEObjectOmittedText:
    case ePictureOmittedText:
        return true;
    default:
        return false;
    }
}

std::string commentText(std::string_view text) {
    // "--" may not appear inside an XML comment, nor may one end in "-".
    std::string out;
    for (const char c : text) {
        if (c == '-' && !out.empty() && out.back() == '-')
            out += ' ';
        out += c;
    }
    if (!out.empty() && out.back() == '-')
        out += ' ';
    return out;
}

// The entries of a text list given as a handle: the list with or without its type word.
std::vector<std::string> textListOf(HandleTable &table, DHANDLE handle) {
    std::vector<std::string> names;
    std::size_t size = 0;
    if (!table.memorySize(HandleKind::Memory, handle, size))
        return names;
    const auto *bytes = static_cast<const std::uint8_t *>(table.lockMemory(HandleKind::Memory, handle));
    if (bytes == nullptr)
        return names;
    std::vector<std::uint8_t> value(bytes, bytes + size);
    table.unlockMemory(HandleKind::Memory, handle);
    if (value.size() < 2 || (value[0] | value[1] << 8) != TYPE_TEXT_LIST)
        value.insert(value.begin(), {TYPE_TEXT_LIST & 0xFF, TYPE_TEXT_LIST >> 8});
    for (const std::string_view entry : textEntries(value))
        names.emplace_back(entry);
    return names;
}

bool listed(const std::vector<std::string> &names, std::string_view name) {
    return std::any_of(names.begin(), names.end(),
                       [name](const std::string &n) { return sameItemName(n, name); });
}

} // namespace

DxlExporter::DxlExporter() {
    for (const int property :
         {eExitOnFirstFatalError, eOutputRootAttrs, eOutputXmlDecl, eOutputDOCTYPE, eUncompressAttachments})
        flags_[property] = true;
}

void DxlExporter::logLine(std::string line) {
    resultLog_ += line;
    resultLog_ += '\n';
}

STATUS DxlExporter::set(HandleTable &table, DXL_EXPORT_PROPERTY property, const void *value) {
    const int number = static_cast<int>(property);
    if (number >= eForceNoteFormat && number <= eUncompressAttachments) {
        if (value == nullptr)
            return ERR_BAD_PARAM;
        BOOL on;
        std::memcpy(&on, value, sizeof on);
        flags_[number] = on != FALSE;
        return NOERROR;
    }
    if (isStringProperty(property)) {
        const char *text = static_cast<const char *>(value);
        const std::string given = text != nullptr ? text : "";
        switch (property) {
        case eDoctypeSYSTEM:
            doctype_ = given;
            break;
        case eDXLBannerComments:
            banner_.clear();
            for (const char *at = text; at != nullptr && *at != '\0'; at += std::strlen(at) + 1)
                banner_.emplace_back(at);
            break;
        case eDxlExportResultLogComment:
            logComment_ = given;
            break;
        case eDxlSchemaLocation:
            schemaLocation_ = given;
            break;
        case eAttachmentOmittedText:
            attachmentOmitted_ = given;
            break;
        case eOLEObjectOmittedText:
            oleOmitted_ = given;
            break;
        default:
            pictureOmitted_ = given;
            break;
        }
        return NOERROR;
    }
    DWORD number32 = 0;
    switch (property) {
    case eDxlExportCharset:
    case eDxlRichtextOption:
    case eDxlValidationStyle:
    case eDxlMimeOption: {
        if (value == nullptr)
            return ERR_BAD_PARAM;
        std::memcpy(&number32, value, sizeof number32);
        const DWORD limit = property == eDxlValidationStyle ? 2 : 1;
        if (number32 > limit) {
            logf("DXLSetExporterProperty: %u is not a value of property %d", number32, number);
            return ERR_BAD_PARAM;
        }
        (property == eDxlExportCharset    ? charset_
         : property == eDxlRichtextOption ? richText_
         : property == eDxlMimeOption     ? mime_
                                          : validation_) = number32;
        return NOERROR;
    }
    case eOmitItemNames:
    case eRestrictToItemNames: {
        DHANDLE list = NULLHANDLE;
        if (value != nullptr)
            std::memcpy(&list, value, sizeof list);
        (property == eOmitItemNames ? omitNames_ : restrictNames_) =
            list == NULLHANDLE ? std::vector<std::string>{} : textListOf(table, list);
        return NOERROR;
    }
    default:
        logf("DXLSetExporterProperty: property %d cannot be set", number);
        return ERR_BAD_PARAM;
    }
}

STATUS DxlExporter::textHandle(HandleTable &table, const std::string &text, void *value) {
    MEMHANDLE handle = NULLMEMHANDLE;
    if (const STATUS status = table.allocateMemory(HandleKind::MemoryObject, text.size() + 1, handle);
        status != NOERROR)
        return status;
    auto *bytes = static_cast<char *>(table.lockMemory(HandleKind::MemoryObject, handle));
    std::memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = '\0';
    table.unlockMemory(HandleKind::MemoryObject, handle);
    handedOut_.push_back(handle);
    std::memcpy(value, &handle, sizeof handle);
    return NOERROR;
}

STATUS DxlExporter::get(HandleTable &table, DXL_EXPORT_PROPERTY property, void *value) {
    if (value == nullptr)
        return ERR_BAD_PARAM;
    const int number = static_cast<int>(property);
    if (number >= eForceNoteFormat && number <= eUncompressAttachments) {
        const BOOL on = flags_[number] ? TRUE : FALSE;
        std::memcpy(value, &on, sizeof on);
        return NOERROR;
    }
    const auto put = [value](DWORD number32) {
        std::memcpy(value, &number32, sizeof number32);
        return NOERROR;
    };
    const auto joined = [](const std::vector<std::string> &entries) {
        std::string out;
        for (const std::string &entry : entries) {
            out += entry;
            out += '\0';
        }
        return out;
    };
    switch (property) {
    case eDxlExportResultLog:
        return textHandle(table, utf8ToLmbcs(resultLog_), value);
    case eDefaultDoctypeSYSTEM:
        return textHandle(table, "xmlschemas/domino_9_0_1.dtd", value);
    case eDoctypeSYSTEM:
        return textHandle(table, doctype_, value);
    case eDXLBannerComments:
        return textHandle(table, joined(banner_), value);
    case eDxlExportResultLogComment:
        return textHandle(table, logComment_, value);
    case eDxlDefaultSchemaLocation:
        return textHandle(table, "http://www.lotus.com/dxl xmlschemas/domino_9_0_1.xsd", value);
    case eDxlSchemaLocation:
        return textHandle(table, schemaLocation_, value);
    case eAttachmentOmittedText:
        return textHandle(table, attachmentOmitted_, value);
    case eOLEObjectOmittedText:
        return textHandle(table, oleOmitted_, value);
    case ePictureOmittedText:
        return textHandle(table, pictureOmitted_, value);
    case eDxlExportCharset:
        return put(charset_);
    case eDxlRichtextOption:
        return put(richText_);
    case eDxlMimeOption:
        return put(mime_);
    case eDxlValidationStyle:
        return put(validation_);
    default:
        logf("DXLGetExporterProperty: property %d cannot be read", number);
        return ERR_BAD_PARAM;
    }
}

std::string DxlExporter::document(const OpenNote &note) {
    const Database &database = *note.database().database();
    // The writer finds attachment objects through a database: this one holds the objects of the
    // exported items (the working copy's own among them) and the database's root attributes.
    Database shell;
    shell.version = database.version;
    shell.maintenanceVersion = database.maintenanceVersion;
    shell.replicaId = database.replicaId;
    std::vector<Item> items;
    std::size_t richText = 0, mimeParts = 0, omitted = 0;
    for (const OpenNote::OpenItem &open : note.items()) {
        if (!open.visible)
            continue;
        Item item = *open.stored;
        item.name = open.name;
        item.flags = open.flags;
        item.value = std::span<const std::uint8_t>(open.valueBytes, open.valueLength);
        item.lazy = kNotLazy; // the open note holds the value
        const WORD type = item.type();
        bool omit =
            listed(omitNames_, item.name) || (!restrictNames_.empty() && !listed(restrictNames_, item.name));
        if (type == TYPE_OBJECT) {
            Attachment attachment;
            const bool file = readAttachment(note, item.value, "DXLExportNote", attachment) == NOERROR;
            const WORD host = attachment.file.HostType & HOST_MASK;
            const bool ole = file && (host == HOST_OLE || host == HOST_OLELIB || host == HOST_BYTEARRAY_EXT ||
                                      host == HOST_BYTEARRAY_PAGE);
            const bool fileItem = sameItemName(item.name, "$FILE");
            omit = omit || (flags_[eOmitOLEObjects] && ole) ||
                   (flags_[eOmitRichtextAttachments] && fileItem && !ole) ||
                   (flags_[eOmitMiscFileObjects] && !fileItem);
            if (file && !omit)
                shell.objects[DWORD{attachment.file.Header.RRV}] = DatabaseObject{attachment.bytes};
            else if (!file && !omit)
                logLine("Item " + std::string(item.name) +
                        ": its attachment object cannot be read; the item is written as item data");
        }
        if (omit) {
            ++omitted;
            continue;
        }
        richText += type == TYPE_COMPOSITE ? 1 : 0;
        mimeParts += (type == TYPE_MIME_PART || type == TYPE_RFC822_TEXT) ? 1 : 0;
        items.push_back(item);
    }
    char id[32];
    std::snprintf(id, sizeof id, "0x%X", note.note().id);
    logLine(std::string("Note ") + id + ": " + std::to_string(items.size()) + " items exported, " +
            std::to_string(omitted) + " omitted by the exporter's properties.");
    if (richText > 0 && richText_ == eRichtextAsDxl)
        logLine("Rich text is exported as DXL rich text where every record has an XML form (paragraphs, "
                "runs, links, buttons, hotspots, pictures, rules, tables, sections, regions, layers), and as "
                "item data otherwise.");
    if (richText > 0 && richText_ != eRichtextAsDxl && flags_[eConvertNotesbitmapsToGIF])
        logLine("Notes bitmaps are not converted to GIF: rich text is exported as item data.");
    if (richText > 0 && flags_[eOmitPictures])
        logLine("Pictures in rich text are kept: rich text is exported as item data.");
    if (mimeParts > 0 && mime_ == eMimeAsDxl)
        logLine("MIME parts are exported as item data (rawitemdata types 19 and 502): this runtime does not "
                "write the DXL mime element.");
    if (!flags_[eForceNoteFormat])
        logLine("The note is written in note format (a note element with all its items).");

    std::string out;
    if (flags_[eOutputXmlDecl])
        out += charset_ == eDxlExportUtf16 ? "<?xml version='1.0' encoding='utf-16'?>\n"
                                           : "<?xml version='1.0' encoding='utf-8'?>\n";
    if (flags_[eOutputDOCTYPE] && validation_ == eDxlExportValidationStyle_DTD && !doctype_.empty() &&
        doctype_.find('\'') == std::string::npos)
        out += "<!DOCTYPE note SYSTEM '" + doctype_ + "'>\n";
    if (validation_ == eDxlExportValidationStyle_XMLSchema)
        logLine("The XML Schema location is not written; the document carries no validation information.");
    for (const std::string &comment : banner_)
        out += "<!--" + commentText(comment) + "-->\n";
    out += noteDxl(shell, note.note(), items, flags_[eOutputRootAttrs], richText_ == eRichtextAsDxl,
                   flags_[eConvertNotesbitmapsToGIF]);
    return out;
}

std::string DxlExporter::render(const OpenNote &note) {
    resultLog_.clear();
    errorLogged_ = false;
    if (!logComment_.empty())
        logLine(logComment_);
    std::string text = document(note);
    if (charset_ == eDxlExportUtf16) {
        const icu::UnicodeString wide = icu::UnicodeString::fromUTF8(text);
        text.assign("\xFF\xFE", 2);
        for (int32_t i = 0; i < wide.length(); ++i) {
            const char16_t unit = wide.charAt(i);
            text += static_cast<char>(unit & 0xFF);
            text += static_cast<char>(unit >> 8);
        }
    }
    logLine("Export complete: " + std::to_string(text.size()) + " bytes written.");
    return text;
}

void DxlExporter::stream(const std::string &document, XML_WRITE_FUNCTION write, void *action) {
    for (std::size_t at = 0; at < document.size(); at += kChunk) {
        const std::size_t length = std::min(kChunk, document.size() - at);
        write(reinterpret_cast<const BYTE *>(document.data() + at), static_cast<DWORD>(length), action);
    }
}

void DxlExporter::failExport(std::string message) {
    resultLog_.clear();
    if (!logComment_.empty())
        logLine(logComment_);
    logLine("Error: " + message);
    errorLogged_ = true;
}

void DxlExporter::release(HandleTable &table) {
    for (const DWORD handle : handedOut_) {
        std::size_t size = 0;
        if (table.memorySize(HandleKind::MemoryObject, handle, size))
            table.freeMemory(HandleKind::MemoryObject, handle);
    }
    handedOut_.clear();
}

} // namespace notesemu
