#include "OpenNote.h"

#include "DxlValues.h"
#include "IdTable.h"
#include "Log.h"
#include "Runtime.h"

#include <algorithm>
#include <cstring>

namespace notesemu {
namespace {

// The item block: WORD name length, WORD flags, WORD type, WORD spare, DWORD value length, then
// the name.
constexpr std::size_t kItemHeader = 12;
constexpr std::size_t kFirstBlock = 4;
constexpr std::size_t kMaxBlock = 0xFFFF;

std::size_t align4(std::size_t offset) {
    return (offset + 3) & ~std::size_t{3};
}

void putWord(std::uint8_t *at, std::size_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

// OPEN_EXPAND: single text, number and time values become one-entry lists and ranges.
std::optional<std::vector<std::uint8_t>> expandedValue(const Item &item) {
    const WORD type = item.type();
    const std::span<const std::uint8_t> data = item.data();
    std::vector<std::uint8_t> value(2);
    if (type == TYPE_TEXT) {
        if (data.size() > 0xFFFF)
            return std::nullopt;
        putWord(value.data(), TYPE_TEXT_LIST);
        value.resize(6);
        putWord(value.data() + 2, 1);
        putWord(value.data() + 4, data.size());
    } else if (type == TYPE_NUMBER || type == TYPE_TIME) {
        putWord(value.data(), type == TYPE_NUMBER ? TYPE_NUMBER_RANGE : TYPE_TIME_RANGE);
        value.resize(6);
        putWord(value.data() + 2, 1);
        putWord(value.data() + 4, 0);
    } else {
        return std::nullopt;
    }
    value.insert(value.end(), data.begin(), data.end());
    return value;
}

} // namespace

STATUS OpenNote::open(HandleTable &table, DBHANDLE dbHandle, std::shared_ptr<OpenDatabase> database,
                      const Note &note, DWORD openFlags, std::shared_ptr<OpenNote> &result) {
    std::shared_ptr<OpenNote> open(new OpenNote());
    open->dbHandle_ = dbHandle;
    open->database_ = std::move(database);
    open->note_ = &note;
    open->openFlags_ = openFlags;
    const Database &db = *open->database_->database();
    std::vector<std::size_t> visible;
    visible.reserve(note.itemCount);
    open->items_.reserve(note.itemCount);
    bool rawMime = false;
    for (const Item &item : db.itemsOf(note)) {
        if ((openFlags & OPEN_SUMMARY) != 0 && (item.flags & ITEM_SUMMARY) == 0)
            continue;
        OpenItem entry;
        entry.name = item.name;
        entry.flags = item.flags;
        entry.stored = &item;
        entry.visible = !(note.sealed && (item.flags & ITEM_SEAL) != 0);
        if (entry.visible)
            visible.push_back(open->items_.size());
        if ((item.type() == TYPE_MIME_PART && (openFlags & OPEN_RAW_MIME_PART) == 0) ||
            (item.type() == TYPE_RFC822_TEXT && (openFlags & OPEN_RAW_RFC822_TEXT) == 0))
            rawMime = true;
        open->items_.push_back(entry);
    }
    if (rawMime)
        logf("Note 0x%X opened without OPEN_RAW_MIME: its MIME items are shown as stored (the emulated "
             "runtime converts them only through MIMEConvertMIMEPartCC)",
             note.id);
    if (const STATUS status = open->layOut(table, visible); status != NOERROR) {
        open->release(table);
        return status;
    }
    if ((openFlags & OPEN_RESPONSE_ID_TABLE) != 0) {
        auto responses = std::make_shared<IdTable>();
        for (const Note &other : db.notes) {
            const auto parent = parentUnid(db, other);
            if (parent && std::memcmp(&*parent, &note.oid, sizeof *parent) == 0 &&
                open->database_->canRead(other))
                responses->insert(other.id);
        }
        if (const STATUS status = table.insertObject(HandleKind::IdTable, responses, open->responses_);
            status != NOERROR) {
            open->release(table);
            return status;
        }
    }
    result = std::move(open);
    return NOERROR;
}

STATUS OpenNote::layOut(HandleTable &table, const std::vector<std::size_t> &which) {
    if (which.empty())
        return NOERROR;
    struct Placement {
        std::size_t segment, itemOffset, valueOffset;
        std::span<const std::uint8_t> value;
        std::size_t valueSize;
        const Item *lazy; // read from the database's file into the pool
    };
    const Database &db = *database_->database();
    std::vector<Placement> placements;
    placements.reserve(which.size());
    std::vector<std::size_t> segmentSizes{kFirstBlock};
    for (const std::size_t index : which) {
        OpenItem &entry = items_[index];
        std::span<const std::uint8_t> value = entry.stored->value;
        const Item *lazy = entry.stored->isLazy() ? entry.stored : nullptr;
        if ((openFlags_ & OPEN_EXPAND) != 0) {
            if (auto expanded = expandedValue(*entry.stored)) {
                expanded_.push_back(std::move(*expanded));
                value = expanded_.back();
            }
        }
        const std::size_t valueSize = lazy != nullptr ? db.valueSize(*lazy) : value.size();
        const std::size_t header = kItemHeader + entry.name.size();
        std::size_t itemOffset = align4(segmentSizes.back());
        std::size_t valueOffset = align4(itemOffset + header);
        if (valueOffset > kMaxBlock) {
            segmentSizes.push_back(kFirstBlock);
            itemOffset = kFirstBlock;
            valueOffset = align4(itemOffset + header);
        }
        placements.push_back({segmentSizes.size() - 1, itemOffset, valueOffset, value, valueSize, lazy});
        segmentSizes.back() = valueOffset + valueSize;
    }
    std::vector<std::pair<DHANDLE, std::uint8_t *>> segments;
    for (const std::size_t size : segmentSizes) {
        DHANDLE handle = NULLHANDLE;
        if (const STATUS status = table.allocatePinned(size, handle); status != NOERROR)
            return status;
        segments_.push_back(handle);
        // Pool bytes never move; the lock only yields their address.
        auto *base = static_cast<std::uint8_t *>(table.lockMemory(HandleKind::Memory, handle));
        table.unlockMemory(HandleKind::Memory, handle);
        segments.emplace_back(handle, base);
    }
    for (std::size_t i = 0; i < which.size(); ++i) {
        OpenItem &entry = items_[which[i]];
        const Placement &place = placements[i];
        const auto [handle, base] = segments[place.segment];
        std::uint8_t *item = base + place.itemOffset;
        entry.pending = place.lazy != nullptr;
        if (place.lazy != nullptr) {
            // Only the type word now; the rest when the value is asked for.
            putWord(base + place.valueOffset, place.lazy->lazyType);
        } else if (!place.value.empty()) {
            std::memcpy(base + place.valueOffset, place.value.data(), place.value.size());
        }
        const std::uint8_t *valueBytes = base + place.valueOffset;
        putWord(item, entry.name.size());
        putWord(item + 2, entry.flags);
        putWord(item + 4, place.valueSize >= 2 ? (valueBytes[0] | valueBytes[1] << 8) : 0);
        putWord(item + 6, 0);
        const auto length = static_cast<DWORD>(place.valueSize);
        std::memcpy(item + 8, &length, sizeof length);
        std::memcpy(item + kItemHeader, entry.name.data(), entry.name.size());
        entry.name = std::string_view(reinterpret_cast<const char *>(item + kItemHeader), entry.name.size());
        entry.item = BLOCKID{handle, static_cast<BLOCK>(place.itemOffset)};
        entry.value = BLOCKID{handle, static_cast<BLOCK>(place.valueOffset)};
        entry.valueBytes = base + place.valueOffset;
        entry.valueLength = length;
        entry.visible = true;
    }
    reindex();
    return NOERROR;
}

void OpenNote::release(HandleTable &table) {
    for (const DHANDLE segment : segments_)
        table.releasePinned(segment);
    segments_.clear();
    if (responses_ != NULLHANDLE) {
        table.freeObject(HandleKind::IdTable, responses_);
        responses_ = NULLHANDLE;
    }
}

static std::uint64_t blockKey(const BLOCKID &block) {
    return static_cast<std::uint64_t>(block.pool) << 16 | block.block;
}

void OpenNote::reindex() {
    itemIndex_.clear();
    itemIndex_.reserve(items_.size());
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (items_[i].visible)
            itemIndex_.emplace_back(blockKey(items_[i].item), i);
    }
    std::sort(itemIndex_.begin(), itemIndex_.end());
}

std::optional<std::size_t> OpenNote::indexOfItemBlock(const BLOCKID &block) const {
    const std::uint64_t key = blockKey(block);
    const auto found = std::lower_bound(itemIndex_.begin(), itemIndex_.end(), key,
                                        [](const auto &entry, std::uint64_t value) { return entry.first < value; });
    if (found == itemIndex_.end() || found->first != key)
        return std::nullopt;
    return found->second;
}

std::optional<std::size_t> OpenNote::findVisible(std::size_t from,
                                                 std::optional<std::string_view> name) const {
    for (std::size_t i = from; i < items_.size(); ++i) {
        if (items_[i].visible && (!name || sameItemName(items_[i].name, *name)))
            return i;
    }
    return std::nullopt;
}

STATUS OpenNote::readValue(std::size_t index) {
    OpenItem &entry = items_[index];
    if (!entry.pending)
        return NOERROR;
    const Database &db = *database_->database();
    if (const STATUS status = db.readValue(*entry.stored, entry.valueBytes); status != NOERROR)
        return status;
    entry.pending = false;
    if (entry.stored->lazyType == TYPE_COMPOSITE) {
        const std::string_view problem =
            rawValueProblem(TYPE_COMPOSITE, std::span<const std::uint8_t>(entry.valueBytes + 2, entry.valueLength - 2));
        if (!problem.empty())
            logf("Item %.*s: its rich text is damaged (%.*s); kept as stored", static_cast<int>(entry.name.size()),
                 entry.name.data(), static_cast<int>(problem.size()), problem.data());
    }
    return NOERROR;
}

STATUS OpenNote::readValues() {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!items_[i].visible)
            continue;
        if (const STATUS status = readValue(i); status != NOERROR)
            return status;
    }
    return NOERROR;
}

STATUS OpenNote::reveal(HandleTable &table) {
    std::vector<std::size_t> hidden;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (!items_[i].visible)
            hidden.push_back(i);
    }
    if (const STATUS status = layOut(table, hidden); status != NOERROR)
        return status;
    decrypted_ = true;
    return NOERROR;
}

STATUS OpenNote::replaceItems(HandleTable &table, std::string_view at,
                              const std::function<bool(const OpenItem &)> &remove,
                              std::vector<NewItem> inPlace, std::vector<NewItem> appended) {
    std::optional<std::size_t> position = findVisible(0, at);
    std::vector<OpenItem> kept;
    kept.reserve(items_.size() + inPlace.size() + appended.size());
    std::size_t insertAt = 0;
    for (std::size_t i = 0; i < items_.size(); ++i) {
        if (position && i == *position)
            insertAt = kept.size();
        if (!items_[i].visible || !remove(items_[i]))
            kept.push_back(items_[i]);
    }
    if (!position)
        insertAt = kept.size();
    if (!owned_)
        owned_ = std::make_unique<Owned>();
    Owned &owned = *owned_;
    const auto make = [&owned](NewItem &source) {
        owned.names.push_back(std::move(source.name));
        owned.values.push_back(std::move(source.value));
        Item item;
        item.name = owned.names.back();
        item.flags = source.flags;
        item.value = owned.values.back();
        owned.items.push_back(item);
        OpenItem entry;
        entry.name = owned.items.back().name;
        entry.flags = item.flags;
        entry.stored = &owned.items.back();
        return entry;
    };
    std::vector<OpenItem> fresh;
    for (NewItem &item : inPlace)
        fresh.push_back(make(item));
    kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(insertAt), fresh.begin(), fresh.end());
    std::vector<std::size_t> layout;
    for (std::size_t i = 0; i < fresh.size(); ++i)
        layout.push_back(insertAt + i);
    for (NewItem &item : appended) {
        layout.push_back(kept.size());
        kept.push_back(make(item));
    }
    items_ = std::move(kept);
    const STATUS status = layOut(table, layout);
    reindex();
    return status;
}

DWORD OpenNote::addObject(std::vector<std::uint8_t> bytes) {
    const Database &db = *database_->database();
    DWORD rrv = db.objects.empty() ? 4 : db.objects.rbegin()->first + 4;
    if (!ownObjects_.empty())
        rrv = std::max(rrv, ownObjects_.rbegin()->first + 4);
    if (!owned_)
        owned_ = std::make_unique<Owned>();
    owned_->objectBytes.push_back(std::move(bytes));
    ownObjects_[rrv] = DatabaseObject{owned_->objectBytes.back()};
    return rrv;
}

STATUS OpenNote::objectBytes(DWORD rrv, const DatabaseObject &object, std::span<const std::uint8_t> &bytes) const {
    bytes = object.bytes;
    if (object.lazy == kNotLazy)
        return NOERROR;
    std::lock_guard lock(objectMutex_);
    if (const auto found = readObjects_.find(rrv); found != readObjects_.end()) {
        bytes = found->second;
        return NOERROR;
    }
    std::vector<std::uint8_t> storage;
    std::span<const std::uint8_t> read;
    if (const STATUS status = database_->database()->readObject(object, storage, read); status != NOERROR)
        return status;
    // A vector's buffer stays where it is when the vector moves into the map.
    bytes = readObjects_.emplace(rrv, std::move(storage)).first->second;
    return NOERROR;
}

const DatabaseObject *OpenNote::findObject(DWORD rrv) const {
    if (const auto found = ownObjects_.find(rrv); found != ownObjects_.end())
        return &found->second;
    return database_->database()->findObject(rrv);
}

STATUS openNoteOf(NOTEHANDLE handle, const char *function, std::shared_ptr<OpenNote> &note) {
    note.reset();
    Runtime &runtime = Runtime::instance();
    if (!runtime.initialised()) {
        logf("%s called before NotesInitExtended", function);
        return ERR_NOTES_NOT_INITIALIZED;
    }
    note = runtime.handles().objectAs<OpenNote>(HandleKind::Note, handle);
    if (!note) {
        logf("%s: 0x%08X is not an open note", function, handle);
        return ERR_BAD_PARAM;
    }
    return NOERROR;
}

} // namespace notesemu
