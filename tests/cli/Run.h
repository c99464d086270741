// Runs the tessel program for a test: arguments, environment, working folder; captures standard
// output, standard error and the exit status. Standard error can be a pseudo-terminal.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessel::cli::test {

struct RunResult {
    int exitCode = -1; // the exit status, or 128 + signal
    std::string out;
    std::string err;
};

struct RunOptions {
    std::filesystem::path workingDir;                         // empty: the test's own
    std::map<std::string, std::optional<std::string>> env;   // set (or unset with nullopt)
    bool stderrTerminal = false;                              // standard error on a pseudo-terminal
    std::string input;                                        // standard input
};

// The tessel program under test.
std::filesystem::path tesselPath();

RunResult runTessel(const std::vector<std::string> &args, const RunOptions &options = {});

} // namespace tessel::cli::test
