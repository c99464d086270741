// What an extract run tells its user: one JSON record per subfile (--json), the error lines, the
// progress bar, the summary, and the exit status, over one or several databases.
#pragma once

#include "ExitCode.h"
#include "Extraction.h"
#include "Progress.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tessel::cli {

class Reporter {
public:
    // databases: the paths as given; json prints records; progress draws the bar on standard error.
    Reporter(std::vector<std::string> databases, bool json, bool progress);

    void opened(size_t database, int32_t total);
    void subfile(size_t database, const SubfileOutcome &outcome);
    void finished(size_t database, const DatabaseOutcome &outcome);
    // A database's run ended before it reported count subfiles (its worker died): they count as failed.
    void lost(size_t database, uint64_t count);
    // A line for standard error (the bar steps aside for it).
    void message(const std::string &line);

    // Prints the summary (JSON object or one line) and gives the exit status.
    ExitCode finish();

    struct Counts {
        uint64_t subfiles = 0, written = 0, failed = 0;
        size_t databases = 0, openFailed = 0;
    };
    const Counts &counts() const { return counts_; }

private:
    void redraw(bool force);

    std::vector<std::string> databases_;
    bool json_;
    ProgressBar bar_;
    Counts counts_;
    uint64_t total_ = 0, done_ = 0;
};

// Forwards one database's events to a reporter.
class ReporterEvents final : public ExtractEvents {
public:
    ReporterEvents(Reporter &reporter, size_t database) : reporter_(reporter), database_(database) {}
    void opened(int32_t total) override { reporter_.opened(database_, total); }
    void subfile(const SubfileOutcome &outcome) override { reporter_.subfile(database_, outcome); }
    void finished(const DatabaseOutcome &outcome) override { reporter_.finished(database_, outcome); }

private:
    Reporter &reporter_;
    size_t database_;
};

} // namespace tessel::cli
