// Paths as the host library turns them into text and opens them. On Windows path.string() is in
// the code page and throws for a name outside it, and fopen() takes the code page too; these go
// through UTF-8 and UTF-16 instead, and never throw.
#pragma once

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

namespace quillon {

// The path in UTF-8 for readers, logs and messages. A name that is not even UTF-16 (a lone
// surrogate) gives an empty text, which no reader opens.
inline std::string utf8Text(const std::filesystem::path &path) {
    try {
        const std::u8string text = path.u8string();
        return std::string(text.begin(), text.end());
    } catch (const std::exception &) {
        return {};
    }
}

// The path a UTF-8 text names, as the reader and the host's callers give paths. False for a text
// that is not UTF-8 (no file is opened by a guess at its characters).
inline bool pathFromUtf8(std::string_view text, std::filesystem::path &path) {
    try {
        path = std::filesystem::path(
            std::u8string_view(reinterpret_cast<const char8_t *>(text.data()), text.size()));
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

// std::fopen with a binary mode ("rb", "wb"), whatever the name's characters.
inline std::FILE *openFile(const std::filesystem::path &path, const char *mode) {
#ifdef _WIN32
    const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

} // namespace quillon
