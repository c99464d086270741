#include "Database.h"

#include "DxlValues.h"
#include "Log.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace notesemu {

static_assert(std::endian::native == std::endian::little,
              "canonical structures are read in place: the runtime needs a little-endian host");

std::span<const std::uint8_t> ByteArena::store(std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return {};
    used_ += bytes.size();
    // Large values get a chunk of their own so that small ones do not waste the rest of a chunk.
    if (bytes.size() > kChunkSize / 4) {
        auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(bytes.size());
        std::memcpy(chunk.get(), bytes.data(), bytes.size());
        chunks_.push_back(std::move(chunk));
        return {chunks_.back().get(), bytes.size()};
    }
    if (bytes.size() > chunkFree_) {
        chunks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kChunkSize));
        chunkNext_ = chunks_.back().get();
        chunkFree_ = kChunkSize;
    }
    std::uint8_t *copy = chunkNext_;
    std::memcpy(copy, bytes.data(), bytes.size());
    chunkNext_ += bytes.size();
    chunkFree_ -= bytes.size();
    return {copy, bytes.size()};
}

SourceFile::~SourceFile() {
    if (fd_ >= 0)
        closeDescriptor(fd_);
}

STATUS SourceFile::read(const LazyBytes &range, std::uint8_t *out) const {
    const std::optional<FileStamp> now = fileStampOf(fd_);
    if (!now || now->size != stamp_.size || now->modifiedNs != stamp_.modifiedNs) {
        logf("%s: the file changed after the database was opened; its values are no longer read from it "
             "(reopen the database)",
             path_.c_str());
        return ERR_STRUCT;
    }
    std::string raw(range.rawLength, '\0');
    std::size_t done = 0;
    while (done < raw.size()) {
        const long long got = readAt(fd_, raw.data() + done, raw.size() - done, range.offset + done);
        if (got <= 0) {
            logf("%s: cannot read %zu bytes at offset %llu of the file", path_.c_str(), raw.size(),
                 static_cast<unsigned long long>(range.offset));
            return ERR_STRUCT;
        }
        done += static_cast<std::size_t>(got);
    }
    std::vector<std::uint8_t> decoded;
    decoded.reserve(range.size + 3);
    Base64Decoder decoder(decoded);
    if (!decoder.feed(raw) || !decoder.finish() || decoded.size() != range.size) {
        logf("%s: the file no longer holds the expected base64 value at offset %llu", path_.c_str(),
             static_cast<unsigned long long>(range.offset));
        return ERR_STRUCT;
    }
    if (!decoded.empty())
        std::memcpy(out, decoded.data(), decoded.size());
    return NOERROR;
}

STATUS Database::readValue(const Item &item, std::uint8_t *out) const {
    if (!item.isLazy()) {
        if (!item.value.empty())
            std::memcpy(out, item.value.data(), item.value.size());
        return NOERROR;
    }
    out[0] = static_cast<std::uint8_t>(item.lazyType);
    out[1] = static_cast<std::uint8_t>(item.lazyType >> 8);
    if (!source)
        return ERR_STRUCT;
    return source->read(lazyValues[item.lazy], out + 2);
}

STATUS Database::readValue(const Item &item, std::vector<std::uint8_t> &out) const {
    out.resize(valueSize(item));
    return readValue(item, out.data());
}

STATUS Database::readObject(const DatabaseObject &object, std::vector<std::uint8_t> &storage,
                            std::span<const std::uint8_t> &bytes) const {
    bytes = object.bytes;
    if (object.lazy == kNotLazy)
        return NOERROR;
    const LazyBytes &range = lazyValues[object.lazy];
    storage.resize(range.size);
    if (!source)
        return ERR_STRUCT;
    if (const STATUS status = source->read(range, storage.data()); status != NOERROR) {
        storage = {};
        return status;
    }
    bytes = storage;
    return NOERROR;
}

const Item *ItemStore::append(std::span<const Item> first, std::span<const Item> second) {
    const std::size_t count = first.size() + second.size();
    if (count == 0)
        return nullptr;
    if (count > free_) {
        // The rest of the last chunk stays unused; a note with more items than a chunk holds
        // gets a chunk of its own size.
        const std::size_t size = std::max(kChunkItems, count);
        chunks_.push_back(std::make_unique<Item[]>(size));
        next_ = chunks_.back().get();
        free_ = size;
    }
    Item *start = next_;
    next_ = std::copy(second.begin(), second.end(), std::copy(first.begin(), first.end(), next_));
    free_ -= count;
    size_ += count;
    return start;
}

const Note *Database::findNote(NOTEID id) const {
    const auto found = std::lower_bound(notes.begin(), notes.end(), id,
                                        [](const Note &note, NOTEID value) { return note.id < value; });
    return found != notes.end() && found->id == id ? &*found : nullptr;
}

const DatabaseObject *Database::findObject(DWORD rrv) const {
    const auto found = objects.find(rrv);
    return found == objects.end() ? nullptr : &found->second;
}

std::string_view Database::internName(std::string_view name) {
    if (const auto found = names.find(name); found != names.end())
        return *found;
    return *names.emplace(name).first;
}

bool sameItemName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

const Item *findItem(std::span<const Item> items, std::string_view name) {
    for (const Item &item : items) {
        if (sameItemName(item.name, name))
            return &item;
    }
    return nullptr;
}

std::vector<std::string_view> textEntries(std::span<const std::uint8_t> value) {
    std::vector<std::string_view> entries;
    if (value.size() < 2)
        return entries;
    const WORD type = static_cast<WORD>(value[0] | value[1] << 8);
    const auto *bytes = reinterpret_cast<const char *>(value.data());
    if (type == TYPE_TEXT) {
        entries.emplace_back(bytes + 2, value.size() - 2);
        return entries;
    }
    if (type != TYPE_TEXT_LIST || value.size() < 4)
        return entries;
    const std::size_t count = value[2] | value[3] << 8;
    std::size_t lengths = 4;
    std::size_t text = lengths + 2 * count;
    if (text > value.size())
        return {};
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = value[lengths + 2 * i] | value[lengths + 2 * i + 1] << 8;
        if (length > value.size() - text)
            return {};
        entries.emplace_back(bytes + text, length);
        text += length;
    }
    return entries;
}

namespace {

std::string hex64(std::uint32_t high, std::uint32_t low) {
    char text[17];
    std::snprintf(text, sizeof text, "%08X%08X", high, low);
    return text;
}

std::optional<std::uint64_t> parseHex64(std::string_view text) {
    if (text.size() != 16)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value << 4 | static_cast<std::uint64_t>(digit);
    }
    return value;
}

TIMEDATE timedateOf(std::uint64_t value) {
    TIMEDATE result;
    result.Innards[0] = static_cast<DWORD>(value);
    result.Innards[1] = static_cast<DWORD>(value >> 32);
    return result;
}

} // namespace

std::string unidText(const UNIVERSALNOTEID &unid) {
    return hex64(unid.File.Innards[1], unid.File.Innards[0]) +
           hex64(unid.Note.Innards[1], unid.Note.Innards[0]);
}

std::optional<UNIVERSALNOTEID> parseUnid(std::string_view text) {
    if (text.size() != 32)
        return std::nullopt;
    const auto file = parseHex64(text.substr(0, 16));
    const auto note = parseHex64(text.substr(16));
    if (!file || !note)
        return std::nullopt;
    return UNIVERSALNOTEID{timedateOf(*file), timedateOf(*note)};
}

std::string timedateHex(const TIMEDATE &value) {
    return hex64(value.Innards[1], value.Innards[0]);
}

std::optional<TIMEDATE> parseTimedateHex(std::string_view text) {
    const auto value = parseHex64(text);
    if (!value)
        return std::nullopt;
    return timedateOf(*value);
}

} // namespace notesemu
