// What the benchmarks share: the synthetic databases nsfgen writes once into the data directory,
// and one child process per database size, so that each size's numbers (and peak memory) are its
// own.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tessel::bench {

// The database of the given number of notes (seed 7), written by nsfgen when it is not there yet.
inline std::filesystem::path database(const std::filesystem::path &dir, unsigned notes) {
    std::filesystem::path path = dir / ("bench-" + std::to_string(notes) + ".dxl");
    if (!std::filesystem::exists(path)) {
        std::string command = std::string("'") + TESSEL_NSFGEN + "' --seed 7 --notes " +
                              std::to_string(notes) + " --out '" + path.string() + "' > /dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "nsfgen failed: %s\n", command.c_str());
            std::exit(1);
        }
    }
    return path;
}

// Reads "[data-dir] [notes...]" and runs runOne(dataDir, notes) for each size in a child process
// with the plug-in's log off. Returns 0 when every run returned 0.
template <typename RunOne>
int runSizes(int argc, char **argv, std::vector<unsigned> defaultSizes, RunOne runOne) {
    std::filesystem::path dataDir =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path() / "tessel-bench";
    std::filesystem::create_directories(dataDir);
    std::vector<unsigned> sizes;
    for (int i = 2; i < argc; i++)
        sizes.push_back(static_cast<unsigned>(std::strtoul(argv[i], nullptr, 10)));
    if (sizes.empty())
        sizes = std::move(defaultSizes);
    setenv("QUILLON_TESSEL_LOG_LEVEL", "NONE", 1);

    int result = 0;
    for (unsigned notes : sizes) {
        std::fflush(stdout);
        pid_t child = fork();
        if (child == 0) {
            int code = runOne(dataDir, notes);
            std::fflush(stdout);
            std::_Exit(code);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            result = 1;
    }
    return result;
}

} // namespace tessel::bench
