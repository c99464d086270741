// Why a database could not be opened, in words a user acts on. The plug-in reports most open
// failures with one status; the command line tells them apart by its own checks of the file and by
// the failed Notes calls in the reader's log.
#pragma once

#include "ReaderLog.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tessel::cli {

enum class OpenProblem {
    Missing,        // no such file
    NotRegularFile, // a folder, a device, a pipe...
    Unreadable,     // the file system refuses to let us read it
    NotDatabase,    // not a database the runtime reads
    Damaged,        // a database, but damaged or truncated
    Refused,        // the database or the ID file refuses this user
    RuntimeFailed,  // the Notes runtime could not start
    NoTemplates,    // the mail templates could not be loaded
    Other,
};

// "missing", "not a regular file", ... as used in messages.
const char *problemName(OpenProblem problem);

struct OpenFailure {
    OpenProblem problem = OpenProblem::Other;
    std::string detail; // what the system or the reader said, may be empty
};

// The checks made before the plug-in sees the file: nullopt when it is a regular file we can read.
// A pipe or a device is never opened (reading one could block for ever).
std::optional<OpenFailure> checkInputFile(const std::filesystem::path &path);

// The failure of an open the reader reported with status, from the Notes calls that failed in it.
OpenFailure diagnoseOpen(int status, std::span<const ApiFailure> failures);

} // namespace tessel::cli
