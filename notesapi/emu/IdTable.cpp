#include "IdTable.h"

#include <notes/idtable.h>

#include <algorithm>

namespace notesemu {

bool IdTable::insert(DWORD id) {
    std::lock_guard lock(mutex_);
    // Notes are mostly inserted in ascending order: appending is the common case.
    if (ids_.empty() || ids_.back() < id) {
        ids_.push_back(id);
        flags_ |= IDTABLE_MODIFIED;
        return true;
    }
    const auto found = std::lower_bound(ids_.begin(), ids_.end(), id);
    if (found != ids_.end() && *found == id)
        return false;
    ids_.insert(found, id);
    flags_ |= IDTABLE_MODIFIED;
    return true;
}

bool IdTable::contains(DWORD id) const {
    std::lock_guard lock(mutex_);
    return std::binary_search(ids_.begin(), ids_.end(), id);
}

std::size_t IdTable::size() const {
    std::lock_guard lock(mutex_);
    return ids_.size();
}

void IdTable::clear() {
    std::lock_guard lock(mutex_);
    if (!ids_.empty())
        flags_ |= IDTABLE_MODIFIED;
    ids_.clear();
}

std::optional<DWORD> IdTable::first() const {
    std::lock_guard lock(mutex_);
    if (ids_.empty())
        return std::nullopt;
    return ids_.front();
}

std::optional<DWORD> IdTable::next(DWORD after) const {
    std::lock_guard lock(mutex_);
    const auto found = std::upper_bound(ids_.begin(), ids_.end(), after);
    if (found == ids_.end())
        return std::nullopt;
    return *found;
}

std::vector<DWORD> IdTable::snapshot() const {
    std::lock_guard lock(mutex_);
    return ids_;
}

WORD IdTable::flags() const {
    std::lock_guard lock(mutex_);
    return flags_;
}

} // namespace notesemu
