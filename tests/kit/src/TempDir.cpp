#include <tessel/kit/TempDir.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace tessel::kit {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// Windows has no mkdtemp: a random name is tried until creating it succeeds, which fails when the
// name exists, so no two tests share a folder.
fs::path makeUniqueDirectory(std::string_view prefix) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<size_t> letter(0, sizeof(kLetters) - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = std::string(prefix) + "-";
        for (int i = 0; i < 6; ++i)
            name += kLetters[letter(random)];
        fs::path path = fs::temp_directory_path() / name;
        std::error_code ec;
        if (fs::create_directory(path, ec))
            return path;
    }
    throw std::runtime_error("no unique temporary folder for " + std::string(prefix));
}

void setVariable(const std::string &name, const std::string &value) {
    _putenv_s(name.c_str(), value.c_str());
}

void unsetVariable(const std::string &name) {
    _putenv_s(name.c_str(), ""); // an empty value removes the variable
}
#else
fs::path makeUniqueDirectory(std::string_view prefix) {
    std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed for " + pattern);
    return pattern;
}

void setVariable(const std::string &name, const std::string &value) {
    setenv(name.c_str(), value.c_str(), 1);
}

void unsetVariable(const std::string &name) {
    unsetenv(name.c_str());
}
#endif

} // namespace

TempDir::TempDir(std::string_view prefix) : path_(makeUniqueDirectory(prefix)) {}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests make folders unwritable on purpose; give them back before removing.
    for (auto it = fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

fs::path TempDir::write(const fs::path &relative, std::string_view content) const {
    fs::path file = path_ / relative;
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

fs::path TempDir::copy(const fs::path &from, const fs::path &relative) const {
    fs::path file = path_ / relative;
    fs::create_directories(file.parent_path());
    fs::copy_file(from, file, fs::copy_options::overwrite_existing);
    return file;
}

std::string TempDir::read(const fs::path &file) {
    return readFile(file);
}

ScopedEnv::ScopedEnv(const std::string &name, const std::optional<std::string> &value) {
    if (value)
        set(name, *value);
    else
        unset(name);
}

ScopedEnv::~ScopedEnv() {
    for (const auto &[name, value] : saved_) {
        if (value)
            setVariable(name, *value);
        else
            unsetVariable(name);
    }
}

void ScopedEnv::set(const std::string &name, const std::string &value) {
    remember(name);
    setVariable(name, value);
}

void ScopedEnv::unset(const std::string &name) {
    remember(name);
    unsetVariable(name);
}

void ScopedEnv::remember(const std::string &name) {
    if (saved_.count(name) != 0)
        return;
    const char *psz = getenv(name.c_str());
    saved_[name] = psz != nullptr ? std::optional<std::string>(psz) : std::nullopt;
}

ScopedCurrentPath::ScopedCurrentPath(const fs::path &path) : old_(fs::current_path()) {
    fs::current_path(path);
}

ScopedCurrentPath::~ScopedCurrentPath() {
    std::error_code ec;
    fs::current_path(old_, ec);
}

std::string shellQuote(std::string_view text) {
    std::string quoted = "'";
    for (char ch : text) {
        if (ch == '\'')
            quoted += "'\\''";
        else
            quoted += ch;
    }
    return quoted + "'";
}

std::string readFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
#ifdef _WIN32
        // A file written in text mode ends its lines with CR LF there.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
#endif
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> stripTimestamps(const std::vector<std::string> &lines) {
    static const std::regex timestamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3} )");
    std::vector<std::string> result;
    for (const auto &line : lines)
        result.push_back(std::regex_replace(line, timestamp, ""));
    return result;
}

bool contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool anyLineEndsWith(const std::vector<std::string> &lines, const std::string &text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
        return line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0;
    });
}

} // namespace tessel::kit
