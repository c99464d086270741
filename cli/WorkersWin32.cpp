#include "Workers.h"

#include "Interrupt.h"
#include "Messages.h"
#include "Platform.h"

#include <exception>
#include <new>

namespace tessel::cli {

// Windows has no fork(): the databases are extracted one after the other in this process. Each
// has its own session (plug-in context, log, temporary folder), and one that cannot be opened or
// read, or whose run throws, is reported as failed while the next one starts as usual.
void runInWorkers(const std::vector<ExtractJob> &jobs, const std::vector<size_t> &positions, unsigned,
                  Reporter &reporter) {
    for (size_t next = 0; next < jobs.size(); next++) {
        if (const int signal = interruptSignal(); signal != 0) {
            reporter.finished(positions[next], {false, "stopped by signal " + std::to_string(signal)});
            continue;
        }
        ReporterEvents events(reporter, positions[next]);
        std::string failure;
        try {
            runExtraction(jobs[next], events);
            continue;
        } catch (const std::bad_alloc &) {
            failure = "out of memory";
        } catch (const std::exception &error) {
            failure = error.what();
        }
        const std::string line = "cannot read " + utf8FromPath(jobs[next].database) + ": " + failure;
        reportError(line);
        reporter.finished(positions[next], {false, line});
    }
}

} // namespace tessel::cli
