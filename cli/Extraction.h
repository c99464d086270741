// Extraction of one database into a folder: the catalogue read, the paths planned, each subfile
// written through the plug-in into a temporary file and moved into place only when complete.
// Every subfile has an outcome; nothing is skipped without one.
#pragma once

#include "ExitCode.h"
#include "Options.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tessel::cli {

struct SubfileOutcome {
    int32_t index = 0;
    std::string kind;                // "main", "attachment", ... ("unknown" when the reader gave none)
    std::optional<std::string> name; // the reader's name
    std::optional<std::string> path; // the file written (or the partial output kept)
    uint64_t bytes = 0;
    int status = 0;                   // the reader status, or 16 for an output the program could not make
    std::optional<std::string> error; // why it failed
    bool written = false;             // a complete file is in place
};

struct DatabaseOutcome {
    bool opened = false;
    std::string error; // the open failure's line
};

// What a run of one database reports, as it happens.
class ExtractEvents {
public:
    virtual ~ExtractEvents() = default;
    virtual void opened(int32_t total) = 0;
    virtual void subfile(const SubfileOutcome &outcome) = 0;
    virtual void finished(const DatabaseOutcome &outcome) = 0;
};

struct ExtractJob {
    std::filesystem::path database;
    std::filesystem::path outputDir; // exists
    std::vector<int32_t> indexes;    // empty: every subfile
    bool overwrite = false;
    CommonOptions options;
};

// Runs the job, reporting through events; error lines go to reportError. Never throws.
void runExtraction(const ExtractJob &job, ExtractEvents &events);

// Moves a finished temporary file to its name: replacing what is there only with overwrite.
// False (errno set) when the name is taken and overwrite is off.
bool moveIntoPlace(const std::filesystem::path &from, const std::filesystem::path &to, bool overwrite);

} // namespace tessel::cli
