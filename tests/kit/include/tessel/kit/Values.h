// Canonical item values (without the leading type WORD, as DXL rawitemdata carries them) for the
// types that DXL writes only as raw data: lists, note references, MIME parts and RFC 822 headers.
#pragma once

#include "tessel/kit/Bytes.h"
#include "tessel/kit/Ids.h"
#include "tessel/kit/TimeDate.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessel::kit {

namespace type {
inline constexpr std::uint16_t kComposite = 0x0001, kObject = 0x0003, kNoteRefList = 0x0004, kIcon = 0x0006,
                               kSealData = 0x000A, kSealList = 0x000B, kUserData = 0x000E, kMimePart = 0x0019,
                               kError = 0x0100, kUnavailable = 0x0200, kNumber = 0x0300,
                               kNumberRange = 0x0301, kTime = 0x0400, kTimeRange = 0x0401, kText = 0x0500,
                               kTextList = 0x0501, kRfc822Text = 0x0502, kFormula = 0x0600;
}

// TYPE_TEXT_LIST: LIST count, WORD lengths, LMBCS strings.
Bytes textListValue(const std::vector<std::string> &utf8);
// TYPE_NUMBER_RANGE / TYPE_TIME_RANGE: RANGE header, single values, then pairs.
Bytes numberRangeValue(const std::vector<double> &numbers,
                       const std::vector<std::pair<double, double>> &pairs = {});
Bytes timeRangeValue(const std::vector<TimeDate> &times,
                     const std::vector<std::pair<TimeDate, TimeDate>> &pairs = {});
// TYPE_NOTEREF_LIST ($REF): LIST count and the UNIDs.
Bytes noteRefListValue(const std::vector<Unid> &unids);

// MIME_PART (TYPE_MIME_PART) item value.
struct MimePart {
    static constexpr std::uint32_t kHasBoundary = 0x1, kHasHeaders = 0x2, kBodyInDbObject = 0x4,
                                   kSharedDbObject = 0x8;
    enum PartType : std::uint8_t { kProlog = 1, kBody = 2, kEpilog = 3, kMessage = 5 };

    std::uint16_t version = 2;
    // Left empty, the flags are HAS_BOUNDARY / HAS_HEADERS for a non-empty boundary / header block.
    std::optional<std::uint32_t> flags;
    std::uint8_t partType = kBody;
    std::string boundary; // e.g. "--b1\r\n"
    std::string headers;  // raw header lines ending with the empty line
    std::string body;     // the body in its transfer encoding, or the $FILE name for kBodyInDbObject

    Bytes value() const;
};

// RFC822ITEMDESC (TYPE_RFC822_TEXT) item value: descriptor, native value, header name, delimiter, raw body.
struct Rfc822Text {
    static constexpr std::uint32_t kFormatAddress = 0, kFormatDate = 1, kFormatText = 2, kStorageStrict = 0x8;

    std::uint32_t flags = kFormatText | kStorageStrict;
    Bytes native;     // LMBCS text, or the 8-byte TIMEDATE for a date
    std::string name; // header name as written, e.g. "To"
    std::string delimiter = ": ";
    std::string body; // the raw header value, usually ending in CRLF

    // Address / text header whose native form is the unfolded value; the body gets CRLF.
    static Rfc822Text address(std::string_view name, std::string_view value);
    static Rfc822Text text(std::string_view name, std::string_view value);
    static Rfc822Text date(std::string_view name, std::string_view value, const TimeDate &when);
    Bytes value() const;
};

} // namespace tessel::kit
