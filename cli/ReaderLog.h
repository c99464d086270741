// The plug-in's diagnostic log as the command line arranges it. The log is the user's only when
// asked for (--log-level, --log-dir, --log-file, or QUILLON_TESSEL_LOG_LEVEL in the environment);
// otherwise the plug-in writes its ERROR lines into a private file that is unlinked as soon as the
// database is open and read through a descriptor kept for the purpose, so that failures can be
// explained without leaving anything behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessel::cli {

struct LogRequest {
    std::string level; // a level name the plug-in accepts; empty: not asked for
    std::string dir;
    std::string file;
};

// The level names accepted on the command line, in upper case; "WARNING" is taken for "WARN".
// nullopt for anything else.
std::optional<std::string> normaliseLogLevel(std::string_view name);

// What the log request leads to, before anything is opened. The environment's
// QUILLON_TESSEL_LOG_* variables count as a request when the command line makes none.
// Fails (nullopt, with a message) for a missing directory or a file that cannot be written.
struct LogPlan {
    bool userLog = false;
    std::string level;
    std::filesystem::path file; // the user's log file (userLog) or empty
};
std::optional<LogPlan> planLog(const LogRequest &request, std::string &error);

// One failed Notes call as the log reports it.
struct ApiFailure {
    std::string api;     // "NSFDbOpen"
    long status = 0;     // the Notes status
    std::string message; // the status's text, from the line after
};

// The failed Notes calls named in log text, in order.
std::vector<ApiFailure> parseApiFailures(std::string_view text);
// The messages of the ERROR lines of log text, in order.
std::vector<std::string> parseErrorMessages(std::string_view text);

class ReaderLog {
public:
    // Sets the plug-in's environment for plan (a private file when the user asked for no log).
    // After the database is opened, call opened(); the log then holds only what follows. The
    // environment is put back when the object goes, so that the next database in this process
    // plans its log afresh.
    explicit ReaderLog(const LogPlan &plan);
    ~ReaderLog();
    ReaderLog(const ReaderLog &) = delete;
    ReaderLog &operator=(const ReaderLog &) = delete;

    // Unlinks a private file (the plug-in keeps writing to it; this object keeps reading it).
    void opened();
    // Forgets what the log holds so far: takeNew() then gives only what follows.
    void skip();
    // The text the plug-in added since the last call (or skip()).
    std::string takeNew();
    // The user's log file, when there is one and it exists.
    std::optional<std::filesystem::path> userFile() const;

private:
    void removePrivate();

    LogPlan plan_;
    std::vector<std::pair<const char *, std::optional<std::string>>> savedEnvironment_;
    std::filesystem::path privateDir_;
    std::filesystem::path privateFile_;
    int fd_ = -1;
    uint64_t offset_ = 0;
};

} // namespace tessel::cli
