#include "Acl.h"

#include <array>
#include <cctype>

namespace notesemu {
namespace {

constexpr std::array<std::string_view, 7> kLevelNames = {"noaccess", "depositor", "reader", "author",
                                                         "editor",   "designer",  "manager"};

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

} // namespace

std::optional<AccessLevel> parseAccessLevel(std::string_view word) {
    for (std::size_t i = 0; i < kLevelNames.size(); ++i) {
        if (equalsIgnoreCase(word, kLevelNames[i]))
            return static_cast<AccessLevel>(i);
    }
    return std::nullopt;
}

std::string_view accessLevelName(AccessLevel level) {
    return kLevelNames[static_cast<std::size_t>(level)];
}

std::string normalizedName(std::string_view name) {
    std::string out;
    name = trim(name);
    while (true) {
        const std::size_t slash = name.find('/');
        std::string_view part = trim(name.substr(0, slash));
        // Drop a component label (CN=, OU=, O=, C=) of the canonical form.
        if (const std::size_t equals = part.find('='); equals != std::string_view::npos && equals <= 2) {
            const std::string_view label = part.substr(0, equals);
            if (equalsIgnoreCase(label, "cn") || equalsIgnoreCase(label, "ou") ||
                equalsIgnoreCase(label, "o") || equalsIgnoreCase(label, "c"))
                part = trim(part.substr(equals + 1));
        }
        for (char c : part)
            out.push_back(lower(c));
        if (slash == std::string_view::npos)
            break;
        out.push_back('/');
        name.remove_prefix(slash + 1);
    }
    return out;
}

bool nameMatches(std::string_view entry, std::string_view user) {
    entry = trim(entry);
    if (entry.empty() || entry.front() == '[')
        return false;
    const std::string normalUser = normalizedName(user);
    if (entry.starts_with("*/")) {
        const std::string tail = normalizedName(entry.substr(2));
        return normalUser.size() > tail.size() + 1 && normalUser.ends_with(tail) &&
               normalUser[normalUser.size() - tail.size() - 1] == '/';
    }
    return normalizedName(entry) == normalUser;
}

AccessLevel Acl::levelOf(std::string_view user) const {
    for (const AclEntry &entry : entries) {
        if (!entry.name.starts_with("*/") && nameMatches(entry.name, user))
            return entry.level;
    }
    for (const AclEntry &entry : entries) {
        if (entry.name.starts_with("*/") && nameMatches(entry.name, user))
            return entry.level;
    }
    return defaultLevel.value_or(AccessLevel::NoAccess);
}

} // namespace notesemu
