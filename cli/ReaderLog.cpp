#include "ReaderLog.h"

#include "Platform.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <initializer_list>
#include <regex>

namespace tessel::cli {
namespace fs = std::filesystem;
namespace {

std::string envValue(const char *name) {
    const char *value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// The message part of a log line: what follows "func(): ", else the whole line.
std::string_view lineMessage(std::string_view line) {
    const size_t at = line.find("(): ");
    return at == std::string_view::npos ? line : line.substr(at + 4);
}

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

} // namespace

std::optional<std::string> normaliseLogLevel(std::string_view name) {
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    if (upper == "WARNING")
        upper = "WARN";
    static constexpr std::array<std::string_view, 8> kLevels = {"NONE", "ERROR", "WARN", "INFO",
                                                                "DIAG", "DEBUG", "DUMP", "ALL"};
    if (std::find(kLevels.begin(), kLevels.end(), upper) == kLevels.end())
        return std::nullopt;
    return upper;
}

std::optional<LogPlan> planLog(const LogRequest &request, std::string &error) {
    LogRequest effective = request;
    if (effective.level.empty() && effective.dir.empty() && effective.file.empty()) {
        // The environment may ask instead: the plug-in's own variables.
        if (auto level = normaliseLogLevel(envValue("QUILLON_TESSEL_LOG_LEVEL")); level && *level != "NONE") {
            effective.level = *level;
            effective.dir = envValue("QUILLON_TESSEL_LOG_DIR");
            effective.file = envValue("QUILLON_TESSEL_LOG_FILE");
        }
    }
    LogPlan plan;
    if (effective.level == "NONE" || (effective.level.empty() && effective.dir.empty() && effective.file.empty()))
        return plan;
    plan.userLog = true;
    plan.level = effective.level.empty() ? "INFO" : effective.level;

    std::error_code ec;
    if (!effective.file.empty()) {
        plan.file = pathFromUtf8(effective.file);
        const fs::path parent = plan.file.parent_path().empty() ? fs::path(".") : plan.file.parent_path();
        if (!fs::is_directory(parent, ec)) {
            error = "the folder of the log file " + utf8FromPath(parent) + " does not exist";
            return std::nullopt;
        }
    } else {
        const fs::path dir = effective.dir.empty() ? fs::path(".") : pathFromUtf8(effective.dir);
        if (!fs::is_directory(dir, ec)) {
            error = "the log folder " + utf8FromPath(dir) + " does not exist";
            return std::nullopt;
        }
        // The database is opened on the thread that plans the log (the main one).
        plan.file = dir / pluginLogName();
    }
    // The plug-in runs on without a log it cannot open; the user asked for one, so say so now.
    const int fd = openFile(plan.file, O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0) {
        error = "cannot write the log file " + utf8FromPath(plan.file);
        return std::nullopt;
    }
    ::close(fd);
    if (fs::is_directory(plan.file, ec)) {
        error = "the log file " + utf8FromPath(plan.file) + " is a folder";
        return std::nullopt;
    }
    return plan;
}

std::vector<ApiFailure> parseApiFailures(std::string_view text) {
    static const std::regex kFailure(R"(Notes API ([A-Za-z0-9_]+)\(\) failed, status (-?[0-9]+) 0x)");
    std::vector<ApiFailure> failures;
    const auto lines = splitLines(text);
    for (size_t i = 0; i < lines.size(); i++) {
        std::match_results<std::string_view::const_iterator> match;
        if (!std::regex_search(lines[i].begin(), lines[i].end(), match, kFailure))
            continue;
        ApiFailure failure;
        failure.api = match[1].str();
        failure.status = std::strtol(match[2].str().c_str(), nullptr, 10);
        if (i + 1 < lines.size())
            failure.message = std::string(lineMessage(lines[i + 1]));
        failures.push_back(std::move(failure));
    }
    return failures;
}

std::vector<std::string> parseErrorMessages(std::string_view text) {
    std::vector<std::string> messages;
    for (std::string_view line : splitLines(text))
        if (line.find("] ERROR ") != std::string_view::npos)
            messages.emplace_back(lineMessage(line));
    return messages;
}

ReaderLog::ReaderLog(const LogPlan &plan) : plan_(plan) {
    for (const char *name :
         {"QUILLON_TESSEL_LOG_LEVEL", "QUILLON_TESSEL_LOG_FILE", "QUILLON_TESSEL_LOG_DIR"}) {
        const char *value = std::getenv(name);
        savedEnvironment_.emplace_back(name,
                                       value == nullptr ? std::nullopt : std::optional<std::string>(value));
    }
    if (plan_.userLog) {
        setEnvironment("QUILLON_TESSEL_LOG_LEVEL", plan_.level);
        setEnvironment("QUILLON_TESSEL_LOG_FILE", utf8FromPath(plan_.file));
        unsetEnvironment("QUILLON_TESSEL_LOG_DIR");
        std::error_code ec;
        offset_ = fs::file_size(plan_.file, ec);
        if (ec)
            offset_ = 0;
        fd_ = openFile(plan_.file, O_RDONLY);
        return;
    }
    const auto folder = makePrivateFolder("tessel-cli-");
    if (!folder) {
        setEnvironment("QUILLON_TESSEL_LOG_LEVEL", "NONE");
        return;
    }
    privateDir_ = *folder;
    privateFile_ = privateDir_ / "reader.log";
    const int fd = openFile(privateFile_, O_RDWR | O_CREAT | O_EXCL, true);
    if (fd < 0) {
        removePrivate();
        setEnvironment("QUILLON_TESSEL_LOG_LEVEL", "NONE");
        return;
    }
    fd_ = fd;
    setEnvironment("QUILLON_TESSEL_LOG_LEVEL", "ERROR");
    setEnvironment("QUILLON_TESSEL_LOG_FILE", utf8FromPath(privateFile_));
    unsetEnvironment("QUILLON_TESSEL_LOG_DIR");
}

ReaderLog::~ReaderLog() {
    // Closed first: Windows removes no file that is still open.
    if (fd_ >= 0)
        ::close(fd_);
    removePrivate();
    for (const auto &[name, value] : savedEnvironment_) {
        if (value)
            setEnvironment(name, *value);
        else
            unsetEnvironment(name);
    }
}

void ReaderLog::removePrivate() {
    if (privateDir_.empty())
        return;
    // Windows removes no file that is open (the plug-in's log, until it is unloaded): the folder is
    // then tried again when this object goes.
    std::error_code ec;
    fs::remove_all(privateDir_, ec);
    if (!ec)
        privateDir_.clear();
}

void ReaderLog::opened() { removePrivate(); }

void ReaderLog::skip() {
    if (fd_ < 0)
        return;
    if (const auto size = openFileSize(fd_))
        offset_ = *size;
}

std::string ReaderLog::takeNew() {
    std::string text;
    if (fd_ < 0)
        return text;
    std::array<char, 8192> buffer;
    for (;;) {
        const int64_t n = readAt(fd_, buffer.data(), buffer.size(), offset_);
        if (n <= 0)
            break;
        text.append(buffer.data(), static_cast<size_t>(n));
        offset_ += static_cast<uint64_t>(n);
        // Only the recent past matters for an explanation; a huge user log is not kept in memory.
        if (text.size() > (1u << 20))
            text.erase(0, text.size() - (1u << 19));
    }
    return text;
}

std::optional<fs::path> ReaderLog::userFile() const {
    std::error_code ec;
    if (plan_.userLog && fs::exists(plan_.file, ec))
        return plan_.file;
    return std::nullopt;
}

} // namespace tessel::cli
