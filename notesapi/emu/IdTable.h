// ID tables: sorted sets of note IDs behind a handle.
#pragma once

#include "HandleTable.h"

#include <notes/global.h>

#include <mutex>
#include <optional>
#include <vector>

namespace notesemu {

class IdTable : public HandleObject {
public:
    // True when the ID was not there yet.
    bool insert(DWORD id);
    bool contains(DWORD id) const;
    std::size_t size() const;
    void clear();
    // The lowest ID, or the lowest above `after`; nullopt at the end.
    std::optional<DWORD> first() const;
    std::optional<DWORD> next(DWORD after) const;
    std::vector<DWORD> snapshot() const;
    WORD flags() const;

private:
    mutable std::mutex mutex_;
    std::vector<DWORD> ids_; // ascending
    WORD flags_ = 0;
};

} // namespace notesemu
