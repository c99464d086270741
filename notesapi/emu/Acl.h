// Access control of a database as its DXL `acl` element gives it, and the name matching that
// decides which entry, readers item or encryption list a user is in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace notesemu {

enum class AccessLevel { NoAccess, Depositor, Reader, Author, Editor, Designer, Manager };

// "noaccess", "depositor", ... "manager"; nullopt for another word.
std::optional<AccessLevel> parseAccessLevel(std::string_view word);
std::string_view accessLevelName(AccessLevel level);

// A name in its abbreviated, lower-case form: "CN=Alice Smith/O=Acme" and "alice smith/acme"
// both become "alice smith/acme".
std::string normalizedName(std::string_view name);

// Whether a user name matches a name given in an ACL entry, a readers item or an encryption
// list: the same name in canonical or abbreviated form, any case; an entry "*/O=Acme" matches
// every name of that organisation. Role names ("[Admin]") match nobody.
bool nameMatches(std::string_view entry, std::string_view user);

struct AclEntry {
    std::string name;
    AccessLevel level = AccessLevel::NoAccess;
    std::vector<std::string> roles; // "[Admin]", as the entry's role elements give them
};

struct Acl {
    std::optional<AccessLevel> defaultLevel; // -Default- entry or acl/@default
    std::vector<AclEntry> entries;
    std::vector<std::string> roles; // the roles the database defines
    // acl/@consistentacl: the list is enforced on a local copy too. Without it Notes gives the
    // local user full access to a local database, whatever the list says.
    bool consistent = false;

    // The level of a user: an entry naming the user (exact names before wildcards), else an
    // "Anonymous" entry for the anonymous user, else the default, else no access.
    AccessLevel levelOf(std::string_view user) const;
};

} // namespace notesemu
