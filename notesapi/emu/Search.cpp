#include "Search.h"

#include "Calendar.h"

#include "Log.h"

#include <notes/nsfnote.h>

#include <chrono>
#include <cstring>

namespace notesemu {
namespace {

constexpr std::size_t kMaxSummary = 0xFFFF;

// Whether a TIMEDATE is later than another (GMT day, then time of day).
bool later(const TIMEDATE &a, const TIMEDATE &b) {
    const DWORD dayA = a.Innards[1] & 0x00FFFFFF, dayB = b.Innards[1] & 0x00FFFFFF;
    if (dayA != dayB)
        return dayA > dayB;
    return a.Innards[0] > b.Innards[0];
}

TIMEDATE now() {
    const auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    return timedateFromUnixTicks(seconds / 10);
}

} // namespace

std::vector<std::uint8_t> summaryBuffer(const Database &database, const Note &note) {
    std::vector<const Item *> items;
    std::size_t total = sizeof(ITEM_TABLE);
    for (const Item &item : database.itemsOf(note)) {
        if ((item.flags & ITEM_SUMMARY) == 0 || (note.sealed && (item.flags & ITEM_SEAL) != 0))
            continue;
        const std::size_t size = sizeof(ITEM) + item.name.size() + item.value.size();
        if (item.name.size() > 0xFFFF || item.value.size() > 0xFFFF || total + size > kMaxSummary) {
            logf("Summary of note 0x%X leaves out item '%.*s' (the summary buffer holds at most 65535 bytes)",
                 note.id, static_cast<int>(item.name.size()), item.name.data());
            continue;
        }
        total += size;
        items.push_back(&item);
    }
    std::vector<std::uint8_t> buffer(total);
    ITEM_TABLE header{static_cast<USHORT>(total), static_cast<USHORT>(items.size())};
    std::memcpy(buffer.data(), &header, sizeof header);
    std::size_t at = sizeof header;
    for (const Item *item : items) {
        const ITEM entry{static_cast<USHORT>(item->name.size()), static_cast<USHORT>(item->value.size())};
        std::memcpy(buffer.data() + at, &entry, sizeof entry);
        at += sizeof entry;
    }
    for (const Item *item : items) {
        std::memcpy(buffer.data() + at, item->name.data(), item->name.size());
        at += item->name.size();
        std::memcpy(buffer.data() + at, item->value.data(), item->value.size());
        at += item->value.size();
    }
    return buffer;
}

STATUS runSearch(const OpenDatabase &open, DWORD searchFlags, WORD noteClassMask, const TIMEDATE *since,
                 NSFSEARCHPROC routine, void *parameter, TIMEDATE *retUntil) {
    const Database &database = *open.database();
    const TIMEDATE until = now();
    // The structure and, right after it, the summary buffer, as the callback receives them.
    std::vector<std::uint8_t> match;
    for (const Note &note : database.notes) {
        if ((note.noteClass & noteClassMask & NOTE_CLASS_ALL) == 0)
            continue;
        if (since != nullptr && !later(note.modified, *since))
            continue;
        if (!open.canRead(note))
            continue;
        std::vector<std::uint8_t> summary;
        if ((searchFlags & SEARCH_SUMMARY) != 0)
            summary = summaryBuffer(database, note);
        SEARCH_MATCH header{};
        header.ID.File = database.dbid;
        header.ID.Note = note.modified;
        header.ID.NoteID = note.id;
        header.OriginatorID = note.oid;
        // NOTE_CLASS_DEFAULT shares its bit with the deletion-stub marker of search results.
        header.NoteClass = static_cast<WORD>(note.noteClass & ~NOTE_CLASS_NOTIFYDELETION);
        header.SERetFlags = SE_FMATCH;
        header.SummaryLength = static_cast<WORD>(summary.size());
        match.assign(sizeof header + summary.size(), 0);
        std::memcpy(match.data(), &header, sizeof header);
        if (!summary.empty())
            std::memcpy(match.data() + sizeof header, summary.data(), summary.size());
        auto *summaryBuffer = (searchFlags & SEARCH_SUMMARY) != 0
                                  ? reinterpret_cast<ITEM_TABLE *>(match.data() + sizeof header)
                                  : nullptr;
        if (const STATUS status =
                routine(parameter, reinterpret_cast<SEARCH_MATCH *>(match.data()), summaryBuffer);
            status != NOERROR)
            return status;
    }
    if (retUntil != nullptr)
        *retUntil = until;
    return NOERROR;
}

} // namespace notesemu
