#include "ReaderLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <regex>

namespace tessel::cli {
namespace fs = std::filesystem;
namespace {

std::string envValue(const char *name) {
    const char *value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// The name the plug-in gives its log in a directory: tessel_<pid>_<tid>.log. The database is
// opened on the main thread, whose thread ID is the process ID.
std::string pluginLogName() {
    const auto pid = static_cast<long>(getpid());
    const auto tid = static_cast<long>(syscall(SYS_gettid));
    return "tessel_" + std::to_string(pid) + "_" + std::to_string(tid) + ".log";
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
        plan.file = effective.file;
        const fs::path parent = plan.file.parent_path().empty() ? fs::path(".") : plan.file.parent_path();
        if (!fs::is_directory(parent, ec)) {
            error = "the folder of the log file " + parent.string() + " does not exist";
            return std::nullopt;
        }
    } else {
        const fs::path dir = effective.dir.empty() ? fs::path(".") : fs::path(effective.dir);
        if (!fs::is_directory(dir, ec)) {
            error = "the log folder " + dir.string() + " does not exist";
            return std::nullopt;
        }
        plan.file = dir / pluginLogName();
    }
    // The plug-in runs on without a log it cannot open; the user asked for one, so say so now.
    const int fd = ::open(plan.file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write the log file " + plan.file.string();
        return std::nullopt;
    }
    ::close(fd);
    if (fs::is_directory(plan.file, ec)) {
        error = "the log file " + plan.file.string() + " is a folder";
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
    if (plan_.userLog) {
        setenv("QUILLON_TESSEL_LOG_LEVEL", plan_.level.c_str(), 1);
        setenv("QUILLON_TESSEL_LOG_FILE", plan_.file.c_str(), 1);
        unsetenv("QUILLON_TESSEL_LOG_DIR");
        std::error_code ec;
        offset_ = fs::file_size(plan_.file, ec);
        if (ec)
            offset_ = 0;
        fd_ = ::open(plan_.file.c_str(), O_RDONLY | O_CLOEXEC);
        return;
    }
    std::string pattern = (fs::temp_directory_path() / "tessel-cli-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        setenv("QUILLON_TESSEL_LOG_LEVEL", "NONE", 1);
        return;
    }
    privateDir_ = pattern;
    privateFile_ = privateDir_ / "reader.log";
    const int fd = ::open(privateFile_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        removePrivate();
        setenv("QUILLON_TESSEL_LOG_LEVEL", "NONE", 1);
        return;
    }
    fd_ = fd;
    setenv("QUILLON_TESSEL_LOG_LEVEL", "ERROR", 1);
    setenv("QUILLON_TESSEL_LOG_FILE", privateFile_.c_str(), 1);
    unsetenv("QUILLON_TESSEL_LOG_DIR");
}

ReaderLog::~ReaderLog() {
    removePrivate();
    if (fd_ >= 0)
        ::close(fd_);
}

void ReaderLog::removePrivate() {
    if (privateDir_.empty())
        return;
    std::error_code ec;
    fs::remove_all(privateDir_, ec);
    privateDir_.clear();
}

void ReaderLog::opened() { removePrivate(); }

void ReaderLog::skip() {
    struct stat info {};
    if (fd_ >= 0 && ::fstat(fd_, &info) == 0)
        offset_ = static_cast<uint64_t>(info.st_size);
}

std::string ReaderLog::takeNew() {
    std::string text;
    if (fd_ < 0)
        return text;
    std::array<char, 8192> buffer;
    for (;;) {
        const ssize_t n = ::pread(fd_, buffer.data(), buffer.size(), static_cast<off_t>(offset_));
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
