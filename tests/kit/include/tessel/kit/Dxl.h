// A model of the notes and items of a DXL database and a writer for it. The writer emits the
// exporter's dialect: single-quoted attributes, one item per line, base64 wrapped at 76 columns,
// no formatting whitespace inside mixed content, every character escaped or rejected.
#pragma once

#include "tessel/kit/Bytes.h"
#include "tessel/kit/Ids.h"
#include "tessel/kit/Random.h"
#include "tessel/kit/TimeDate.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace tessel::kit {

// Item attribute flags. summary left unset means "as DXL implies for the value element".
struct ItemFlags {
    std::optional<bool> summary;
    bool sign = false, seal = false, sealed = false, names = false, readers = false, authors = false,
         protect = false, placeholder = false;
};

struct TextValue {
    std::string text; // UTF-8; '\n' is written as <break/>
};
struct TextListValue {
    std::vector<std::string> texts;
};
struct NumberValue {
    double value = 0;
};
struct NumberListValue {
    std::vector<double> values;
};
struct DateTimeValue {
    DateTime value;
};
struct DateTimeListValue {
    std::vector<DateTime> values;
    std::vector<std::pair<DateTime, DateTime>> pairs;
};
// Any TYPE given as its canonical bytes without the type WORD.
struct RawValue {
    std::uint16_t type = 0;
    Bytes data;
};
struct FormulaValue {
    std::string source;
};

// A file attachment ($FILE): object/file/filedata.
struct FileAttachment {
    std::string name;
    Bytes data;
    std::optional<DateTime> created, modified;
    std::string hostType = "msdos"; // msdos mac hpfs unknown cdstorage bytearrayext ...
    std::string compression = "none";
    std::optional<std::string> desiredCompression;
    std::vector<std::string> flags{"storedindoc"}; // sign storedindoc mime
    std::vector<std::string> attributes;           // readonly private
    std::string encoding = "none";
};

// The DXL rich-text subset: pardef, par, run with font, break.
struct Font {
    std::string name, size, color, style; // empty = not written; size with unit ("12pt")
};
struct TextSpan {
    std::string text; // '\n' becomes <break/>
};
struct Break {};
struct Run {
    Font font;
    std::vector<std::variant<TextSpan, Break>> content;
};
using Inline = std::variant<TextSpan, Break, Run>;
struct ParDef {
    int id = 1;
    std::string align, list, leftMargin, rightMargin, firstLineLeftMargin, spaceBefore, spaceAfter,
        lineSpacing, hide;
    std::optional<bool> keepWithNext, keepTogether;
};
struct Par {
    std::optional<int> def;
    std::vector<Inline> content;

    Par &text(std::string_view s);
    Par &run(Font font, std::string_view s);
    Par &br();
};
using Block = std::variant<ParDef, Par>;
struct RichText {
    std::vector<Block> blocks;

    RichText &pardef(ParDef def);
    RichText &par(Par par);
    // A paragraph holding one plain text span.
    RichText &par(int def, std::string_view text);
};

using ItemValue = std::variant<TextValue, TextListValue, NumberValue, NumberListValue, DateTimeValue,
                               DateTimeListValue, RawValue, FormulaValue, FileAttachment, RichText>;

struct Item {
    std::string name;
    ItemValue value;
    ItemFlags flags;

    static Item text(std::string name, std::string text);
    static Item textList(std::string name, std::vector<std::string> texts);
    static Item number(std::string name, double value);
    static Item numberList(std::string name, std::vector<double> values);
    static Item dateTime(std::string name, DateTime value);
    static Item dateTimeList(std::string name, std::vector<DateTime> values,
                             std::vector<std::pair<DateTime, DateTime>> pairs = {});
    static Item raw(std::string name, std::uint16_t type, Bytes data);
    // Rich text as rawitemdata type 1: a CD record stream without the type word.
    static Item richTextRaw(std::string name, Bytes records);
    static Item richText(std::string name, RichText text);
    static Item formula(std::string name, std::string source);
    // A $FILE item (summary, as the exporter writes it).
    static Item file(FileAttachment file, std::string name = "$FILE");

    Item &summary(bool on = true);
    Item &sign();
    Item &seal();
    Item &sealed();
    Item &names();
    Item &readers(); // also names, as real output pairs them
    Item &authors(); // also names
    Item &protect();
    Item &placeholder();
};

enum class NoteKind { Note, Document, Form, View, Folder, ImageResource };

struct NoteInfo {
    std::uint32_t noteId = 0;
    Unid unid;
    std::uint32_t sequence = 1;
    std::optional<DateTime> created, modified, revised, lastAccessed, addedToFile;
};

// The picture of a formatted image resource (DXL has elements for these three).
struct ImageFile {
    enum class Format { Gif, Jpeg, Png };
    Format format = Format::Gif;
    Bytes data;
};

struct Note {
    NoteKind kind = NoteKind::Document;
    std::string noteClass = "document"; // NoteKind::Note only: document form view icon filter ...
    std::string form;                   // NoteKind::Document: the form attribute
    std::string name, alias;            // design elements
    bool isDefault = false;
    NoteInfo info;
    std::vector<std::string> updatedBy;
    std::vector<DateTime> revisions;
    std::optional<ImageFile> image; // NoteKind::ImageResource
    std::vector<Item> items;

    static Note document(std::string form);
    static Note raw(std::string noteClass);
    static Note formDesign(std::string name);
    static Note view(std::string name);
    static Note folder(std::string name);
    static Note imageResource(std::string name, ImageFile image);

    Item &add(Item item);
    Item *find(std::string_view name);
    // Records membership in a folder: appends the folder's UNID to $FolderRefs (a text list).
    void addToFolder(const Note &folder);
    // Marks the note encrypted for these canonical names ($SealedFor, a names text list); its items
    // flagged seal() are then the encrypted ones.
    void sealFor(std::vector<std::string> names);
};

struct AclEntry {
    std::string name;
    std::string level = "reader"; // noaccess depositor reader author editor designer manager
    std::string type;             // person server ... (empty = not written)
    std::vector<std::string> roles;
};

struct DatabaseInfo {
    std::string title;
    ReplicaId replicaId;
    std::string path;
    std::string defaultAccess = "manager";
    // Written as acl/@consistentacl: the access list is enforced on local copies too. Databases
    // built for tests enforce it unless a test says otherwise; real exports mostly do not.
    bool consistentAcl = true;
    std::vector<std::string> roles;
    std::vector<AclEntry> acl;
    bool doctype = true;
    std::string version = "9.0", maintenanceVersion = "1.0";
};

// Hands out note IDs (multiples of 4) and UNIDs, deterministically for a seed.
class IdAllocator {
public:
    explicit IdAllocator(std::uint64_t seed = 1) : random_(seed) {}
    std::uint32_t nextNoteId();
    Unid nextUnid();
    // Fills a note's missing note ID and UNID.
    void assign(Note &note);

private:
    Random random_;
    std::uint32_t nextNoteId_ = 0x10C;
};

// Streams a database: the prolog and ACL on construction, one note per write(), the end on finish().
// Nothing but the note being written is held in memory.
class DxlWriter {
public:
    DxlWriter(std::ostream &out, const DatabaseInfo &info, std::uint64_t idSeed = 1);
    DxlWriter(const DxlWriter &) = delete;
    DxlWriter &operator=(const DxlWriter &) = delete;

    IdAllocator &ids() { return ids_; }
    // Writes a note, assigning a missing note ID or UNID first. Throws std::invalid_argument for
    // what DXL cannot express (invalid UTF-8, characters XML forbids in names, non-finite numbers).
    void write(Note note);
    void finish();
    std::uint64_t bytesWritten() const { return bytes_; }

private:
    void put(std::string_view s);

    std::ostream &out_;
    IdAllocator ids_;
    std::uint64_t bytes_ = 0;
    bool finished_ = false;
};

// A whole database in memory, for tests.
struct Database {
    DatabaseInfo info;
    std::vector<Note> notes;
    IdAllocator ids;

    // Assigns missing IDs; the reference stays valid until the next add.
    Note &add(Note note);
    std::string toDxl() const;
};

// One note as the DXL text the writer emits for it (no prolog).
std::string noteToDxl(const Note &note);

} // namespace tessel::kit
