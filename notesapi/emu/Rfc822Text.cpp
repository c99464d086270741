#include "Rfc822Text.h"

#include "Log.h"
#include "TimeText.h"
#include "Translate.h"

#include <notes/mimeods.h>
#include <notes/notes.h>

#include <cstring>

namespace notesemu {
namespace {

// RFC822ITEMDESC in canonical form: its ODS size doubles as its version.
constexpr std::size_t kDescriptorSize = 14;
constexpr WORD kVersion = 14;

WORD wordAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<WORD>(bytes[at] | bytes[at + 1] << 8);
}

DWORD dwordAt(std::span<const std::uint8_t> bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<DWORD>(bytes[at + 3]) << 24;
}

std::string asString(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char *>(bytes.data()), bytes.size());
}

// A native list in the layout of a TEXT_LIST value (LIST, the lengths, the strings); nullopt
// unless the counts and lengths account for every byte.
std::optional<std::vector<std::string>> nativeList(std::span<const std::uint8_t> native) {
    if (native.size() < 2)
        return std::nullopt;
    const std::size_t count = wordAt(native, 0);
    std::size_t at = 2 + 2 * count;
    if (at > native.size())
        return std::nullopt;
    std::vector<std::string> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t length = wordAt(native, 2 + 2 * i);
        if (length > native.size() - at)
            return std::nullopt;
        entries.push_back(asString(native.subspan(at, length)));
        at += length;
    }
    if (at != native.size())
        return std::nullopt;
    return entries;
}

} // namespace

DWORD Rfc822Parts::format() const {
    return flags & RFC822_ITEM_FORMAT_MASK;
}

bool Rfc822Parts::isList() const {
    return (flags & RFC822_ITEM_TEXT_LIST) != 0;
}

std::optional<Rfc822Parts> splitRfc822(std::span<const std::uint8_t> value) {
    if (value.size() < kDescriptorSize)
        return std::nullopt;
    Rfc822Parts parts;
    parts.version = wordAt(value, 0);
    parts.flags = dwordAt(value, 2);
    const std::size_t lengths[4] = {wordAt(value, 6), wordAt(value, 8), wordAt(value, 10), wordAt(value, 12)};
    std::span<const std::uint8_t> *regions[4] = {&parts.native, &parts.name, &parts.delimiter, &parts.body};
    std::size_t at = kDescriptorSize;
    for (std::size_t i = 0; i < 4; ++i) {
        if (lengths[i] > value.size() - at)
            return std::nullopt;
        *regions[i] = value.subspan(at, lengths[i]);
        at += lengths[i];
    }
    return parts;
}

std::string unfoldedBody(std::span<const std::uint8_t> body) {
    std::string raw = asString(body);
    std::string unfolded;
    unfolded.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
            ++i;
            continue;
        }
        if (raw[i] == '\n' || raw[i] == '\r')
            continue;
        unfolded.push_back(raw[i]);
    }
    // Header bodies come in their original charset; UTF-8 and ASCII (encoded words included)
    // are what SMTP delivers in practice.
    return utf8ToLmbcs(unfolded);
}

std::string rfc822ToText(std::span<const std::uint8_t> value, char separator, bool firstOnly, bool *fellBack) {
    if (fellBack != nullptr)
        *fellBack = false;
    const std::optional<Rfc822Parts> parts = splitRfc822(value);
    if (!parts) {
        logf("NSFItemConvertValueToText: an RFC 822 header item whose lengths run past its value (%zu "
             "bytes) shows nothing",
             value.size());
        return std::string();
    }
    const auto fallBack = [&](const char *why) {
        logf("NSFItemConvertValueToText: RFC 822 header '%s' shown from its raw body: %s",
             asString(parts->name).c_str(), why);
        if (fellBack != nullptr)
            *fellBack = true;
        return unfoldedBody(parts->body);
    };
    if (parts->version != kVersion)
        return fallBack("unknown descriptor version");
    switch (parts->format()) {
    case RFC822_ITEM_FORMAT_DATE: {
        if (parts->native.size() != sizeof(TIMEDATE))
            return fallBack("its native date is not a TIMEDATE");
        TIMEDATE time;
        std::memcpy(&time, parts->native.data(), sizeof time);
        std::string text;
        if (timeDateToText(nullptr, nullptr, time, text) != NOERROR)
            return fallBack("its native date cannot be shown");
        return text;
    }
    case RFC822_ITEM_FORMAT_ADDR:
    case RFC822_ITEM_FORMAT_TEXT: {
        if (!parts->isList()) {
            if (parts->native.empty() && !unfoldedBody(parts->body).empty())
                return fallBack("its native text is empty");
            return asString(parts->native);
        }
        const std::optional<std::vector<std::string>> entries = nativeList(parts->native);
        if (!entries)
            return fallBack("its native list does not add up");
        std::string text;
        for (std::size_t i = 0; i < entries->size(); ++i) {
            if (i != 0) {
                if (firstOnly)
                    break;
                text.push_back(separator);
            }
            text += (*entries)[i];
        }
        return text;
    }
    default:
        return fallBack("unknown format");
    }
}

} // namespace notesemu
