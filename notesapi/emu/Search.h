// NSFSearch over a loaded database: the notes of the classes asked for, in ascending note ID
// order, that the handle's user may read (and, with a Since time, that changed after it).
#pragma once

#include "OpenDatabase.h"

#include <notes/nsfsearc.h>

#include <cstdint>
#include <vector>

namespace notesemu {

// The summary buffer of a note: ITEM_TABLE, the ITEM entries, then each item's name and value,
// for the summary items in note order. Items that would take the buffer past 65535 bytes are
// left out (logged).
std::vector<std::uint8_t> summaryBuffer(const Database &database, const Note &note);

// Runs the search; the callback's first non-zero status stops it and is returned.
STATUS runSearch(const OpenDatabase &database, DWORD searchFlags, WORD noteClassMask, const TIMEDATE *since,
                 NSFSEARCHPROC routine, void *parameter, TIMEDATE *retUntil);

} // namespace notesemu
