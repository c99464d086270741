// Opens synthetic mail databases through the plug-in, as a host does, and lists every subfile's
// info. For each size (default 10 000 and 100 000 notes, written once by nsfgen into the data
// directory) it reports, in a process of its own so that peak memory is per size:
//
//   open      time of the open (DXL load and the catalogue), per note
//   list      time of the container info and every subfile's info, per subfile
//   catalogue bytes the reader still holds after open, less what it holds for the same database
//             without documents, per subfile, against the record size plus the names the catalogue keeps
//   peak      maximum resident set size of the process
//
//   bench_catalogue_list [data-dir] [notes...]
//
// Targets: catalogue bytes per subfile within the record, its array slot and its names (no
// per-note leftovers); open and list time per note about the same at both sizes (linear cost).
#include "BenchSupport.h"

#include <quillon/host/Allocator.h>
#include <quillon/host/Catalogue.h>
#include <quillon/host/Container.h>
#include <quillon/host/Host.h>
#include <quillon/host/ReaderLibrary.h>
#include <quillon/host/Status.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "nsf/catalogue/subfiles.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

using tessel::bench::database;

// Bytes the reader keeps for an open container, counted by the allocator behind the services.
struct Opened {
    int status = -1;
    uint64_t liveBytes = 0;
};

Opened openAndMeasure(const quillon::ReaderLibrary &reader, const fs::path &path) {
    quillon::TestAllocator allocator;
    quillon::HostOptions options;
    options.allocator = &allocator;
    quillon::Host host({}, options);
    host.config().set("tessel", "ExtractByTemplate", "0");
    quillon::Container container(host, reader, path);
    return {container.status(), allocator.liveBytes()};
}

int runOne(const fs::path &dataDir, unsigned notes) {
    std::string error;
    auto reader = quillon::ReaderLibrary::load(TESSEL_NSF_PLUGIN, error);
    if (reader == nullptr) {
        std::fprintf(stderr, "cannot load the plug-in: %s\n", error.c_str());
        return 1;
    }
    fs::path path = database(dataDir, notes);
    // The same design notes (and so the same pictures) without any document.
    fs::path empty = database(dataDir, 0);

    Opened baseline = openAndMeasure(*reader, empty);
    Opened counted = openAndMeasure(*reader, path);
    if (baseline.status != QLSTATUS_OK || counted.status != QLSTATUS_OK) {
        std::fprintf(stderr, "open failed: %d %d\n", baseline.status, counted.status);
        return 1;
    }

    // The timed run uses the host's own allocator, as the command line does.
    quillon::Host host;
    host.config().set("tessel", "ExtractByTemplate", "0");
    auto start = Clock::now();
    quillon::Container container(host, *reader, path);
    double openSeconds = secondsSince(start);
    if (!container.isOpen()) {
        std::fprintf(stderr, "open failed: %s\n", quillon::statusName(container.status()).c_str());
        return 1;
    }
    quillon::Catalogue catalogue(container);
    start = Clock::now();
    auto listed = catalogue.list();
    double listSeconds = secondsSince(start);
    if (!listed.ok()) {
        std::fprintf(stderr, "list failed: %s\n", quillon::statusName(listed.status).c_str());
        return 1;
    }

    uint64_t nameBytes = 0;
    for (const quillon::SubFile &subFile : listed.value) {
        // An attachment's name is kept twice (as stored and in UTF-8), each terminated.
        if (subFile.kind != QLSubFileType_Main && subFile.name)
            nameBytes += 2 * (subFile.name->size() + 1);
    }
    const double subFiles = static_cast<double>(listed.value.size());
    const double perSubFile = static_cast<double>(counted.liveBytes - baseline.liveBytes) / subFiles;
    // The record, its slot in the array (sized 4 slots per note found) and its names.
    const double budget = static_cast<double>(sizeof(NSFSUBFILE)) + 4.0 * sizeof(void *) * notes / subFiles +
                          nameBytes / subFiles;
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);

    std::printf("%u notes, %zu subfiles, file %.1f MB\n", notes, listed.value.size(),
                static_cast<double>(fs::file_size(path)) / 1e6);
    std::printf("  open      %.3f s, %.2f us per note\n", openSeconds, openSeconds * 1e6 / notes);
    std::printf("  list      %.3f s, %.2f us per subfile\n", listSeconds, listSeconds * 1e6 / subFiles);
    std::printf("  catalogue %.1f bytes per subfile (budget %.1f: record %zu, slot and names)%s\n",
                perSubFile, budget, sizeof(NSFSUBFILE), perSubFile <= budget ? "" : "  OVER BUDGET");
    std::printf("  peak      %.1f MB resident\n", static_cast<double>(usage.ru_maxrss) / 1024.0);
    return perSubFile <= budget ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    return tessel::bench::runSizes(argc, argv, {10000, 100000}, runOne);
}
