#include "OpenDatabase.h"

#include "DxlValues.h"
#include "Log.h"

#include <notes/nsfnote.h>

#include <cstring>

namespace notesemu {

AccessLevel localAccessLevel(const Database &database, std::string_view user, std::string_view name) {
    const std::string who(user), where(name);
    if (!database.hasAcl) {
        logf("NSFDbOpen(%s): no access control list; %s has manager access", where.c_str(), who.c_str());
        return AccessLevel::Manager;
    }
    if (!database.acl.consistent) {
        logf("NSFDbOpen(%s): the access control list is not enforced on local copies "
             "(no consistentacl); %s has manager access as the local user",
             where.c_str(), who.c_str());
        return AccessLevel::Manager;
    }
    const AccessLevel level = database.acl.levelOf(user);
    logf("NSFDbOpen(%s): the access control list is enforced locally (consistentacl); %s has %s access",
         where.c_str(), who.c_str(), std::string(accessLevelName(level)).c_str());
    return level;
}

bool itemNames(const Item &item, std::string_view user, bool &anyEntries) {
    for (const std::string_view entry : textEntries(item.value)) {
        if (entry.empty())
            continue;
        anyEntries = true;
        if (nameMatches(lmbcsToText(entry), user))
            return true;
    }
    return false;
}

bool listNames(std::span<const Item> items, WORD flag, std::string_view user, bool &anyEntries) {
    for (const Item &item : items) {
        if ((item.flags & flag) != 0 && itemNames(item, user, anyEntries))
            return true;
    }
    return false;
}

bool OpenDatabase::canRead(const Note &note) const {
    if (note.unreadable)
        return false;
    const std::span<const Item> items = database_->itemsOf(note);
    for (const Item &item : items) {
        // A readers item that holds no names list cannot say who may read: nobody may.
        if ((item.flags & ITEM_READERS) != 0 &&
            ((item.type() != TYPE_TEXT && item.type() != TYPE_TEXT_LIST) || item.readStatus != NOERROR))
            return false;
    }
    bool restricted = false;
    if (listNames(items, ITEM_READERS, user_, restricted))
        return true;
    if (!restricted)
        return true;
    // Authors of a restricted document read it too.
    bool authorsListed = false;
    return listNames(items, ITEM_READWRITERS, user_, authorsListed);
}

const Note *findNoteByUnid(const Database &database, const UNIVERSALNOTEID &unid) {
    for (const Note &note : database.notes) {
        if (std::memcmp(&note.oid, &unid, sizeof unid) == 0)
            return &note;
    }
    return nullptr;
}

std::optional<UNIVERSALNOTEID> parentUnid(const Database &database, const Note &note) {
    const Item *ref = findItem(database.itemsOf(note), "$REF");
    if (ref == nullptr || ref->type() != TYPE_NOTEREF_LIST ||
        ref->value.size() < 2 + 2 + sizeof(UNIVERSALNOTEID))
        return std::nullopt;
    const std::span<const std::uint8_t> data = ref->data();
    if ((data[0] | data[1] << 8) == 0)
        return std::nullopt;
    UNIVERSALNOTEID unid;
    std::memcpy(&unid, data.data() + 2, sizeof unid);
    return unid;
}

} // namespace notesemu
