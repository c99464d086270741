// The in-memory model of one database loaded from DXL: its notes in note ID order, each with its
// items in their stored order, the attachment objects, and the access control list. A loaded
// database never changes; every open handle and every open note reads it through a shared
// pointer and keeps private copies of whatever it changes.
#pragma once

#include "Acl.h"

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

// One stored item. The value begins with its TYPE_xxx word and valueLength counts it.
struct Item {
    std::string_view name;
    WORD flags = 0;          // ITEM_xxx
    bool sealedData = false; // DXL sealed='true': the stored bytes are ciphertext of Notes
    bool formulaSource = false; // a TYPE_FORMULA value holding formula source text, not compiled code
    // Not NOERROR: the value was too large to hold; `value` is its type word only and reading
    // the item fails with this status.
    STATUS readStatus = NOERROR;
    std::span<const std::uint8_t> value;

    WORD type() const { return value.size() >= 2 ? static_cast<WORD>(value[0] | value[1] << 8) : 0; }
    std::span<const std::uint8_t> data() const { return value.size() >= 2 ? value.subspan(2) : value; }
};

struct Note {
    NOTEID id = 0;
    WORD noteClass = 0;            // NOTE_CLASS_xxx, NOTE_CLASS_DEFAULT and NOTE_CLASS_PRIVATE included
    alignas(8) ORIGINATORID oid{}; // UNID, sequence and time; aligned because its fields are read in place
    TIMEDATE created{};            // noteinfo/created (kept for the writer; the UNID's note part is separate)
    TIMEDATE modified{};           // modified in this file (_NOTE_MODIFIED, GLOBALINSTANCEID.Note)
    TIMEDATE accessed{};           // _NOTE_ACCESSED
    TIMEDATE addedToFile{};        // _NOTE_ADDED_TO_FILE
    std::uint32_t firstItem = 0;   // index into Database::items
    std::uint32_t itemCount = 0;
    bool sealed = false;     // has $SealedFor: the ITEM_SEAL items are encrypted
    bool unreadable = false; // a readers item could not be loaded: nobody may read the note
};

// An attachment's bytes, as an object of the database (FILEOBJECT.Header.RRV names it).
struct DatabaseObject {
    std::span<const std::uint8_t> bytes;
    STATUS status = NOERROR; // not NOERROR: the object was too large to hold and reading it fails
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
    std::vector<Item> items; // every note's items, note after note
    std::map<DWORD, DatabaseObject> objects;
    ByteArena arena;
    std::unordered_set<std::string> names; // item names, shared by every item of that name

    std::span<const Item> itemsOf(const Note &note) const {
        return std::span(items).subspan(note.firstItem, note.itemCount);
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
