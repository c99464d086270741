// One whole run of the reader over a database, as a host makes it: open, the list, the mail fields
// and every item of each subfile, the extraction of each subfile, close. The run is written down
// as a transcript, so that two runs can be compared byte for byte.
#pragma once

#include <quillon/host/Allocator.h>
#include <quillon/host/Host.h>
#include <tessel/kit/MemoryIOObject.h>
#include <tessel/kit/TestAllocator.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tessel::test {

struct RunFaults {
    quillon::Allocator *allocator = nullptr; // the host's allocator; null for its own
    uint64_t failWrite = 0;                  // the output object's write that fails (0: none)
};

struct RunResult {
    int openStatus = -1;
    bool anyFailure = false; // some operation returned a failure status (not the runtime's known gap)
    std::string transcript;  // everything read, with each operation's status
};

// The host options of every run here: the given allocator (null for the host's own), the
// repository's templates, and the reader's temporary folders below `scratch`/base.
quillon::HostOptions hostOptions(quillon::Allocator *allocator, const std::filesystem::path &scratch);

// Runs over the database at `database`; the reader's temporary files go below `scratch`, where
// its log is written too.
RunResult runWhole(const std::filesystem::path &database, const std::filesystem::path &scratch,
                   const RunFaults &faults = {});

} // namespace tessel::test
