#include "Environment.h"

#include "Log.h"
#include "Platform.h"

#include <algorithm>
#include <system_error>

namespace notesemu {
namespace {

constexpr std::uintmax_t kMaxIniSize = 16U << 20;

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsIgnoreCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() && std::equal(left.begin(), left.end(), right.begin(),
                                                     [](char a, char b) { return upper(a) == upper(b); });
}

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool isRegularFile(const std::filesystem::path &path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

#if defined(_WIN32)
constexpr char kPathListSeparator = ';';
#else
constexpr char kPathListSeparator = ':';
#endif

} // namespace

bool CaseInsensitiveLess::operator()(std::string_view left, std::string_view right) const {
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](char a, char b) { return upper(a) < upper(b); });
}

Environment Environment::parse(std::string_view text) {
    Environment environment;
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    bool inNotesSection = true;
    unsigned lineNumber = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        ++lineNumber;
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string_view content = trim(line);
        if (content.empty() || content.front() == ';' || content.front() == '#')
            continue;
        if (content.front() == '[') {
            const auto close = content.find(']');
            const std::string_view section =
                content.substr(1, close == std::string_view::npos ? 0 : close - 1);
            inNotesSection = close != std::string_view::npos && equalsIgnoreCase(trim(section), "Notes");
            if (!inNotesSection)
                logf("notes.ini line %u: section %.*s is not [Notes]; its lines are ignored", lineNumber,
                     static_cast<int>(content.size()), content.data());
            continue;
        }
        if (!inNotesSection)
            continue;
        const auto equals = line.find('=');
        const std::string_view name =
            equals == std::string_view::npos ? std::string_view{} : trim(line.substr(0, equals));
        if (name.empty()) {
            logf("notes.ini line %u ignored: not a Name=Value line", lineNumber);
            continue;
        }
        const std::string_view value = line.substr(equals + 1);
        if (!environment.variables_.emplace(std::string(name), std::string(value)).second)
            logf("notes.ini line %u: %.*s is defined again; the first value is kept", lineNumber,
                 static_cast<int>(name.size()), name.data());
    }
    return environment;
}

std::optional<std::string> Environment::get(std::string_view name) const {
    const auto found = variables_.find(name);
    if (found == variables_.end())
        return std::nullopt;
    return found->second;
}

void Environment::set(std::string_view name, std::string_view value) {
    const auto found = variables_.find(name);
    if (found == variables_.end())
        variables_.emplace(std::string(name), std::string(value));
    else
        found->second.assign(value);
}

void Environment::erase(std::string_view name) {
    const auto found = variables_.find(name);
    if (found != variables_.end())
        variables_.erase(found);
}

IniSource locateIni(std::span<char *const> args, const GetEnv &getEnv) {
    for (std::size_t index = 1; index < args.size(); ++index) {
        const char *arg = args[index];
        if (arg == nullptr || arg[0] != '=')
            continue;
        std::filesystem::path path;
        if (!pathFromText(arg + 1, path) || !isRegularFile(path)) {
            logf("The ini file %s named on the command line does not exist", arg + 1);
            return {ERR_NO_NOTESINI, std::nullopt};
        }
        return {NOERROR, std::move(path)};
    }

    if (const auto named = getEnv("NOTES_INI"); named && !named->empty()) {
        std::filesystem::path path;
        if (!pathFromUtf8(*named, path) || !isRegularFile(path)) {
            logf("NOTES_INI names %s, which does not exist", named->c_str());
            return {ERR_NO_NOTESINI, std::nullopt};
        }
        return {NOERROR, std::move(path)};
    }

    if (const auto searchPath = getEnv("PATH")) {
        std::string_view rest = *searchPath;
        while (true) {
            const auto separator = rest.find(kPathListSeparator);
            const std::string_view directory = rest.substr(0, separator);
            // An empty entry of PATH stands for the current directory.
            std::filesystem::path base(".");
            if (directory.empty() || pathFromUtf8(directory, base)) {
                for (const char *name : {"notes.ini", "NOTES.INI"}) {
                    std::filesystem::path candidate = base / name;
                    if (isRegularFile(candidate))
                        return {NOERROR, std::move(candidate)};
                }
            }
            if (separator == std::string_view::npos)
                break;
            rest.remove_prefix(separator + 1);
        }
    }
    return {NOERROR, std::nullopt};
}

STATUS loadEnvironment(const IniSource &source, Environment &environment) {
    environment = Environment();
    if (source.status != NOERROR)
        return source.status;
    if (!source.path)
        return NOERROR;
    const std::string name = pathText(*source.path);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(*source.path, error);
    if (error || size > kMaxIniSize) {
        logf("Cannot use %s as notes.ini: %s", name.c_str(),
             error ? error.message().c_str() : "larger than 16 MiB");
        return ERR_NO_NOTESINI;
    }
    std::string text;
    if (!readWholeFile(*source.path, text, kMaxIniSize)) {
        logf("Cannot read %s", name.c_str());
        return ERR_NO_NOTESINI;
    }
    environment = Environment::parse(text);
    return NOERROR;
}

} // namespace notesemu
