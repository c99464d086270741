#include <quillon/host/Config.h>

#include "PathText.h"

#include <fstream>
#include <iterator>

namespace quillon {

namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";

std::string_view trim(std::string_view text) {
    size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

} // namespace

std::string Config::makeKey(std::string_view section, std::string_view key) {
    return lowerAscii(trim(section)) + '\n' + lowerAscii(trim(key));
}

bool Config::loadFile(const std::filesystem::path &path) {
    std::error_code error;
    std::string text;
    bool bRead = false;
    if (!std::filesystem::is_directory(path, error)) {
        try {
            std::ifstream file(path, std::ios::binary);
            if (file.is_open()) {
                text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
                bRead = !file.bad();
            }
        } catch (const std::exception &) {
            bRead = false;
        }
    }
    if (!bRead) {
        warnings_.push_back(utf8Text(path) + ": cannot read the configuration file");
        return false;
    }
    loadText(text, utf8Text(path));
    return true;
}

void Config::loadText(std::string_view text, std::string_view origin) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    std::string section;
    bool haveSection = false;
    size_t lineNumber = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;

        auto warn = [&](std::string_view reason) {
            warnings_.push_back(std::string(origin) + ':' + std::to_string(lineNumber) + ": " +
                                std::string(reason));
        };
        if (line.find('\0') != std::string_view::npos) {
            warn("NUL byte in line, skipped");
            continue;
        }
        line = trim(line);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            if (line.back() != ']') {
                warn("section header without ']', skipped");
                continue;
            }
            std::string_view name = trim(line.substr(1, line.size() - 2));
            if (name.empty()) {
                warn("empty section name, skipped");
                continue;
            }
            section = std::string(name);
            haveSection = true;
            continue;
        }
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            warn("line is neither a section, a key = value pair nor a comment, skipped");
            continue;
        }
        std::string_view key = trim(line.substr(0, equals));
        std::string_view value = trim(line.substr(equals + 1));
        if (key.empty()) {
            warn("empty key, skipped");
            continue;
        }
        if (!haveSection) {
            warn("key outside any section, skipped");
            continue;
        }
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        fileValues_[makeKey(section, key)] = std::string(value);
    }
}

void Config::set(std::string_view section, std::string_view key, std::string_view value) {
    overrides_[makeKey(section, key)] = std::string(value);
}

void Config::unset(std::string_view section, std::string_view key) {
    overrides_.erase(makeKey(section, key));
}

std::optional<std::string> Config::get(std::string_view section, std::string_view key) const {
    std::string name = makeKey(section, key);
    if (auto it = overrides_.find(name); it != overrides_.end())
        return it->second;
    if (auto it = fileValues_.find(name); it != fileValues_.end())
        return it->second;
    return std::nullopt;
}

} // namespace quillon
