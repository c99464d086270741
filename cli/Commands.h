// The commands of the tessel program. Each returns the process's exit status.
#pragma once

#include "ExitCode.h"
#include "Options.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessel::cli {

struct OpenCommand {
    std::string database;
    CommonOptions options;
};
struct ListCommand {
    std::string database;
    CommonOptions options;
    bool json = false;
};
struct MetaCommand {
    std::string database;
    int32_t index = 0;
    std::vector<std::string> names;
    bool all = false;
    bool json = false;
    CommonOptions options;
};
struct CatCommand {
    std::string database;
    int32_t index = 0;
    CommonOptions options;
};
struct ExtractCommand {
    std::vector<std::string> databases;
    std::string outputDir;
    std::vector<int32_t> indexes;
    bool overwrite = false;
    bool json = false;
    bool quiet = false;
    unsigned jobs = 0; // 0: the number of processors
    CommonOptions options;
};

ExitCode runOpen(const OpenCommand &command);
ExitCode runList(const ListCommand &command);
ExitCode runMeta(const MetaCommand &command);
ExitCode runCat(const CatCommand &command);
ExitCode runExtract(const ExtractCommand &command);

} // namespace tessel::cli
