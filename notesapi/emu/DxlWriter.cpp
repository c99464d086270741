#include "DxlWriter.h"

#include "DxlValues.h"
#include "RichTextExport.h"
#include "Ods.h"

#include <notes/nsfnote.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>

namespace notesemu {
namespace {


void attr(std::string &out, std::string_view name, std::string_view value) {
    out += ' ';
    out += name;
    out += "='";
    appendXmlEscaped(out, value, true);
    out += '\'';
}

void appendBase64(std::string &out, std::span<const std::uint8_t> bytes) {
    const std::string encoded = base64Encode(bytes);
    out += '\n';
    for (std::size_t at = 0; at < encoded.size(); at += 76) {
        out.append(encoded, at, 76);
        out += '\n';
    }
}

WORD word(std::span<const std::uint8_t> data, std::size_t at) {
    return static_cast<WORD>(data[at] | data[at + 1] << 8);
}

TIMEDATE timedateAt(std::span<const std::uint8_t> data, std::size_t at) {
    TIMEDATE value;
    std::memcpy(&value, data.data() + at, sizeof value);
    return value;
}

// The text a stored LMBCS string is written as (NUL line breaks as <break/>), or nullopt when
// reading that text back would not give the same bytes (XML cannot carry the control
// characters, LMBCS sequences that do not survive conversion).
std::optional<std::string> textElementContent(std::string_view lmbcs) {
    for (char c : lmbcs) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 && byte != 0 && byte != '\t')
            return std::nullopt;
    }
    const std::string utf8 = lmbcsToText(lmbcs);
    if (textToLmbcs(utf8) != lmbcs)
        return std::nullopt;
    std::string out;
    std::size_t start = 0;
    while (true) {
        const std::size_t nul = utf8.find('\0', start);
        appendXmlEscaped(out, std::string_view(utf8).substr(start, nul - start), false);
        if (nul == std::string::npos)
            break;
        out += "<break/>";
        start = nul + 1;
    }
    return out;
}

std::optional<std::string> textElement(std::string_view lmbcs) {
    const auto content = textElementContent(lmbcs);
    if (!content)
        return std::nullopt;
    if (content->empty())
        return std::string("<text/>");
    return "<text>" + *content + "</text>";
}

std::optional<std::string> numberElement(double value) {
    if (!std::isfinite(value))
        return std::nullopt;
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return "<number>" + std::string(buffer, result.ptr) + "</number>";
}

std::optional<std::string> dateTimeElement(const TIMEDATE &value) {
    const auto text = formatDxlDateTime(value);
    if (!text)
        return std::nullopt;
    return std::string(text->dst ? "<datetime dst='true'>" : "<datetime>") + text->text + "</datetime>";
}

std::string rawElement(WORD type, std::span<const std::uint8_t> data) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%x", type);
    std::string out = "<rawitemdata type='";
    out += hex;
    if (data.empty())
        return out + "'/>";
    out += "'>";
    appendBase64(out, data);
    return out + "</rawitemdata>";
}

std::optional<std::string> fileElement(const Database &database, std::span<const std::uint8_t> data) {
    if (data.size() < odsSize<FILEOBJECT>())
        return std::nullopt;
    const FILEOBJECT file = fromOds<FILEOBJECT>(data.data());
    if (file.Header.ObjectType != OBJECT_FILE || data.size() != odsSize<FILEOBJECT>() + file.FileNameLength)
        return std::nullopt;
    const DatabaseObject *object = database.findObject(file.Header.RRV);
    if (object == nullptr)
        return std::nullopt;
    static constexpr std::pair<WORD, std::string_view> kHosts[] = {
        {HOST_MSDOS, "msdos"},
        {HOST_MAC, "mac"},
        {HOST_UNKNOWN, "unknown"},
        {HOST_HPFS, "hpfs"},
        {HOST_BYTEARRAY_EXT, "bytearrayext"},
        {HOST_BYTEARRAY_PAGE, "bytearraypage"},
        {HOST_CDSTORAGE, "cdstorage"},
        {HOST_STREAM, "stream"},
        {HOST_LINK, "link"},
        {HOST_OLE, "ole"},
        {HOST_OLELIB, "olelib"},
    };
    std::string_view host;
    for (const auto &[value, name] : kHosts) {
        if (value == file.HostType)
            host = name;
    }
    const WORD knownFlags = FILEFLAG_SIGN | FILEFLAG_INDOC | FILEFLAG_MIME | ENCODE_MASK;
    if (host.empty() || file.CompressionType > COMPRESS_LZ1 || (file.Flags & ~knownFlags) != 0 ||
        (file.FileAttributes & ~(ATTRIB_READONLY | ATTRIB_PRIVATE)) != 0 ||
        ((file.Flags & ENCODE_MASK) > ENCODE_EXTENSION))
        return std::nullopt;
    const std::string_view lmbcsName(reinterpret_cast<const char *>(data.data() + odsSize<FILEOBJECT>()),
                                     file.FileNameLength);
    const std::string name = lmbcsToText(lmbcsName);
    if (textToLmbcs(name) != lmbcsName || name.find('\0') != std::string::npos)
        return std::nullopt;
    std::string out = "<object><file";
    attr(out, "hosttype", host);
    attr(out, "compression",
         file.CompressionType == COMPRESS_NONE   ? "none"
         : file.CompressionType == COMPRESS_HUFF ? "huffman"
                                                 : "lz1");
    std::string tokens;
    const auto token = [&](std::string &list, bool on, std::string_view text) {
        if (!on)
            return;
        if (!list.empty())
            list += ' ';
        list += text;
    };
    token(tokens, (file.Flags & FILEFLAG_SIGN) != 0, "sign");
    token(tokens, (file.Flags & FILEFLAG_INDOC) != 0, "storedindoc");
    token(tokens, (file.Flags & FILEFLAG_MIME) != 0, "mime");
    if (!tokens.empty())
        attr(out, "flags", tokens);
    std::string attributes;
    token(attributes, (file.FileAttributes & ATTRIB_READONLY) != 0, "readonly");
    token(attributes, (file.FileAttributes & ATTRIB_PRIVATE) != 0, "private");
    if (!attributes.empty())
        attr(out, "attribute", attributes);
    const WORD encoding = file.Flags & ENCODE_MASK;
    attr(out, "encoding",
         encoding == ENCODE_BASE64      ? "base64"
         : encoding == ENCODE_QP        ? "quotedprintable"
         : encoding == ENCODE_UUENCODE  ? "uuencode"
         : encoding == ENCODE_EXTENSION ? "unknown"
                                        : "none");
    attr(out, "name", name);
    attr(out, "size", std::to_string(file.FileSize));
    out += '>';
    const TIMEDATE zero{};
    for (const auto &[element, time] :
         {std::pair{"created", file.FileCreated}, {"modified", file.FileModified}}) {
        if (std::memcmp(&time, &zero, sizeof zero) == 0)
            continue;
        const auto text = dateTimeElement(time);
        if (!text)
            return std::nullopt;
        out += std::string("<") + element + ">" + *text + "</" + element + ">";
    }
    std::vector<std::uint8_t> storage;
    std::span<const std::uint8_t> bytes;
    if (database.readObject(*object, storage, bytes) != NOERROR)
        return std::nullopt;
    out += "<filedata>";
    appendBase64(out, bytes);
    out += "</filedata></file></object>";
    return out;
}

// The value element of an item and whether DXL implies the summary flag for it.
std::string valueElement(const Database &database, const Item &item, bool &impliedSummary, bool richTextAsXml,
                         bool bitmapsAsGif) {
    const WORD type = item.type();
    const std::span<const std::uint8_t> data = item.data();
    impliedSummary = false;
    std::optional<std::string> element;
    switch (type) {
    case TYPE_TEXT:
        element = textElement(std::string_view(reinterpret_cast<const char *>(data.data()), data.size()));
        impliedSummary = true;
        break;
    case TYPE_TEXT_LIST: {
        if (!rawValueProblem(type, data).empty())
            break;
        std::string list;
        bool ok = true;
        for (const std::string_view entry : textEntries(item.value)) {
            const auto text = textElement(entry);
            ok = ok && text.has_value();
            if (text)
                list += *text;
        }
        if (ok)
            element = list.empty() ? "<textlist/>" : "<textlist>" + list + "</textlist>";
        impliedSummary = true;
        break;
    }
    case TYPE_NUMBER:
        if (data.size() == 8) {
            double value;
            std::memcpy(&value, data.data(), sizeof value);
            element = numberElement(value);
        }
        impliedSummary = true;
        break;
    case TYPE_NUMBER_RANGE: {
        if (!rawValueProblem(type, data).empty() || word(data, 2) != 0)
            break;
        std::string list;
        bool ok = true;
        for (std::size_t i = 0; i < word(data, 0); ++i) {
            double value;
            std::memcpy(&value, data.data() + 4 + 8 * i, sizeof value);
            const auto number = numberElement(value);
            ok = ok && number.has_value();
            if (number)
                list += *number;
        }
        if (ok)
            element = list.empty() ? "<numberlist/>" : "<numberlist>" + list + "</numberlist>";
        impliedSummary = true;
        break;
    }
    case TYPE_TIME:
        if (data.size() == 8)
            element = dateTimeElement(timedateAt(data, 0));
        impliedSummary = true;
        break;
    case TYPE_TIME_RANGE: {
        if (!rawValueProblem(type, data).empty())
            break;
        std::string list;
        bool ok = true;
        const std::size_t singles = word(data, 0), pairs = word(data, 2);
        for (std::size_t i = 0; i < singles; ++i) {
            const auto text = dateTimeElement(timedateAt(data, 4 + 8 * i));
            ok = ok && text.has_value();
            if (text)
                list += *text;
        }
        for (std::size_t i = 0; i < pairs; ++i) {
            const std::size_t at = 4 + 8 * singles + 16 * i;
            const auto low = dateTimeElement(timedateAt(data, at));
            const auto high = dateTimeElement(timedateAt(data, at + 8));
            ok = ok && low && high;
            if (low && high)
                list += "<datetimepair>" + *low + *high + "</datetimepair>";
        }
        if (ok)
            element = list.empty() ? "<datetimelist/>" : "<datetimelist>" + list + "</datetimelist>";
        impliedSummary = true;
        break;
    }
    case TYPE_OBJECT:
        element = fileElement(database, data);
        break;
    case TYPE_COMPOSITE:
        // As DXL rich text when every record has an XML form; otherwise as item data, whole.
        if (richTextAsXml)
            element = compositeToRichTextXml(item.value, bitmapsAsGif);
        break;
    case TYPE_FORMULA: {
        if (item.formulaSource) {
            const std::string_view source(reinterpret_cast<const char *>(data.data()), data.size());
            if (const auto text = textElementContent(source)) {
                element = "<formula>" + *text + "</formula>";
                break;
            }
        }
        std::string formula = "<formula compiled='true'>";
        appendBase64(formula, data);
        element = formula + "</formula>";
        break;
    }
    default:
        break;
    }
    if (!element) {
        // Raw data keeps the summary rule of the element the type would have.
        return rawElement(type, data);
    }
    return *element;
}

void appendItem(std::string &out, const Database &database, const Item &item, bool richTextAsXml,
                bool bitmapsAsGif) {
    bool impliedSummary = false;
    const std::string value = valueElement(database, item, impliedSummary, richTextAsXml, bitmapsAsGif);
    if (value.starts_with("<rawitemdata"))
        impliedSummary = false;
    out += "<item";
    attr(out, "name", item.name);
    const bool summary = (item.flags & ITEM_SUMMARY) != 0;
    if (summary != impliedSummary)
        attr(out, "summary", summary ? "true" : "false");
    const std::pair<WORD, std::string_view> flags[] = {
        {ITEM_SIGN, "sign"},           {ITEM_SEAL, "seal"},           {ITEM_READWRITERS, "authors"},
        {ITEM_NAMES, "names"},         {ITEM_READERS, "readers"},     {ITEM_PLACEHOLDER, "placeholder"},
        {ITEM_PROTECTED, "protected"}, {ITEM_UNCHANGED, "unchanged"},
    };
    for (const auto &[flag, name] : flags) {
        if ((item.flags & flag) != 0)
            attr(out, name, "true");
    }
    if (item.sealedData)
        attr(out, "sealed", "true");
    out += '>';
    out += value;
    out += "</item>";
}

std::string_view className(WORD noteClass) {
    switch (noteClass & ~(NOTE_CLASS_DEFAULT | NOTE_CLASS_PRIVATE)) {
    case NOTE_CLASS_DOCUMENT:
        return "document";
    case NOTE_CLASS_INFO:
        return "helpaboutdocument";
    case NOTE_CLASS_FORM:
        return "form";
    case NOTE_CLASS_VIEW:
        return "view";
    case NOTE_CLASS_ICON:
        return "icon";
    case NOTE_CLASS_HELP_INDEX:
        return "helpindex";
    case NOTE_CLASS_HELP:
        return "helpusingdocument";
    case NOTE_CLASS_FILTER:
        return "filter";
    case NOTE_CLASS_FIELD:
        return "sharedfield";
    case NOTE_CLASS_REPLFORMULA:
        return "replicationformula";
    default:
        return {};
    }
}

void appendRootAttributes(std::string &out, const Database &database) {
    attr(out, "xmlns", "http://www.lotus.com/dxl");
    attr(out, "version", database.version.empty() ? "9.0" : database.version);
    if (!database.maintenanceVersion.empty() || database.version.empty())
        attr(out, "maintenanceversion", database.version.empty() ? "1.0" : database.maintenanceVersion);
    attr(out, "replicaid", timedateHex(database.replicaId));
}

} // namespace

std::string noteDxl(const Database &database, const Note &note, std::span<const Item> items, bool root,
                    bool richTextAsXml, bool bitmapsAsGif) {
    std::string out = "<note";
    const std::string_view name = className(note.noteClass);
    attr(out, "class", name.empty() ? "document" : name);
    if ((note.noteClass & NOTE_CLASS_DEFAULT) != 0)
        attr(out, "default", "true");
    if ((note.noteClass & NOTE_CLASS_PRIVATE) != 0)
        attr(out, "private", "true");
    if (root)
        appendRootAttributes(out, database);
    out += ">\n<noteinfo";
    char id[16];
    std::snprintf(id, sizeof id, "%x", note.id);
    attr(out, "noteid", id);
    attr(out, "unid", unidText(UNIVERSALNOTEID{note.oid.File, note.oid.Note}));
    attr(out, "sequence", std::to_string(note.oid.Sequence & OID_SEQNO_MASK));
    out += '>';
    const TIMEDATE zero{};
    const std::pair<const char *, TIMEDATE> times[] = {{"created", note.created},
                                                       {"modified", note.modified},
                                                       {"revised", note.oid.SequenceTime},
                                                       {"lastaccessed", note.accessed},
                                                       {"addedtofile", note.addedToFile}};
    for (const auto &[element, time] : times) {
        if (std::memcmp(&time, &zero, sizeof zero) == 0)
            continue;
        if (const auto text = dateTimeElement(time))
            out += std::string("<") + element + ">" + *text + "</" + element + ">";
    }
    out += "</noteinfo>";
    for (const Item &item : items) {
        out += '\n';
        appendItem(out, database, item, richTextAsXml, bitmapsAsGif);
    }
    out += "\n</note>\n";
    return out;
}

void writeDatabaseDxl(std::ostream &out, const Database &database) {
    std::string head = "<?xml version='1.0' encoding='utf-8'?>\n<database";
    appendRootAttributes(head, database);
    if (!database.dxlPath.empty())
        attr(head, "path", database.dxlPath);
    if (!database.title.empty())
        attr(head, "title", database.title);
    head += ">\n";
    if (std::memcmp(&database.dbid, &database.replicaId, sizeof database.dbid) != 0) {
        head += "<databaseinfo";
        attr(head, "dbid", timedateHex(database.dbid));
        head += "/>\n";
    }
    if (database.hasAcl) {
        head += database.acl.consistent ? "<acl consistentacl='true'>" : "<acl>";
        for (const std::string &role : database.acl.roles) {
            head += "\n<role>";
            appendXmlEscaped(head, role, false);
            head += "</role>";
        }
        if (database.acl.defaultLevel) {
            head += "\n<aclentry name='-Default-' default='true'";
            attr(head, "level", accessLevelName(*database.acl.defaultLevel));
            head += "/>";
        }
        for (const AclEntry &entry : database.acl.entries) {
            head += "\n<aclentry";
            attr(head, "name", entry.name);
            attr(head, "level", accessLevelName(entry.level));
            if (entry.roles.empty()) {
                head += "/>";
                continue;
            }
            head += ">";
            for (const std::string &role : entry.roles) {
                head += "<role>";
                appendXmlEscaped(head, role, false);
                head += "</role>";
            }
            head += "</aclentry>";
        }
        head += "</acl>\n";
    }
    out << head;
    for (const Note &note : database.notes) {
        // Values left in the database's file are read for the note being written.
        std::vector<Item> items(database.itemsOf(note).begin(), database.itemsOf(note).end());
        std::deque<std::vector<std::uint8_t>> values;
        for (Item &item : items) {
            if (!item.isLazy())
                continue;
            if (database.readValue(item, values.emplace_back()) != NOERROR)
                values.back() = {static_cast<std::uint8_t>(item.lazyType), static_cast<std::uint8_t>(item.lazyType >> 8)};
            item.value = values.back();
            item.lazy = kNotLazy;
        }
        out << noteDxl(database, note, items, false);
    }
    out << "</database>\n";
}

void appendXmlEscaped(std::string &out, std::string_view text, bool attribute) {
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '\'':
            out += attribute ? "&apos;" : "'";
            break;
        case '\r':
            out += "&#13;";
            break;
        case '\n':
            out += attribute ? "&#10;" : "\n";
            break;
        case '\t':
            out += attribute ? "&#9;" : "\t";
            break;
        default:
            out += c;
        }
    }
}

} // namespace notesemu
