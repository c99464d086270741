// The in-memory model of one database loaded from DXL: its notes in note ID order, each with its
// items in their stored order, the attachment objects, and the access control list. A loaded
// database never changes; every open handle and every open note reads it through a shared
// pointer and keeps private copies of whatever it changes.
#pragma once

#include "Acl.h"
#include "Platform.h"

#include <notes/global.h>
#include <notes/nsfdata.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace notesemu {

// Bytes that live as long as the database: values are appended in chunks that never move.
class ByteArena {
public:
    // Copies the bytes and returns the stable copy.
    std::span<const std::uint8_t> store(std::span<const std::uint8_t> bytes);
    std::span<const std::uint8_t> store(std::string_view text) {
        return store(std::span(reinterpret_cast<const std::uint8_t *>(text.data()), text.size()));
    }
    std::size_t bytesUsed() const { return used_; }

private:
    static constexpr std::size_t kChunkSize = 1 << 20;
    std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
    std::size_t chunkFree_ = 0;
    std::uint8_t *chunkNext_ = nullptr;
    std::size_t used_ = 0;
};

// Where a value that is read on demand lies in the database's file: the base64 text of
// `rawLength` bytes at `offset`, decoding to `size` bytes.
struct LazyBytes {
    std::uint64_t offset = 0;
    std::uint64_t rawLength = 0;
    std::uint32_t size = 0;
};

inline constexpr std::uint32_t kNotLazy = 0xFFFFFFFF;


// The file a database was loaded from, kept open so that large values are read when they are
// needed instead of being held in memory. Reads are refused once the file has changed.
class SourceFile {
public:
    // Takes ownership of the descriptor.
    SourceFile(std::string path, int fd, FileStamp stamp) : path_(std::move(path)), fd_(fd), stamp_(stamp) {}
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    // Decodes the value into `out` (exactly range.size bytes). ERR_STRUCT, logged, when the file
    // changed size or modification time since it was loaded, or no longer holds the value there.
    STATUS read(const LazyBytes &range, std::uint8_t *out) const;

private:
    std::string path_;
    int fd_;
    FileStamp stamp_;
};

// An item name as the database holds it: a view of an interned name in 12 bytes instead of 16,
// which matters at a million items. Reads like the std::string_view it converts to.
class ItemName {
public:
    ItemName() = default;
    ItemName(std::string_view name) : data_(name.data()), size_(static_cast<std::uint32_t>(name.size())) {}
    ItemName(const std::string &name) : ItemName(std::string_view(name)) {}
    operator std::string_view() const { return {data_, size_}; }
    const char *data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    friend bool operator==(const ItemName &a, std::string_view b) { return std::string_view(a) == b; }

private:
    const char *data_ = "";
    std::uint32_t size_ = 0;
};

// One stored item. The value begins with its TYPE_xxx word and valueLength counts it. A large
// binary value may be held in the file instead (lazy names it in Database::lazyValues; value is
// then empty and lazyType holds its type word); Database::valueSize and Database::readValue
// serve both forms.
struct Item {
    // Its padding holds the fields after it.
    [[no_unique_address]] ItemName name;
    WORD flags = 0;          // ITEM_xxx
    bool sealedData = false; // DXL sealed='true': the stored bytes are ciphertext of Notes
    bool formulaSource = false; // a TYPE_FORMULA value holding formula source text, not compiled code
    // Not NOERROR: the value was too large to hold; `value` is its type word only and reading
    // the item fails with this status.
    STATUS readStatus = NOERROR;
    WORD lazyType = 0;
    std::uint32_t lazy = kNotLazy;
    std::span<const std::uint8_t> value;

    bool isLazy() const { return lazy != kNotLazy; }
    WORD type() const {
        if (isLazy())
            return lazyType;
        return value.size() >= 2 ? static_cast<WORD>(value[0] | value[1] << 8) : 0;
    }
    std::span<const std::uint8_t> data() const { return value.size() >= 2 ? value.subspan(2) : value; }
};
static_assert(sizeof(void *) != 8 || sizeof(Item) == 40, "a loaded database holds millions of items");

struct Note {
    NOTEID id = 0;
    WORD noteClass = 0;            // NOTE_CLASS_xxx, NOTE_CLASS_DEFAULT and NOTE_CLASS_PRIVATE included
    alignas(8) ORIGINATORID oid{}; // UNID, sequence and time; aligned because its fields are read in place
    TIMEDATE created{};            // noteinfo/created (kept for the writer; the UNID's note part is separate)
    TIMEDATE modified{};           // modified in this file (_NOTE_MODIFIED, GLOBALINSTANCEID.Note)
    TIMEDATE accessed{};           // _NOTE_ACCESSED
    TIMEDATE addedToFile{};        // _NOTE_ADDED_TO_FILE
    const Item *items = nullptr; // in Database::items
    std::uint32_t itemCount = 0;
    bool sealed = false;     // has $SealedFor: the ITEM_SEAL items are encrypted
    bool unreadable = false; // a readers item could not be loaded: nobody may read the note
};

// An attachment's bytes, as an object of the database (FILEOBJECT.Header.RRV names it). A
// loaded attachment is usually read from the file on demand (lazy names its place).
struct DatabaseObject {
    std::span<const std::uint8_t> bytes;
    STATUS status = NOERROR; // not NOERROR: the object was too large to hold and reading it fails
    std::uint32_t lazy = kNotLazy;
};

// Every note's items, note after note. A note's items are contiguous and never move, so the
// store grows by chunks instead of reallocating (and copying) one array.
class ItemStore {
public:
    // Copies one note's items, `first` then `second`, and returns where they start.
    const Item *append(std::span<const Item> first, std::span<const Item> second);
    std::size_t size() const { return size_; }

private:
    static constexpr std::size_t kChunkItems = 8192;
    std::vector<std::unique_ptr<Item[]>> chunks_;
    Item *next_ = nullptr;
    std::size_t free_ = 0;
    std::size_t size_ = 0;
};

struct Database {
    std::string path;    // the file it was loaded from
    std::string title;   // database/@title
    std::string version; // database/@version and @maintenanceversion as written
    std::string maintenanceVersion;
    std::string dxlPath; // database/@path
    DBID replicaId{};    // database/@replicaid
    DBID dbid{};         // databaseinfo/@dbid, else the replica ID
    bool hasAcl = false;
    Acl acl;
    std::vector<Note> notes; // ascending note ID
    ItemStore items;
    std::map<DWORD, DatabaseObject> objects;
    ByteArena arena;
    // Item names, shared by every item of that name; looked up by view without a copy.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };
    std::unordered_set<std::string, NameHash, std::equal_to<>> names;
    std::vector<LazyBytes> lazyValues;     // values and objects left in the file
    std::shared_ptr<const SourceFile> source;

    // The length of an item's value, type word included.
    std::size_t valueSize(const Item &item) const {
        return item.isLazy() ? 2 + std::size_t{lazyValues[item.lazy].size} : item.value.size();
    }
    // Writes the value, type word first, to `out` (valueSize bytes). Fails only for a value left
    // in a file that has changed since.
    STATUS readValue(const Item &item, std::uint8_t *out) const;
    // The same into a vector.
    STATUS readValue(const Item &item, std::vector<std::uint8_t> &out) const;
    std::size_t objectSize(const DatabaseObject &object) const {
        return object.lazy != kNotLazy ? lazyValues[object.lazy].size : object.bytes.size();
    }
    // An object's bytes: `bytes` itself, or read into `storage` when the object is in the file.
    STATUS readObject(const DatabaseObject &object, std::vector<std::uint8_t> &storage,
                      std::span<const std::uint8_t> &bytes) const;

    std::span<const Item> itemsOf(const Note &note) const {
        return std::span(note.items, note.itemCount);
    }
    // The note of that ID, or null.
    const Note *findNote(NOTEID id) const;
    const DatabaseObject *findObject(DWORD rrv) const;
    // A stable copy of an item name.
    std::string_view internName(std::string_view name);
};

// Item names compare without regard to ASCII case.
bool sameItemName(std::string_view a, std::string_view b);

// The first item of that name in a list, or null.
const Item *findItem(std::span<const Item> items, std::string_view name);

// The entries of a TEXT or TEXT_LIST value (LMBCS); empty for other types or a malformed list.
std::vector<std::string_view> textEntries(std::span<const std::uint8_t> value);

// UNIDs as DXL writes them: 32 hex digits, the File part then the Note part, each read as a
// little-endian 64-bit number.
std::string unidText(const UNIVERSALNOTEID &unid);
std::optional<UNIVERSALNOTEID> parseUnid(std::string_view text);
// Replica IDs and DBIDs: 16 hex digits of the TIMEDATE read as a little-endian 64-bit number.
std::string timedateHex(const TIMEDATE &value);
std::optional<TIMEDATE> parseTimedateHex(std::string_view text);

} // namespace notesemu
