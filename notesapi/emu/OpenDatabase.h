// A database handle: the loaded database, read under the identity that opened it.
#pragma once

#include "Acl.h"
#include "Database.h"
#include "HandleTable.h"

#include <memory>
#include <string>
#include <string_view>

namespace notesemu {

class OpenDatabase : public HandleObject {
public:
    OpenDatabase(std::shared_ptr<const Database> database, std::string user, AccessLevel level)
        : database_(std::move(database)), user_(std::move(user)), level_(level) {}

    const std::shared_ptr<const Database> &database() const { return database_; }
    const std::string &user() const { return user_; }
    AccessLevel level() const { return level_; }

    // Whether the user may read the note: a note with readers items is readable only by the
    // names its readers and authors items list.
    bool canRead(const Note &note) const;

private:
    std::shared_ptr<const Database> database_;
    std::string user_;
    AccessLevel level_;
};

// The access a user has to a local database: the access list's level when the database has a
// list and enforces it locally (consistentacl), else full access, as Notes gives the local user.
// Logs which rule applied; `name` names the database in the log.
AccessLevel localAccessLevel(const Database &database, std::string_view user, std::string_view name);

// Whether a user is named by an entry of a TEXT or TEXT_LIST item (LMBCS names); anyEntries is
// set when the item has a non-empty entry.
bool itemNames(const Item &item, std::string_view user, bool &anyEntries);
// The same over the items carrying an ITEM_xxx flag.
bool listNames(std::span<const Item> items, WORD flag, std::string_view user, bool &anyEntries);

// The note whose UNID this is, or null.
const Note *findNoteByUnid(const Database &database, const UNIVERSALNOTEID &unid);
// The UNID a note's $REF item names, if it has one.
std::optional<UNIVERSALNOTEID> parentUnid(const Database &database, const Note &note);

} // namespace notesemu
