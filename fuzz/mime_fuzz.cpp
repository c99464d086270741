// The MIME to composite conversion of the emulated runtime. The input holds the MIME_PART item
// values (type word included) one after the other, separated by the marker below; an attachment
// object of any name holds the last value.
#include "MimeToCd.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

namespace {
constexpr std::string_view kMarker = "\x00\xffPART\xff\x00"sv;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::vector<std::span<const std::uint8_t>> parts;
    for (size_t at = 0;;) {
        size_t end = input.find(kMarker, at);
        size_t stop = end == std::string_view::npos ? size : end;
        parts.emplace_back(data + at, stop - at);
        if (end == std::string_view::npos)
            break;
        at = end + kMarker.size();
    }
    std::span<const std::uint8_t> object = parts.back();
    notesemu::MimeObjectSource objects = [object](std::string_view name) -> std::optional<std::span<const std::uint8_t>> {
        if (name.empty())
            return std::nullopt;
        return object;
    };
    notesemu::MimeConversion out;
    notesemu::convertMimeParts(parts, objects, out);
    return 0;
}
