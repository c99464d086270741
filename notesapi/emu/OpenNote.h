// An open note: a private working copy of one note of a database. Its items live in a memory
// pool of its own (pinned DHANDLE memory objects of the handle table), so that the item and
// value BLOCKIDs it hands out can be locked with OSLockObject / OSLockBlock and stay valid until
// the note is closed. Changes to the working copy never reach the database.
#pragma once

#include "Database.h"
#include "HandleTable.h"
#include "OpenDatabase.h"

#include <notes/nsfnote.h>
#include <notes/pool.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace notesemu {

class OpenNote : public HandleObject {
public:
    struct OpenItem {
        std::string_view name; // in the pool
        WORD flags = 0;
        const Item *stored = nullptr;
        bool visible = false; // sealed items of an encrypted note are hidden until decrypted
        BLOCKID item{};
        BLOCKID value{};
        std::uint8_t *valueBytes = nullptr; // the value block (type word first)
        DWORD valueLength = 0;
        // The value is left in the database's file: its block holds the type word and room for
        // the rest, filled by readValue.
        bool pending = false;
    };

    // Builds the working copy: every item the open flags let through, sealed items of an
    // encrypted note left out. The pool segments are registered in the table.
    static STATUS open(HandleTable &table, DBHANDLE dbHandle, std::shared_ptr<OpenDatabase> database,
                       const Note &note, DWORD openFlags, std::shared_ptr<OpenNote> &result);

    // Frees the pool segments and any table the note owns.
    void release(HandleTable &table);

    std::mutex &mutex() { return mutex_; }
    const Note &note() const { return *note_; }
    DBHANDLE dbHandle() const { return dbHandle_; }
    const OpenDatabase &database() const { return *database_; }
    DWORD openFlags() const { return openFlags_; }
    DHANDLE responses() const { return responses_; }

    // Reads the value of an item into its block if it is still in the database's file, so that
    // the block can be handed out. Fails (logged) only when the file changed since it was loaded.
    STATUS readValue(std::size_t index);
    // The same for every visible item.
    STATUS readValues();

    // Visible items in order; lookup by the item BLOCKID handed out.
    const std::vector<OpenItem> &items() const { return items_; }
    std::optional<std::size_t> indexOfItemBlock(const BLOCKID &block) const;
    // The first visible item at or after `from` with that name (any name when null).
    std::optional<std::size_t> findVisible(std::size_t from, std::optional<std::string_view> name) const;

    bool isSealed() const { return note_->sealed && !decrypted_; }
    // Shows the sealed items (NSFNoteDecrypt after the checks).
    STATUS reveal(HandleTable &table);

    // An item made in the working copy (by a conversion); its value starts with the type word.
    struct NewItem {
        std::string name;
        WORD flags = 0;
        std::vector<std::uint8_t> value;
    };
    // Rewrites the working copy: the visible items `remove` selects go, `inPlace` takes the place of
    // the first visible item named `at` (or goes at the end when there is none), `appended` goes
    // at the end. The new values live as long as the note.
    STATUS replaceItems(HandleTable &table, std::string_view at,
                        const std::function<bool(const OpenItem &)> &remove, std::vector<NewItem> inPlace,
                        std::vector<NewItem> appended);
    // Adds an attachment object owned by the working copy and returns its RRV.
    DWORD addObject(std::vector<std::uint8_t> bytes);
    // The object an RRV names: the working copy's own, else the database's; null when none.
    const DatabaseObject *findObject(DWORD rrv) const;
    // The bytes of an object findObject gave; an object left in the database's file is read once
    // and kept until the note is closed. Fails only when the file changed since it was loaded.
    STATUS objectBytes(DWORD rrv, const DatabaseObject &object, std::span<const std::uint8_t> &bytes) const;

private:
    OpenNote() = default;
    STATUS layOut(HandleTable &table, const std::vector<std::size_t> &which);

    std::mutex mutex_;
    DBHANDLE dbHandle_ = NULLHANDLE;
    std::shared_ptr<OpenDatabase> database_;
    const Note *note_ = nullptr;
    DWORD openFlags_ = 0;
    bool decrypted_ = false;
    std::vector<OpenItem> items_;
    // Item block (pool and offset) and its index in items_, sorted by block, so that
    // NSFItemInfoNext finds its place in logarithmic time; rebuilt whenever items_ changes.
    std::vector<std::pair<std::uint64_t, std::size_t>> itemIndex_;
    void reindex();
    std::vector<std::vector<std::uint8_t>> expanded_; // values changed by OPEN_EXPAND
    std::vector<DHANDLE> segments_;
    DHANDLE responses_ = NULLHANDLE;
    // What conversions added: item records, names and values, and attachment objects. Made on
    // the first conversion: most notes are only read.
    struct Owned {
        std::deque<Item> items;
        std::deque<std::string> names;
        std::deque<std::vector<std::uint8_t>> values;
        std::deque<std::vector<std::uint8_t>> objectBytes;
    };
    std::unique_ptr<Owned> owned_;
    std::map<DWORD, DatabaseObject> ownObjects_;
    mutable std::mutex objectMutex_;
    mutable std::map<DWORD, std::vector<std::uint8_t>> readObjects_;
};

// The open note a handle names: NOERROR and the note, ERR_NOTES_NOT_INITIALIZED when the runtime
// is not started, ERR_BAD_PARAM when the handle is not an open note (both logged, `function`
// naming the caller).
STATUS openNoteOf(NOTEHANDLE handle, const char *function, std::shared_ptr<OpenNote> &note);

} // namespace notesemu
