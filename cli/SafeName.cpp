#include "SafeName.h"

#include "TextOutput.h"

#include <algorithm>
#include <array>
#include <vector>

namespace tessel::cli {
namespace {

std::string fold(std::string_view name) {
    std::string out(name);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

bool forbiddenOnWindows(unsigned char c) {
    switch (c) {
    case '<': case '>': case ':': case '"': case '|': case '?': case '*':
        return true;
    default:
        return false;
    }
}

// Replaces what may not stand in a file name, byte by byte, keeping valid UTF-8 sequences.
std::string cleanCharacters(std::string_view part) {
    std::string out;
    for (size_t i = 0; i < part.size();) {
        const auto b = static_cast<unsigned char>(part[i]);
        if (b < 0x20 || b == 0x7F || forbiddenOnWindows(b)) {
            out += '_';
            i++;
            continue;
        }
        const size_t length = utf8SequenceLength(part, i);
        if (length == 0) {
            out += '_';
            i++;
        } else if (length == 2 && b == 0xC2 && static_cast<unsigned char>(part[i + 1]) <= 0x9F) {
            out += '_'; // a C1 control character
            i += 2;
        } else {
            out.append(part.substr(i, length));
            i += length;
        }
    }
    return out;
}

// The longest prefix of text of at most limit bytes that ends on a character boundary.
std::string_view cutAtCharacter(std::string_view text, size_t limit) {
    if (text.size() <= limit)
        return text;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        end--;
    return text.substr(0, end);
}

// Cuts stem + extension to limit bytes, shortening the stem first; an extension of more than 16
// bytes is not worth keeping whole.
std::string fitName(std::string_view stem, std::string_view extension, size_t limit) {
    if (stem.size() + extension.size() <= limit)
        return std::string(stem) + std::string(extension);
    if (extension.size() > 16 || extension.size() >= limit)
        return std::string(cutAtCharacter(std::string(stem) + std::string(extension), limit));
    return std::string(cutAtCharacter(stem, limit - extension.size())) + std::string(extension);
}

} // namespace

bool isDeviceName(std::string_view name) {
    std::string base = fold(name.substr(0, name.find('.')));
    while (!base.empty() && (base.back() == ' '))
        base.pop_back();
    static constexpr std::array<std::string_view, 7> kNames = {"con",    "prn",     "aux",   "nul",
                                                               "conin$", "conout$", "clock$"};
    if (std::find(kNames.begin(), kNames.end(), base) != kNames.end())
        return true;
    return base.size() == 4 && (base.starts_with("com") || base.starts_with("lpt")) && base[3] >= '0' &&
           base[3] <= '9';
}

std::pair<std::string, std::string> splitExtension(std::string_view name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return {std::string(name), ""};
    return {std::string(name.substr(0, dot)), std::string(name.substr(dot))};
}

std::string safeComponent(std::string_view name, std::string_view fallback) {
    // A drive prefix names another disk on Windows: "C:" and "C:\..." lose it.
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        name.remove_prefix(2);

    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = name.size();
        std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != "." && part != "..")
            parts.push_back(cleanCharacters(part));
        start = end + 1;
    }
    std::string joined;
    for (const std::string &part : parts) {
        if (!joined.empty())
            joined += '_';
        joined += part;
    }

    const size_t first = joined.find_first_not_of(' ');
    joined = first == std::string::npos ? std::string() : joined.substr(first);
    while (!joined.empty() && (joined.back() == ' ' || joined.back() == '.'))
        joined.pop_back();
    if (joined.empty() || joined == "." || joined == "..")
        return fallback.empty() ? std::string("_") : safeComponent(fallback, "_");
    if (isDeviceName(joined))
        joined.insert(0, "_");

    auto [stem, extension] = splitExtension(joined);
    return fitName(stem, extension, kMaxComponent);
}

bool NameAllocator::taken(std::string_view name) const { return taken_.contains(fold(name)); }

std::string NameAllocator::claim(std::string_view stem, std::string_view extension) {
    for (int n = 1;; n++) {
        const std::string suffix = n == 1 ? "" : " (" + std::to_string(n) + ")";
        const std::string name = fitName(fitName(stem, "", kMaxComponent - suffix.size() - extension.size()),
                                         suffix + std::string(extension), kMaxComponent);
        if (!taken(name)) {
            taken_.insert(fold(name));
            return name;
        }
    }
}

std::string NameAllocator::claimWithFolder(std::string_view stem, std::string_view extension) {
    for (int n = 1;; n++) {
        const std::string suffix = n == 1 ? "" : " (" + std::to_string(n) + ")";
        const std::string chosen =
            fitName(stem, "", kMaxComponent - suffix.size() - extension.size()) + suffix;
        const std::string file = chosen + std::string(extension);
        if (!taken(file) && !taken(chosen)) {
            taken_.insert(fold(file));
            taken_.insert(fold(chosen));
            return chosen;
        }
    }
}

} // namespace tessel::cli
