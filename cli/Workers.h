// Several databases at once: on POSIX each runs in a worker process of its own (at most jobs at a
// time), which reports to this process through a pipe, one JSON record a line; a worker that fails
// or dies stops only its own database. On Windows they run one after the other in this process
// (WorkersWin32.cpp).
#pragma once

#include "Extraction.h"
#include "Reporter.h"

#include <vector>

namespace tessel::cli {

// positions[i] is the number under which jobs[i] reports to the reporter.
void runInWorkers(const std::vector<ExtractJob> &jobs, const std::vector<size_t> &positions, unsigned workers,
                  Reporter &reporter);

} // namespace tessel::cli
